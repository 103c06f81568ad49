// What every browser test needs: a tavolen-host of its own (throwaway
// configuration, free port), a second loopback origin serving the test pages,
// and Debian's headless Chromium driven by puppeteer-core.
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const hostProgram = process.env.TAVOLEN_HOST;
export const camsimProgram = process.env.TAVOLEN_CAMSIM;
if (!hostProgram) throw new Error('TAVOLEN_HOST must name the tavolen-host program');

export function tempDir(prefix) {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

// Reads lines of a child's stdout until one matches; rejects after timeoutMs.
function waitForLine(child, pattern, timeoutMs = 15000) {
  return new Promise((resolve, reject) => {
    let seen = '';
    const timer = setTimeout(() => reject(new Error('no line matching ' + pattern + ' in: ' + seen)), timeoutMs);
    const onData = (chunk) => {
      seen += chunk.toString();
      const m = seen.match(pattern);
      if (m) {
        clearTimeout(timer);
        child.stdout.off('data', onData);
        resolve(m);
      }
    };
    child.stdout.on('data', onData);
    child.once('exit', (code) => { clearTimeout(timer); reject(new Error('exited ' + code + ': ' + seen)); });
  });
}

export class Host {
  // origins: allowed page origins, registered the way a user would.
  static async start({ origins = [], args = [], env = {} } = {}) {
    const config = tempDir('tavolen-web-config-');
    const hostEnv = {
      ...process.env,
      XDG_CONFIG_HOME: config,
      XDG_STATE_HOME: path.join(config, 'state'),
      TAVOLEN_SETTINGS_FILE: path.join(config, 'Tavolen.ini'),
      TAVOLEN_SERVICE_MANAGER: 'autostart',
      TAVOLEN_SYSTEMCTL: '',
      ...env,
    };
    if (origins.length) {
      const r = spawnSync(hostProgram, ['--register', ...origins], { env: hostEnv, encoding: 'utf8' });
      if (r.status !== 0) throw new Error('--register failed: ' + r.stderr);
    }
    const child = spawn(hostProgram, ['--port', '0', ...args], { env: hostEnv, stdio: ['ignore', 'pipe', 'inherit'] });
    const m = await waitForLine(child, /listening on http:\/\/127\.0\.0\.1:(\d+)\//);
    const host = new Host();
    host.child = child;
    host.port = Number(m[1]);
    host.origin = 'http://127.0.0.1:' + host.port;
    host.config = config;
    host.env = hostEnv;
    return host;
  }

  async stop() {
    if (this.child.exitCode === null && this.child.signalCode === null) {
      const exited = new Promise((resolve) => this.child.once('exit', resolve));
      this.child.kill('SIGTERM');
      await exited;
    }
    fs.rmSync(this.config, { recursive: true, force: true });
  }
}

// A plain web server on another loopback port: a different origin from the
// host's, as a real site would be.
export class PageServer {
  // pages: path -> HTML; the map may be filled after the start.
  static async start(pages = {}) {
    const server = http.createServer((req, res) => {
      const body = pages[req.url.split('?')[0]];
      if (body === undefined) {
        res.writeHead(404);
        res.end();
        return;
      }
      res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
      res.end(body);
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const s = new PageServer();
    s.server = server;
    s.pages = pages;
    s.origin = 'http://127.0.0.1:' + server.address().port;
    return s;
  }

  stop() {
    return new Promise((resolve) => this.server.close(resolve));
  }
}

// A page that loads tavolen.js from the host.
export function testPage(host, body = '<div id="view" style="width:320px;height:240px"></div>') {
  return `<!DOCTYPE html><html><head><meta charset="utf-8"></head><body style="margin:0">${body}` +
    `<script src="${host.origin}/tavolen.js"></script></body></html>`;
}

export async function launchBrowser() {
  const userDataDir = tempDir('tavolen-chromium-');
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir,
    // Pictures flow on these pages: with the network domain on, the protocol
    // monitor would copy every WebSocket frame.
    networkEnabled: false,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  browser.on('disconnected', () => {
    try {
      fs.rmSync(userDataDir, { recursive: true, force: true, maxRetries: 5, retryDelay: 100 });
    } catch (e) { /* Chromium's last writers; the folder is in the temporary area */ }
  });
  return browser;
}

// A raw HTTP request, for what browsers will not send (a foreign Host).
export function rawRequest(port, headers, reqPath = '/') {
  return new Promise((resolve, reject) => {
    const req = http.request({ host: '127.0.0.1', port, path: reqPath, headers }, (res) => {
      let body = '';
      res.on('data', (c) => { body += c; });
      res.on('end', () => resolve({ status: res.statusCode, body }));
    });
    req.on('upgrade', (res, socket) => { socket.destroy(); resolve({ status: res.statusCode, body: '' }); });
    req.on('error', reject);
    req.end();
  });
}

// A loopback port with nothing listening on it.
export async function closedPort() {
  const server = http.createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const port = server.address().port;
  await new Promise((resolve) => server.close(resolve));
  return port;
}

// The substitute camera, on a free loopback port. args: extra switches.
export class Camsim {
  static async start(args = []) {
    if (!camsimProgram) throw new Error('TAVOLEN_CAMSIM must name tavolen-camsim');
    const child = spawn(camsimProgram, ['--port', '0', '--control', 'stdin', ...args],
      { stdio: ['pipe', 'pipe', 'inherit'] });
    const m = await waitForLine(child, /listening on 127\.0\.0\.1:(\d+)/);
    const cam = new Camsim();
    cam.child = child;
    cam.port = Number(m[1]);
    return cam;
  }

  command(line) {
    this.child.stdin.write(line + '\n');
  }

  async stop() {
    if (this.child.exitCode !== null || this.child.signalCode !== null) return;
    const exited = new Promise((resolve) => this.child.once('exit', resolve));
    this.child.kill('SIGTERM');
    await exited;
  }
}

// In the page: resolves once fn() is true, checking every 20 ms; rejects
// after timeoutMs with what was seen.
export const pageHelpers = `
  window.until = async (fn, timeoutMs = 10000, what = 'condition') => {
    const end = Date.now() + timeoutMs;
    while (!fn()) {
      if (Date.now() > end) throw new Error('timed out waiting for ' + what);
      await new Promise((r) => setTimeout(r, 20));
    }
  };
`;
