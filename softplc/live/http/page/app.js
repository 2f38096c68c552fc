// The web view: the variable table with live values, writing and forcing, a trend of the ticked
// variables, the cycle statistics, the errors and the forces. Plain script, no build step; the
// chart is drawn by dygraphs (lib/).
'use strict';

const TABLE_RATE = 5;        // table updates per second
const TREND_RATE = 20;       // trend points per second
const TREND_SECONDS = 30;    // the trend's window
const STATUS_EVERY_MS = 1000;

const view = {
  module: null,
  rows: new Map(),           // name -> row
  tableStream: null,
  trendStream: null,
  trendNames: [],
  trendData: [],
  chart: null,
  drawPending: false,
  statusTimer: null,
  ended: false,
};

const $ = (id) => document.getElementById(id);

// ---- the API ----

async function api(method, path, body) {
  const headers = {};
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  const token = $('token').value;
  if (token) headers['Authorization'] = 'Bearer ' + token;
  const response = await fetch(path, {
    method,
    headers,
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  const answer = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(answer.error || `HTTP ${response.status}`);
  return answer;
}

function show(text, kind) {
  const message = $('message');
  message.textContent = text;
  message.className = kind;
}

function text(value) {
  if (value === true) return 'TRUE';
  if (value === false) return 'FALSE';
  if (value === null || value === undefined) return '?';
  return String(value);
}

// A value as a trend point: BOOL as 0/1; what is no number (TIME, nan) leaves a gap.
function point(value) {
  if (typeof value === 'boolean') return value ? 1 : 0;
  return typeof value === 'number' ? value : null;
}

function seconds(ns) {
  return ns / 1e6 >= 1 ? `${(ns / 1e6).toFixed(3)} ms` : `${(ns / 1e3).toFixed(1)} µs`;
}

// ---- the table ----

const ROW = '<td><input type="checkbox" class="pick" title="draw in the trend"></td>' +
  '<td class="name"></td><td class="type"></td><td class="direction"></td><td class="value"></td>' +
  '<td><input class="entry" autocomplete="off"></td>' +
  '<td class="actions"><button class="set">set</button> <button class="force">force</button> ' +
  '<button class="release">release</button></td>';

function buildTable(variables) {
  const body = document.querySelector('#variables tbody');
  const picked = new Set(view.trendNames);
  const fragment = document.createDocumentFragment();
  view.rows = new Map();
  for (const variable of variables) {
    const tr = document.createElement('tr');
    tr.innerHTML = ROW;
    tr.dataset.name = variable.name;
    const row = {
      variable,
      tr,
      value: tr.querySelector('.value'),
      entry: tr.querySelector('.entry'),
      release: tr.querySelector('.release'),
      pick: tr.querySelector('.pick'),
      shown: undefined,
    };
    tr.querySelector('.name').textContent = variable.name;
    tr.querySelector('.type').textContent = variable.type;
    tr.querySelector('.direction').textContent = variable.direction;
    // Only what the program reads into can be written once; anything can be forced.
    tr.querySelector('.set').hidden = variable.direction !== 'input';
    row.entry.placeholder = { BOOL: 'TRUE/FALSE', TIME: 'T#1s' }[variable.type] || 'number';
    row.pick.disabled = variable.type === 'TIME';
    row.pick.checked = picked.has(variable.name);
    row.release.hidden = true;
    update(row, variable.value, variable.forced);
    view.rows.set(variable.name, row);
    fragment.appendChild(tr);
  }
  body.replaceChildren(fragment);
  filter();
}

function update(row, value, forced) {
  if (row.shown !== value) {
    row.shown = value;
    row.value.textContent = text(value);
  }
  if (row.tr.classList.contains('forced') !== forced) {
    row.tr.classList.toggle('forced', forced);
    row.release.hidden = !forced;
  }
}

function filter() {
  const wanted = $('filter').value.trim().toLowerCase();
  let shown = 0;
  for (const [name, row] of view.rows) {
    row.tr.hidden = wanted !== '' && !name.toLowerCase().includes(wanted);
    if (!row.tr.hidden) shown += 1;
  }
  $('count').textContent = `${shown} of ${view.rows.size} shown`;
}

async function act(row, action) {
  const name = row.variable.name;
  const path = (action === 'set' ? '/api/variables/' : '/api/forces/') + encodeURIComponent(name);
  const entry = row.entry.value.trim();
  if (action !== 'release' && entry === '') {
    show(`${name}: type a value first`, 'error');
    return;
  }
  try {
    // The value goes as text: the server reads it as the command line's --set does.
    const after = action === 'release' ? await api('DELETE', path) : await api('PUT', path, { value: entry });
    update(row, after.value, after.forced);
    show(action === 'release' ? `${name} released` :
      `${name} ${action === 'set' ? 'written' : 'forced'}: ${text(after.value)}`, 'ok');
  } catch (failure) {
    show(`${name}: ${failure.message}`, 'error');
  }
}

function onTableClick(event) {
  const button = event.target.closest('button');
  const tr = event.target.closest('tr');
  if (!tr || !view.rows.has(tr.dataset.name)) return;
  const row = view.rows.get(tr.dataset.name);
  if (button) act(row, button.className);
  else if (event.target.classList.contains('pick')) pickTrend();
}

function onTableKey(event) {
  if (event.key !== 'Enter' || !event.target.classList.contains('entry')) return;
  const row = view.rows.get(event.target.closest('tr').dataset.name);
  act(row, row.variable.direction === 'input' ? 'set' : 'force');
}

// ---- the streams ----

function openStream(query, onUpdate) {
  const stream = new EventSource('/api/stream?' + query);
  stream.onopen = () => setConnection('live');
  stream.onerror = () => { if (!view.ended) setConnection('lost'); };
  stream.onmessage = (event) => onUpdate(JSON.parse(event.data));
  stream.addEventListener('end', () => runEnded());
  return stream;
}

function openTableStream() {
  if (view.tableStream) view.tableStream.close();
  const query = $('all').checked ? 'all=1' : '';
  view.tableStream = openStream(`${query}&rate=${TABLE_RATE}`, (update) => {
    const forced = new Set(update.forced);
    for (const [name, value] of Object.entries(update.values)) {
      const row = view.rows.get(name);
      if (row) updateLater(row, value, forced.has(name));
    }
    $('run').textContent = `cycle ${update.cycles}, t = ${update.time.toFixed(2)} s`;
  });
}

// Table updates wait for the next frame, so a hidden tab costs nothing.
let pendingRows = new Map();
function updateLater(row, value, forced) {
  if (pendingRows.size === 0) {
    window.requestAnimationFrame(() => {
      const rows = pendingRows;
      pendingRows = new Map();
      for (const [r, [v, f]] of rows) update(r, v, f);
    });
  }
  pendingRows.set(row, [value, forced]);
}

function setConnection(state) {
  const element = $('connection');
  element.textContent = { live: 'live', lost: 'connection lost', ended: 'run ended' }[state] || state;
  element.className = 'state ' + state;
}

function runEnded() {
  view.ended = true;
  setConnection('ended');
  for (const stream of [view.tableStream, view.trendStream]) if (stream) stream.close();
  clearInterval(view.statusTimer);
}

// ---- the trend ----

function pickTrend() {
  view.trendNames = [...view.rows.values()].filter((row) => row.pick.checked).map((row) => row.variable.name);
  restartTrend();
}

function restartTrend() {
  if (view.trendStream) view.trendStream.close();
  view.trendStream = null;
  if (view.chart) view.chart.destroy();
  view.chart = null;
  view.trendData = [];
  $('trend-hint').hidden = view.trendNames.length !== 0;
  if (view.trendNames.length === 0 || view.ended) return;
  const names = view.trendNames;
  const query = 'vars=' + names.map(encodeURIComponent).join(',') + `&rate=${TREND_RATE}`;
  view.trendStream = openStream(query, (update) => {
    view.trendData.push([update.time, ...names.map((name) => point(update.values[name]))]);
    const oldest = update.time - TREND_SECONDS;
    while (view.trendData.length > 1 && view.trendData[0][0] < oldest) view.trendData.shift();
    drawTrend(names);
  });
}

function drawTrend(names) {
  if (view.drawPending) return;
  view.drawPending = true;
  window.requestAnimationFrame(() => {
    view.drawPending = false;
    if (view.trendData.length === 0) return;
    if (view.chart) {
      view.chart.updateOptions({ file: view.trendData });
      return;
    }
    const series = {};
    for (const name of names) {
      const row = view.rows.get(name);
      if (row && row.variable.type === 'BOOL') series[name] = { stepPlot: true };
    }
    view.chart = new Dygraph($('trend'), view.trendData, {
      labels: ['t', ...names],
      series,
      xlabel: 'time (s)',
      legend: 'always',
      labelsDiv: $('trend-legend'),
      labelsSeparateLines: false,
      connectSeparatedPoints: false,
      animatedZooms: false,
    });
  });
}

// ---- status ----

function fact(rows, name, value) {
  rows.push(`<tr><td>${name}</td><td>${value}</td></tr>`);
}

function escape(text) {
  return String(text).replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' }[c]));
}

async function refreshStatus() {
  let status;
  try {
    status = await api('GET', '/api/status');
  } catch (failure) {
    return;
  }
  const s = status.statistics;
  const rows = [];
  fact(rows, 'cycles', status.cycles);
  fact(rows, 'time', `${status.time.toFixed(2)} s`);
  fact(rows, 'clock', `${escape(view.module.clock)}, period ${escape(view.module.period)}`);
  fact(rows, 'execution', `mean ${seconds(s.execution.meanNs)}, p99 ${seconds(s.execution.p99Ns)}, max ${seconds(s.execution.maxNs)}`);
  if (s.jitter) {
    fact(rows, 'jitter', `mean ${seconds(s.jitter.meanNs)}, p99 ${seconds(s.jitter.p99Ns)}, p99.9 ${seconds(s.jitter.p999Ns)}, max ${seconds(s.jitter.maxNs)}`);
  }
  fact(rows, 'mean period', seconds(s.meanPeriodNs));
  fact(rows, 'overruns', s.overruns);
  fact(rows, 'skipped', s.skipped);
  document.querySelector('#status tbody').innerHTML = rows.join('');
  list($('errors'), status.errors.map((e) =>
    `error ${e.code} (${escape(e.meaning)}) in ${e.cycles} cycle${e.cycles === 1 ? '' : 's'}, first in cycle ${e.firstCycle} at t = ${e.firstTime} s`));
  list($('forces'), status.forces.map((f) => `${escape(f.name)} = ${escape(text(f.value))}`));
  if (!status.running) runEnded();
}

function list(element, items) {
  element.innerHTML = items.length ? items.map((item) => `<li>${item}</li>`).join('') : '<li class="none">none</li>';
}

// ---- start ----

async function loadVariables() {
  buildTable(await api('GET', '/api/variables' + ($('all').checked ? '?all=1' : '')));
  openTableStream();
}

async function start() {
  const body = document.querySelector('#variables tbody');
  body.addEventListener('click', onTableClick);
  body.addEventListener('keydown', onTableKey);
  $('filter').addEventListener('input', filter);
  $('all').addEventListener('change', () => loadVariables().catch((failure) => show(failure.message, 'error')));
  try {
    view.module = await api('GET', '/api/module');
    document.title = `softplc: ${view.module.name}`;
    $('module').textContent = `${view.module.name} (${view.module.codeVersion})`;
    $('token-box').hidden = !view.module.access.tokenRequired;
    if (view.module.access.readOnly) document.body.classList.add('read-only');
    await loadVariables();
    // Draw the first few numeric outputs until the user picks others.
    view.trendNames = [...view.rows.values()]
      .filter((row) => row.variable.direction === 'output' && ['INT', 'UINT', 'REAL'].includes(row.variable.type))
      .slice(0, 3)
      .map((row) => row.variable.name);
    for (const name of view.trendNames) view.rows.get(name).pick.checked = true;
    restartTrend();
    refreshStatus();
    view.statusTimer = setInterval(refreshStatus, STATUS_EVERY_MS);
  } catch (failure) {
    show(failure.message, 'error');
  }
}

start();
