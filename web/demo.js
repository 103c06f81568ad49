// The demo page: one or four camera controls and the host's own object,
// driven only through tavolen.js. The address may carry the camera to show:
// ?ip=ADDRESS&port=N&user=NAME&pwd=PASSWORD&streamid=N&play=1
'use strict';

const NOTIFY_MEANING = {
  0: 'click',
  1: 'double click',
  2: 'stream lost (also sent before each connection attempt)',
  3: 'motion alarm',
  4: 'alarm',
  5: 'motion alarm over',
  6: 'alarm over',
  10: 'SD-card playback position',
};
const STATES = ['VideoState', 'SoundState', 'TalkState', 'RecordState'];
const RECORD_PROPERTIES = { RecFilePath: 'rec-path', RecFileLen: 'rec-len', RecTimeLen: 'rec-time',
  ReservedSpace: 'rec-reserved', RecCover: 'rec-cover' };

const $ = (selector) => document.querySelector(selector);
const form = $('#camera-form');

// What the page holds, also for whoever inspects it from the console.
const demo = window.demo = { views: [], selected: null, host: null, sdFile: null };

function log(text) {
  const item = document.createElement('li');
  item.textContent = new Date().toLocaleTimeString() + '  ' + text;
  $('#log').prepend(item);
  while ($('#log').children.length > 200) $('#log').lastChild.remove();
}

function showResult(text) {
  $('#result').value = text;
}

function camera() {
  const data = new FormData(form);
  return {
    ip: String(data.get('ip')).trim(),
    port: Number(data.get('port')),
    user: String(data.get('user')),
    pwd: String(data.get('pwd')),
    streamid: Number(data.get('streamid')),
  };
}

function describe(value) {
  return value === undefined ? 'done' : JSON.stringify(value);
}

// Runs one call and shows what came of it.
async function call(label, promise) {
  try {
    const value = await promise;
    showResult(label + ' → ' + describe(value));
    return value;
  } catch (error) {
    showResult(label + ' failed: ' + error.message);
    log(label + ' failed: ' + error.message);
    return undefined;
  }
}

// --- the views ---

function viewName(slot) {
  return 'view ' + (slot.index + 1);
}

function select(slot) {
  demo.selected = slot;
  for (const s of demo.views) s.element.classList.toggle('selected', s === slot);
  $('#selected-name').textContent = demo.views.length > 1 ? '(' + viewName(slot) + ')' : '';
  showProperties();
}

function showProperties() {
  const control = demo.selected && demo.selected.control;
  for (const name of STATES) {
    const cell = document.querySelector(`[data-state="${name}"]`);
    const value = control ? control[name] : undefined;
    cell.textContent = value === undefined ? '–' : String(value);
    cell.dataset.value = value === undefined ? '' : String(value);
  }
  for (const [name, id] of Object.entries(RECORD_PROPERTIES)) {
    const value = control ? control[name] : undefined;
    document.getElementById(id).textContent = value === undefined || value === '' ? '–' : String(value);
  }
}

async function openView(index) {
  const element = document.createElement('div');
  element.className = 'view';
  const label = document.createElement('span');
  label.className = 'label';
  const slot = { index, element, control: null, lastPositionLog: 0 };
  demo.views.push(slot);
  $('#views').appendChild(element);
  element.addEventListener('mousedown', () => select(slot), true);
  if (!demo.selected) select(slot);
  try {
    const control = await TavolenControl.create(element);
    slot.control = control;
    label.textContent = viewName(slot);
    element.appendChild(label);
    control.addEventListener('MessageNotify', (e) => onNotify(slot, e.detail.lType, e.detail.lParame));
    control.addEventListener('OnCameraSearched', (e) => onFound(e.detail));
    control.addEventListener('propertychange', () => { if (demo.selected === slot) showProperties(); });
    if (demo.selected === slot) showProperties();
  } catch (error) {
    element.textContent = error.message;
    element.style.color = '#ff0';
    log(viewName(slot) + ': ' + error.message);
  }
  return slot;
}

async function setLayout(count) {
  $('#views').className = 'layout-' + count;
  while (demo.views.length > count) {
    const slot = demo.views.pop();
    if (slot.control) slot.control.close();
    slot.element.remove();
    if (demo.selected === slot) select(demo.views[0]);
  }
  const opening = [];
  while (demo.views.length < count) opening.push(openView(demo.views.length));
  await Promise.all(opening);
  for (const slot of demo.views) if (slot.control) slot.control.UpdataSize();
}

function play(slot) {
  const c = camera();
  if (!slot || !slot.control) return Promise.resolve();
  return call(`PlayVideo (${viewName(slot)})`,
    slot.control.PlayVideo(c.user, c.pwd, c.ip, c.port, c.streamid, 2));
}

// --- events ---

function onNotify(slot, type, parameter) {
  if (type === 10) {
    if (slot === demo.selected && !demo.seeking) {
      $('#sd-seek').value = parameter;
      $('#sd-position').value = parameter;
    }
    // Positions come with every frame: the log keeps one a second.
    const now = Date.now();
    if (now - slot.lastPositionLog < 1000) return;
    slot.lastPositionLog = now;
  }
  if (type === 1) leaveFullScreen(slot);
  const meaning = NOTIFY_MEANING[type] || 'unknown';
  log(`${viewName(slot)}: MessageNotify(${type}, ${parameter}) ${meaning}`);
}

const found = new Map();
function onFound(camera) {
  log(`OnCameraSearched(${camera.iStatus}, "${camera.pszDevName}", "${camera.pszIpAddr}", ${camera.iPort}, ` +
    `${camera.iCmdPort}, ${camera.iDataPort}, ${camera.iIsSameSubNet})`);
  const key = camera.pszIpAddr + ':' + camera.iPort;
  if (found.has(key)) return;
  found.set(key, camera);
  const list = $('#found');
  list.querySelector('.empty')?.remove();
  const item = document.createElement('li');
  item.dataset.ip = camera.pszIpAddr;
  item.dataset.port = camera.iPort;
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = camera.pszDevName || '(no name)';
  const where = document.createElement('span');
  where.textContent = camera.pszIpAddr + ':' + camera.iPort + (camera.iIsSameSubNet ? '' : ' (other subnet)');
  item.append(name, where);
  item.addEventListener('click', () => {
    form.elements.ip.value = camera.pszIpAddr;
    form.elements.port.value = camera.iPort;
    log('form filled with ' + key);
  });
  list.appendChild(item);
}

// --- the selected view's methods ---

for (const button of document.querySelectorAll('button[data-call]')) {
  button.addEventListener('click', () => {
    const slot = demo.selected;
    if (!slot || !slot.control) return showResult('no control');
    const name = button.dataset.call;
    const args = [];
    if (button.dataset.args) {
      const input = $(button.dataset.args);
      args.push(input.tagName === 'SELECT' ? Number(input.value) : input.value);
    }
    if (name === 'SdRecordFileStop') markPlaying(null);
    call(`${name}(${args.map((a) => JSON.stringify(a)).join(', ')})`, slot.control[name](...args));
  });
}

// Full screen covers the page and its buttons: Esc or a double click on the
// picture brings the view back.
function leaveFullScreen(slot) {
  if (slot && slot.control && slot.control.windowState && slot.control.windowState.fullScreen) {
    select(slot);
    $('button[data-call="ShowNormal"]').click();
  }
}
document.addEventListener('keydown', (e) => {
  if (e.key === 'Escape') leaveFullScreen(demo.selected);
});

// --- SD-card recordings ---

function markPlaying(name) {
  demo.sdFile = name;
  for (const item of document.querySelectorAll('#sd-files li[data-name]'))
    item.classList.toggle('playing', item.dataset.name === name);
  const seek = $('#sd-seek');
  const item = name && document.querySelector(`#sd-files li[data-name="${CSS.escape(name)}"]`);
  seek.disabled = !item;
  seek.max = item ? item.dataset.size : 0;
  seek.value = 0;
  $('#sd-position').value = 0;
}

async function listDay() {
  if (!demo.host) return showResult('the host object is not connected');
  const c = camera();
  const [year, month, day] = $('#sd-day').value.split('-').map(Number);
  const files = [];
  const onFile = (e) => files.push(e.detail);
  demo.host.addEventListener('onRecordFile', onFile);
  const count = await call(`listRecordFiles(${$('#sd-day').value})`,
    demo.host.listRecordFiles(c.user, c.pwd, c.ip, c.port, year, month, day));
  demo.host.removeEventListener('onRecordFile', onFile);
  const list = $('#sd-files');
  list.replaceChildren();
  if (count === undefined || count < 0) {
    list.innerHTML = '<li class="empty">The camera did not answer the listing.</li>';
    return;
  }
  if (files.length === 0) list.innerHTML = '<li class="empty">No recordings that day.</li>';
  for (const file of files) {
    const item = document.createElement('li');
    item.dataset.name = file.fileName;
    item.dataset.size = file.size;
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = file.fileName;
    const size = document.createElement('span');
    size.textContent = (file.size / 1024).toFixed(0) + ' KiB';
    const playButton = document.createElement('button');
    playButton.textContent = 'Play';
    playButton.className = 'sd-play';
    playButton.addEventListener('click', async () => {
      const slot = demo.selected;
      if (!slot || !slot.control) return;
      const cam = camera();
      // A view plays one thing: the live picture makes way for the recording.
      await slot.control.StopVideo();
      markPlaying(file.fileName);
      await call(`SdRecordFilePlay("${file.fileName}")`,
        slot.control.SdRecordFilePlay(cam.user, cam.pwd, cam.ip, cam.port, file.fileName, cam.streamid));
    });
    item.append(name, size, playButton);
    list.appendChild(item);
  }
}

$('#sd-list').addEventListener('click', listDay);
$('#sd-seek').addEventListener('input', () => { demo.seeking = true; $('#sd-position').value = $('#sd-seek').value; });
$('#sd-seek').addEventListener('change', async () => {
  demo.seeking = false;
  const slot = demo.selected;
  if (slot && slot.control) await call(`SdRecordFileSetPos(${$('#sd-seek').value})`,
    slot.control.SdRecordFileSetPos(Number($('#sd-seek').value)));
});

// --- recording settings ---

$('#record-form').addEventListener('submit', async (e) => {
  e.preventDefault();
  const slot = demo.selected;
  if (!slot || !slot.control) return;
  const data = new FormData(e.target);
  const values = ['fileLen', 'timeLen', 'reserved', 'cover'].map((k) => Number(data.get(k)));
  await call(`SetRecordProperty(${values.join(', ')})`, slot.control.SetRecordProperty(...values));
});

// --- the PC's mixer, through the host's own object ---

const MIXER = [
  { volume: '#play-volume', mute: '#play-mute', get: 'getPlayVolume', set: 'setPlayVolume',
    getMute: 'getMute', setMute: 'setMute' },
  { volume: '#mic-volume', mute: '#mic-mute', get: 'getMicPlayVolume', set: 'setMicPlayVolume',
    getMute: 'getMicMute', setMute: 'setMicMute' },
];

async function showMixer() {
  let missing = false;
  for (const m of MIXER) {
    const volume = await demo.host[m.get]();
    const mute = await demo.host[m.getMute]();
    missing ||= volume < 0;
    $(m.volume).disabled = volume < 0;
    if (volume >= 0) $(m.volume).value = volume;
    $(m.mute).checked = mute === 1;
  }
  $('#mixer-note').textContent = missing ? 'No sound mixer reachable on this PC.' : '';
}

for (const m of MIXER) {
  $(m.volume).addEventListener('change', () =>
    call(`${m.set}(${$(m.volume).value})`, demo.host[m.set](Number($(m.volume).value))));
  $(m.mute).addEventListener('change', () =>
    call(`${m.setMute}(${$(m.mute).checked ? 1 : 0})`, demo.host[m.setMute]($(m.mute).checked ? 1 : 0)));
}

// --- start ---

form.addEventListener('submit', (e) => {
  e.preventDefault();
  play(demo.selected);
});
$('#play-all').addEventListener('click', () => Promise.all(demo.views.map(play)));
$('#layout').addEventListener('change', () => setLayout(Number($('#layout').value)));
$('#clear-log').addEventListener('click', () => $('#log').replaceChildren());

function today() {
  const d = new Date();
  const pad = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())}`;
}

async function start() {
  const query = new URLSearchParams(location.search);
  for (const key of ['ip', 'port', 'user', 'pwd', 'streamid'])
    if (query.has(key)) form.elements[key].value = query.get(key);
  $('#sd-day').value = today();
  const hostReady = TavolenHost.connect().then((host) => {
    demo.host = host;
    return showMixer();
  }).catch((error) => log('host object: ' + error.message));
  await setLayout(1);
  if (query.get('play') === '1') {
    await play(demo.selected);
    await hostReady;
    if (demo.host) await listDay();
  }
  document.body.dataset.ready = '1';
}

start();
