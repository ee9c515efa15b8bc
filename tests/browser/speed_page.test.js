// The speed page end to end: tachyra-cli serves it, Chromium loads it, starts and stops the
// WebSocket test and reads the gauge. Usage: node speed_page.test.js TACHYRA_CLI [ARTIFACT_DIR]
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const { startSession, waitIdle } = require('./browser_kit');

// Runs in the page: the gauge's value as the page set it.
const gaugeText = () =>
  String(echarts.getInstanceByDom(document.getElementById('container')).getOption().series[0].data[0].value);

test('the speed page measures the WebSocket stream in Chromium', async (t) => {
  const { server, newPage, screenshot, finish } = await startSession(t);
  const address = `http://127.0.0.1:${server.port}/`;
  const page = await newPage(1280, 720);
  const failedRequests = [];
  page.on('requestfailed', (req) => failedRequests.push(req.url()));
  await page.goto(address, { waitUntil: 'load' });
  assert.strictEqual(await page.title(), 'Tachyra-[网速测试]');

  // The gauge (maximum 300 at 127.0.0.1) replaced the fallback text and is drawn by the
  // served chart library.
  await page.waitForFunction(() => {
    const box = document.getElementById('container');
    return window.echarts && echarts.getInstanceByDom(box) && box.querySelector('canvas');
  });
  const gauge = await page.evaluate(() => {
    const chart = echarts.getInstanceByDom(document.getElementById('container'));
    const { max, name, data } = chart.getOption().series[0];
    const drawn = chart.getModel().getSeriesByType('gauge').length;
    const fallback = document.getElementById('container').textContent.includes('HTML5');
    return { drawn, max, name, value: Number(data[0].value), fallback };
  });
  const expected = { drawn: 1, max: 300, name: 'Othre\r\n本地环境', value: 0, fallback: false };
  assert.deepStrictEqual(gauge, expected);

  // The address rule behind the other two maxima (100 on a LAN, 10 elsewhere).
  const lan = ['127.0.0.1', '10.1.2.3', '192.168.0.10', '172.16.0.1', '172.31.255.255'];
  const notLan = ['172.32.0.1', '192.169.0.1', '8.8.8.8', 'example.org', 'a.b.c.d', '1.2.3', ''];
  const seen = await page.evaluate((ips) => ips.map((ip) => IsLAN(ip)), [...lan, ...notLan]);
  assert.deepStrictEqual(seen, [...lan.map(() => true), ...notLan.map(() => false)]);

  const button = page.locator('#butStart');
  const buttonSays = (text) =>
    page.waitForFunction((s) => document.getElementById('butStart').textContent === s, text, {
      timeout: 15000,
    });
  assert.strictEqual((await button.textContent()).trim(), '开始测试');
  // The stylesheet came from the server and styles the button.
  const radius = await button.evaluate((el) => getComputedStyle(el).borderTopLeftRadius);
  assert.notStrictEqual(radius, '0px', 'buttons.css was not applied');

  await button.click();
  await buttonSays('停止测试');
  await page.waitForFunction(`Number((${gaugeText})()) > 0`, null, { timeout: 15000, polling: 100 });
  assert.match(await page.evaluate(gaugeText), /^\d+\.\d\d$/, 'the rate is shown with two decimals');
  await waitIdle(server, 10000, (l) => !l.endsWith('send 0.00MB/s'), 1); // the server sends
  await screenshot(page, 'speed-page.png');

  await button.click();
  await buttonSays('开始测试');
  assert.strictEqual(await button.isEnabled(), true);
  // The server's session ended: nothing more is sent.
  await waitIdle(server, 15000);

  // Opened on a phone-sized screen, the gauge fits the width and both buttons show.
  const phonePage = await newPage(360, 740);
  await phonePage.goto(address, { waitUntil: 'load' });
  await phonePage.waitForFunction(() => document.querySelector('#container canvas'));
  const phone = await phonePage.evaluate(() => {
    const box = (selector) => document.querySelector(selector).getBoundingClientRect();
    const canvas = box('#container canvas');
    const [startTop, linkBottom] = [box('#butStart').top, box('a.button').bottom];
    return { left: canvas.left, right: canvas.right, startTop, linkBottom };
  });
  assert.ok(phone.left >= 0 && phone.right <= 360, `gauge ${JSON.stringify(phone)}`);
  assert.ok(phone.startTop >= 0 && phone.linkBottom <= 740, `buttons ${JSON.stringify(phone)}`);
  await screenshot(phonePage, 'speed-page-phone.png');
  await phonePage.close();

  assert.deepStrictEqual(failedRequests, []);
  await finish();
});
