// tavolen.js: a Tavolen camera control in a web page, driven by tavolen-host.
//
//   const view = await TavolenControl.create(document.getElementById('view'));
//   await view.PlayVideo('admin', '', '192.168.1.20', 80, 0, 2);
//   view.addEventListener('MessageNotify', e => console.log(e.detail.lType, e.detail.lParame));
//
// The object's methods and properties come from the member table the host
// sends, under their own names, found without regard to case. Methods return
// Promises of their result; properties read at once as the host last reported
// them. The control itself runs in tavolen-host; this file shows its window in
// a canvas and sends clicks back.
(function (global) {
  'use strict';

  // Automation error codes, as signed 32-bit numbers.
  const DISP_E_TYPEMISMATCH = 0x80020005 | 0;
  const DISP_E_OVERFLOW = 0x8002000a | 0;
  const RPC_E_DISCONNECTED = 0x80010108 | 0;

  const PICTURE_HEAD = 16;
  const PICTURE_JPEG = 1;
  const PICTURE_RAW = 2;

  const PROPERTY_PAGE_TITLE = '常规';
  const PROPERTY_PAGE_TEXT = 'TODO: 将用于操作 Tavolen Control 的属性的控件放置在此对话框上。';

  const scriptOrigin = (function () {
    try {
      if (document.currentScript && document.currentScript.src)
        return new URL(document.currentScript.src).origin;
    } catch (e) { /* fall through */ }
    return 'http://127.0.0.1:34780';
  })();

  function automationError(message, code) {
    const error = new Error(message);
    if (code !== undefined) error.code = code;
    return error;
  }

  // Banker's rounding, as automation converts a floating value to an integer.
  function roundHalfEven(x) {
    const floor = Math.floor(x);
    const fraction = x - floor;
    if (fraction < 0.5) return floor;
    if (fraction > 0.5) return floor + 1;
    return floor % 2 === 0 ? floor : floor + 1;
  }

  // A script value as the script engine handed it to the control: integers as
  // I4, other numbers rounded, booleans as -1 and 0, strings as texts, null and
  // undefined as EMPTY. Throws an automation error for anything else.
  function toWire(value) {
    if (value === null || value === undefined) return null;
    switch (typeof value) {
      case 'boolean':
        return value ? -1 : 0;
      case 'string':
        return value;
      case 'number': {
        if (!Number.isFinite(value)) throw automationError('number out of range', DISP_E_OVERFLOW);
        const n = Number.isInteger(value) ? value : roundHalfEven(value);
        if (n < -2147483648 || n > 2147483647) throw automationError('number out of range', DISP_E_OVERFLOW);
        return n === 0 ? 0 : n;
      }
      default:
        throw automationError('type mismatch', DISP_E_TYPEMISMATCH);
    }
  }

  class Control extends EventTarget {
    constructor(element, socket, ready) {
      super();
      this.element = element;
      this.connected = true;
      this.picturesShown = 0;
      this._socket = socket;
      this._pending = new Map();
      this._nextId = 1;
      this._attached = new Map();
      this._values = new Map();      // what a read returns
      this._hostValues = new Map();  // what the host last reported
      this._fullScreen = false;
      this._busyPicture = false;
      this._members = ready.members;
      this._byLowerName = new Map();
      this._byDispid = new Map();
      this._methods = new Map();
      for (const m of ready.members) {
        if (m.kind === 'event') this._byDispid.set('e' + m.dispid, m);
        else {
          this._byLowerName.set(m.name.toLowerCase(), m);
          this._byDispid.set(m.dispid, m);
        }
      }
      for (const p of ready.properties) {
        this._values.set(p.dispid, p.value);
        this._hostValues.set(p.dispid, p.value);
      }
      this._buildView();
    }

    // --- what a page calls besides the members ---

    attachEvent(name, handler) {
      if (typeof handler !== 'function') return false;
      const key = String(name).toLowerCase().replace(/^on(?=messagenotify$)/, '');
      if (!this._attached.has(key)) this._attached.set(key, []);
      this._attached.get(key).push(handler);
      return true;
    }

    detachEvent(name, handler) {
      const key = String(name).toLowerCase().replace(/^on(?=messagenotify$)/, '');
      const list = this._attached.get(key);
      if (!list) return false;
      const i = list.indexOf(handler);
      if (i >= 0) list.splice(i, 1);
      return i >= 0;
    }

    // The control's property page: one panel, nothing to edit. Resolves when
    // the user closes it.
    showPropertyPage() {
      return new Promise((resolve) => {
        const dialog = document.createElement('dialog');
        dialog.className = 'tavolen-property-page';
        dialog.style.cssText = 'font: 12px sans-serif; padding: 0; min-width: 380px;';
        const tab = document.createElement('div');
        tab.className = 'tavolen-property-page-title';
        tab.textContent = PROPERTY_PAGE_TITLE;
        tab.style.cssText = 'padding: 4px 10px; border-bottom: 1px solid #aaa; font-weight: bold;';
        const text = document.createElement('p');
        text.className = 'tavolen-property-page-text';
        text.textContent = PROPERTY_PAGE_TEXT;
        text.style.cssText = 'margin: 30px 12px;';
        const buttons = document.createElement('div');
        buttons.style.cssText = 'text-align: right; padding: 6px;';
        const close = (how) => { dialog.close(); dialog.remove(); resolve(how); };
        for (const [label, action] of [['OK', 'ok'], ['Cancel', 'cancel'], ['Apply', 'apply']]) {
          const b = document.createElement('button');
          b.type = 'button';
          b.textContent = label;
          b.dataset.action = action;
          // Applying changes nothing: the page binds no property.
          b.addEventListener('click', () => { if (action !== 'apply') close(action); });
          buttons.appendChild(b);
        }
        dialog.addEventListener('cancel', (e) => { e.preventDefault(); close('cancel'); });
        dialog.append(tab, text, buttons);
        document.body.appendChild(dialog);
        dialog.showModal();
      });
    }

    // Ends the connection; the host destroys the control.
    close() {
      this._closedByPage = true;
      this._teardown(null);
      this._socket.close();
    }

    // --- the members ---

    _member(name) {
      return typeof name === 'string' ? this._byLowerName.get(name.toLowerCase()) : undefined;
    }

    _method(member) {
      let fn = this._methods.get(member.dispid);
      if (!fn) {
        fn = (...args) => this._invoke(member, 1, args);
        this._methods.set(member.dispid, fn);
      }
      return fn;
    }

    _invoke(member, flags, args) {
      let wire;
      try {
        wire = args.map(toWire);
      } catch (error) {
        return Promise.reject(error);
      }
      if (!this.connected)
        return Promise.reject(automationError('the connection to tavolen-host is lost', RPC_E_DISCONNECTED));
      const id = this._nextId++;
      return new Promise((resolve, reject) => {
        this._pending.set(id, { resolve, reject, member });
        this._send({ op: 'invoke', id, dispid: member.dispid, flags, args: wire });
      });
    }

    // A write shows at once, converted as it is sent; a value that cannot be
    // converted throws as script assignment did. When the control refuses the
    // write, the value the control holds shows again.
    _put(member, value) {
      this._values.set(member.dispid, toWire(value));
      this._invoke(member, 4, [value]).catch((error) => {
        this._values.set(member.dispid, this._hostValues.get(member.dispid));
        console.warn('tavolen: ' + member.name + ':', error.message);
      });
    }

    // --- the connection ---

    _send(message) {
      if (this._socket.readyState === WebSocket.OPEN) this._socket.send(JSON.stringify(message));
    }

    _onText(message) {
      switch (message.op) {
        case 'result': {
          const call = this._pending.get(message.id);
          if (!call) return;
          this._pending.delete(message.id);
          call.resolve(message.value === null ? undefined : message.value);
          return;
        }
        case 'error': {
          const call = message.id === null ? undefined : this._pending.get(message.id);
          if (!call) {
            console.warn('tavolen-host:', message.message);
            return;
          }
          this._pending.delete(message.id);
          call.reject(automationError(call.member.name + ': ' + message.message, message.code));
          return;
        }
        case 'property':
          this._values.set(message.dispid, message.value);
          this._hostValues.set(message.dispid, message.value);
          return;
        case 'event':
          this._fire(message.dispid, message.args);
          return;
        case 'window':
          this._placeWindow(message);
          return;
      }
    }

    _fire(dispid, args) {
      const member = this._byDispid.get('e' + dispid);
      if (!member) return;
      const detail = {};
      member.params.forEach((p, i) => { detail[p.name] = args[i]; });
      this.dispatchEvent(new CustomEvent(member.name, { detail }));
      for (const handler of (this._attached.get(member.name.toLowerCase()) || []).slice()) {
        try {
          handler(...args);
        } catch (error) {
          console.error(error);
        }
      }
    }

    _teardown(reason) {
      if (!this.connected) return;
      this.connected = false;
      if (this._resizeObserver) this._resizeObserver.disconnect();
      global.removeEventListener('resize', this._onViewport);
      const error = automationError('the connection to tavolen-host is lost', RPC_E_DISCONNECTED);
      for (const call of this._pending.values()) call.reject(error);
      this._pending.clear();
      if (reason) {
        this._showWindowBack();
        this._notice.textContent = reason;
        this._notice.style.display = 'flex';
      }
    }

    // --- the window in the page ---

    _buildView() {
      const element = this.element;
      if (getComputedStyle(element).position === 'static') element.style.position = 'relative';
      const canvas = document.createElement('canvas');
      canvas.className = 'tavolen-canvas';
      canvas.style.cssText = 'display: block; width: 100%; height: 100%;';
      canvas.width = 1;
      canvas.height = 1;
      this.canvas = canvas;
      this._context = canvas.getContext('2d');
      const notice = document.createElement('div');
      notice.className = 'tavolen-notice';
      notice.style.cssText = 'display: none; position: absolute; inset: 0; align-items: center; ' +
        'justify-content: center; background: rgba(0,0,0,0.75); color: #ff0; font: 14px sans-serif; text-align: center;';
      this._notice = notice;
      const layer = document.createElement('div');
      layer.className = 'tavolen-full-screen';
      layer.setAttribute('popover', 'manual');
      layer.style.cssText = 'margin: 0; padding: 0; border: none; inset: auto; position: fixed; ' +
        'left: 0; top: 0; overflow: hidden; background: transparent;';
      this._layer = layer;
      element.replaceChildren(canvas, notice, layer);

      canvas.addEventListener('mousedown', (e) => this._mouse(e));
      canvas.addEventListener('mouseup', (e) => { if (e.button === 0) this._mouse(e, 4); });
      canvas.addEventListener('contextmenu', (e) => e.preventDefault());

      const opened = deviceSize(element);
      this._sentWidth = opened.width;
      this._sentHeight = opened.height;
      this._resizeObserver = new ResizeObserver(() => this._sendSize());
      this._resizeObserver.observe(element);
      // A zoom changes devicePixelRatio and the viewport together.
      this._onViewport = () => {
        this._send({ op: 'screen', ...viewportSize() });
        this._sendSize();
      };
      global.addEventListener('resize', this._onViewport);
    }

    _sendSize() {
      const size = deviceSize(this.element);
      if (size.width > 0 && size.height > 0 &&
          (size.width !== this._sentWidth || size.height !== this._sentHeight)) {
        this._sentWidth = size.width;
        this._sentHeight = size.height;
        this._send({ op: 'resize', width: size.width, height: size.height });
      }
    }

    _mouse(e, event) {
      if (event === undefined) {
        if (e.button === 0) event = e.detail === 2 ? 3 : 1;
        else if (e.button === 2) event = 2;
        else return;
      }
      const rect = this.canvas.getBoundingClientRect();
      if (rect.width <= 0 || rect.height <= 0) return;
      const x = Math.floor((e.clientX - rect.left) * this.canvas.width / rect.width);
      const y = Math.floor((e.clientY - rect.top) * this.canvas.height / rect.height);
      this._send({ op: 'mouse', event, x, y });
    }

    // Full screen puts the canvas into the top layer over the whole viewport,
    // at the window's own device-pixel size; otherwise it fills the element.
    _placeWindow(state) {
      this.windowState = state;
      if (state.fullScreen) {
        const dpr = global.devicePixelRatio || 1;
        this._layer.style.width = state.width / dpr + 'px';
        this._layer.style.height = state.height / dpr + 'px';
        if (!this._fullScreen) {
          this._fullScreen = true;
          this._layer.appendChild(this.canvas);
          if (this._layer.showPopover) this._layer.showPopover();
          else this._layer.style.cssText += 'display: block; z-index: 2147483647;';
        }
      } else {
        this._showWindowBack();
      }
    }

    _showWindowBack() {
      if (!this._fullScreen) return;
      this._fullScreen = false;
      if (this._layer.hidePopover) this._layer.hidePopover();
      this.element.insertBefore(this.canvas, this._notice);
    }

    _onPicture(buffer) {
      const head = new DataView(buffer, 0, PICTURE_HEAD);
      if (buffer.byteLength < PICTURE_HEAD || head.getUint32(0, false) !== 0x54565031) return;
      const seq = head.getUint32(4, true);
      const width = head.getUint16(8, true);
      const height = head.getUint16(10, true);
      const format = head.getUint8(12);
      const show = (draw) => {
        if (this.canvas.width !== width) this.canvas.width = width;
        if (this.canvas.height !== height) this.canvas.height = height;
        draw();
        this.picturesShown++;
        this.lastPictureSeq = seq;
        this._send({ op: 'drawn', seq });
      };
      if (format === PICTURE_RAW) {
        const pixels = new Uint8ClampedArray(buffer, PICTURE_HEAD, width * height * 4);
        show(() => this._context.putImageData(new ImageData(pixels, width, height), 0, 0));
      } else if (format === PICTURE_JPEG) {
        createImageBitmap(new Blob([new Uint8Array(buffer, PICTURE_HEAD)], { type: 'image/jpeg' }))
          .then((bitmap) => {
            show(() => this._context.drawImage(bitmap, 0, 0));
            bitmap.close();
          })
          .catch(() => this._send({ op: 'drawn', seq }));
      }
    }
  }

  // An element's CSS size times devicePixelRatio: the control's window size
  // in device pixels, the unit of mouse positions and the one-pixel rules.
  function deviceSize(element) {
    const dpr = global.devicePixelRatio || 1;
    const rect = element.getBoundingClientRect();
    return { width: Math.round(rect.width * dpr), height: Math.round(rect.height * dpr) };
  }

  function viewportSize() {
    const dpr = global.devicePixelRatio || 1;
    return {
      width: Math.max(1, Math.round(global.innerWidth * dpr)),
      height: Math.max(1, Math.round(global.innerHeight * dpr)),
    };
  }

  // The object a page sees: members by name in any case, then the control's
  // own functions.
  function facade(control) {
    return new Proxy(control, {
      get(target, name) {
        const member = target._member(name);
        if (member) return member.kind === 'method' ? target._method(member) : target._values.get(member.dispid);
        const value = Reflect.get(target, name, target);
        return typeof value === 'function' ? value.bind(target) : value;
      },
      set(target, name, value) {
        const member = target._member(name);
        if (!member) return Reflect.set(target, name, value, target);
        if (member.kind === 'property') target._put(member, value);
        return true;
      },
      has(target, name) {
        return target._member(name) !== undefined || Reflect.has(target, name);
      },
    });
  }

  const TavolenControl = {
    members: null,

    // Opens a control in element. options.host: the host's origin (default:
    // where this script came from).
    create(element, options) {
      options = options || {};
      const host = String(options.host || scriptOrigin).replace(/\/+$/, '');
      const url = host.replace(/^http/i, 'ws') + '/control';
      return new Promise((resolve, reject) => {
        let socket;
        try {
          socket = new WebSocket(url);
        } catch (error) {
          reject(automationError('tavolen.js: bad host ' + host + ': ' + error.message));
          return;
        }
        socket.binaryType = 'arraybuffer';
        let control = null;
        let settled = false;
        const fail = (message, code) => {
          if (settled) return;
          settled = true;
          reject(automationError(message, code));
          try { socket.close(); } catch (e) { /* already closed */ }
        };
        socket.onopen = () => {
          const size = deviceSize(element);
          const screen = viewportSize();
          socket.send(JSON.stringify({
            op: 'open',
            width: Math.max(1, size.width),
            height: Math.max(1, size.height),
            screenWidth: screen.width,
            screenHeight: screen.height,
          }));
        };
        socket.onmessage = (e) => {
          if (typeof e.data !== 'string') {
            if (control) control._onPicture(e.data);
            return;
          }
          let message;
          try {
            message = JSON.parse(e.data);
          } catch (error) {
            return;
          }
          if (control) {
            control._onText(message);
          } else if (message.op === 'ready') {
            TavolenControl.members = message.members;
            control = new Control(element, socket, message);
            settled = true;
            resolve(facade(control));
          } else if (message.op === 'error') {
            fail('tavolen-host: ' + message.message, message.code);
          }
        };
        socket.onclose = () => {
          if (!settled) {
            fail('tavolen.js: cannot reach tavolen-host at ' + host + ': it is not running, or it ' +
              'refused this page (its origin must be on the allow-list: tavolen-host --register ORIGIN)');
          } else if (control && !control._closedByPage) {
            control._teardown('Connection to tavolen-host lost');
          }
        };
      });
    },
  };

  global.TavolenControl = TavolenControl;
})(typeof window !== 'undefined' ? window : globalThis);
