// The full speed test: idle latency, then download and upload phases of a fixed length
// with parallel requests and the latency sampled under load, then a result card.
// Talks only to this server: /ping, /download?size=N and /upload (POST).
'use strict';

(function () {
  const MB = 1048576; // as everywhere in Tachyra
  const query = new URLSearchParams(location.search);
  const phaseSeconds = Math.min(60, Math.max(1, Number(query.get('seconds')) || 10));
  // A browser keeps six connections to one server: one stays free for the pings.
  const maxStreams = 5;
  const maxDownloadSize = 256 * MB; // the largest request of each kind
  const uploadSize = 16 * MB;
  const idlePings = 20;
  const loadedPingGapMs = 200;
  // The rate is checked this often while streams are added.
  const rampWindowMs = Math.min(500, Math.max(250, (phaseSeconds * 1000) / 16));

  const $ = (id) => document.getElementById(id);
  const gauge = echarts.init($('gauge'));
  const chart = echarts.init($('chart'));
  let uploadBlob = null;

  gauge.setOption({
    series: [{
      type: 'gauge', min: 0, max: 100, radius: '92%', splitNumber: 5,
      axisLine: { lineStyle: { width: 12 } }, splitLine: { length: 14 },
      axisLabel: { fontSize: 10 }, pointer: { width: 5 },
      title: { offsetCenter: [0, '45%'], fontSize: 13 },
      detail: { formatter: (v) => Number(v).toFixed(2) + ' MB/s', fontSize: 18, offsetCenter: [0, '18%'] },
      data: [{ value: 0, name: 'Idle' }],
    }],
  });
  chart.setOption({
    animation: false,
    grid: { left: 46, right: 12, top: 30, bottom: 26 },
    legend: { data: ['Download', 'Upload'], top: 0 },
    tooltip: { trigger: 'axis' },
    xAxis: { type: 'value', name: 's', min: 0, minInterval: 1 },
    yAxis: { type: 'value', name: 'MB/s' },
    series: [
      { name: 'Download', type: 'line', data: [], symbolSize: 5 },
      { name: 'Upload', type: 'line', data: [], symbolSize: 5 },
    ],
  });
  window.addEventListener('resize', () => { gauge.resize(); chart.resize(); });

  function showGauge(name, rate) {
    const steps = [10, 25, 50, 100, 250, 500, 1000, 2500, 5000, 10000];
    const max = steps.find((s) => s >= rate * 1.1) || steps[steps.length - 1];
    gauge.setOption({ series: [{ max, data: [{ value: rate.toFixed(2), name }] }] });
  }

  function median(values) {
    const v = values.slice().sort((a, b) => a - b);
    if (v.length === 0) return 0;
    const m = v.length >> 1;
    return v.length % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
  }

  // Mean change between consecutive samples.
  function jitter(values) {
    let sum = 0;
    for (let i = 1; i < values.length; ++i) sum += Math.abs(values[i] - values[i - 1]);
    return values.length > 1 ? sum / (values.length - 1) : 0;
  }

  async function ping() {
    const t0 = performance.now();
    const response = await fetch('/ping?r=' + Math.random(), { cache: 'no-store' });
    await response.arrayBuffer();
    return performance.now() - t0;
  }

  // Pings one after another, at most one per gap, until state.stopped.
  async function pingUnderLoad(state) {
    while (!state.stopped) {
      const t0 = performance.now();
      try {
        const ms = await ping();
        if (!state.stopped) state.pings.push(ms);
      } catch (e) {
        // a ping cut by the end of the phase
      }
      const rest = loadedPingGapMs - (performance.now() - t0);
      if (rest > 0) await new Promise((r) => setTimeout(r, rest));
    }
  }

  // A running count of bytes as it grows in steps (a browser's upload progress comes every
  // few tens of milliseconds, some only as a request ends), read between two steps as a
  // straight line: a second cut at a step would get all of it or none, and the chart would
  // zigzag. Times are asked for in increasing order.
  function makeTrace(t0) {
    let steps = [{ t: t0, bytes: 0 }];
    let at = 0;
    return {
      add(t, bytes) { steps.push({ t, bytes }); },
      bytesAt(t) {
        while (at + 1 < steps.length && steps[at + 1].t <= t) ++at;
        if (at > 4096) { // what lies before is never asked for again
          steps = steps.slice(at);
          at = 0;
        }
        const a = steps[at];
        const b = steps[at + 1];
        return b ? a.bytes + ((b.bytes - a.bytes) * (t - a.t)) / (b.t - a.t) : a.bytes;
      },
    };
  }
  window.tachyraMakeTrace = makeTrace; // for the tests

  // Requests grow while one takes less than a fifth of a second, so that few of them are
  // made and the running ones finish soon after the end of a phase.
  const grow = (size, t0, max) => (performance.now() - t0 < 200 ? Math.min(size * 2, max) : size);

  // One download stream: requests one after another, the body counted as it arrives.
  // The end of the phase lets the running request finish, so that every byte the server
  // sent is counted.
  async function downloadStream(state) {
    let size = MB;
    while (!state.stopped) {
      const t0 = performance.now();
      const response = await fetch('/download?size=' + size + '&r=' + Math.random(), { cache: 'no-store' });
      if (!response.ok) throw new Error('download answered ' + response.status);
      const reader = response.body.getReader();
      for (;;) {
        const { done, value } = await reader.read();
        if (done) break;
        state.count(value.byteLength, true, !state.stopped);
      }
      size = grow(size, t0, maxDownloadSize);
    }
  }

  // One upload stream: POSTs of the random block, shown as the browser sends them, and
  // taken into the result once the server has answered that it has them all. The end of
  // the phase lets the running request finish.
  function uploadStream(state) {
    return new Promise((resolve, reject) => {
      let size = MB;
      const next = () => {
        if (state.stopped) return resolve();
        const body = uploadBlob.slice(0, size);
        const t0 = performance.now();
        let sent = 0;
        const xhr = new XMLHttpRequest();
        xhr.upload.onprogress = (e) => {
          state.count(e.loaded - sent, false, !state.stopped);
          sent = e.loaded;
        };
        xhr.onload = () => {
          if (xhr.status !== 200) return reject(new Error('upload answered ' + xhr.status));
          state.count(body.size - sent, false, !state.stopped);
          state.confirm(body.size);
          size = grow(size, t0, uploadBlob.size);
          next();
        };
        xhr.onerror = () => reject(new Error('upload failed'));
        xhr.open('POST', '/upload?r=' + Math.random());
        xhr.send(body);
      };
      next();
    });
  }

  // One phase of phaseSeconds: streams added while each one still raises the rate, the
  // gauge and the chart fed as it runs.
  async function runPhase(name, seriesIndex, startStream) {
    const t0 = performance.now();
    // bytes: what the gauge and chart show; confirmed and tConfirmed: what the result is
    // made of, the bytes known to have crossed and when the last of them had.
    const state = { bytes: 0, confirmed: 0, tConfirmed: t0, stopped: false, pings: [], streams: 0 };
    // Every change of the shown bytes, with its time: the chart's seconds are cut out of it.
    const trace = makeTrace(t0);
    state.confirm = (n) => {
      state.confirmed += n;
      state.tConfirmed = performance.now();
    };
    state.count = (n, confirmed, shown) => {
      if (shown && n > 0) {
        state.bytes += n;
        trace.add(performance.now(), state.bytes);
      }
      if (confirmed) state.confirm(n);
    };
    const failures = [];
    const running = [];
    const addStream = () => {
      state.streams += 1;
      running.push(startStream(state).catch((e) => failures.push(e)));
    };
    const points = [];
    const history = [{ t: t0, bytes: 0 }];
    let ramp = { t: t0, bytes: 0, rate: 0 };
    let ramping = true;
    let secondBytes = 0;
    addStream();
    const pinger = pingUnderLoad(state);
    $('phase').textContent = name + '...';

    await new Promise((resolve) => {
      const tEnd = t0 + phaseSeconds * 1000;
      const timer = setInterval(() => {
        const now = performance.now();
        history.push({ t: now, bytes: state.bytes });
        while (history.length > 2 && now - history[1].t >= 1000) history.shift();
        const h = history[0];
        showGauge(name, (state.bytes - h.bytes) / MB / Math.max(0.001, (now - h.t) / 1000));
        if (ramping && now - ramp.t >= rampWindowMs) {
          const rate = (state.bytes - ramp.bytes) / (now - ramp.t);
          if (state.streams > 1 && rate < ramp.rate * 1.1) ramping = false;
          else if (state.streams < maxStreams) addStream();
          else ramping = false;
          ramp = { t: now, bytes: state.bytes, rate };
        }
        const second = points.length + 1;
        // Each second is cut a little after its end, once the counts around it are in.
        const settled = now - t0 >= second * 1000 + 150 || now >= tEnd;
        if (settled && second <= phaseSeconds) {
          const bytes = trace.bytesAt(t0 + second * 1000);
          points.push([second, (bytes - secondBytes) / MB]);
          secondBytes = bytes;
          const series = [{}, {}];
          series[seriesIndex] = { data: points.slice() };
          chart.setOption({ series });
        }
        if (now >= tEnd || failures.length) {
          clearInterval(timer);
          resolve();
        }
      }, 50);
    });
    state.stopped = true;
    await Promise.all(running);
    await pinger;
    if (failures.length) throw failures[0];
    const seconds = (state.tConfirmed - t0) / 1000;
    const bytes = state.confirmed;
    showGauge(name, bytes / MB / seconds);
    return { bytes, seconds, rate: bytes / MB / seconds, streams: state.streams,
      latency: median(state.pings), pings: state.pings };
  }

  function makeUploadBlob() {
    if (uploadBlob) return;
    // Random bytes, made once: nothing on the way can compress them.
    const block = new Uint8Array(uploadSize);
    for (let i = 0; i < block.length; i += 65536) crypto.getRandomValues(block.subarray(i, i + 65536));
    uploadBlob = new Blob([block]);
  }

  // The decimals the browser's timer gives: 0 when every sample is a whole number of
  // milliseconds (Firefox here), 1 for tenths (Chromium's 100 us steps), else 2.
  function timerDecimals(samples) {
    const onGrid = (step) => samples.every((v) => Math.abs(v / step - Math.round(v / step)) < 1e-6);
    if (samples.length === 0) return 2;
    return onGrid(1) ? 0 : onGrid(0.1) ? 1 : 2;
  }
  // Every latency figure of one result with the decimals of its samples.
  const latencyText = (samples) => {
    const decimals = timerDecimals(samples);
    return (v) => v.toFixed(decimals) + ' ms';
  };
  window.tachyraLatencyText = latencyText; // for the tests
  const rateText = (r) => r.toFixed(2) + ' MB/s (' + ((r * MB * 8) / 1e6).toFixed(1) + ' Mbit/s)';

  function showResult(r) {
    const ms = latencyText(r.samples);
    $('resDownload').textContent = rateText(r.download.rate);
    $('resUpload').textContent = rateText(r.upload.rate);
    $('resIdle').textContent = ms(r.idle.median) + ', jitter ' + ms(r.idle.jitter);
    $('resLoaded').textContent = ms(r.download.latency) + ' downloading, ' + ms(r.upload.latency) + ' uploading';
    $('resStreams').textContent = r.download.streams + ' down, ' + r.upload.streams + ' up';
    $('resTime').textContent = r.when + ', ' + phaseSeconds + ' s per phase';
    $('result').hidden = false;
  }

  function resultText() {
    const rows = document.querySelectorAll('#result dt');
    const lines = ['Tachyra speed test, ' + location.host];
    rows.forEach((dt) => lines.push(dt.textContent + ': ' + dt.nextElementSibling.textContent));
    return lines.join('\n');
  }

  // The server keeps the run's latencies with its own counts of the same test.
  function postCard(r) {
    const card = { idle: r.idle.median, jitter: r.idle.jitter, download: r.download.latency,
      upload: r.upload.latency };
    fetch('results', { method: 'POST', headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(card) }).catch(() => {});
  }

  async function runTest() {
    $('start').disabled = true;
    $('result').hidden = true;
    $('copied').textContent = '';
    chart.setOption({ series: [{ data: [] }, { data: [] }] });
    try {
      makeUploadBlob();
      $('phase').textContent = 'Latency...';
      await ping(); // opens the connection the pings keep
      const idle = [];
      for (let i = 0; i < idlePings; ++i) idle.push(await ping());
      const result = { when: new Date().toLocaleString(), idle: { median: median(idle), jitter: jitter(idle) } };
      result.download = await runPhase('Download', 0, downloadStream);
      result.upload = await runPhase('Upload', 1, uploadStream);
      result.samples = idle.concat(result.download.pings, result.upload.pings);
      showResult(result);
      window.tachyraResult = result;
      postCard(result);
      $('phase').textContent = 'Done';
    } catch (e) {
      $('phase').textContent = 'The test failed: ' + e.message;
    }
    $('start').disabled = false;
  }

  async function copyResult() {
    const text = resultText();
    try {
      await navigator.clipboard.writeText(text);
    } catch (e) {
      // Without a secure context (a plain http address on the LAN) the old way still works.
      const area = document.createElement('textarea');
      area.value = text;
      document.body.appendChild(area);
      area.select();
      document.execCommand('copy');
      area.remove();
    }
    $('copied').textContent = 'Copied';
  }

  function loadScript(src) {
    return new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = src;
      script.onload = resolve;
      script.onerror = () => reject(new Error('cannot load ' + src));
      document.head.appendChild(script);
    });
  }

  // On the server's own machine the server tells the addresses other devices open this
  // page at; the QR code (of the first, or of the one clicked) is drawn only here, so a
  // phone never loads the drawer.
  async function showShareAddresses() {
    let info;
    try {
      const response = await fetch('/addresses', { cache: 'no-store' });
      info = await response.json();
    } catch (e) {
      return; // an older server, or none: no panel
    }
    if (!info.local) return;
    $('share').hidden = false;
    if (info.full.length === 0) {
      $('shareNote').textContent = 'No other device can open this server: it listens on this machine only, or the machine has no network address.';
      return;
    }
    try {
      await loadScript('/qrcode.js');
    } catch (e) {
      // the addresses are still worth showing
    }
    const draw = (address) => {
      if (typeof qrcode !== 'function') return;
      const qr = qrcode(0, 'M');
      qr.addData(address);
      qr.make();
      $('shareQr').innerHTML = qr.createSvgTag({ cellSize: 4, margin: 4, alt: address });
      $('shareQr').dataset.address = address;
    };
    for (const address of info.full) {
      const item = document.createElement('li');
      const link = document.createElement('a');
      link.href = address;
      link.textContent = address;
      link.addEventListener('click', (e) => {
        e.preventDefault();
        document.querySelectorAll('#shareList a').forEach((a) => a.classList.toggle('shown', a === link));
        draw(address);
      });
      item.appendChild(link);
      $('shareList').appendChild(item);
    }
    $('shareList').querySelector('a').classList.add('shown');
    draw(info.full[0]);
  }

  window.tachyraShare = showShareAddresses(); // the tests wait for it
  $('start').addEventListener('click', runTest);
  $('copy').addEventListener('click', copyResult);
})();
