#!/bin/sh
# The two browser pages side by side, on loopback, in one run: the same headless Chromium
# reads / (WebSocket stream) and /full (parallel HTTP requests) from one tachyra-cli -s,
# alternately, REPEATS times each. Chromium is driven over its DevTools pipe with no
# domain enabled (no Network tracking); the rates are counted by the pages themselves.
# The server's CPU use comes from /proc/PID/stat over each measured interval.
# Usage: bench/browser.sh [SECONDS] [REPEATS]   (defaults 10 and 3)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-"$ROOT/build/default"}
CHROMIUM=${TACHYRA_CHROMIUM:-/usr/bin/chromium}
SECS=${1:-10}
REPEATS=${2:-3}
cmake --build "$BUILD" --target tachyra-cli >/dev/null

PROFILE=$(mktemp -d)
. "$(dirname "$0")/start_server.sh"
trap 'stop_server; rm -rf "$PROFILE"' EXIT
start_server "$BUILD" || exit 1

PORT=$PORT SERVER_PID=$SERVER SECS=$SECS REPEATS=$REPEATS CHROMIUM=$CHROMIUM PROFILE=$PROFILE \
CLK_TCK=$(getconf CLK_TCK) node - <<'EOF'
'use strict';
const fs = require('node:fs');
const { spawn } = require('node:child_process');

const env = process.env;
const base = `http://127.0.0.1:${env.PORT}`;
const secs = Number(env.SECS);
const MB = 1048576;
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// Server CPU seconds so far (user + system).
function serverCpu() {
  const fields = fs.readFileSync(`/proc/${env.SERVER_PID}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / Number(env.CLK_TCK);
}

// Chromium with the DevTools protocol on fds 3 (commands) and 4 (answers), NUL-separated.
const browser = spawn(env.CHROMIUM, ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
  '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync',
  '--remote-debugging-pipe', `--user-data-dir=${env.PROFILE}`, 'about:blank'],
{ stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
let nextId = 1;
const pending = new Map();
let buffered = '';
browser.stdio[4].on('data', (chunk) => {
  buffered += chunk.toString();
  let end;
  while ((end = buffered.indexOf('\0')) >= 0) {
    const message = JSON.parse(buffered.slice(0, end));
    buffered = buffered.slice(end + 1);
    const waiter = pending.get(message.id);
    if (!waiter) continue;
    pending.delete(message.id);
    if (message.error) waiter.reject(new Error(JSON.stringify(message.error)));
    else waiter.resolve(message.result);
  }
});
function send(method, params = {}, sessionId = undefined) {
  const id = nextId++;
  browser.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + '\0');
  return new Promise((resolve, reject) => pending.set(id, { resolve, reject }));
}

let session = null;
async function evaluate(expression) {
  const r = await send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true }, session);
  if (r.exceptionDetails) throw new Error(expression + ': ' + JSON.stringify(r.exceptionDetails));
  return r.result.value;
}
async function open(url) {
  await send('Page.navigate', { url }, session);
  for (let i = 0; i < 300; ++i) {
    await sleep(100);
    if (await evaluate(`location.href === ${JSON.stringify(url)} && document.readyState === 'complete'`)) return;
  }
  throw new Error('page did not load: ' + url);
}

// The WebSocket page: its messages are counted next to its own handler.
async function runClassic() {
  await open(base + '/');
  await evaluate(`(() => {
    window.benchBytes = 0;
    const Native = WebSocket;
    window.WebSocket = function (url) {
      const ws = new Native(url);
      ws.addEventListener('message', (e) => { window.benchBytes += e.data.length; });
      return ws;
    };
    document.getElementById('butStart').click();
  })()`);
  // Measured from two seconds after the first message: connected and streaming.
  for (let i = 0; i < 300 && !(await evaluate('window.benchBytes > 0')); ++i) await sleep(100);
  await sleep(2000);
  const c0 = serverCpu();
  const b0 = await evaluate('[performance.now(), window.benchBytes]');
  await sleep(secs * 1000);
  const b1 = await evaluate('[performance.now(), window.benchBytes]');
  const c1 = serverCpu();
  await evaluate(`document.getElementById('butStart').click()`);
  for (let i = 0; i < 100 && (await evaluate(`document.getElementById('butStart').textContent`)) !== '开始测试'; ++i)
    await sleep(100);
  const seconds = (b1[0] - b0[0]) / 1000;
  return { download: (b1[1] - b0[1]) / MB / seconds, cpu: (c1 - c0) / seconds };
}

// The full page: its own result; the server's CPU from the download phase's start to the card.
async function runFull() {
  await open(`${base}/full?seconds=${secs}`);
  await evaluate(`document.getElementById('start').click()`);
  let c0 = null, t0 = 0;
  for (let i = 0; i < (secs * 2 + 60) * 20; ++i) {
    const phase = await evaluate(`document.getElementById('phase').textContent`);
    if (c0 === null && phase === 'Download...') { c0 = serverCpu(); t0 = performance.now(); }
    if (phase === 'Done') break;
    if (phase.startsWith('The test failed')) throw new Error(phase);
    await sleep(50);
  }
  const c1 = serverCpu();
  const r = await evaluate('window.tachyraResult');
  if (!r) throw new Error('/full gave no result');
  return { download: r.download.rate, upload: r.upload.rate, streams: `${r.download.streams}/${r.upload.streams}`,
    idle: r.idle.median, loaded: Math.max(r.download.latency, r.upload.latency),
    cpu: (c1 - c0) / ((performance.now() - t0) / 1000) };
}

const median = (v) => v.slice().sort((a, b) => a - b)[v.length >> 1];
const f = (v) => v.toFixed(1).padStart(7);

(async () => {
  const { targetInfos } = await send('Target.getTargets');
  const target = targetInfos.find((t) => t.type === 'page');
  session = (await send('Target.attachToTarget', { targetId: target.targetId, flatten: true })).sessionId;
  const classic = [], full = [];
  console.log(`loopback, ${secs} s per measurement; MB = 1048576 bytes; server CPU in cores`);
  for (let i = 1; i <= Number(env.REPEATS); ++i) {
    const c = await runClassic();
    classic.push(c);
    console.log(`run ${i}  /      download ${f(c.download)} MB/s                        server CPU ${c.cpu.toFixed(3)}`);
    const r = await runFull();
    full.push(r);
    console.log(`run ${i}  /full  download ${f(r.download)} MB/s  upload ${f(r.upload)} MB/s  server CPU ${r.cpu.toFixed(3)}` +
      `  streams ${r.streams}  latency idle ${r.idle.toFixed(2)} ms, loaded ${r.loaded.toFixed(2)} ms`);
  }
  const down = median(classic.map((c) => c.download));
  const fullDown = median(full.map((r) => r.download));
  const fullUp = median(full.map((r) => r.upload));
  console.log(`median  /      download ${f(down)} MB/s  server CPU ${median(classic.map((c) => c.cpu)).toFixed(3)}`);
  console.log(`median  /full  download ${f(fullDown)} MB/s  upload ${f(fullUp)} MB/s  server CPU ${median(full.map((r) => r.cpu)).toFixed(3)}`);
  console.log(`ratio   /full download : / download = ${(fullDown / down).toFixed(2)} : 1, ` +
    `/full upload : / download = ${(fullUp / down).toFixed(2)} : 1`);
  browser.kill();
})().catch((e) => {
  console.error(e.message);
  browser.kill();
  process.exit(1);
});
EOF
