// bench/browser: the substitute camera's 720p25 live stream shown in headless
// Chromium, through tavolen-host in a control (ours), against a page that
// decodes the same access units itself with WebCodecs (the peer).
//
// For each control size it measures, over the same number of seconds of live
// video: pictures shown per second in the canvas, camera-to-canvas latency
// (the clock the camera burned into the frame just before encoding it, read
// back from the canvas right after the picture is drawn), and CPU seconds per
// video second (ours: tavolen-host plus the browser; peer: the browser plus the
// small relay that brings the camera's stream into the page).
//
// usage: node bench.mjs --host PATH --camsim PATH [--seconds 20] [--picture auto|jpeg|raw]
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { createRequire } from 'node:module';

const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(path.join(here, '../../tests/web/package.json'));
const puppeteer = require('puppeteer-core');

const args = Object.fromEntries(process.argv.slice(2).reduce((pairs, a, i, all) => {
  if (a.startsWith('--')) pairs.push([a.slice(2), all[i + 1]]);
  return pairs;
}, []));
const seconds = Number(args.seconds || 20);
const warmUpMs = 3000;
const TICKS = 100;  // clock ticks per second in /proc/<pid>/stat on Linux

function waitForLine(child, pattern) {
  return new Promise((resolve, reject) => {
    let seen = '';
    child.stdout.on('data', (chunk) => {
      seen += chunk;
      const m = seen.match(pattern);
      if (m) resolve(m);
    });
    child.once('exit', (code) => reject(new Error('exited ' + code + ': ' + seen)));
  });
}

// CPU seconds used so far by the processes and all their descendants.
function cpuSeconds(pids) {
  const stats = new Map();
  for (const entry of fs.readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const text = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      const fields = text.slice(text.lastIndexOf(')') + 2).split(' ');
      stats.set(Number(entry), { ppid: Number(fields[1]), ticks: Number(fields[11]) + Number(fields[12]) });
    } catch (e) { /* gone */ }
  }
  const wanted = new Set(pids);
  let grew = true;
  while (grew) {
    grew = false;
    for (const [pid, s] of stats) if (!wanted.has(pid) && wanted.has(s.ppid)) { wanted.add(pid); grew = true; }
  }
  let ticks = 0;
  for (const pid of wanted) ticks += stats.get(pid)?.ticks || 0;
  return ticks / TICKS;
}

function quantile(sorted, q) {
  if (!sorted.length) return NaN;
  return sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
}

const pageHead = (body) => `<!DOCTYPE html><html><head><meta charset="utf-8">
<script src="/clock_reader.js"></script></head><body style="margin:0">${body}</body></html>`;

// Ours: a control showing the camera. Every drawn picture's clock is read.
const oursPage = (hostOrigin) => pageHead(`<div id="view"></div>
<script>
  window.samples = [];
  const place = { x: 1, y: 1, sx: 1, sy: 1 };
  for (const proto of [CanvasRenderingContext2D.prototype]) {
    for (const name of ['drawImage', 'putImageData']) {
      const original = proto[name];
      proto[name] = function (...a) {
        const r = original.apply(this, a);
        if (this.canvas.classList.contains('tavolen-canvas') && window.measuring) {
          const clock = clockReader.readClock(this, place, 6);
          samples.push(clock === null ? null : clockReader.latencyOf(clock));
        }
        return r;
      };
    }
  }
  window.start = async (w, h, port) => {
    const view = document.getElementById('view');
    view.style.width = w + 'px';
    view.style.height = h + 'px';
    window.c = await TavolenControl.create(view);
    // The picture fills the video surface, one pixel in from each side.
    place.sx = (w - 2) / 1280;
    place.sy = (h - 2) / 720;
    return c.PlayVideo('admin', '', '127.0.0.1', port, 0, 2);
  };
</script>
<script src="${hostOrigin}/tavolen.js"></script>`);

// Peer: the page decodes the camera's access units itself.
const peerPage = pageHead(`<canvas id="view"></canvas>
<script>
  window.samples = [];
  window.start = async (w, h) => {
    const canvas = document.getElementById('view');
    canvas.width = w;
    canvas.height = h;
    const ctx = canvas.getContext('2d');
    const place = { x: 0, y: 0, sx: w / 1280, sy: h / 720 };
    let configured = false;
    const decoder = new VideoDecoder({
      output: (frame) => {
        ctx.drawImage(frame, 0, 0, w, h);
        frame.close();
        if (!window.measuring) return;
        const clock = clockReader.readClock(ctx, place, 6);
        samples.push(clock === null ? null : clockReader.latencyOf(clock));
      },
      error: (e) => console.error(e),
    });
    const reader = (await fetch('/relay')).body.getReader();
    let pending = new Uint8Array(0);
    for (;;) {
      const { value, done } = await reader.read();
      if (done) return;
      const joined = new Uint8Array(pending.length + value.length);
      joined.set(pending);
      joined.set(value, pending.length);
      let at = 0;
      const view = new DataView(joined.buffer);
      while (at + 32 <= joined.length) {
        const length = view.getUint32(at + 16, true);
        if (at + 32 + length > joined.length) break;
        const type = joined[at + 4];
        const unit = joined.subarray(at + 32, at + 32 + length);
        at += 32 + length;
        if (type !== 0 && type !== 1) continue;
        if (!configured) {
          if (type !== 0) continue;
          let sps = 0;
          for (let i = 0; i + 4 < unit.length; i++)
            if (unit[i] === 0 && unit[i + 1] === 0 && unit[i + 2] === 1 && (unit[i + 3] & 0x1f) === 7) { sps = i + 4; break; }
          const hex = (b) => b.toString(16).padStart(2, '0');
          decoder.configure({ codec: 'avc1.' + hex(unit[sps]) + hex(unit[sps + 1]) + hex(unit[sps + 2]),
            optimizeForLatency: true });
          configured = true;
        }
        decoder.decode(new EncodedVideoChunk({ type: type === 0 ? 'key' : 'delta', timestamp: 0, data: unit }));
      }
      pending = joined.slice(at);
    }
  };
</script>`);

async function main() {
  const camsim = spawn(args.camsim, ['--port', '0', '--control', 'stdin'], { stdio: ['pipe', 'pipe', 'inherit'] });
  const camPort = Number((await waitForLine(camsim, /listening on 127\.0\.0\.1:(\d+)/))[1]);

  const config = fs.mkdtempSync(path.join(os.tmpdir(), 'tavolen-bench-'));
  const site = http.createServer((req, res) => {
    if (req.url === '/relay') {
      // The peer's way in: the camera's stream as one long response.
      const upstream = net.connect(camPort, '127.0.0.1', () =>
        upstream.write('GET /livestream.cgi?user=admin&pwd=&streamid=0 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n'));
      res.writeHead(200, { 'Content-Type': 'application/octet-stream' });
      upstream.pipe(res);
      req.on('close', () => upstream.destroy());
      upstream.on('error', () => res.destroy());
      return;
    }
    const pages = { '/ours.html': site.ours, '/peer.html': peerPage };
    if (req.url === '/clock_reader.js') {
      res.writeHead(200, { 'Content-Type': 'text/javascript' });
      res.end(fs.readFileSync(path.join(here, 'clock_reader.js')));
    } else if (pages[req.url]) {
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      res.end(pages[req.url]);
    } else {
      res.writeHead(404);
      res.end();
    }
  });
  await new Promise((r) => site.listen(0, '127.0.0.1', r));
  const siteOrigin = 'http://127.0.0.1:' + site.address().port;

  const env = { ...process.env, XDG_CONFIG_HOME: config, TAVOLEN_SERVICE_MANAGER: 'autostart', TAVOLEN_SYSTEMCTL: '',
    TAVOLEN_SETTINGS_FILE: path.join(config, 'Tavolen.ini') };
  await new Promise((resolve, reject) => spawn(args.host, ['--register', siteOrigin], { env, stdio: 'ignore' })
    .once('exit', (code) => (code === 0 ? resolve() : reject(new Error('--register failed')))));
  const host = spawn(args.host, ['--port', '0', '--picture', args.picture || 'auto'],
    { env, stdio: ['ignore', 'pipe', 'inherit'] });
  const hostOrigin = 'http://127.0.0.1:' + (await waitForLine(host, /127\.0\.0\.1:(\d+)\//))[1];
  site.ours = oursPage(hostOrigin);

  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'tavolen-bench-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true, userDataDir,
    // Pictures flow: without this the protocol monitor copies every WebSocket frame.
    networkEnabled: false,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  const browserPid = browser.process().pid;

  async function measure(kind, w, h) {
    const page = await browser.newPage();
    // Pictures flow here: no protocol monitor copying every frame.
    await page.setViewport({ width: Math.max(w + 20, 800), height: Math.max(h + 20, 600) });
    await page.goto(siteOrigin + (kind === 'ours' ? '/ours.html' : '/peer.html'));
    page.evaluate((w, h, port) => { window.started = start(w, h, port); }, w, h, camPort);
    await new Promise((r) => setTimeout(r, warmUpMs));
    const pids = kind === 'ours' ? [browserPid, host.pid] : [browserPid, process.pid];
    const cpuBefore = cpuSeconds(pids);
    await page.evaluate(() => { window.measuring = true; });
    await new Promise((r) => setTimeout(r, seconds * 1000));
    const samples = await page.evaluate(() => { window.measuring = false; return samples; });
    const cpu = cpuSeconds(pids) - cpuBefore;
    await page.close();
    const read = samples.filter((s) => s !== null).sort((a, b) => a - b);
    return { kind, size: `${w}x${h}`, fps: samples.length / seconds, unread: samples.length - read.length,
      median: quantile(read, 0.5), p95: quantile(read, 0.95), cpu: cpu / seconds };
  }

  const results = [];
  for (const [w, h] of [[640, 480], [1280, 720]]) {
    for (const kind of ['ours', 'peer']) {
      const r = await measure(kind, w, h);
      results.push(r);
      console.log(`${r.kind} ${r.size}: ${r.fps.toFixed(1)} pictures/s, latency median ${r.median} ms, ` +
        `p95 ${r.p95} ms (${r.unread} clocks unread), CPU ${r.cpu.toFixed(3)} s per video s`);
    }
  }
  await browser.close();
  host.kill('SIGTERM');
  camsim.kill('SIGTERM');
  site.close();
  fs.rmSync(config, { recursive: true, force: true });
  try { fs.rmSync(userDataDir, { recursive: true, force: true, maxRetries: 5, retryDelay: 100 }); } catch (e) { /* temp */ }

  const [ours, peer, ours720, peer720] = results;
  const round = (x, d = 3) => Number(x.toFixed(d));
  console.log(JSON.stringify({
    bench: 'browser', ours: round(ours.cpu), peer: round(peer.cpu), ratio: round(ours.cpu / peer.cpu),
    better: 'lower', unit: 'cpu_s_per_video_s', control: '640x480', picture: args.picture || 'auto',
    fps: round(ours.fps, 1), latency_median_ms: ours.median, latency_p95_ms: ours.p95,
    peer_fps: round(peer.fps, 1), peer_latency_median_ms: peer.median, peer_latency_p95_ms: peer.p95,
    ours_1280x720: round(ours720.cpu), peer_1280x720: round(peer720.cpu), fps_1280x720: round(ours720.fps, 1),
    latency_median_ms_1280x720: ours720.median, latency_p95_ms_1280x720: ours720.p95,
  }));
  process.exit(0);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
