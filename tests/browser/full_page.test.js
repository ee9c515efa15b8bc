// The full test page end to end: tachyra-cli serves /full, Chromium runs its three phases
// over loopback, and the result card must agree with what the server's meter counted.
//
// Usage: node full_page.test.js PATH_TO_TACHYRA_CLI [ARTIFACT_DIR]
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startServer, waitIdle, launchChromium } = require('./browser_kit');

const cliPath = process.argv[2];
const artifactDir = process.argv[3] || path.join(os.tmpdir(), 'tachyra-browser-artifacts');
const seconds = 3;

// Runs the test on /full and returns the card's rows by their label.
async function runFullPage(page, address) {
  await page.goto(`${address}?seconds=${seconds}`, { waitUntil: 'load' });
  await page.locator('#start').click();
  await page.locator('#result').waitFor({ state: 'visible', timeout: 60000 });
  return page.evaluate(() => {
    const rows = {};
    document.querySelectorAll('#result dt').forEach((dt) => {
      rows[dt.textContent] = dt.nextElementSibling.textContent;
    });
    return { rows, phase: document.getElementById('phase').textContent, result: window.tachyraResult };
  });
}

const number = (text, re) => Number((re.exec(text) || [])[1]);

test('/full measures latency, download and upload in Chromium', async (t) => {
  assert.ok(cliPath, 'pass the path of tachyra-cli');
  fs.mkdirSync(artifactDir, { recursive: true });
  const server = await startServer(cliPath);
  t.after(() => {
    if (server.proc.exitCode === null) server.proc.kill('SIGINT');
  });
  // Both addresses follow the port line; the test opens the printed one.
  const base = `http://127.0.0.1:${server.port}/`;
  const printed = () => server.lines.slice(1, 3).join('\n');
  for (let i = 0; i < 100 && server.lines.length < 3; ++i) await new Promise((r) => setTimeout(r, 50));
  assert.strictEqual(printed(), `Speed page: ${base}\nFull test (download, upload, latency): ${base}full`);
  const address = printed().split(': ').pop();
  const context = await launchChromium(t);
  await context.grantPermissions(['clipboard-read', 'clipboard-write']);
  const pageErrors = [];
  const page = context.pages()[0] || (await context.newPage());
  page.on('pageerror', (err) => pageErrors.push(String(err)));
  await page.setViewportSize({ width: 900, height: 1000 });

  const { rows, phase, result } = await runFullPage(page, address);
  assert.strictEqual(phase, 'Done');
  const down = number(rows.Download, /^([\d.]+) MB\/s \(([\d.]+) Mbit\/s\)$/);
  const up = number(rows.Upload, /^([\d.]+) MB\/s/);
  assert.ok(down > 0 && up > 0, JSON.stringify(rows));
  assert.ok(number(rows['Idle latency'], /^([\d.]+) ms, jitter [\d.]+ ms$/) > 0, rows['Idle latency']);
  assert.ok(number(rows['Loaded latency'], /^([\d.]+) ms downloading/) > 0, rows['Loaded latency']);
  assert.ok(number(rows['Loaded latency'], /, ([\d.]+) ms uploading$/) > 0, rows['Loaded latency']);
  assert.match(rows.Streams, /^[1-5] down, [1-5] up$/);
  // Mbit/s beside MB/s: 1 MB = 1048576 bytes, 1 Mbit = 10^6 bits.
  const mbit = number(rows.Download, /\(([\d.]+) Mbit\/s\)/);
  assert.ok(Math.abs(mbit - (down * 1048576 * 8) / 1e6) < 0.1, rows.Download);

  // Everything the server sent was a download body and everything it received an upload
  // body: once the meter is idle, its sums over the phase times are the rates it saw.
  await waitIdle(server, 15000, (l) => l === 'recv 0.00MB/s  send 0.00MB/s');
  const serverDown = server.meter.send / result.download.seconds;
  const serverUp = server.meter.recv / result.upload.seconds;
  assert.ok(Math.abs(down / serverDown - 1) < 0.05, `page ${down} MB/s, server ${serverDown} MB/s`);
  assert.ok(Math.abs(up / serverUp - 1) < 0.05, `page ${up} MB/s, server ${serverUp} MB/s`);
  await page.screenshot({ path: path.join(artifactDir, 'full-page.png'), fullPage: true });

  await page.locator('#copy').click();
  await page.locator('#copied').filter({ hasText: 'Copied' }).waitFor();
  const copied = await page.evaluate(() => navigator.clipboard.readText());
  assert.ok(copied.includes(`\nDownload: ${rows.Download}\n`), copied);
  assert.ok(copied.includes(`\nUpload: ${rows.Upload}\n`), copied);

  // On a phone-sized screen nothing is wider than the screen and the card is reachable.
  const phone = await context.newPage();
  phone.on('pageerror', (err) => pageErrors.push(String(err)));
  await phone.setViewportSize({ width: 360, height: 740 });
  const phoneRun = await runFullPage(phone, address);
  assert.strictEqual(phoneRun.phase, 'Done');
  const fit = await phone.evaluate(() => ({
    scroll: document.documentElement.scrollWidth,
    canvases: [...document.querySelectorAll('canvas')].map((c) => c.getBoundingClientRect().right),
    copy: document.getElementById('copy').getBoundingClientRect().right,
  }));
  assert.ok(fit.scroll <= 360 && fit.copy <= 360, JSON.stringify(fit));
  assert.ok(fit.canvases.length === 2 && fit.canvases.every((r) => r <= 360), JSON.stringify(fit));
  await phone.screenshot({ path: path.join(artifactDir, 'full-page-phone.png'), fullPage: true });

  assert.deepStrictEqual(pageErrors, []);
  server.proc.kill('SIGINT');
  const exit = await server.exit;
  assert.strictEqual(exit.code, 0, `tachyra-cli ended with ${JSON.stringify(exit)}`);
});
