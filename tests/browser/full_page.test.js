// The full test page end to end: tachyra-cli serves /full, Chromium runs its three phases
// over loopback, and the result card must agree with what the server's meter counted. And
// the results page: a raw test from a second process shows up in the live table while it
// runs and in the history once it ends, and a /full run in another tab leaves its latencies
// in the history. Usage: node full_page.test.js TACHYRA_CLI [ARTIFACT_DIR]
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const { spawn, spawnSync } = require('node:child_process');
const { startSession, waitIdle, until, runFullPage } = require('./browser_kit');

const numbers = (text, re) => (re.exec(text) || []).slice(1).map(Number);

test('/full measures latency, download and upload in Chromium', async (t) => {
  const { server, context, newPage, screenshot, finish } = await startSession(t);
  const address = `http://127.0.0.1:${server.port}/full`; // as the server prints it (cli_test)
  await context.grantPermissions(['clipboard-read', 'clipboard-write']);
  const page = await newPage(900, 1000);

  const { rows, phase, result } = await runFullPage(page, address);
  assert.strictEqual(phase, 'Done');
  const [down, mbit] = numbers(rows.Download, /^([\d.]+) MB\/s \(([\d.]+) Mbit\/s\)$/);
  const [up] = numbers(rows.Upload, /^([\d.]+) MB\/s/);
  assert.ok(numbers(rows['Idle latency'], /^([\d.]+) ms, jitter [\d.]+ ms$/)[0] > 0, rows['Idle latency']);
  const loaded = numbers(rows['Loaded latency'], /^([\d.]+) ms downloading.*, ([\d.]+) ms uploading$/);
  assert.ok(loaded.length === 2 && loaded.every((ms) => ms > 0), rows['Loaded latency']);
  assert.match(rows.Streams, /^[1-5] down, [1-5] up$/);
  // Mbit/s beside MB/s: 1 MB = 1048576 bytes, 1 Mbit = 10^6 bits.
  assert.ok(Math.abs(mbit - (down * 1048576 * 8) / 1e6) < 0.1, rows.Download);

  // Everything the server sent was a download body and everything it received an upload
  // body: once the meter is idle, its sums over the phase times are the rates it saw.
  await waitIdle(server, 15000);
  const serverDown = server.meter.send / result.download.seconds;
  const serverUp = server.meter.recv / result.upload.seconds;
  assert.ok(Math.abs(down / serverDown - 1) < 0.05, `page ${down} MB/s, server ${serverDown} MB/s`);
  assert.ok(Math.abs(up / serverUp - 1) < 0.05, `page ${up} MB/s, server ${serverUp} MB/s`);
  await screenshot(page, 'full-page.png', true);

  await page.locator('#copy').click();
  await page.locator('#copied').filter({ hasText: 'Copied' }).waitFor();
  const copied = await page.evaluate(() => navigator.clipboard.readText());
  for (const label of ['Download', 'Upload']) {
    assert.ok(copied.includes(`\n${label}: ${rows[label]}\n`), copied);
  }

  // On a phone-sized screen nothing is wider than the screen and the card is reachable: the
  // page's width, then the right edges of the copy button and of both charts.
  const phone = await newPage(360, 740);
  assert.strictEqual((await runFullPage(phone, address)).phase, 'Done');
  const fit = await phone.evaluate(() => [document.documentElement.scrollWidth,
    ...[...document.querySelectorAll('#copy, canvas')].map((el) => el.getBoundingClientRect().right)]);
  assert.ok(fit.length === 4 && fit.every((right) => right <= 360), JSON.stringify(fit));
  await screenshot(phone, 'full-page-phone.png', true);
  await finish();
});

// On the server's own machine /full shows the addresses for other devices and draws the QR
// code of the one chosen; its figures keep the browser's timer precision, and its chart's
// seconds do not follow the steps in which the browser reports bytes.
test('/full on the server machine: addresses with their QR code, latency decimals, chart seconds', async (t) => {
  const { server, newPage, finish } = await startSession(t);
  const page = await newPage(900, 1000, `http://127.0.0.1:${server.port}/full`);
  const shown = () => page.evaluate(async () => {
    await window.tachyraShare;
    const $ = (id) => document.getElementById(id);
    return [$('share').hidden, [...$('shareList').children].map((li) => li.textContent), $('shareQr').dataset.address];
  });
  // This server listens on loopback alone: a note, no address.
  assert.deepStrictEqual(await shown(), [false, [], undefined]);
  // As a server on every interface answers (what it lists: server_output_test.py).
  const addresses = ['http://10.91.0.1:10001/full', 'http://[fd00:91::1]:10001/full'];
  await page.route('**/addresses', (route) => route.fulfill({ json: { local: true, full: addresses } }));
  await page.reload({ waitUntil: 'load' });
  assert.deepStrictEqual(await shown(), [false, addresses, addresses[0]]);
  const png = await page.locator('#shareQr svg').screenshot(); // read back from standard input
  const read = spawnSync('zbarimg', ['-q', '--raw', 'PNG:-'], { input: png, encoding: 'utf8' });
  assert.strictEqual(read.stdout.trim(), addresses[0], `zbarimg (zbar-tools): ${read.error || read.stderr}`);
  await page.locator('#shareList a').nth(1).click(); // the code of the address chosen
  assert.strictEqual((await shown())[2], addresses[1]);

  const figures = await page.evaluate(() => {
    const latency = [[2, 3, 17], [2.1, 3.4, 0.2], [2.13, 3]].map((s) => window.tachyraLatencyText(s)(2.5));
    // 16 MiB counted every 150 ms: a steady 106.67 MB/s, whatever second it is cut at.
    const trace = window.tachyraMakeTrace(0);
    for (let k = 1; k * 150 <= 5000; ++k) trace.add(k * 150, k * 16 * 1048576);
    const at = (s) => trace.bytesAt(s * 1000) / 1048576;
    return { latency, seconds: [1, 2, 3, 4].map((s) => (at(s) - at(s - 1)).toFixed(2)) };
  });
  assert.deepStrictEqual(figures, { latency: ['3 ms', '2.5 ms', '2.50 ms'], seconds: Array(4).fill('106.67') });
  await finish();
});

const rowsOf = (page, id) => page.evaluate((table) => [...document.querySelectorAll(`#${table} tbody tr`)]
  .map((tr) => [...tr.children].map((td) => td.textContent)), id);

// A raw client test of `seconds` against the server; resolves with its exit code.
function rawTest(cliPath, port, seconds, extra = []) {
  const proc = spawn(cliPath, ['-c', '127.0.0.1', '-p', String(port), '-t', String(seconds), '-P', '4', ...extra],
    { stdio: 'ignore' });
  return new Promise((resolve) => proc.on('exit', resolve));
}

const waitRows = (page, id, predicate, what) => until(async () => {
  const rows = await rowsOf(page, id);
  return predicate(rows) && rows;
}, 30000, async () => `${what} in #${id}: ${JSON.stringify(await rowsOf(page, id))}`);

test('/results shows running tests live and the history below', async (t) => {
  const { server, cliPath, newPage, screenshot, finish } = await startSession(t);
  const base = `http://127.0.0.1:${server.port}`;
  const page = await newPage(1000, 900, `${base}/results`);
  await page.locator('#liveNone').waitFor({ state: 'visible' });

  const download = rawTest(cliPath, server.port, 4);
  const live = await waitRows(page, 'live', (rows) => rows.some((r) => r[1] === 'raw'), 'running raw test');
  assert.deepStrictEqual(live[0].slice(0, 3), ['127.0.0.1', 'raw', 'download']);
  assert.strictEqual(await download, 0);
  const history = await waitRows(page, 'history', (rows) => rows.length === 1, 'history row');
  assert.deepStrictEqual(history[0].slice(1, 4), ['127.0.0.1', 'raw', 'download']);
  assert.ok(Number(history[0][6]) > 0, JSON.stringify(history));
  await waitRows(page, 'live', (rows) => rows.length === 0, 'empty live table');

  assert.strictEqual(await rawTest(cliPath, server.port, 2, ['--upload']), 0);
  await runFullPage(await newPage(900, 1000), `${base}/full`, 2);
  const rows = await waitRows(page, 'history', (r) => r.length === 3 && r[0][7] !== '', 'full row with latency');
  assert.deepStrictEqual(rows.map((r) => r[2]), ['full', 'raw', 'raw']);
  assert.match(rows[0][7], /^idle [\d.]+, jitter [\d.]+, download [\d.]+, upload [\d.]+$/);
  await page.waitForTimeout(500); // the chart's animation
  await screenshot(page, 'results-page.png', true);
  await finish();
});
