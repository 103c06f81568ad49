// tavolen-host's refusals, seen from where they come: pages of other origins,
// requests naming another Host, another user's programs, and bad messages.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { after, before, describe, it } from 'node:test';
import { Host, PageServer, closedPort, launchBrowser, rawRequest, testPage } from './harness.mjs';

describe('tavolen-host refusals', () => {
  let host, allowed, stranger, browser;

  before(async () => {
    allowed = await PageServer.start({});
    stranger = await PageServer.start({});
    host = await Host.start({ origins: [allowed.origin] });
    allowed.pages['/'] = testPage(host);
    stranger.pages['/'] = testPage(host);
    browser = await launchBrowser();
  });

  after(async () => {
    await browser?.close();
    await host?.stop();
    await allowed?.stop();
    await stranger?.stop();
  });

  async function openPage(server) {
    const page = await browser.newPage();
    await page.goto(server.origin + '/');
    await page.waitForFunction(() => typeof TavolenControl === 'object');
    return page;
  }

  it('serves tavolen.js and the page to anyone who names the host', async () => {
    for (const [path, type] of [['/tavolen.js', /javascript/], ['/', /html/]]) {
      const r = await fetch(host.origin + path, { headers: { Origin: 'https://any.example' } });
      assert.equal(r.status, 200);
      assert.match(r.headers.get('content-type'), type);
    }
    assert.equal((await fetch(host.origin + '/other')).status, 404);
    assert.equal((await fetch(host.origin + '/tavolen.js', { method: 'POST' })).status, 405);
  });

  it('refuses a Host that is not its own (DNS rebinding)', async () => {
    const upgrade = {
      Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
      'Sec-WebSocket-Key': 'dGhlIHNhbXBsZSBub25jZQ==', Origin: host.origin,
    };
    for (const name of ['rebound.example', '127.0.0.1.rebound.example', 'localhost.', '127.0.0.2']) {
      const h = name + ':' + host.port;
      assert.equal((await rawRequest(host.port, { Host: h })).status, 403, h);
      assert.equal((await rawRequest(host.port, { Host: h }, '/tavolen.js')).status, 403, h);
      assert.equal((await rawRequest(host.port, { ...upgrade, Host: h }, '/control')).status, 403, h);
    }
    for (const name of ['127.0.0.1', 'localhost', '[::1]']) {
      assert.equal((await rawRequest(host.port, { Host: name + ':' + host.port })).status, 200, name);
      assert.equal((await rawRequest(host.port, { ...upgrade, Host: name + ':' + host.port }, '/control')).status,
        101, name);
    }
  });

  it("refuses another user's programs", { skip: process.getuid() !== 0 && 'needs root to run as another user' },
    () => {
      const curl = (prefix) => spawnSync(prefix[0], [...prefix.slice(1), 'curl', '-s', '-o', '/dev/null', '-w',
        '%{http_code}', host.origin + '/tavolen.js'], { encoding: 'utf8' }).stdout;
      assert.equal(curl(['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']), '403');
      assert.equal(curl(['env']), '200');
    });

  it('gives a page of an origin not on the allow-list one clear rejection', async () => {
    const page = await openPage(stranger);
    const outcome = await page.evaluate(async () => {
      try {
        await TavolenControl.create(document.getElementById('view'));
        return 'created';
      } catch (e) {
        return e.message;
      }
    });
    assert.match(outcome, /allow-list/);
    await page.close();
  });

  it('gives one clear rejection when no host runs there', async () => {
    const page = await openPage(allowed);
    const nobody = 'http://127.0.0.1:' + await closedPort();
    const outcome = await page.evaluate(async (nobody) => {
      let settled = 0;
      let message = '';
      await TavolenControl.create(document.getElementById('view'), { host: nobody })
        .then(() => { settled++; message = 'created'; }, (e) => { settled++; message = e.message; });
      await new Promise((r) => setTimeout(r, 200));
      return { settled, message };
    }, nobody);
    assert.equal(outcome.settled, 1);
    assert.ok(outcome.message.startsWith('tavolen.js: cannot reach tavolen-host at ' + nobody + ': it is not running'),
      outcome.message);
    await page.close();
  });

  it('answers malformed, mistyped and oversized messages and keeps the connection', async () => {
    const page = await openPage(allowed);
    const result = await page.evaluate(async (url) => {
      const ws = new WebSocket(url);
      const replies = [];
      let closeCode = null;
      ws.onmessage = (e) => replies.push(JSON.parse(e.data));
      const closed = new Promise((r) => { ws.onclose = (e) => { closeCode = e.code; r(); }; });
      await new Promise((r, j) => { ws.onopen = r; ws.onerror = j; });
      ws.send('{');
      ws.send('[]');
      ws.send('{"op":"invoke","id":1,"dispid":1,"flags":1,"args":[1.5]}');
      ws.send('{"op":"invoke","id":2,"dispid":1,"flags":1,"args":' + '['.repeat(50) + ']'.repeat(50) + '}');
      ws.send('x'.repeat(70000));
      ws.send(new Uint8Array([1, 2, 3]));
      ws.send('{"op":"invoke","id":3,"dispid":33,"flags":1}');
      const until = Date.now() + 5000;
      while (replies.length < 7 && Date.now() < until) await new Promise((r) => setTimeout(r, 20));
      const before = replies.slice();
      ws.send('y'.repeat(2 * 1024 * 1024));
      await Promise.race([closed, new Promise((r) => setTimeout(r, 5000))]);
      return { before, closeCode };
    }, host.origin.replace('http', 'ws') + '/control');
    const r = result.before;
    assert.equal(r.length, 7, JSON.stringify(r));
    assert.ok(r.every((m) => m.op === 'error'));
    assert.deepEqual(r.map((m) => m.id), [null, null, 1, null, null, null, 3]);
    assert.match(r[0].message, /malformed JSON/);
    assert.match(r[1].message, /JSON object/);
    assert.equal(r[2].code, 0x80020005 | 0);
    assert.match(r[3].message, /nested too deeply/);
    assert.match(r[4].message, /too large/);
    assert.match(r[5].message, /binary/);
    assert.match(r[6].message, /open the control first/);
    // The host closes with 1009 while the page may still be sending the rest,
    // in which case the page only sees the connection reset (1006).
    assert.ok([1006, 1009].includes(result.closeCode), 'a message past the frame bound ends the connection');
    const again = await page.evaluate((url) => new Promise((resolve) => {
      const ws = new WebSocket(url);
      ws.onopen = () => { ws.close(); resolve('open'); };
      ws.onerror = () => resolve('refused');
    }), host.origin.replace('http', 'ws') + '/control');
    assert.equal(again, 'open', 'the host still serves other connections');
    await page.close();
  });
});
