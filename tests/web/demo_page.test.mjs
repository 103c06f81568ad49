// The main job's page: scripts/demo.sh starts the substitute camera and
// tavolen-host, the page at / plays the camera and every control on it works.
// One browser serves every case; a screenshot of the page as a new user first
// sees it is kept in $TAVOLEN_ARTIFACTS.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, it } from 'node:test';
import { launchBrowser, pageHelpers, tempDir } from './harness.mjs';

const demoScript = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../scripts/demo.sh');
const artifacts = process.env.TAVOLEN_ARTIFACTS || tempDir('tavolen-artifacts-');

// Starts demo.sh without a display and resolves with the page address it
// prints.
function startDemo(config, args = []) {
  const child = spawn('bash', [demoScript, '--seconds', '600', ...args], {
    env: {
      ...process.env,
      DISPLAY: '',
      WAYLAND_DISPLAY: '',
      XDG_CONFIG_HOME: config,
      XDG_STATE_HOME: path.join(config, 'state'),
      TAVOLEN_SETTINGS_FILE: path.join(config, 'Tavolen.ini'),
      TAVOLEN_FOLDER_DIALOG: 'echo ' + path.join(config, 'chosen'),
    },
    stdio: ['ignore', 'pipe', 'inherit'],
    detached: true,  // its own process group: the end reaches camsim and the host too
  });
  let out = '';
  const address = new Promise((resolve, reject) => {
    child.stdout.on('data', (chunk) => {
      out += chunk;
      const m = out.match(/The demo page: (\S+)/);
      if (m && out.includes('Serving')) resolve(m[1]);
    });
    child.once('exit', (code) => reject(new Error('demo.sh exited ' + code + ': ' + out)));
  });
  return { child, address, output: () => out };
}

function stopDemo(demo) {
  if (demo.child.exitCode !== null || demo.child.signalCode !== null) return Promise.resolve();
  const exited = new Promise((resolve) => demo.child.once('exit', resolve));
  process.kill(-demo.child.pid, 'SIGTERM');
  return exited;
}

describe('the demo page', () => {
  let config, demo, browser, page;

  before(async () => {
    config = tempDir('tavolen-demo-config-');
    demo = startDemo(config);
    const address = await demo.address;
    browser = await launchBrowser();
    page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 1100 });
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    page.errors = errors;
    await page.goto(address);
    await page.evaluate(pageHelpers);
    await page.evaluate(() => until(() => document.body.dataset.ready === '1', 20000, 'the page'));
  });

  after(async () => {
    if (browser) await browser.close();
    await stopDemo(demo);
    fs.rmSync(config, { recursive: true, force: true });
  });

  // Resolves with the last result text once it names the call.
  const resultOf = (label) => page.evaluate(async (label) => {
    await until(() => document.querySelector('#result').value.startsWith(label), 10000, label);
    return document.querySelector('#result').value;
  }, label);

  it('plays the camera, lists its recordings and keeps a screenshot', async () => {
    const shown = await page.evaluate(async () => {
      const control = demo.views[0].control;
      await until(() => control.picturesShown > 3, 15000, 'pictures');
      // A moving picture: not one flat colour.
      const canvas = document.querySelector('.view canvas');
      const d = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      const colours = new Set();
      for (let i = 0; i < d.length; i += 4 * 97) colours.add((d[i] >> 4) * 256 + (d[i + 1] >> 4) * 16 + (d[i + 2] >> 4));
      return { colours: colours.size, files: [...document.querySelectorAll('#sd-files li[data-name]')].map((li) => li.dataset.name) };
    });
    assert.ok(shown.colours > 8, 'the picture has ' + shown.colours + ' colours');
    assert.equal(shown.files.length, 3);
    for (const name of shown.files) assert.match(name, /^\d{14}\.h264$/);
    fs.mkdirSync(artifacts, { recursive: true });
    await page.screenshot({ path: path.join(artifacts, 'demo_page.png'), fullPage: true });
    assert.deepEqual(page.errors, []);
  });

  it('runs every method button of the selected view with its result shown', async () => {
    const cases = [
      // button, what the result line must start with, and the answer
      ['GetVersion', 'GetVersion() → 65536'],
      ['SetFocus', 'SetFocus(1) → 0'],
      ['SetFlip', 'SetFlip(0) → 0'],
      ['SetOsd', 'SetOsd("Front door") → 0'],
      ['RemoveOsd', 'RemoveOsd() → 0'],
      ['SetAlias', 'SetAlias("Garden") → 0'],
      ['UpdataSize', 'UpdataSize() → done'],
      ['OpenSound', 'OpenSound() → 0'],
      ['CloseSound', 'CloseSound() → 0'],
      ['StartRecord', 'StartRecord() → 0'],
      ['StopRecord', 'StopRecord() → 0'],
      ['CapturePic', 'CapturePic() → 0'],
      ['SetPath', 'SetPath() → done'],
    ];
    for (const [name, expected] of cases) {
      await page.click(`button[data-call="${name}"]`);
      assert.equal(await resultOf(name + '('), expected);
    }
    // Full screen covers the buttons; Esc and a double click come back.
    const fullScreen = () => page.evaluate(() => Boolean(demo.selected.control.windowState.fullScreen));
    for (const leave of ['Escape', 'double click']) {
      await page.click('button[data-call="ShowMax"]');
      assert.equal(await resultOf('ShowMax('), 'ShowMax() → done');
      await page.waitForFunction(() => demo.selected.control.windowState.fullScreen);
      if (leave === 'Escape') await page.keyboard.press('Escape');
      else await page.mouse.click(400, 300, { clickCount: 2 });
      assert.equal(await resultOf('ShowNormal('), 'ShowNormal() → done');
      await page.waitForFunction(() => !demo.selected.control.windowState.fullScreen);
      assert.equal(await fullScreen(), false);
    }
    const states = await page.evaluate(() => ({
      path: document.querySelector('#rec-path').textContent,
      sound: document.querySelector('[data-state="SoundState"]').textContent,
    }));
    assert.ok(states.path.endsWith('/chosen'), 'RecFilePath shows ' + states.path);
    assert.equal(states.sound, '0');
  });

  it('shows the state properties live', async () => {
    await page.click('button[data-call="StartTalk"]');
    await resultOf('StartTalk(');
    const during = await page.$eval('[data-state="TalkState"]', (e) => e.textContent);
    await page.click('button[data-call="StopTalk"]');
    await resultOf('StopTalk(');
    const afterStop = await page.$eval('[data-state="TalkState"]', (e) => e.textContent);
    assert.deepEqual([during, afterStop], ['1', '0']);
  });

  it('plays a recording, follows its position and seeks', async () => {
    await page.click('#sd-files li[data-name] button.sd-play');
    assert.match(await resultOf('SdRecordFilePlay('), /→ 0$/);
    const seen = await page.evaluate(async () => {
      const seek = document.querySelector('#sd-seek');
      await until(() => Number(seek.value) > 0, 10000, 'a position');
      return { value: Number(seek.value), max: Number(seek.max), logged: document.querySelector('#log').textContent };
    });
    assert.ok(seen.value > 0 && seen.value <= seen.max, JSON.stringify(seen));
    assert.match(seen.logged, /MessageNotify\(10, \d+\) SD-card playback position/);
    await page.evaluate(() => {
      const seek = document.querySelector('#sd-seek');
      seek.value = Math.floor(seek.max / 2);
      seek.dispatchEvent(new Event('change'));
    });
    assert.match(await resultOf('SdRecordFileSetPos('), /→ 0$/);
    await page.click('#sd-stop');
    assert.match(await resultOf('SdRecordFileStop('), /→ 0$/);
  });

  it('logs clicks on the view with their meaning', async () => {
    const canvas = await page.$('.view canvas');
    await canvas.click();
    await canvas.click({ clickCount: 2 });
    const log = await page.evaluate(async () => {
      await until(() => /MessageNotify\(1, 0\)/.test(document.querySelector('#log').textContent), 10000, 'the double click');
      return document.querySelector('#log').textContent;
    });
    assert.match(log, /MessageNotify\(0, 0\) click/);
    assert.match(log, /MessageNotify\(1, 0\) double click/);
  });

  it('finds the camera on the LAN and fills the form from the list', async () => {
    await page.evaluate(() => { document.querySelector('#camera-form').elements.ip.value = '192.0.2.1'; });
    await page.click('button[data-call="OnSearchCameras"]');
    await page.evaluate(() => until(() => document.querySelector('#found li[data-ip]'), 15000, 'a found camera'));
    await page.click('#found li[data-ip]');
    const form = await page.evaluate(() => {
      const f = document.querySelector('#camera-form').elements;
      return { ip: f.ip.value, port: f.port.value, logged: /OnCameraSearched\(/.test(document.querySelector('#log').textContent) };
    });
    assert.deepEqual(form, { ip: '127.0.0.1', port: new URL(page.url()).searchParams.get('port'), logged: true });
    // The found camera plays again in the view.
    await page.click('#play');
    assert.match(await resultOf('PlayVideo ('), /→ 0$/);
  });

  it('sets the recording properties', async () => {
    await page.evaluate(() => {
      const f = document.querySelector('#record-form').elements;
      f.fileLen.value = '300';
      f.timeLen.value = '10';
      f.reserved.value = '500';
      f.cover.value = '1';
    });
    await page.click('#record-apply');
    await resultOf('SetRecordProperty(');
    const shown = await page.evaluate(async () => {
      await until(() => document.querySelector('#rec-len').textContent === '300', 5000, 'RecFileLen');
      return ['#rec-len', '#rec-time', '#rec-reserved', '#rec-cover'].map((s) => document.querySelector(s).textContent);
    });
    assert.deepEqual(shown, ['300', '10', '500', '1']);
  });

  it('drives four views in the grid', async () => {
    await page.select('#layout', '4');
    const shown = await page.evaluate(async () => {
      await until(() => demo.views.length === 4 && demo.views.every((v) => v.control), 15000, 'four controls');
      document.querySelector('#play-all').click();
      await until(() => demo.views.every((v) => v.control.picturesShown > 2), 20000, 'pictures in every view');
      return document.querySelectorAll('.view canvas').length;
    });
    assert.equal(shown, 4);
    await page.screenshot({ path: path.join(artifacts, 'demo_page_grid.png') });
    await page.select('#layout', '1');
    assert.equal(await page.evaluate(() => until(() => demo.views.length === 1).then(() => document.querySelectorAll('.view').length)), 1);
  });

  it('lists recordings through the host object, refusing what is no day or no call', async () => {
    const port = Number(new URL(page.url()).searchParams.get('port'));
    const r = await page.evaluate(async (port) => {
      const settle = (p) => p.then((v) => v, (e) => 'error ' + (e.code >>> 0).toString(16));
      const names = [];
      demo.host.addEventListener('onRecordFile', (e) => names.push(e.detail.fileName));
      const now = new Date();
      const list = (y, m, d) => settle(demo.host.listRecordFiles('admin', '', '127.0.0.1', port, y, m, d));
      return {
        today: await list(now.getFullYear(), now.getMonth() + 1, now.getDate()),
        names: names.length,
        emptyDay: await list(2020, 1, 1),
        noDay: await list(2025, 2, 29),
        noMonth: await list(2025, 13, 1),
        tooFew: await settle(demo.host.listRecordFiles('admin', '', '127.0.0.1', port)),
        textForNumber: await settle(demo.host.listRecordFiles('admin', '', '127.0.0.1', 'port', 2025, 1, 1)),
        hostHasControlMembers: TavolenHost.members.some((m) => m.name === 'PlayVideo'),
        controlHasHostMembers: TavolenControl.members.some((m) => /RecordFile$|Volume|Mute/.test(m.name)),
      };
    }, port);
    assert.deepEqual(r, { today: 3, names: 3, emptyDay: 0, noDay: -1, noMonth: -1, tooFew: 'error 8002000e',
      textForNumber: 'error 80020005', hostHasControlMembers: false, controlHasHostMembers: false });
  });

  it('reads and sets the mixer through the host object', async () => {
    const r = await page.evaluate(async () => {
      const volume = await demo.host.getPlayVolume();
      if (volume < 0) return { volume };
      await demo.host.setPlayVolume(volume === 40 ? 41 : 40);
      const now = await demo.host.getPlayVolume();
      // The mixer is the sound server's, shared with the suites that listen.
      await demo.host.setPlayVolume(volume);
      return { volume, now };
    });
    // Without a sound server there is no mixer: the page says so.
    if (r.volume < 0) {
      assert.equal(await page.$eval('#mixer-note', (e) => e.textContent), 'No sound mixer reachable on this PC.');
    } else {
      assert.ok(Math.abs(r.now - (r.volume === 40 ? 41 : 40)) <= 1, JSON.stringify(r));
    }
  });
});

describe('demo.sh', () => {
  it('refuses arguments it does not know and a camera without its user', async () => {
    for (const args of [['--nope'], ['10.0.0.9'], ['--seconds', 'x']]) {
      const r = await new Promise((resolve) => {
        const child = spawn('bash', [demoScript, ...args], { stdio: ['ignore', 'ignore', 'pipe'] });
        let err = '';
        child.stderr.on('data', (c) => { err += c; });
        child.on('exit', (code) => resolve({ code, err }));
      });
      assert.equal(r.code, 2, args.join(' '));
      assert.match(r.err, /usage:/);
    }
  });

  it('points the page at a camera given by its account and ends after --seconds', async () => {
    const config = tempDir('tavolen-demo-config-');
    const d = startDemo(config, ['--seconds', '1', '192.0.2.7:8080', 'viewer', 'p&ss w']);
    // Its own --seconds comes last and wins over the 600 given first.
    const address = new URL(await d.address);
    assert.deepEqual(Object.fromEntries(address.searchParams), { ip: '192.0.2.7', port: '8080', user: 'viewer', pwd: 'p&ss w', play: '1' });
    const code = await new Promise((resolve) => d.child.once('exit', resolve));
    assert.equal(code, 0);
    fs.rmSync(config, { recursive: true, force: true });
  });
});
