// A page's control object: built from the host's member table, calls and
// their results, argument conversion, properties, the property page, bounds
// and the loss of the host. No camera is involved.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { Host, PageServer, launchBrowser, pageHelpers, testPage } from './harness.mjs';

const DISP_E_MEMBERNOTFOUND = 0x80020003 | 0;
const DISP_E_TYPEMISMATCH = 0x80020005 | 0;
const DISP_E_BADPARAMCOUNT = 0x8002000e | 0;
const DISP_E_OVERFLOW = 0x8002000a | 0;
const RPC_E_CALL_REJECTED = 0x80010001 | 0;
const RPC_E_DISCONNECTED = 0x80010108 | 0;

describe('the control object in a page', () => {
  let host, site, browser;

  before(async () => {
    site = await PageServer.start();
    host = await Host.start({ origins: [site.origin] });
    site.pages['/'] = testPage(host, '<div id="view" style="width:320px;height:240px"></div>' +
      `<script>${pageHelpers}</script>`);
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    await host?.stop();
    await site?.stop();
  });

  async function openControlPage() {
    const page = await browser.newPage();
    await page.goto(site.origin + '/');
    await page.evaluate(async () => {
      window.c = await TavolenControl.create(document.getElementById('view'));
    });
    return page;
  }

  it('has exactly the members of the table, found in any case', async () => {
    const page = await openControlPage();
    const r = await page.evaluate(() => ({
      names: TavolenControl.members.map((m) => [m.name, m.dispid, m.kind]),
      params: Object.fromEntries(TavolenControl.members.map((m) => [m.name, m.params.map((p) => p.name + ' ' + p.type)])),
      sameFunction: c.playVideo === c.PlayVideo && c.PLAYVIDEO === c.PlayVideo,
      has: ['UpdataSize' in c, 'updatasize' in c, 'UpdateSize' in c, 'OnSearchCameras' in c],
      notAMember: c.UpdateSize,
    }));
    const methods = { PlayVideo: 1, StopVideo: 2, SetFocus: 3, ShowMax: 4, ShowNormal: 5, CapturePic: 9, OpenSound: 10,
      CloseSound: 11, StartTalk: 12, StopTalk: 13, StartRecord: 14, StopRecord: 15, SetPath: 16, OnSearchCameras: 19,
      SetFlip: 20, SetOsd: 21, RemoveOsd: 22, UpdataSize: 23, SetRecordProperty: 28, SdRecordFilePlay: 29,
      SdRecordFileStop: 30, SdRecordFileSetPos: 31, SetAlias: 32, GetVersion: 33 };
    const properties = { SoundState: 6, TalkState: 7, RecordState: 8, VideoState: 17, RecFilePath: 18, RecFileLen: 24,
      RecTimeLen: 25, ReservedSpace: 26, RecCover: 27 };
    const expected = [
      ...Object.entries(methods).map(([n, d]) => [n, d, 'method']),
      ...Object.entries(properties).map(([n, d]) => [n, d, 'property']),
      ['MessageNotify', 1, 'event'], ['OnCameraSearched', 2, 'event'],
    ].sort((a, b) => a[2].localeCompare(b[2]) || a[1] - b[1]);
    assert.deepEqual(r.names.slice().sort((a, b) => a[2].localeCompare(b[2]) || a[1] - b[1]), expected);
    assert.deepEqual(r.params.MessageNotify, ['lType I4', 'lParame I4']);
    assert.deepEqual(r.params.OnCameraSearched, ['iStatus I4', 'pszDevName BSTR', 'pszIpAddr BSTR', 'iPort I4',
      'iCmdPort I4', 'iDataPort I4', 'iIsSameSubNet I4']);
    assert.deepEqual(r.params.PlayVideo, ['user BSTR', 'pwd BSTR', 'ip BSTR', 'port I4', 'streamid I4', 'audioid I4']);
    assert.equal(r.sameFunction, true);
    assert.deepEqual(r.has, [true, true, false, true]);
    assert.equal(r.notAMember, undefined);
    await page.close();
  });

  it('returns what the control returns, and rejects with the automation code', async () => {
    const page = await openControlPage();
    const r = await page.evaluate(async () => {
      const settle = (p) => p.then((v) => ['ok', v === undefined ? 'undefined' : v], (e) => ['error', e.code, e instanceof Error]);
      return {
        version: await settle(c.GetVersion()),
        versionLower: await settle(c.getversion()),
        focus: await settle(c.SetFocus(5)),
        showMax: await settle(c.ShowNormal()),
        stopNothing: await settle(c.StopVideo()),
        tooFew: await settle(c.SetFocus()),
        tooFewText: await c.SetFocus().catch((e) => e.message),
        tooMany: await settle(c.GetVersion(1)),
        notANumber: await settle(c.SetFlip('abc')),
        object: await settle(c.SetFlip({})),
        array: await settle(c.SetOsd([1])),
        overflow: await settle(c.SetFlip(2 ** 31)),
        infinite: await settle(c.SetFlip(Infinity)),
        nan: await settle(c.SetFlip(NaN)),
      };
    });
    assert.deepEqual(r.version, ['ok', 65536]);
    assert.deepEqual(r.versionLower, ['ok', 65536]);
    assert.deepEqual(r.focus, ['ok', 0]);
    assert.deepEqual(r.showMax, ['ok', 'undefined']);
    assert.equal(r.stopNothing[0], 'ok');
    assert.deepEqual(r.tooFew, ['error', DISP_E_BADPARAMCOUNT, true]);
    assert.equal(r.tooFewText, 'SetFocus: wrong number of arguments');
    assert.deepEqual(r.tooMany, ['error', DISP_E_BADPARAMCOUNT, true]);
    assert.deepEqual(r.notANumber, ['error', DISP_E_TYPEMISMATCH, true]);
    assert.deepEqual(r.object, ['error', DISP_E_TYPEMISMATCH, true]);
    assert.deepEqual(r.array, ['error', DISP_E_TYPEMISMATCH, true]);
    assert.deepEqual(r.overflow, ['error', DISP_E_OVERFLOW, true]);
    assert.deepEqual(r.infinite, ['error', DISP_E_OVERFLOW, true]);
    assert.deepEqual(r.nan, ['error', DISP_E_OVERFLOW, true]);
    await page.close();
  });

  it('converts property writes as script did and reads the host back after each call', async () => {
    const page = await openControlPage();
    const r = await page.evaluate(async () => {
      const seen = {};
      const write = async (name, value) => {
        c[name] = value;
        const local = c[name];
        await c.GetVersion();  // the host reports the nine before this result
        return [local, c[name]];
      };
      seen.initial = [c.SoundState, c.TalkState, c.RecordState, c.VideoState, c.RecFileLen, c.RecTimeLen,
        c.ReservedSpace, c.RecCover, typeof c.RecFilePath];
      seen.half = await write('RecFileLen', 10.5);
      seen.halfUp = await write('RecFileLen', 11.5);
      seen.negative = await write('RecTimeLen', -2.5);
      seen.trueValue = await write('RecCover', true);
      seen.falseValue = await write('RecCover', false);
      seen.nullValue = await write('ReservedSpace', null);
      seen.text = await write('RecFileLen', ' 42 ');
      seen.numberAsPath = await write('RecFilePath', 7);
      seen.lowerCase = await write('recordstate', 1);
      seen.badText = await write('RecTimeLen', 'abc');
      return seen;
    });
    assert.deepEqual(r.initial, [0, 0, 0, 0, 100, 5, 200, 0, 'string']);
    assert.deepEqual(r.half, [10, 10]);
    assert.deepEqual(r.halfUp, [12, 12]);
    assert.deepEqual(r.negative, [-2, -2]);
    assert.deepEqual(r.trueValue, [-1, -1]);
    assert.deepEqual(r.falseValue, [0, 0]);
    assert.deepEqual(r.nullValue, [null, 0]);
    assert.deepEqual(r.text, [' 42 ', 42]);
    assert.deepEqual(r.numberAsPath, [7, '7']);
    assert.deepEqual(r.lowerCase, [1, 1]);
    // A write the control refuses leaves the value the host holds.
    assert.deepEqual(r.badText, ['abc', -2]);
    await page.close();
  });

  it('shows the property page with its one panel, and applying it changes nothing', async () => {
    const page = await openControlPage();
    const before = await page.evaluate(() => {
      window.propertyPageClosed = c.showPropertyPage();
      return [c.RecFileLen, c.RecTimeLen, c.ReservedSpace, c.RecCover, c.RecFilePath];
    });
    const dialog = await page.evaluate(() => {
      const d = document.querySelector('dialog.tavolen-property-page');
      return { open: d.open, modal: d.matches(':modal'), title: d.querySelector('.tavolen-property-page-title').textContent,
        text: d.querySelector('.tavolen-property-page-text').textContent, inputs: d.querySelectorAll('input, select, textarea').length };
    });
    assert.deepEqual(dialog, { open: true, modal: true, title: '常规',
      text: 'TODO: 将用于操作 Tavolen Control 的属性的控件放置在此对话框上。', inputs: 0 });
    await page.click('dialog.tavolen-property-page button[data-action="apply"]');
    await page.click('dialog.tavolen-property-page button[data-action="ok"]');
    const after = await page.evaluate(async () => {
      const how = await propertyPageClosed;
      await c.GetVersion();
      return { how, left: document.querySelectorAll('dialog').length,
        values: [c.RecFileLen, c.RecTimeLen, c.ReservedSpace, c.RecCover, c.RecFilePath] };
    });
    assert.deepEqual(after, { how: 'ok', left: 0, values: before });
    await page.close();
  });

  it('bounds the call rate and the number of controls', async () => {
    // A host of its own, so that no control of another test counts.
    const own = await Host.start({ origins: [site.origin] });
    const page = await browser.newPage();
    await page.goto(site.origin + '/');
    await page.evaluate(async (origin) => {
      window.hostOrigin = origin;
      window.c = await TavolenControl.create(document.getElementById('view'), { host: origin });
    }, own.origin);
    const burst = await page.evaluate(async () => {
      const results = await Promise.all(Array.from({ length: 400 }, () =>
        c.GetVersion().then((v) => v, (e) => e.code)));
      return { ok: results.filter((v) => v === 65536).length, refused: results.filter((v) => v !== 65536) };
    });
    assert.ok(burst.ok >= 200 && burst.ok < 400, JSON.stringify(burst.ok));
    assert.ok(burst.refused.length > 0 && burst.refused.every((code) => code === RPC_E_CALL_REJECTED));

    // This page holds one control; seven more fit, the ninth is refused.
    const more = await page.evaluate(async () => {
      const made = [];
      let refusal = null;
      for (let i = 0; i < 8; i++) {
        const div = document.createElement('div');
        div.style.cssText = 'width:64px;height:48px';
        document.body.appendChild(div);
        try {
          made.push(await TavolenControl.create(div, { host: hostOrigin }));
        } catch (e) {
          refusal = e.message;
        }
      }
      made.pop().close();
      await new Promise((r) => setTimeout(r, 500));
      const div = document.createElement('div');
      document.body.appendChild(div);
      let again;
      try {
        again = await (await TavolenControl.create(div, { host: hostOrigin })).GetVersion();
      } catch (e) {
        again = e.message;
      }
      return { made: made.length + 1, refusal, again };
    });
    assert.equal(more.made, 7);
    assert.match(more.refusal, /too many controls/);
    assert.equal(more.again, 65536);
    await page.close();
    await own.stop();
  });

  it('shows a lost host in the element and rejects pending and later calls', async () => {
    const own = await Host.start({ origins: [site.origin] });
    const page = await browser.newPage();
    await page.goto(site.origin + '/');
    const r = await page.evaluate(async (origin) => {
      const c = await TavolenControl.create(document.getElementById('view'), { host: origin });
      window.pending = c.SetPath();  // waits for a folder chooser that never comes
      window.pending.catch(() => {});
      window.lost = c;
      return c.GetVersion();
    }, own.origin);
    assert.equal(r, 65536);
    own.child.kill('SIGKILL');
    const after = await page.evaluate(async () => {
      await until(() => !lost.connected, 10000, 'the loss');
      const settle = (p) => p.then(() => 'resolved', (e) => e.code);
      const notice = document.querySelector('#view .tavolen-notice');
      return { pending: await settle(pending), later: await settle(lost.GetVersion()),
        notice: notice.textContent, shown: getComputedStyle(notice).display !== 'none' };
    });
    assert.equal(after.later, RPC_E_DISCONNECTED);
    assert.ok(after.pending === RPC_E_DISCONNECTED || after.pending === 'resolved');
    assert.deepEqual([after.notice, after.shown], ['Connection to tavolen-host lost', true]);
    await own.stop();
    await page.close();
  });
});
