// The speed page end to end: tachyra-cli serves it, Debian's Chromium (headless, driven
// by playwright-core) loads it, starts and stops the WebSocket test and reads the gauge.
//
// Usage: node speed_page.test.js PATH_TO_TACHYRA_CLI [ARTIFACT_DIR]
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startServer, waitIdle, launchChromium } = require('./browser_kit');

const cliPath = process.argv[2];
const artifactDir = process.argv[3] || path.join(os.tmpdir(), 'tachyra-browser-artifacts');

test('the speed page measures the WebSocket stream in Chromium', async (t) => {
  assert.ok(cliPath, 'pass the path of tachyra-cli');
  fs.mkdirSync(artifactDir, { recursive: true });

  const server = await startServer(cliPath);
  t.after(() => {
    if (server.proc.exitCode === null) server.proc.kill('SIGINT');
  });
  const context = await launchChromium(t);

  const page = context.pages()[0] || (await context.newPage());
  const pageErrors = [];
  page.on('pageerror', (err) => pageErrors.push(String(err)));
  const failedRequests = [];
  page.on('requestfailed', (req) => failedRequests.push(req.url()));

  await page.goto(`http://127.0.0.1:${server.port}/`, { waitUntil: 'load' });
  assert.strictEqual(await page.title(), 'Tachyra-[网速测试]');

  // The gauge replaced the fallback text and is drawn by the served chart library.
  await page.waitForFunction(() => {
    const box = document.getElementById('container');
    return window.echarts && echarts.getInstanceByDom(box) && box.querySelector('canvas');
  });
  const gauge = await page.evaluate(() => {
    const chart = echarts.getInstanceByDom(document.getElementById('container'));
    const option = chart.getOption();
    return {
      drawn: chart.getModel().getSeriesByType('gauge').length,
      max: option.series[0].max,
      name: option.series[0].name,
      value: Number(option.series[0].data[0].value),
      fallbackGone: !document.getElementById('container').textContent.includes('HTML5'),
    };
  });
  assert.strictEqual(gauge.drawn, 1, 'the gauge series was not created');
  assert.strictEqual(gauge.max, 300, 'gauge maximum at 127.0.0.1');
  assert.strictEqual(gauge.name, 'Othre\r\n本地环境');
  assert.strictEqual(gauge.value, 0);
  assert.ok(gauge.fallbackGone, 'the fallback text is still shown');

  // The address rule behind the other two maxima (100 on a LAN, 10 elsewhere).
  const lan = await page.evaluate(() =>
    ['127.0.0.1', '10.1.2.3', '192.168.0.10', '172.16.0.1', '172.31.255.255', '172.32.0.1',
      '192.169.0.1', '8.8.8.8', 'example.org', 'a.b.c.d', '1.2.3', ''].map((ip) => IsLAN(ip)),
  );
  assert.deepStrictEqual(lan, [true, true, true, true, true, false, false, false, false, false,
    false, false]);

  const button = page.locator('#butStart');
  assert.strictEqual((await button.textContent()).trim(), '开始测试');
  // The stylesheet came from the server and styles the button.
  const radius = await button.evaluate((el) => getComputedStyle(el).borderTopLeftRadius);
  assert.notStrictEqual(radius, '0px', 'buttons.css was not applied');

  await button.click();
  await page.waitForFunction(() => document.getElementById('butStart').textContent === '停止测试', null, {
    timeout: 15000,
  });
  await page.waitForFunction(
    () => {
      const chart = echarts.getInstanceByDom(document.getElementById('container'));
      return Number(chart.getOption().series[0].data[0].value) > 0;
    },
    null,
    { timeout: 15000, polling: 100 },
  );
  const shown = await page.evaluate(() =>
    String(echarts.getInstanceByDom(document.getElementById('container')).getOption().series[0].data[0].value),
  );
  assert.match(shown, /^\d+\.\d\d$/, 'the rate is shown with two decimals');
  await waitIdle(server, 10000, (l) => !l.endsWith('send 0.00MB/s'), 1);
  await page.screenshot({ path: path.join(artifactDir, 'speed-page.png') });

  await button.click();
  await page.waitForFunction(() => document.getElementById('butStart').textContent === '开始测试', null, {
    timeout: 15000,
  });
  assert.strictEqual(await button.isEnabled(), true);
  // The server's session ended: nothing more is sent.
  await waitIdle(server, 15000);

  // Opened on a phone-sized screen, the gauge fits the width and both buttons show.
  const phonePage = await context.newPage();
  phonePage.on('pageerror', (err) => pageErrors.push(String(err)));
  await phonePage.setViewportSize({ width: 360, height: 740 });
  await phonePage.goto(`http://127.0.0.1:${server.port}/`, { waitUntil: 'load' });
  await phonePage.waitForFunction(() => document.querySelector('#container canvas'));
  const phone = await phonePage.evaluate(() => {
    const canvas = document.querySelector('#container canvas').getBoundingClientRect();
    const start = document.getElementById('butStart').getBoundingClientRect();
    const link = document.querySelector('a.button').getBoundingClientRect();
    return { left: canvas.left, right: canvas.right, startTop: start.top, linkBottom: link.bottom };
  });
  assert.ok(phone.left >= 0 && phone.right <= 360, `gauge ${JSON.stringify(phone)}`);
  assert.ok(phone.startTop >= 0 && phone.linkBottom <= 740, `buttons ${JSON.stringify(phone)}`);
  await phonePage.screenshot({ path: path.join(artifactDir, 'speed-page-phone.png') });
  await phonePage.close();

  assert.deepStrictEqual(pageErrors, []);
  assert.deepStrictEqual(failedRequests, []);

  server.proc.kill('SIGINT');
  const result = await server.exit;
  assert.strictEqual(result.code, 0, `tachyra-cli ended with ${JSON.stringify(result)}`);
});
