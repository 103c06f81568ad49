// Live views from the substitute camera through tavolen-host into a page:
// pictures, captions, events, properties, clicks, full screen, two controls,
// refusals and the LAN search.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { Camsim, Host, PageServer, launchBrowser, pageHelpers, tempDir, testPage } from './harness.mjs';

// Keeps the pictures a page receives, by sequence number, before tavolen.js
// sees them: what the host read from the control's window.
const capturePictures = `
  window.received = new Map();
  window.pictureMessages = [];  // arrival times
  const NativeSocket = window.WebSocket;
  window.WebSocket = class extends NativeSocket {
    constructor(...args) {
      super(...args);
      this.addEventListener('message', (e) => {
        if (typeof e.data === 'string') return;
        pictureMessages.push(performance.now());
        received.set(new DataView(e.data).getUint32(4, true), e.data.slice(0));
        if (received.size > 8) received.delete(received.keys().next().value);
      });
    }
  };
  // Counts pixels of the canvas inside a rectangle (fractions of its size)
  // that differ from an RGB colour by more than a tolerance.
  window.countOff = (canvas, [r, g, b], rect, tolerance = 40) => {
    const ctx = canvas.getContext('2d');
    const x = Math.floor(rect[0] * canvas.width), y = Math.floor(rect[1] * canvas.height);
    const w = Math.floor((rect[2] - rect[0]) * canvas.width), h = Math.floor((rect[3] - rect[1]) * canvas.height);
    const d = ctx.getImageData(x, y, w, h).data;
    let n = 0;
    for (let i = 0; i < d.length; i += 4)
      if (Math.abs(d[i] - r) + Math.abs(d[i + 1] - g) + Math.abs(d[i + 2] - b) > tolerance) n++;
    return n;
  };
  window.countColour = (canvas, test) => {
    const d = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let n = 0;
    for (let i = 0; i < d.length; i += 4) if (test(d[i], d[i + 1], d[i + 2])) n++;
    return n;
  };
`;

// Saves about `frames` whole media frames of a camera's live stream as a
// file: what an SD-card recording holds.
function recordFrames(port, file, frames) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () =>
      socket.write('GET /livestream.cgi?user=admin&pwd=&streamid=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n'));
    let data = Buffer.alloc(0);
    socket.on('data', (chunk) => {
      data = Buffer.concat([data, chunk]);
      let offset = 0;
      let count = 0;
      while (offset + 32 <= data.length && data.readUInt32LE(offset) === 0xa815aa55) {
        const end = offset + 32 + data.readUInt32LE(offset + 16);
        if (end > data.length) break;
        offset = end;
        count++;
      }
      if (count >= frames) {
        fs.writeFileSync(file, data.subarray(0, offset));
        socket.destroy();
        resolve(count);
      }
    });
    socket.on('error', reject);
  });
}

describe('live views in a page', () => {
  let site, host, rawHost, jpegHost, pattern, grey, card, browser, work;

  before(async () => {
    work = tempDir('tavolen-live-');
    // A camera whose picture is plain grey, so drawn text stands out.
    const greyFile = path.join(work, 'grey.h264');
    const ff = spawnSync('ffmpeg', ['-loglevel', 'error', '-f', 'lavfi', '-i', 'color=c=0x808080:s=640x360:r=25',
      '-t', '2', '-c:v', 'libx264', '-pix_fmt', 'yuv420p', '-bf', '0', '-g', '25', '-f', 'h264', greyFile]);
    assert.equal(ff.status, 0, String(ff.stderr));
    pattern = await Camsim.start();
    grey = await Camsim.start(['--video-file', greyFile]);
    const sd = path.join(work, 'sd');
    fs.mkdirSync(sd);
    await recordFrames(pattern.port, path.join(sd, 'rec0001.264'), 75);
    card = await Camsim.start(['--record-folder', sd, '--search', '--search-bind', '127.0.0.1',
      '--name', 'camsim-web']);
    site = await PageServer.start();
    host = await Host.start({ origins: [site.origin], env: { TAVOLEN_SEARCH_ADDRESS: '127.0.0.1:8600' } });
    rawHost = await Host.start({ origins: [site.origin], args: ['--picture', 'raw'] });
    jpegHost = await Host.start({ origins: [site.origin], args: ['--picture', 'jpeg'] });
    const body = '<div id="view" style="width:320px;height:240px"></div>' +
      '<div id="second" style="width:160px;height:120px"></div>';
    site.pages['/'] = `<!DOCTYPE html><html><head><meta charset="utf-8"><script>${capturePictures}${pageHelpers}</script>` +
      `</head><body style="margin:0">${body}<script src="${host.origin}/tavolen.js"></script></body></html>`;
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    for (const p of [host, rawHost, jpegHost, pattern, grey, card, site]) await p?.stop();
    fs.rmSync(work, { recursive: true, force: true });
  });

  async function openPage({ scale = 1, hostOrigin = host.origin } = {}) {
    const page = await browser.newPage();
    // Pictures flow on this page: keep the protocol monitor off the socket.
    await page.setViewport({ width: 800, height: 600, deviceScaleFactor: scale });
    await page.goto(site.origin + '/');
    await page.evaluate(async (origin) => {
      window.c = await TavolenControl.create(document.getElementById('view'), { host: origin });
      window.notes = [];
      c.addEventListener('MessageNotify', (e) => notes.push([e.detail.lType, e.detail.lParame]));
    }, hostOrigin);
    return page;
  }

  // [host's --picture, device pixel ratio, format the pictures come in]
  for (const [kind, scale, format] of [['raw', 1, 2], ['raw', 2, 2], ['jpeg', 1, 1], ['auto', 1, 2]]) {
    it(`shows the window's pixels in the canvas (${kind} pictures, device pixel ratio ${scale})`, async () => {
      const origin = { raw: rawHost, jpeg: jpegHost, auto: host }[kind].origin;
      const page = await openPage({ scale, hostOrigin: origin });
      const r = await page.evaluate(async (port) => {
        const played = await c.PlayVideo('admin', '', '127.0.0.1', port, 1, 2);
        await until(() => c.picturesShown >= 5, 15000, 'five pictures');
        const seq = c.lastPictureSeq;
        const buffer = received.get(seq);
        const shown = c.canvas.getContext('2d').getImageData(0, 0, c.canvas.width, c.canvas.height).data;
        const head = new DataView(buffer, 0, 16);
        let expected;
        if (head.getUint8(12) === 2) {
          expected = new Uint8Array(buffer, 16);
        } else {
          const bitmap = await createImageBitmap(new Blob([new Uint8Array(buffer, 16)], { type: 'image/jpeg' }));
          const scratch = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d');
          scratch.drawImage(bitmap, 0, 0);
          expected = scratch.getImageData(0, 0, bitmap.width, bitmap.height).data;
        }
        let differing = 0;
        for (let i = 0; i < shown.length; i++) if (shown[i] !== expected[i]) differing++;
        const distinct = new Set();
        for (let i = 0; i < shown.length; i += 97) distinct.add(shown[i] >> 4);
        return { played, size: [c.canvas.width, c.canvas.height], head: [head.getUint16(8, true), head.getUint16(10, true)],
          format: head.getUint8(12),
          length: shown.length, expectedLength: expected.length, differing, distinct: distinct.size,
          stop: await c.StopVideo() };
      }, pattern.port);
      assert.equal(r.played, 0);
      assert.deepEqual(r.size, [320 * scale, 240 * scale]);
      assert.deepEqual(r.head, r.size);
      assert.equal(r.format, format);
      assert.equal(r.length, r.expectedLength);
      assert.equal(r.differing, 0);
      assert.ok(r.distinct > 4, 'a picture, not a blank window');
      assert.equal(r.stop, 0);
      await page.close();
    });
  }

  it('sends a picture only after the page drew the last one, without a backlog', async () => {
    const page = await openPage();
    const r = await page.evaluate(async (port) => {
      // Hold the page's reports of drawn pictures back for a while.
      const send = WebSocket.prototype.send;
      let holding = true;
      const held = [];
      WebSocket.prototype.send = function (data) {
        if (holding && String(data).includes('"drawn"')) return void held.push([this, data]);
        return send.call(this, data);
      };
      // The window's first picture may have come and been reported drawn
      // before the reports were held: count from here.
      const atHold = pictureMessages.length;
      await c.PlayVideo('admin', '', '127.0.0.1', port, 1, 2);
      await until(() => pictureMessages.length > atHold, 15000, 'a picture');
      await new Promise((r) => setTimeout(r, 1500));
      const whileHeld = pictureMessages.length - atHold;
      holding = false;
      const releasedAt = performance.now();
      for (const [socket, data] of held) send.call(socket, data);
      await new Promise((r) => setTimeout(r, 1500));
      const after = pictureMessages.filter((t) => t >= releasedAt);
      await c.StopVideo();
      return { whileHeld, heldReports: held.length, after: after.length,
        inFirst100ms: after.filter((t) => t < releasedAt + 100).length };
    }, pattern.port);
    assert.equal(r.whileHeld, 1, JSON.stringify(r));
    assert.equal(r.heldReports, 1);
    assert.ok(r.after >= 10, 'pictures flow again at the camera rate: ' + JSON.stringify(r));
    // A backlog would arrive in a burst; fresh pictures come no faster than
    // the window changes (25 frames a second, drawn on 30 ms ticks).
    assert.ok(r.inFirst100ms <= 4, 'fresh pictures, not a backlog: ' + JSON.stringify(r));
    await page.close();
  });

  it('shows the caption and the time stamp over the picture', async () => {
    const page = await openPage();
    const r = await page.evaluate(async (port) => {
      await c.PlayVideo('admin', '', '127.0.0.1', port, 1, 2);
      await until(() => c.picturesShown >= 3, 15000, 'pictures');
      // Inside the one-pixel focus frame, which is grey too but not the
      // picture's grey.
      const topLeft = [0.01, 0.01, 0.6, 0.25];
      const bottomRight = [0.4, 0.75, 0.99, 0.99];
      const plain = [countOff(c.canvas, [128, 128, 128], topLeft), countOff(c.canvas, [128, 128, 128], bottomRight)];
      await c.SetOsd('TAVOLEN 卡 CAPTION');
      let shownAt = c.picturesShown;
      await until(() => c.picturesShown >= shownAt + 3, 10000, 'pictures with text');
      const withText = [countOff(c.canvas, [128, 128, 128], topLeft), countOff(c.canvas, [128, 128, 128], bottomRight)];
      await c.RemoveOsd();
      shownAt = c.picturesShown;
      await until(() => c.picturesShown >= shownAt + 3, 10000, 'pictures without text');
      const removed = [countOff(c.canvas, [128, 128, 128], topLeft), countOff(c.canvas, [128, 128, 128], bottomRight)];
      await c.StopVideo();
      return { plain, withText, removed };
    }, grey.port);
    assert.ok(r.plain[0] < 20 && r.plain[1] < 20, JSON.stringify(r));
    assert.ok(r.withText[0] > 150, 'caption drawn: ' + JSON.stringify(r));
    assert.ok(r.withText[1] > 100, 'time stamp drawn: ' + JSON.stringify(r));
    assert.ok(r.removed[0] < 20 && r.removed[1] < 20, JSON.stringify(r));
    await page.close();
  });

  it('delivers events in order, as DOM events and to attachEvent', async () => {
    const page = await openPage();
    await page.evaluate(async (port) => {
      window.attached = [];
      c.attachEvent('MessageNotify', (lType, lParame) => attached.push([lType, lParame]));
      await c.PlayVideo('admin', '', '127.0.0.1', port, 1, 2);
      await until(() => c.picturesShown >= 2, 15000, 'pictures');
    }, pattern.port);
    for (const code of [32, 34, 33, 35]) {
      pattern.command('status ' + code);
      await new Promise((r) => setTimeout(r, 150));
    }
    const r = await page.evaluate(async () => {
      await until(() => notes.length >= 5, 10000, 'five notifications');
      await c.StopVideo();
      return { notes, attached };
    });
    assert.deepEqual(r.notes, [[2, 0], [3, 0], [5, 0], [4, 0], [6, 0]]);
    assert.deepEqual(r.attached, r.notes);
    await page.close();
  });

  it('reads the state properties as soon as a call resolves', async () => {
    const page = await openPage();
    const r = await page.evaluate(async (port) => {
      const states = () => [c.SoundState, c.TalkState, c.RecordState, c.VideoState];
      const seen = { before: states() };
      await c.PlayVideo('admin', '', '127.0.0.1', port, 1, 2);
      seen.open = [await c.OpenSound(), c.SoundState];
      seen.record = [await c.StartRecord(), c.RecordState];
      seen.close = [await c.CloseSound(), c.SoundState];
      await c.OpenSound();
      seen.stop = [await c.StopVideo(), ...states()];
      return seen;
    }, pattern.port);
    assert.deepEqual(r.before, [0, 0, 0, 0]);
    assert.deepEqual(r.open, [0, 1]);
    assert.equal(r.record[1], r.record[0] === 0 ? 1 : 0);
    assert.deepEqual(r.close, [0, 0]);
    assert.deepEqual(r.stop, [0, 0, 0, 0, 0]);
    await page.close();
  });

  it("shows a refusal's status text in yellow over black", async () => {
    const page = await openPage();
    const r = await page.evaluate(async (port) => {
      await c.PlayVideo('admin', 'wrong', '127.0.0.1', port, 1, 2);
      const yellow = (r, g, b) => r > 200 && g > 200 && b < 80;
      const black = (r, g, b) => r + g + b < 30;
      await until(() => countColour(c.canvas, yellow) > 30, 15000, 'yellow text');
      const all = c.canvas.width * c.canvas.height;
      const result = { yellow: countColour(c.canvas, yellow), black: countColour(c.canvas, black), all };
      await c.StopVideo();
      return result;
    }, pattern.port);
    assert.ok(r.black > r.all * 0.8, JSON.stringify(r));
    await page.close();
  });

  it('runs two controls on one page with two cameras', async () => {
    const page = await openPage();
    const r = await page.evaluate(async (a, b, origin) => {
      const second = await TavolenControl.create(document.getElementById('second'), { host: origin });
      await c.PlayVideo('admin', '', '127.0.0.1', a, 1, 2);
      await second.PlayVideo('admin', '', '127.0.0.1', b, 1, 2);
      await until(() => c.picturesShown >= 5 && second.picturesShown >= 5, 15000, 'pictures in both');
      const greyish = (r, g, bl) => Math.abs(r - 128) + Math.abs(g - 128) + Math.abs(bl - 128) < 24;
      const share = (canvas) => countColour(canvas, greyish) / (canvas.width * canvas.height);
      const result = { sizes: [c.canvas.width, second.canvas.width], first: share(c.canvas), second: share(second.canvas) };
      await Promise.all([c.StopVideo(), second.StopVideo()]);
      return result;
    }, pattern.port, grey.port, host.origin);
    assert.deepEqual(r.sizes, [320, 160]);
    assert.ok(r.second > 0.8 && r.first < 0.5, JSON.stringify(r));
    await page.close();
  });

  it('turns clicks and double clicks into notifications', async () => {
    const page = await openPage();
    await page.evaluate(async () => { await c.SetFocus(0); });
    const box = await (await page.$('#view canvas')).boundingBox();
    await page.mouse.click(box.x + 100, box.y + 100);
    await page.mouse.click(box.x + 100, box.y + 100, { button: 'right' });
    // A real double click: a first press, then a second that counts two.
    await page.mouse.click(box.x + 50, box.y + 60);
    await page.mouse.click(box.x + 50, box.y + 60, { clickCount: 2 });
    const r = await page.evaluate(async () => {
      await until(() => notes.length >= 4, 5000, 'four notifications');
      return notes;
    });
    assert.deepEqual(r, [[0, 0], [0, 0], [0, 0], [1, 0]]);
    await page.close();
  });

  it('covers the viewport less one pixel in the top layer on ShowMax, and comes back on ShowNormal', async () => {
    for (const scale of [1, 2]) {
      const page = await openPage({ scale });
      const r = await page.evaluate(async () => {
        const dpr = devicePixelRatio;
        await c.ShowMax();
        await until(() => c.windowState && c.windowState.fullScreen === 1, 5000, 'full screen');
        const layer = document.querySelector('#view .tavolen-full-screen');
        const rect = c.canvas.getBoundingClientRect();
        const top = document.elementFromPoint(10, 500);
        const max = { state: c.windowState, popover: layer.matches(':popover-open'),
          rect: [rect.left, rect.top, rect.width * dpr, rect.height * dpr], onTop: top === c.canvas,
          viewport: [innerWidth * dpr, innerHeight * dpr] };
        await c.ShowNormal();
        await until(() => c.windowState.fullScreen === 0, 5000, 'embedded');
        const back = c.canvas.getBoundingClientRect();
        return { max, normal: { state: c.windowState, inElement: c.canvas.parentElement.id,
          rect: [back.left, back.top, back.width, back.height], popover: layer.matches(':popover-open') } };
      });
      const [vw, vh] = r.max.viewport;
      assert.equal(r.max.state.width, vw - 1);
      assert.equal(r.max.state.height, vh - 1);
      assert.deepEqual(r.max.rect, [0, 0, vw - 1, vh - 1]);
      assert.equal(r.max.popover, true);
      assert.equal(r.max.onTop, true);
      assert.deepEqual(r.normal.rect, [0, 0, 320, 240]);
      assert.equal(r.normal.inElement, 'view');
      assert.equal(r.normal.popover, false);
      assert.deepEqual([r.normal.state.width, r.normal.state.height], [320 * scale, 240 * scale]);
      await page.close();
    }
  });

  it("follows the element's size", async () => {
    const page = await openPage();
    const r = await page.evaluate(async (port) => {
      await c.PlayVideo('admin', '', '127.0.0.1', port, 1, 2);
      await until(() => c.picturesShown >= 2, 15000, 'pictures');
      document.getElementById('view').style.width = '400px';
      document.getElementById('view').style.height = '300px';
      await until(() => c.canvas.width === 400 && c.canvas.height === 300, 5000, 'the new size');
      const state = c.windowState;
      await c.StopVideo();
      return [state.width, state.height];
    }, pattern.port);
    assert.deepEqual(r, [400, 300]);
    await page.close();
  });

  it('finds cameras on the LAN search', async () => {
    const page = await openPage();
    const r = await page.evaluate(async () => {
      const found = [];
      c.addEventListener('OnCameraSearched', (e) => found.push(e.detail));
      const attached = [];
      c.attachEvent('OnCameraSearched', (...args) => attached.push(args));
      const result = await c.OnSearchCameras();
      await until(() => found.length >= 1, 10000, 'a camera');
      return { result: result === undefined ? 'undefined' : result, found, attached };
    });
    assert.equal(r.result, 'undefined');
    const cam = r.found.find((f) => f.pszDevName === 'camsim-web');
    assert.ok(cam, JSON.stringify(r.found));
    assert.deepEqual(Object.keys(cam), ['iStatus', 'pszDevName', 'pszIpAddr', 'iPort', 'iCmdPort', 'iDataPort',
      'iIsSameSubNet']);
    assert.equal(cam.pszIpAddr, '127.0.0.1');
    assert.equal(cam.iPort, card.port);
    assert.deepEqual(r.attached[r.found.indexOf(cam)], Object.values(cam));
    await page.close();
  });

  it('plays an SD-card recording with position notifications', async () => {
    const page = await openPage();
    const r = await page.evaluate(async (port) => {
      const played = await c.SdRecordFilePlay('admin', '', '127.0.0.1', port, 'rec0001.264', 1);
      await until(() => notes.filter((n) => n[0] === 10).length >= 10 && c.picturesShown >= 5, 15000,
        'positions and pictures');
      const positions = notes.filter((n) => n[0] === 10).map((n) => n[1]);
      const stopped = await c.SdRecordFileStop();
      return { played, positions, stopped };
    }, card.port);
    assert.equal(r.played, 0);
    assert.equal(r.stopped, 0);
    assert.ok(r.positions[0] > 0);
    for (let i = 1; i < r.positions.length; i++) assert.ok(r.positions[i] >= r.positions[i - 1], String(r.positions));
    assert.ok(r.positions.at(-1) > r.positions[0], String(r.positions));
    await page.close();
  });
});
