// The results page in Chromium: a raw test from a second process shows up in the live
// table while it runs and in the history once it ends, and a /full run in another tab
// leaves its latencies in the history.
// Usage: node results_page.test.js TACHYRA_CLI [ARTIFACT_DIR]
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const { spawn } = require('node:child_process');
const { startSession, until, runFullPage } = require('./browser_kit');

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
  const page = await newPage(1000, 900);
  await page.goto(`${base}/results`, { waitUntil: 'load' });
  await page.locator('#liveNone').waitFor({ state: 'visible' });
  assert.deepStrictEqual(await rowsOf(page, 'history'), []);

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
