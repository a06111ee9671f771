// velmora's settings page in the root manager's WebUI. Every command is
// velmoractl in a root shell through the manager's bridge, which hands a
// result back inside a javascript: URL: percent-decoded and dropped past
// 2 MiB. So every result that may hold user text comes as base64, the log
// comes in slices, and no text a user types reaches the shell but as base64.
// Its texts are in the WebView's language (texts-en.js, texts-zh.js).
'use strict';

// The module directory, written in by scripts/package from velmora's own
// headers; everything else of velmora's rules comes from `velmoractl schema`.
const CTL = '@MODULE_DIR@/velmoractl';
const HOURS = 24;  // the chart's window
const NO_ANSWER_MS = 30000;
const INT32_MIN = -2147483648n;
const INT32_MAX = 2147483647n;
// velmora's rules as `velmoractl schema` gives them: the entries in the order
// velmora reads them, as [key, the form's name, kind] (a temperature's form
// field is in °C, velmoractl's name for it in m°C), and the schema's values.
let ENTRIES = [];
let schema = new Map();

// The first of the WebView's languages the page has: Simplified Chinese for
// any zh, English otherwise. Numbers keep one form in both: °C, mA, 24-hour time.
const CHINESE = /^zh\b/i.test(navigator.languages.find((tag) => /^(zh|en)\b/i.test(tag)) ?? '');
const TEXTS = CHINESE ? TEXTS_ZH : TEXTS_EN;
// A text with its {name}s filled in from `values`.
// velmora's constants ({charging_pause_s}, {night_target_C}) come from the schema.
const t = (key, values = {}) => TEXTS[key].replace(/\{(\w+)\}/g, (_, name) =>
  values[name] ?? constants[name] ?? '…');
const constants = {};
// One of velmoractl's words (screen=off, target=night window) in the page's
// language under `prefix`; a word it does not know, as it is.
const named = (prefix, word) => TEXTS[`${prefix}_${word.replace(/ /g, '_')}`] ?? word;

const $ = (id) => document.getElementById(id);
const form = $('settings');
const logSwitch = $('log-switch');
let settings = new Map();  // velmoractl settings: the file as velmora reads it
let words = {};  // 版本's and 机型's bytes, in whatever encoding they are, kept as they are
let notes = new Uint8Array();  // the bytes after the eighth entry, kept as they are
let saving = false;  // one save at a time from this page: Save and the switch wait
// An entry's value as velmora read it: the temperatures in m°C.
const stored = (name, kind) => settings.get(kind === 'celsius' ? `${name}_mC` : name) ?? '';

// ---- the bridge

let calls = 0;
// ksu.exec(cmd, options, callback name) returns once the command has ended
// and answers later through a global function; a lost answer times out.
function exec(cmd) {
  return new Promise((resolve, reject) => {
    const name = `velmora_exec_${Date.now()}_${calls++}`;
    let timer;
    window[name] = (errno, stdout, stderr) => {
      clearTimeout(timer);
      delete window[name];
      resolve({errno, stdout, stderr});
    };
    try {
      ksu.exec(cmd, '{}', name);
    } catch (error) {
      delete window[name];
      reject(error);
      return;
    }
    timer = setTimeout(() => {
      delete window[name];
      reject(new Error(t('problem_no_answer')));
    }, NO_ANSWER_MS);
  });
}

function toBase64(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  }
  return btoa(binary);
}

const fromBase64 = (text) => Uint8Array.from(atob(text.replace(/\s+/g, '')), (c) => c.charCodeAt(0));
const utf8 = (text) => new TextEncoder().encode(text);
const text = (bytes) => new TextDecoder().decode(bytes);

// velmoractl with arguments that are constants, numbers or base64. Resolves
// to {code, out, err} for an exit status in `accepted`; otherwise rejects with
// velmoractl's own message, or the shell's when velmoractl did not run (127)
// or crashed: only velmoractl's own exit statuses, 0 to 3, come as base64.
async function ctl(args, {base64 = false, accepted = [0]} = {}) {
  const {errno, stdout, stderr} = await exec(`${CTL}${base64 ? ' --base64' : ''} ${args}`);
  const [out, err] = base64 && errno <= 3 ? [text(fromBase64(stdout)), text(fromBase64(stderr))] :
      [stdout, stderr];
  if (!accepted.includes(errno)) {
    throw new Error(err.trim() || out.trim() || t('problem_ended', {command: args.split(' ')[0], code: errno}));
  }
  return {code: errno, out, err: err.trim()};
}

// A word as one argument of the shell, whatever it holds.
const quoted = (word) => `'${word.replaceAll("'", "'\\''")}'`;

const keyValues = (out) => new Map(out.split('\n').filter((line) => line.includes('='))
  .map((line) => [line.slice(0, line.indexOf('=')), line.slice(line.indexOf('=') + 1)]));

function showProblem(error) {
  $('problem').textContent = error.message;
  $('problem').hidden = false;
}

// ---- what is typed: velmora's rules, for instant feedback (velmoractl has the last word)

function parseInteger(input) {
  if (!/^[+-]?\d+$/.test(input)) return {error: t('check_integer')};
  const value = BigInt(input);
  if (value < INT32_MIN || value > INT32_MAX) return {error: t('check_int32')};
  return {value};
}

// °C with up to three decimals, stored in thousandths of a degree.
function parseCelsius(input) {
  const m = /^([+-]?)(\d+)(?:[.,](\d{1,3}))?$/.exec(input);
  if (!m) return {error: t('check_celsius')};
  const milli = BigInt(m[2]) * 1000n + BigInt((m[3] || '').padEnd(3, '0'));
  const value = m[1] === '-' ? -milli : milli;
  if (value < INT32_MIN || value > INT32_MAX) return {error: t('check_range')};
  return {value};
}

// velmora's word ends at ASCII whitespace only: U+00A0 and U+3000 are part of it.
function parseWord(input) {
  if (input === '') return {error: t('check_word_empty')};
  if (/[ \t\n\v\f\r]/.test(input)) return {error: t('check_word_space')};
  const bytes = utf8(input).length;
  const max = Number(schema.get('word_max_bytes'));
  if (bytes > max) return {error: t('check_word_long', {bytes, max})};
  return {value: input};
}

function warningFor(kind, value) {
  if (kind === 'hour' && (value < 0n || value > 23n)) return t('warn_hour');
  if (kind === 'celsius' && (value < 25000n || value > 50000n)) return t('warn_target');
  if (kind === 'integer' && value <= 0n) return t('warn_power');
  return '';
}

const switchValue = () => (logSwitch.getAttribute('aria-checked') === 'true' ? '1' : '0');

// The form's values as the file's entries, and a message for each field.
function readForm() {
  const entries = [];
  const messages = {};
  let valid = true;
  for (const [key, name, kind] of ENTRIES) {
    if (kind === 'switch') {
      entries.push([key, switchValue()]);
      continue;
    }
    const input = form.elements[name].value;
    if (kind === 'word' && words[name]?.length && input === text(words[name])) {
      entries.push([key, words[name]]);  // as read, whatever its encoding
      continue;
    }
    const parsed = kind === 'word' ? parseWord(input) :
        kind === 'celsius' ? parseCelsius(input.trim()) : parseInteger(input.trim());
    if (parsed.error) {
      valid = false;
      messages[name] = {text: parsed.error, level: 'error'};
      continue;
    }
    entries.push([key, String(parsed.value)]);
    const warning = kind === 'word' ? '' : warningFor(kind, parsed.value);
    if (warning) messages[name] = {text: warning, level: 'warning'};
  }
  return {valid, entries, messages};
}

function showMessages(messages) {
  for (const small of document.querySelectorAll('small[data-for]')) {
    const name = small.dataset.for;
    const message = messages[name];
    small.textContent = message ? message.text : '';
    small.className = message ? message.level : '';
    (form.elements[name] ?? logSwitch).classList.toggle('error', message?.level === 'error');
  }
}

// ---- status and settings

async function loadStatus() {
  const status = keyValues((await ctl('status', {base64: true})).out);
  const get = (key) => status.get(key) ?? '';
  const running = get('running') === 'yes';
  const rows = [
    // Since when is not known once the pid file is gone.
    ['velmora', running ? t(get('since') ? 'status_runs' : 'status_runs_pid', {since: get('since'), pid: get('pid')}) :
        get('last_report') ? t('status_not_running_report', {report: get('last_report')}) :
        t('status_not_running'), !running],
    [t('status_battery'), t('status_battery_value', {status: get('status'), battery: get('battery_C')})],
    [t('status_board'), `${get('board_C')} °C`],
    [t('status_screen'), named('status_screen', get('screen'))],
    [t('status_target'), get('settings') === 'ok' ?
        t('status_target_value', {target: get('target_C'), name: named('status_target', get('target'))}) :
        t('status_target_damaged', {verdict: get('settings')}), get('settings') !== 'ok'],
    [t('status_limit'), t('status_limit_value', {limit: get('limit_mA'), mode: get('limit_mode')}) +
        (get('max_current_mA') ? t('status_limit_power', {power: get('power'), max: get('max_current_mA')}) : '')],
    // What the charge node gets when velmora ends; without a record of this boot, nothing.
    [t('status_restore'), ['kernel', 'highest'].includes(get('restore')) ?
        t(`status_restore_${get('restore')}`, {limit: get('restore_mA'), mode: get('restore_mode'),
          shown: get('shown_at_boot')}) : t('status_restore_none'), !['kernel', 'highest'].includes(get('restore'))],
    [t('status_log'), t('status_log_value', {state: named('status_log', get('log')),
      kib: Math.round(Number(get('log_bytes')) / 1024)})],
  ];
  $('status').replaceChildren(...rows.flatMap(([term, value, alert]) => {
    const dt = document.createElement('dt');
    const dd = document.createElement('dd');
    dt.textContent = term;
    dd.textContent = value;
    dd.classList.toggle('alert', Boolean(alert));
    return [dt, dd];
  }));
}

// Fills the form with every entry velmoractl could read and marks the one
// velmora stops at.
async function loadSettings() {
  settings = keyValues((await ctl('settings', {base64: true})).out);
  notes = fromBase64(settings.get('notes_base64') ?? '');
  for (const [, name, kind] of ENTRIES) {
    const value = stored(name, kind);
    if (kind === 'word') {
      words[name] = fromBase64(settings.get(`${name}_base64`) ?? '');
      form.elements[name].value = text(words[name]);
    } else if (kind === 'switch') {
      logSwitch.setAttribute('aria-checked', String(value === '1'));
    } else {
      form.elements[name].value = kind === 'celsius' && value !== '' ? String(Number(value) / 1000) : value;
    }
  }
  const messages = readForm().messages;
  const ok = settings.get('settings') === 'ok';
  $('damaged').hidden = ok;
  if (!ok) {
    const [, name] = ENTRIES[Number(settings.get('settings_entry')) - 1] ?? [];
    $('damaged').textContent = t('damaged', {verdict: settings.get('settings')});
    if (name) messages[name] = {text: t('damaged_here'), level: 'error'};
  }
  showMessages(messages);
  if (tuneResult) showTuneResult(tuneResult);  // Apply, for the file as it is now
}

// The file's entries as loaded (the words as their bytes), but for the
// values in `changed`, by the form's names.
const loadedEntries = (changed) => ENTRIES.map(([key, name, kind]) =>
  [key, changed[name] ?? (kind === 'word' ? words[name] : stored(name, kind))]);

// Saves the whole file over the one loaded, if velmoractl, by velmora's own
// rule, accepts it and the file is still as loaded: {code: 0 saved, 1
// refused, 3 changed since loaded; verdict, warning}, or why it could not.
async function saveFile(entries) {
  const parts = entries.flatMap(([key, value], i) => [utf8(`${i ? '\n' : ''}${key}=`),
    value instanceof Uint8Array ? value : utf8(value)]).concat([notes]);
  const bytes = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  parts.reduce((at, part) => (bytes.set(part, at), at + part.length), 0);
  const token = settings.has('token') ? `--if ${quoted(settings.get('token'))} ` : '';
  // velmoractl not run, or bad input (2): its message stands for the verdict.
  return ctl(`save ${token}${toBase64(bytes)}`, {base64: true, accepted: [0, 1, 3]})
    .then(({code, out, err}) => ({code, verdict: out.trim(), warning: err}),
      (error) => ({code: 2, verdict: error.message, warning: ''}));
}

// Runs a save with Save and the switch disabled, so that a second click or
// tap makes no second save.
async function whileSaving(save) {
  if (saving) return;
  saving = true;
  $('save').disabled = logSwitch.disabled = true;
  try {
    await save();
  } finally {
    saving = false;
    $('save').disabled = logSwitch.disabled = false;
  }
}

const onSave = (event) => (event.preventDefault(), whileSaving(async () => {
  const {valid, entries, messages} = readForm();
  showMessages(messages);
  const result = $('save-result');
  result.className = 'failed';
  if (!valid) {
    result.textContent = t('save_invalid');
    return;
  }
  result.textContent = t('save_saving');
  const {code, verdict, warning} = await saveFile(entries);
  result.textContent = code === 0 ? t('save_saved') + (warning && ` ${t('save_warning', {warning})}`) :
      code === 3 ? t('save_stale') : t('save_refused', {verdict});
  result.className = code === 0 && !warning ? '' : 'failed';
  if (code === 0 || code === 3) await loadSettings();
  await loadStatus();
}));

// The one control of the log: saves the file as loaded, with the switch turned.
const onLogSwitch = () => whileSaving(async () => {
  const on = switchValue() !== '1';
  logSwitch.setAttribute('aria-checked', String(on));
  if (settings.get('settings') !== 'ok') {
    $('log-summary').textContent = t('log_switch_damaged');
    return;
  }
  const {code, verdict, warning} = await saveFile(loadedEntries({log_switch: switchValue()}));
  if (code !== 0) logSwitch.setAttribute('aria-checked', String(!on));  // the file is as it was
  $('log-summary').textContent = code === 0 ?
      t(on ? 'log_switched_on' : 'log_switched_off') + (warning && ` ${t('save_warning', {warning})}`) :
      code === 3 ? t('log_switch_stale') : t('log_switch_refused', {verdict});
  await loadSettings();
  await loadStatus();
});

// ---- the log

// The window's rows, read in slices from the newest back, each slice far
// below the bridge's limit: {header, slices, the last end line's fields, the
// lines skipped in all slices, whether the reading stopped unfinished}. A
// whole slice (velmoractl's bound, 8 MiB) without a velmora row ends the
// reading: the rest of such a log is not worth the minutes it would take.
async function readSeries() {
  let slices = [];
  let skipped = 0;
  let args = `series ${HOURS}`;
  for (;;) {
    const lines = (await ctl(args)).out.trim().split('\n');
    const end = keyValues(lines.pop().replace(/^end /, '').replace(/ /g, '\n'));
    slices = [lines, ...slices];
    skipped += Number(end.get('skipped') ?? 0);
    const more = Number(end.get('more') ?? 0);
    if (more === 0 || lines.length === 1) return {header: lines[0], slices, end, skipped, unread: more !== 0};
    // The next slice goes on from the window's start and the oldest stamp so
    // far, so that its time never steps back past this one's.
    const until = end.get('until') === 'none' ? '' : ` --until ${Number(end.get('until'))}`;
    args = `series ${HOURS} --since ${Number(end.get('since'))}${until} --before ${more}`;
  }
}

function seriesColumns({header, slices}) {
  const names = header.split(',');
  const columns = names.map(() => []);
  for (const lines of slices) {
    for (let i = 1; i < lines.length; ++i) {
      const row = lines[i].split(',');
      for (let c = 0; c < names.length; ++c) columns[c].push(Number(row[c]));
    }
  }
  return Object.fromEntries(names.map((name, c) => [name, columns[c]]));
}

let charts = [];
let drawn = {};  // the columns of the charts shown

function drawCharts(by) {
  for (const chart of charts) chart.destroy();
  charts = [];
  drawn = by;
  const box = $('charts');
  if (!by.t?.length) return;
  const style = getComputedStyle(document.body);
  const ink = style.color;
  const grid = style.getPropertyValue('--line').trim();
  const utc = (s) => uPlot.tzDate(new Date(s * 1000), 'Etc/UTC');
  const cursor = {sync: {key: 'velmora'}};
  const axis = (label) => ({stroke: ink, grid: {stroke: grid}, ticks: {stroke: grid}, label, size: 56});
  // The time in 24 hours under each tick, and the date under the first and
  // where a day begins: uPlot's rows of [the smallest step in s, the label,
  // the labels at a new year, month, day, hour, minute, second, 1 = appended].
  const hours = (time) => [time, '\n{YYYY}-{MM}-{DD}', null, '\n{MM}-{DD}', null, null, null, 1];
  const timeAxis = {...axis(), values: [[60, ...hours('{HH}:{mm}')], [1, ...hours('{HH}:{mm}:{ss}')]]};
  const time = {label: t('chart_time'), value: '{YYYY}-{MM}-{DD} {HH}:{mm}:{ss}'};
  const panel = (title, unit, series) => {
    // Fixed axis widths, so the three time axes line up.
    charts.push(new uPlot({title: t(title), width: box.clientWidth, height: 180, tzDate: utc, cursor,
      axes: [timeAxis, axis(unit)], series: [time, ...series.map(([label, stroke, , dash]) =>
        ({label: t(label), stroke, dash}))]}, [by.t, ...series.map(([, , values]) => values)], box));
  };
  const scaled = (values, per) => values.map((v) => v / per);
  panel('chart_temperature', '°C', [
    ['chart_battery', '#e4572e', scaled(by.battery_dC, 10)],
    ['chart_board', '#a05cd6', by.board_mC.map((v) => (v === 0 ? null : v / 1000))],
    ['chart_target', '#2e9e5b', scaled(by.target_mC, 1000), [6, 4]],
  ]);
  panel('chart_current', 'mA', [
    ['chart_limit', '#3a86d4', by.limit_mA],
    ['chart_battery', '#e8912d', by.current_mA],
  ]);
  panel('chart_charge', '%', [['chart_level', '#1c9e8f', by.level_pct]]);
}

async function loadLog() {
  const started = performance.now();
  const series = await readSeries();
  const by = seriesColumns(series);
  drawCharts(by);
  const box = $('charts');
  const points = by.t.length;
  box.dataset.points = String(points);
  box.dataset.ms = String(Math.round(performance.now() - started));
  const log = series.end.get('log');
  const {skipped, unread} = series;
  $('log-summary').textContent = ((log === 'missing' ? t('log_missing') :
      log === 'other' ? t('log_other') :
      points ? t('log_cycles', {points, from: new Date(by.t[0] * 1000).toISOString().slice(0, 16).replace('T', ' ')}) :
      unread ? '' : t('log_empty')) +
      (unread ? t('log_unread') : '') + (skipped ? t('log_skipped', {skipped}) : '')).trim();
}

async function clearLog() {
  $('log-confirm').hidden = true;
  await ctl('clear-log');
  await loadLog();
  await loadStatus();
}

// ---- tune: velmora-sim tune, started detached by velmoractl and polled

const TUNE_POLL_MS = 1000;
const TUNE_STAGES = {starting: 0, reading: 1, fitting: 2, checking: 3};  // then sweeping N of 12: 3 + N
let tuneResult = null;  // the last tune.json
let tunePolling = false;

// What the log's last two days hold, and whether a tune can use them.
async function loadTuneLog() {
  const {code, out} = await ctl('tune summary', {base64: true, accepted: [0, 1]});
  const summary = keyValues(out.trim().replace(/ /g, '\n'));
  $('tune-log').textContent = code !== 0 ? t('tune_no_program') : summary.get('log') !== 'yes' ? t('tune_log_missing') :
      t('tune_log', {days: summary.get('days'), charges: summary.get('charges'),
        minutes: summary.get('charging_minutes')}) +
      t(summary.get('enough') === 'yes' ? 'tune_log_enough' : 'tune_log_short');
}

const fixed1 = (value) => (value === null || value === undefined ? '–' : Number(value).toFixed(1));

// Time to 80 % against the peak, a point per setting: today's ringed, the
// recommendation filled.
function drawTunePlot(rows) {
  const svg = $('tune-plot');
  const ns = svg.namespaceURI;  // the page names no host, not even SVG's namespace
  const make = (name, attributes, content) => {
    const element = document.createElementNS(ns, name);
    for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
    if (content !== undefined) element.textContent = content;
    return element;
  };
  const reached = rows.filter((row) => row.minutes_to_80 !== null);
  const xs = reached.map((row) => row.minutes_to_80);
  const ys = reached.map((row) => row.peak_C);
  const [x0, x1, y0, y1] = [Math.min(...xs), Math.max(...xs), Math.min(...ys), Math.max(...ys)];
  const [left, right, top, bottom] = [44, 350, 12, 172];
  const x = (v) => left + (x1 > x0 ? (v - x0) / (x1 - x0) : 0.5) * (right - left);
  const y = (v) => bottom - (y1 > y0 ? (v - y0) / (y1 - y0) : 0.5) * (bottom - top);
  const parts = [
    make('line', {x1: left, y1: bottom, x2: right, y2: bottom}),
    make('line', {x1: left, y1: top, x2: left, y2: bottom}),
    make('text', {x: (left + right) / 2, y: 212, 'text-anchor': 'middle'}, t('tune_plot_x')),
    make('text', {x: 12, y: (top + bottom) / 2, transform: `rotate(-90 12 ${(top + bottom) / 2})`,
      'text-anchor': 'middle'}, t('tune_plot_y')),
    make('text', {x: left, y: 190, 'text-anchor': 'start'}, fixed1(x0)),
    make('text', {x: right, y: 190, 'text-anchor': 'end'}, fixed1(x1)),
    make('text', {x: left - 4, y: bottom, 'text-anchor': 'end'}, fixed1(y0)),
    make('text', {x: left - 4, y: top + 8, 'text-anchor': 'end'}, fixed1(y1)),
  ];
  for (const row of reached) {
    const point = make('circle', {cx: x(row.minutes_to_80), cy: y(row.peak_C), r: row.today ? 10 : 6,
      class: row.recommended ? 'recommended' : row.today ? 'today' : ''});
    point.append(make('title', {}, `${row.off_temp_mC / 1000} °C / ${row.power}`));
    parts.push(point);
  }
  svg.setAttribute('aria-label', `${t('tune_plot_x')} / ${t('tune_plot_y')}`);
  svg.replaceChildren(...parts);
}

function showTuneResult(result) {
  tuneResult = result;
  $('tune-result').hidden = !result;
  if (!result) return;
  const log = result.log ?? {};
  $('tune-when').textContent = t('tune_when', {when: result.when.replace('T', ' ').replace('Z', ''),
    first: log.first ?? '–', last: log.last ?? '–'});
  // The verdict in the page's words; a twin not trusted, in velmora-sim's.
  const verdict = result.verdict?.marks?.length ? result.verdict : null;
  const last = verdict?.marks.at(-1);
  $('tune-verdict').textContent = !verdict ? '' : verdict.trusted ?
      t('tune_trusted', {twin: fixed1(last.twin_min), log: fixed1(last.log_min),
        twin_peak: fixed1(verdict.twin_peak_C), log_peak: fixed1(verdict.log_peak_C)}) :
      t('tune_not_trusted', {text: verdict.text});
  const rows = result.table ?? [];
  $('tune-plot').hidden = rows.length === 0;
  if (rows.length) drawTunePlot(rows);
  $('tune-table').hidden = rows.length === 0;
  $('tune-table').tBodies[0].replaceChildren(...rows.map((row) => {
    const tr = document.createElement('tr');
    tr.className = row.recommended ? 'recommended' : '';
    const marks = [row.today && t('tune_today'), row.recommended && t('tune_recommended')].filter(Boolean);
    for (const cell of [fixed1(row.off_temp_mC / 1000), String(row.power), fixed1(row.minutes_to_80),
      fixed1(row.peak_C), marks.join(', ')]) {
      const td = document.createElement('td');
      td.textContent = cell;
      tr.append(td);
    }
    return tr;
  }));
  const best = result.recommendation;
  const now = result.now;
  const same = best && now && best.off_temp_mC === now.off_temp_mC && best.power === now.power;
  const reason = `tune_reason_${(result.reason ?? '').replace(/-/g, '_')}`;
  $('tune-recommend').textContent = !best ? (TEXTS[reason] ? t(reason) : '') : same ? t('tune_same') :
      t('tune_recommend', {off: fixed1(best.off_temp_mC / 1000), power: best.power,
        minutes: fixed1(best.minutes_to_80), peak: fixed1(best.peak_C),
        now_minutes: fixed1(now.minutes_to_80), now_peak: fixed1(now.peak_C)});
  // Applied already: 配置 holds the recommendation.
  const applied = best && stored('power', 'integer') === String(best.power) &&
      stored('off_temp', 'celsius') === String(best.off_temp_mC);
  $('tune-apply').hidden = !best || same || applied;
}

// One look at the tune: its stage while it runs, its result once it has one.
async function pollTune() {
  const status = keyValues((await ctl('tune status', {base64: true})).out);
  const running = status.get('running') === 'yes';
  const stage = status.get('stage') ?? '';
  $('tune-start').disabled = running || status.get('program') !== 'yes';
  $('tune-cancel').hidden = !running;
  $('tune-running').hidden = !running;
  if (status.get('program') !== 'yes') $('tune-log').textContent = t('tune_no_program');
  if (running) {
    const [word, n, of] = stage.split(' ');
    $('tune-progress').hidden = false;
    $('tune-progress').value = word === 'sweeping' ? 3 + Number(n) : TUNE_STAGES[word] ?? 0;
    $('tune-progress').max = 3 + Number(of || 12);
    $('tune-stage').textContent = word === 'sweeping' ? t('tune_stage_sweeping', {n, of}) :
        t(`tune_stage_${TUNE_STAGES[word] === undefined ? 'starting' : word}`);
  }
  const json = text(fromBase64(status.get('result_base64') ?? ''));
  showTuneResult(json ? JSON.parse(json) : null);
  return {running, stage};
}

// Polls while a tune runs; a tune that ends without a result says so.
async function followTune() {
  if (tunePolling) return;
  tunePolling = true;
  try {
    for (let state = await pollTune(); state.running; state = await pollTune()) {
      await new Promise((resolve) => setTimeout(resolve, TUNE_POLL_MS));
    }
  } finally {
    tunePolling = false;
  }
}

async function startTune() {
  $('tune-start').disabled = true;
  $('tune-applied').textContent = '';
  try {
    await ctl('tune start');
  } finally {
    await followTune();
  }
  const stage = keyValues((await ctl('tune status', {base64: true})).out).get('stage');
  if (stage !== 'done') {
    $('tune-stage').textContent = t(stage === 'failed' ? 'tune_failed' : 'tune_ended');
    $('tune-running').hidden = false;
    $('tune-progress').hidden = true;
  }
}

async function cancelTune() {
  await ctl('tune cancel', {accepted: [0, 1]});
  await followTune();
}

// Saves the recommended screen-off target and power through the form's own
// save, over the file as loaded: every other entry as read, the notes kept.
const applyTune = () => whileSaving(async () => {
  const best = tuneResult?.recommendation;
  if (!best) return;
  await loadSettings();
  const applied = $('tune-applied');
  applied.className = 'failed';
  if (settings.get('settings') !== 'ok') {
    applied.textContent = t('tune_apply_damaged');
    return;
  }
  const {code, verdict, warning} =
      await saveFile(loadedEntries({power: String(best.power), off_temp: String(best.off_temp_mC)}));
  applied.textContent = code === 0 ? t('tune_applied', {off: fixed1(best.off_temp_mC / 1000), power: best.power}) +
      (warning && ` ${t('save_warning', {warning})}`) :
      code === 3 ? t('tune_apply_stale') : t('tune_apply_refused', {verdict});
  applied.className = code === 0 && !warning ? '' : 'failed';
  await loadSettings();
  await loadStatus();
});

// ---- start

const showTexts = () => {
  for (const element of document.querySelectorAll('[data-text]')) element.textContent = t(element.dataset.text);
};

// velmora's rules from velmoractl, before anything is read or checked.
async function loadSchema() {
  schema = keyValues((await ctl('schema')).out);
  ENTRIES = schema.get('entries').split(',').map((entry) => entry.split(':'))
    .map(([key, name, kind]) => [key, name.replace(/_mC$/, ''), kind]);
  Object.assign(constants, {
    charging_pause_s: schema.get('charging_pause_s'),
    idle_pause_s: schema.get('idle_pause_s'),
    night_target_C: (Number(schema.get('night_target_mC')) / 1000).toFixed(1),
  });
  showTexts();
}

function start() {
  document.documentElement.lang = CHINESE ? 'zh-CN' : 'en';
  showTexts();
  if (typeof ksu === 'undefined' || typeof ksu.exec !== 'function') {
    $('no-bridge').hidden = false;
    for (const control of document.querySelectorAll('button, input')) control.disabled = true;
    return;
  }
  // Every action reports its failure: velmoractl's message, on top.
  const act = (action) => (event) => action(event).catch(showProblem);
  form.addEventListener('submit', act(onSave));
  form.addEventListener('input', () => showMessages(readForm().messages));
  logSwitch.addEventListener('click', act(onLogSwitch));
  $('refresh').addEventListener('click', act(loadStatus));
  $('log-reload').addEventListener('click', act(loadLog));
  $('log-clear').addEventListener('click', () => { $('log-confirm').hidden = false; });
  $('log-clear-no').addEventListener('click', () => { $('log-confirm').hidden = true; });
  $('log-clear-yes').addEventListener('click', act(clearLog));
  $('tune-start').addEventListener('click', act(startTune));
  $('tune-cancel').addEventListener('click', act(cancelTune));
  $('tune-apply').addEventListener('click', act(applyTune));
  act(async () => {
    await loadSchema();
    const loads = [loadSettings, loadStatus, loadLog, loadTuneLog, followTune];
    await Promise.all(loads.map((load) => load().catch(showProblem)));
  })();
  // The charts' ink follows the page's colours: drawn anew when light or dark changes.
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => drawCharts(drawn));
}

start();
