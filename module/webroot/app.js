// velmora's settings page in the root manager's WebUI. Every command runs in a
// root shell through the manager's bridge; no text a user types reaches that
// shell: the settings file travels as base64 and numbers only once validated.
'use strict';

const MODDIR = '/data/adb/modules/velmora';
const SETTINGS = `${MODDIR}/配置`;
const LOG = `${MODDIR}/PID_log`;
const LOG_LINES = 8640;  // 24 hours of charging at one line per 10 s
const DAY_S = 86400;
const INT32_MIN = -2147483648n;
const INT32_MAX = 2147483647n;
const WORD_MAX_BYTES = 29;  // what velmora keeps of a word
const UA_PER_POWER_AT_FULL_DRIVE = 1833 * 100;  // the limit at drive 100, uA per power unit

// The eight entries in the order velmora reads them: key, the status.sh name, kind.
const ENTRIES = [
  ['日志开关', 'log_switch', 'switch'],
  ['功率', 'power', 'integer'],
  ['晚上', 'night', 'hour'],
  ['早上', 'morning', 'hour'],
  ['亮屏温度', 'on_temp', 'celsius'],
  ['息屏温度', 'off_temp', 'celsius'],
  ['版本', 'version', 'word'],
  ['机型', 'model', 'word'],
];

const $ = (id) => document.getElementById(id);
const form = $('settings');
let state = new Map();  // the last status.sh output
let notes = '\n';       // what follows the eighth entry in 配置, kept as it is

// ---- the bridge

let calls = 0;
// ksu.exec(cmd, options, callback name) answers through a global function.
function exec(cmd) {
  return new Promise((resolve, reject) => {
    const name = `velmora_exec_${Date.now()}_${calls++}`;
    window[name] = (errno, stdout, stderr) => {
      delete window[name];
      resolve({errno, stdout, stderr});
    };
    try {
      ksu.exec(cmd, '{}', name);
    } catch (error) {
      delete window[name];
      reject(error);
    }
  });
}

// A constant or validated text as one shell word.
const quote = (text) => `'${String(text).replace(/'/g, `'\\''`)}'`;

function toBase64(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  }
  return btoa(binary);
}

const fromBase64 = (text) =>
  Uint8Array.from(atob(text.replace(/\s+/g, '')), (c) => c.charCodeAt(0));

const utf8 = (text) => new TextEncoder().encode(text);

// ---- validation: what velmora accepts, and what makes no sense to it

function parseInteger(text) {
  if (!/^[+-]?\d+$/.test(text)) return {error: 'a whole number, such as 27'};
  const value = BigInt(text);
  if (value < INT32_MIN || value > INT32_MAX) {
    return {error: 'out of range (-2147483648 to 2147483647)'};
  }
  return {value};
}

// °C with up to three decimals, stored in thousandths of a degree.
function parseCelsius(text) {
  const m = /^([+-]?)(\d+)(?:[.,](\d{1,3}))?$/.exec(text);
  if (!m) return {error: 'degrees Celsius, such as 40 or 38.5'};
  const milli = BigInt(m[2]) * 1000n + BigInt((m[3] || '').padEnd(3, '0'));
  const value = m[1] === '-' ? -milli : milli;
  if (value < INT32_MIN || value > INT32_MAX) return {error: 'out of range'};
  return {value};
}

function parseWord(text) {
  if (text === '') return {error: 'a word is needed'};
  if (/\s/.test(text)) return {error: 'no spaces or line breaks'};
  const bytes = utf8(text).length;
  if (bytes > WORD_MAX_BYTES) return {error: `${bytes} bytes; at most ${WORD_MAX_BYTES}`};
  return {value: text};
}

function warningFor(kind, value) {
  if (kind === 'hour' && (value < 0n || value > 23n)) return 'not an hour of 0..23: used as it is';
  if (kind === 'celsius' && (value < 25000n || value > 50000n)) {
    return 'a battery target outside 25..50 °C makes no sense';
  }
  if (kind === 'integer' && value <= 0n) return 'a power of 0 or less stops charging';
  return '';
}

// The form's values as the file's entries, and a message for each field.
function readForm() {
  const entries = [];
  const messages = {};
  let valid = true;
  for (const [key, name, kind] of ENTRIES) {
    if (kind === 'switch') {
      entries.push([key, form.elements[name].checked ? '1' : '0']);
      continue;
    }
    const text = form.elements[name].value;
    const parsed = kind === 'word' ? parseWord(text) :
        kind === 'celsius' ? parseCelsius(text.trim()) : parseInteger(text.trim());
    if (parsed.error) {
      valid = false;
      messages[name] = {text: parsed.error, level: 'error'};
      continue;
    }
    entries.push([key, String(parsed.value)]);
    const warning = kind === 'word' ? '' : warningFor(kind, parsed.value);
    if (warning) messages[name] = {text: warning, level: 'warning'};
    if (name === 'power' && !warning) {
      const mA = (parsed.value * BigInt(UA_PER_POWER_AT_FULL_DRIVE)) / 1000n;
      messages[name] = {text: `up to ${mA} mA`, level: 'info'};
    }
  }
  return {valid, entries, messages};
}

function showMessages(messages) {
  for (const small of form.querySelectorAll('small[data-for]')) {
    const name = small.dataset.for;
    const message = messages[name];
    small.textContent = message ? message.text : '';
    small.className = message ? message.level : '';
    form.elements[name].classList.toggle('error', message?.level === 'error');
  }
}

// ---- status and settings

async function loadStatus() {
  const {stdout} = await exec(`sh ${quote(`${MODDIR}/status.sh`)}`);
  state = new Map();
  for (const line of stdout.split('\n')) {
    const at = line.indexOf('=');
    if (at > 0) state.set(line.slice(0, at), line.slice(at + 1));
  }
  showStatus();
}

function showStatus() {
  const get = (key) => state.get(key) ?? '';
  const rows = [
    ['velmora', get('running') === 'yes' ?
        `runs since ${get('since')} (pid ${get('pid')})` :
        `not running${get('last_report') ? `: ${get('last_report')}` : ''}`],
    ['Battery', `${get('status')}, ${get('battery_C')} °C`],
    ['Board', `${get('board_C')} °C`],
    ['Screen', get('screen')],
    ['Target', get('settings') === 'ok' ? `${get('target_C')} °C (${get('target')})` :
        `none: the settings are damaged (${get('settings')})`],
    ['Limit', `${get('limit_mA')} mA, node mode ${get('limit_mode')}`],
    ['Log', `${get('log')}, ${Math.round(Number(get('log_bytes')) / 1024)} KiB`],
  ];
  $('status').replaceChildren(...rows.flatMap(([term, text]) => {
    const dt = document.createElement('dt');
    const dd = document.createElement('dd');
    dt.textContent = term;
    dd.textContent = text;
    return [dt, dd];
  }));
}

// Fills the form from the status and keeps the notes after the eighth entry.
async function loadSettings() {
  await loadStatus();
  if (state.get('settings') !== 'ok') {
    $('save-result').textContent =
        `The settings file is damaged (${state.get('settings')}): velmora stops at its next cycle. ` +
        'Saving writes all eight entries anew.';
    $('save-result').className = 'failed';
    notes = '\n';
    return;
  }
  for (const [, name, kind] of ENTRIES) {
    if (kind === 'switch') {
      form.elements[name].checked = state.get('log') === 'on';
    } else if (kind === 'celsius') {
      form.elements[name].value = String(Number(state.get(`${name}_mC`)) / 1000);
    } else {
      form.elements[name].value = state.get(name) ?? '';
    }
  }
  const end = Number(state.get('settings_end_byte'));
  const {stdout} = await exec(`tail -c +${end + 1} ${quote(SETTINGS)} | base64`);
  notes = new TextDecoder().decode(fromBase64(stdout)) || '\n';
  showMessages(readForm().messages);
}

// Writes the whole file atomically, then reads it back: true only when what
// is there now is what was meant.
async function saveSettings(entries) {
  const text = entries.map(([key, value]) => `${key}=${value}`).join('\n') + notes;
  const bytes = utf8(text);
  const tmp = `${SETTINGS}.new`;
  const {errno, stderr, stdout} = await exec(
      `printf %s ${quote(toBase64(bytes))} | base64 -d > ${quote(tmp)} && ` +
      `mv -f ${quote(tmp)} ${quote(SETTINGS)} && base64 ${quote(SETTINGS)}`);
  const back = errno === 0 ? fromBase64(stdout) : new Uint8Array();
  const same = back.length === bytes.length && back.every((b, i) => b === bytes[i]);
  return {saved: same, why: errno !== 0 ? stderr.trim() || `error ${errno}` : 'read back differs'};
}

async function onSave(event) {
  event.preventDefault();
  const {valid, entries, messages} = readForm();
  showMessages(messages);
  const result = $('save-result');
  if (!valid) {
    result.textContent = 'Not saved: correct the fields marked.';
    result.className = 'failed';
    return;
  }
  const {saved, why} = await saveSettings(entries);
  result.textContent = saved ?
      'Saved. velmora reads it at its next cycle (within 10 s while charging, 50 s otherwise).' :
      `Not saved: ${why}.`;
  result.className = saved ? '' : 'failed';
  await loadStatus();
}

// ---- the log

// One log line's stamp and readings; null for a line that is not velmora's.
const LINE = new RegExp(
    '^(\\d{4})-(\\d\\d)-(\\d\\d) (\\d\\d):(\\d\\d):(\\d\\d),.*目标温度=(-?\\d+),电池温度(-?\\d+),' +
    '主板温度(-?\\d+),.*目标电流=(-?\\d+)mA,当前电流=(-?\\d+)mA,电量=(-?\\d+)');

function parseLog(text) {
  const rows = [];
  for (const line of text.split('\n')) {
    const m = LINE.exec(line);
    if (!m) continue;
    const n = m.slice(1).map(Number);
    // The phone's local time, shown as written: plotted as if it were UTC.
    const t = Date.UTC(n[0], n[1] - 1, n[2], n[3], n[4], n[5]) / 1000;
    rows.push([t, n[7] / 10, n[8] === 0 ? null : n[8] / 1000, n[6] / 1000, n[9], n[10], n[11]]);
  }
  const last = rows.length ? rows[rows.length - 1][0] : 0;
  const day = rows.filter((row) => row[0] > last - DAY_S);
  return day[0] ? day[0].map((_, column) => day.map((row) => row[column])) : [];
}

let charts = [];

function drawCharts(columns) {
  for (const chart of charts) chart.destroy();
  charts = [];
  const box = $('charts');
  if (columns.length === 0) return;
  const width = Math.max(300, box.clientWidth);
  const utc = (t) => uPlot.tzDate(new Date(t * 1000), 'Etc/UTC');
  const cursor = {sync: {key: 'velmora'}};
  const panel = (title, unit, series, values) => {
    // Fixed axis widths, so the three time axes line up.
    const axes = [{}, {label: unit, size: 60}];
    charts.push(new uPlot({title, width, height: 180, tzDate: utc, cursor, axes,
      series: [{}, ...series]}, [columns[0], ...values], box));
  };
  panel('Temperature', '°C', [
    {label: 'battery', stroke: '#c0392b'},
    {label: 'board', stroke: '#8e44ad'},
    {label: 'target', stroke: '#27ae60', dash: [6, 4]},
  ], [columns[1], columns[2], columns[3]]);
  panel('Current', 'mA', [
    {label: 'limit', stroke: '#2980b9'},
    {label: 'battery', stroke: '#e67e22'},
  ], [columns[4], columns[5]]);
  panel('Charge', '%', [{label: 'level', stroke: '#16a085'}], [columns[6]]);
}

async function loadLog() {
  const started = performance.now();
  const {stdout} = await exec(`tail -n ${LOG_LINES} ${quote(LOG)} 2>/dev/null`);
  const columns = parseLog(stdout);
  drawCharts(columns);
  const points = columns.length ? columns[0].length : 0;
  const box = $('charts');
  box.dataset.points = String(points);
  box.dataset.ms = String(Math.round(performance.now() - started));
  $('log-summary').textContent = points ?
      `${points} cycles from ${new Date(columns[0][0] * 1000).toISOString().slice(0, 16)
          .replace('T', ' ')} on` :
      'No log lines yet: switch the log on, and a line is written every cycle.';
}

async function setLog(on) {
  if (state.get('settings') !== 'ok') {
    $('log-summary').textContent = 'Fix and save the settings first.';
    return;
  }
  const entries = ENTRIES.map(([key, name, kind]) => [key,
    kind === 'switch' ? (on ? '1' : '0') : state.get(kind === 'celsius' ? `${name}_mC` : name)]);
  const {saved, why} = await saveSettings(entries);
  $('log-summary').textContent = saved ? `Log ${on ? 'on' : 'off'} from the next cycle.` :
      `Not changed: ${why}.`;
  await loadSettings();
}

async function clearLog() {
  $('log-confirm').hidden = true;
  await exec(`: > ${quote(LOG)}`);
  await Promise.all([loadLog(), loadStatus()]);
}

// ---- start

function start() {
  if (typeof ksu === 'undefined' || typeof ksu.exec !== 'function') {
    $('no-bridge').hidden = false;
    for (const control of document.querySelectorAll('button, input')) control.disabled = true;
    return;
  }
  form.addEventListener('submit', onSave);
  form.addEventListener('input', () => showMessages(readForm().messages));
  $('refresh').addEventListener('click', loadStatus);
  $('log-on').addEventListener('click', () => setLog(true));
  $('log-off').addEventListener('click', () => setLog(false));
  $('log-reload').addEventListener('click', loadLog);
  $('log-clear').addEventListener('click', () => { $('log-confirm').hidden = false; });
  $('log-clear-no').addEventListener('click', () => { $('log-confirm').hidden = true; });
  $('log-clear-yes').addEventListener('click', clearLog);
  loadSettings().then(loadLog);
}

start();
