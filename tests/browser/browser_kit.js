// What the browser tests share: tachyra-cli -s on loopback with its output lines on offer,
// and Debian's Chromium started headless through playwright-core, both ended with the test.
'use strict';

const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { spawn } = require('node:child_process');
const { chromium } = require('playwright-core');

const chromiumPath = process.env.TACHYRA_CHROMIUM || '/usr/bin/chromium';
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls check() until it gives something truthy, which it returns; after timeoutMs it fails
// saying what it waited for (what may be a function, to tell what there was instead).
async function until(check, timeoutMs, what) {
  for (const end = Date.now() + timeoutMs; ; await sleep(50)) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error(`no ${typeof what === 'function' ? await what() : what} within ${timeoutMs} ms`);
  }
}

// tachyra-cli -s on loopback, once it has printed its port, keeping its history in a
// folder of the test's own (server.resultsDb). server.lines holds its output and
// server.meter the sums of its meter lines: the megabytes received and sent so far.
async function startServer(cliPath) {
  const dataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'tachyra-results-'));
  const resultsDb = path.join(dataDir, 'results.sqlite');
  const proc = spawn(cliPath, ['-s', '-B', '127.0.0.1', '-p', '0', '--results-db', resultsDb], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const server = { proc, port: 0, lines: [], meter: { recv: 0, send: 0, at: Date.now() }, resultsDb };
  proc.on('exit', () => fs.rmSync(dataDir, { recursive: true, force: true }));
  server.exit = new Promise((resolve) => proc.on('exit', (code, signal) => resolve({ code, signal })));
  readline.createInterface({ input: proc.stdout }).on('line', (line) => {
    server.lines.push(line);
    const rates = /^recv ([\d.]+)MB\/s +send ([\d.]+)MB\/s$/.exec(line);
    if (rates) {
      server.meter.recv += Number(rates[1]);
      server.meter.send += Number(rates[2]);
      server.meter.at = Date.now();
    }
  });
  // The first line from index `from` on (by default the first still to come) that passes.
  server.waitForLine = (predicate, timeoutMs, what, from = server.lines.length) =>
    until(() => server.lines.slice(from).find(predicate), timeoutMs, `tachyra-cli ${what} line`);
  const portLine = (l) => l.startsWith('Tachyra server listening on port ');
  const line = await server.waitForLine(portLine, 30000, 'port');
  server.port = Number(line.split(' ').pop());
  return server;
}

// Until the server has printed no meter line for quietMs: nothing moves any more.
const waitIdle = (server, timeoutMs, quietMs = 2500) =>
  until(() => Date.now() - server.meter.at >= quietMs, timeoutMs, 'quiet tachyra-cli meter');

// Runs a test of `seconds` on the /full page at `address` until its result card shows, and
// returns the card's rows by their label, the phase shown and the result the page keeps.
async function runFullPage(page, address, seconds = 3) {
  await page.goto(`${address}?seconds=${seconds}`, { waitUntil: 'load' });
  await page.locator('#start').click();
  await page.locator('#result').waitFor({ state: 'visible', timeout: 60000 });
  return page.evaluate(() => {
    const rows = {};
    for (const dt of document.querySelectorAll('#result dt')) {
      rows[dt.textContent] = dt.nextElementSibling.textContent;
    }
    return { rows, phase: document.getElementById('phase').textContent, result: window.tachyraResult };
  });
}

// One test's tachyra-cli (the script's first argument) and Chromium (a fresh profile), both
// ended by t.after. newPage opens a page of the given size (and loads url if given), collecting
// its errors; finish() checks that there were none and that tachyra-cli ends cleanly on SIGINT.
async function startSession(t) {
  const [cliPath, artifactDir = path.join(os.tmpdir(), 'tachyra-browser-artifacts')] = process.argv.slice(2);
  assert.ok(cliPath, 'pass the path of tachyra-cli');
  assert.ok(fs.existsSync(chromiumPath), `no browser at ${chromiumPath}`);
  fs.mkdirSync(artifactDir, { recursive: true });
  const server = await startServer(cliPath);
  t.after(() => server.proc.kill('SIGINT'));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tachyra-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  t.after(async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  });
  const pageErrors = [];
  return {
    server,
    context,
    cliPath,
    async newPage(width, height, url) {
      const page = await context.newPage();
      page.on('pageerror', (err) => pageErrors.push(String(err)));
      await page.setViewportSize({ width, height });
      if (url) await page.goto(url, { waitUntil: 'load' });
      return page;
    },
    screenshot: (page, name, fullPage = false) =>
      page.screenshot({ path: path.join(artifactDir, name), fullPage }),
    async finish() {
      assert.deepStrictEqual(pageErrors, []);
      server.proc.kill('SIGINT');
      const exit = await server.exit;
      assert.strictEqual(exit.code, 0, `tachyra-cli ended with ${JSON.stringify(exit)}`);
    },
  };
}

module.exports = { startSession, waitIdle, until, runFullPage };
