// What the browser tests share: tachyra-cli -s on loopback with its output lines on offer,
// and Debian's Chromium started headless through playwright-core.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const readline = require('node:readline');
const { spawn } = require('node:child_process');
const { chromium } = require('playwright-core');

const chromiumPath = process.env.TACHYRA_CHROMIUM || '/usr/bin/chromium';

// tachyra-cli -s on loopback; resolves once it prints its port. Every output line is
// offered to the waiters registered with waitForLine, and the meter's lines are summed:
// server.meter holds the megabytes received and sent so far.
function startServer(cliPath) {
  const proc = spawn(cliPath, ['-s', '-B', '127.0.0.1', '-p', '0'], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const waiters = [];
  const server = { proc, port: 0, lines: [], meter: { recv: 0, send: 0 } };
  server.waitForLine = (predicate, timeoutMs, what) =>
    new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        waiters.splice(waiters.indexOf(waiter), 1);
        reject(new Error(`tachyra-cli: no ${what} within ${timeoutMs} ms`));
      }, timeoutMs);
      const waiter = (line) => {
        if (!predicate(line)) return false;
        clearTimeout(timer);
        resolve(line);
        return true;
      };
      waiters.push(waiter);
    });
  readline.createInterface({ input: proc.stdout }).on('line', (line) => {
    server.lines.push(line);
    const rates = /^recv ([\d.]+)MB\/s +send ([\d.]+)MB\/s$/.exec(line);
    if (rates) {
      server.meter.recv += Number(rates[1]);
      server.meter.send += Number(rates[2]);
    }
    for (const waiter of waiters.slice()) {
      if (waiter(line)) waiters.splice(waiters.indexOf(waiter), 1);
    }
  });
  server.exit = new Promise((resolve) => proc.on('exit', (code, signal) => resolve({ code, signal })));
  return server
    .waitForLine((l) => l.startsWith('Tachyra server listening on port '), 30000, 'port')
    .then((line) => {
      server.port = Number(line.split(' ').pop());
      return server;
    });
}

// n meter samples in a row for which idle(line) holds.
function waitIdle(server, timeoutMs, idle = (l) => l.endsWith('send 0.00MB/s'), n = 2) {
  let count = 0;
  return server.waitForLine(
    (l) => {
      if (!l.startsWith('recv ')) return false;
      count = idle(l) ? count + 1 : 0;
      return count >= n;
    },
    timeoutMs,
    'idle meter samples',
  );
}

// A fresh profile each time; t.after closes the browser and removes the profile.
async function launchChromium(t) {
  if (!fs.existsSync(chromiumPath)) throw new Error(`no browser at ${chromiumPath}`);
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tachyra-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
  t.after(async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  });
  return context;
}

module.exports = { startServer, waitIdle, launchChromium };
