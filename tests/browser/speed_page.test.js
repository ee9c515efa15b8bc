// The speed page end to end (Chromium starts and stops the WebSocket test, reads the gauge),
// and both pages whole under a busy CPU. Usage: node speed_page.test.js TACHYRA_CLI [ARTIFACT_DIR]
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const os = require('node:os');
const { spawn } = require('node:child_process');
const { startSession } = require('./browser_kit');

// Runs in the page: the gauge's value as the page set it.
const gaugeText = () =>
  String(echarts.getInstanceByDom(document.getElementById('container')).getOption().series[0].data[0].value);

test('the speed page measures the WebSocket stream in Chromium', async (t) => {
  const { server, newPage, screenshot, finish } = await startSession(t);
  const page = await newPage(1280, 720, `http://127.0.0.1:${server.port}/`);
  assert.strictEqual(await page.title(), 'Tachyra-[网速测试]');

  // The gauge (maximum 300 at 127.0.0.1), set up as the page loads, replaced the fallback
  // text and is drawn by the served chart library.
  const gauge = await page.evaluate(() => {
    const chart = echarts.getInstanceByDom(document.getElementById('container'));
    const { max, name, data } = chart.getOption().series[0];
    const drawn = chart.getModel().getSeriesByType('gauge').length;
    const fallback = document.getElementById('container').textContent.includes('HTML5');
    return { drawn, max, name, value: Number(data[0].value), fallback };
  });
  assert.deepStrictEqual(gauge, { drawn: 1, max: 300, name: 'Othre\r\n本地环境', value: 0, fallback: false });

  // The address rule behind the other two maxima (100 on a LAN, 10 elsewhere).
  const lan = ['127.0.0.1', '10.1.2.3', '192.168.0.10', '172.16.0.1', '172.31.255.255'];
  const notLan = ['172.32.0.1', '192.169.0.1', '8.8.8.8', 'example.org', 'a.b.c.d', '1.2.3', ''];
  const seen = await page.evaluate((ips) => ips.map((ip) => IsLAN(ip)), [...lan, ...notLan]);
  assert.deepStrictEqual(seen, [...lan.map(() => true), ...notLan.map(() => false)]);

  const button = page.locator('#butStart');
  const buttonSays = (text) => button.filter({ hasText: new RegExp(`^${text}$`) }).waitFor({ timeout: 15000 });
  assert.strictEqual((await button.textContent()).trim(), '开始测试');

  await button.click();
  await buttonSays('停止测试');
  await page.waitForFunction(`Number((${gaugeText})()) > 0`, null, { timeout: 15000, polling: 100 });
  assert.match(await page.evaluate(gaugeText), /^\d+\.\d\d$/, 'the rate is shown with two decimals');
  await server.waitForLine((l) => /^recv \S+ +send (?!0\.00MB)/.test(l), 10000, 'a second that sent');
  await screenshot(page, 'speed-page.png');

  const stopAt = server.lines.length;
  await button.click();
  await buttonSays('开始测试');
  assert.strictEqual(await button.isEnabled(), true);
  // The server's session ended: one line tells the test's end.
  const ended = await server.waitForLine((l) => l.startsWith('Test ended: '), 15000, 'end line', stopAt);
  assert.match(ended, /^Test ended: 127\.0\.0\.1, websocket download, [\d.]+ s, [\d.]+ MB\/s$/);

  await finish();
});

// Each of 50 loads of either page on a phone-sized screen, with every core busy: the chart
// library drew, the stylesheet styles the speed page's buttons, which show, nothing is wider
// than the screen, and no request failed.
test('50 loads of each page come whole and fit a phone, every core busy', { timeout: 150000 }, async (t) => {
  const { server, newPage, finish } = await startSession(t);
  const loop = 'for (const end = Date.now() + 120000; Date.now() < end;);'; // 2 min at most
  const busy = os.cpus().map(() => spawn(process.execPath, ['-e', loop], { stdio: 'ignore' }));
  t.after(() => busy.forEach((proc) => proc.kill('SIGKILL')));
  const page = await newPage(360, 740);
  const failed = [];
  page.on('requestfailed', (req) => failed.push(`${req.url()}: ${req.failure().errorText}`));
  for (let i = 0; i < 100; ++i) {
    const address = `http://127.0.0.1:${server.port}/${i % 2 ? 'full' : ''}`;
    await page.goto(address, { waitUntil: 'load', timeout: 30000 });
    await page.evaluate(() => window.tachyraShare); // /full's own requests after the load
    const problems = await page.evaluate(() => {
      const all = (selector, ok) => [...document.querySelectorAll(selector)].every(ok);
      const box = (el) => el.getBoundingClientRect();
      return Object.entries({
        chart: typeof echarts === 'object' && document.querySelector('canvas') !== null,
        style: all('#butStart', (b) => getComputedStyle(b).borderTopLeftRadius !== '0px'),
        width: document.documentElement.scrollWidth <= 360
          && all('canvas', (c) => box(c).left >= 0 && box(c).right <= 360),
        buttons: all('#butStart, a.button', (b) => box(b).top >= 0 && box(b).bottom <= 740),
      }).filter(([, ok]) => !ok).map(([what]) => what);
    });
    if (problems.length > 0) failed.push(`load ${i} of ${address}: ${problems}`);
  }
  assert.deepStrictEqual(failed, []);
  await finish();
});
