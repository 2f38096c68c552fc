// The web view: the variable table with live values, writing and forcing, the program view
// (program.js), a trend of the ticked variables, the cycle statistics, the errors, the forces and
// where a debugger holds the cycle. Plain script, no build step; the chart is drawn by dygraphs
// (lib/).
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
  tab: 'variables',          // the pane shown: 'variables' or 'program'
  held: null,                // where a debugger holds the cycle, or null
  heldKey: '',
  codeVersion: null,         // of the module that runs: another one means an online change
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

// Writes ('set'), forces or releases a variable, from the table or the program view alike: the
// variable as it is afterwards, or null when it was refused (the message says why).
async function act(name, action, entry) {
  const path = (action === 'set' ? '/api/variables/' : '/api/forces/') + encodeURIComponent(name);
  if (action !== 'release' && entry === '') {
    show(`${name}: type a value first`, 'error');
    return null;
  }
  try {
    // The value goes as text: the server reads it as the command line's --set does.
    const after = action === 'release' ? await api('DELETE', path) : await api('PUT', path, { value: entry });
    const row = view.rows.get(after.name);
    if (row) update(row, after.value, after.forced);
    programValue(after.name, after.value, after.forced);
    show(action === 'release' ? `${name} released` :
      `${name} ${action === 'set' ? 'written' : 'forced'}: ${text(after.value)}`, 'ok');
    return after;
  } catch (failure) {
    show(`${name}: ${failure.message}`, 'error');
    return null;
  }
}

function onTableClick(event) {
  const button = event.target.closest('button');
  const tr = event.target.closest('tr');
  if (!tr || !view.rows.has(tr.dataset.name)) return;
  const row = view.rows.get(tr.dataset.name);
  if (button) act(row.variable.name, button.className, row.entry.value.trim());
  else if (event.target.classList.contains('pick')) pickTrend();
}

function onTableKey(event) {
  if (event.key !== 'Enter' || !event.target.classList.contains('entry')) return;
  const row = view.rows.get(event.target.closest('tr').dataset.name);
  act(row.variable.name, row.variable.direction === 'input' ? 'set' : 'force', row.entry.value.trim());
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

function closeTableStream() {
  if (view.tableStream) view.tableStream.close();
  view.tableStream = null;
}

function openTableStream() {
  closeTableStream();
  if (view.tab !== 'variables' || view.ended) return;
  const query = $('all').checked ? 'all=1' : '';
  view.tableStream = openStream(`${query}&rate=${TABLE_RATE}`, (update) => {
    const forced = new Set(update.forced);
    for (const [name, value] of Object.entries(update.values)) {
      const row = view.rows.get(name);
      if (row) updateLater(row, value, forced.has(name));
    }
    showUpdate(update);
  });
}

// What every update of the table's or the program's stream says of the run.
function showUpdate(update) {
  $('run').textContent = `cycle ${update.cycles}, t = ${update.time.toFixed(2)} s`;
  showHeld(update.held);
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
  if (state === 'live' && view.held) state = 'held';
  const element = $('connection');
  element.textContent = { live: 'live', lost: 'connection lost', ended: 'run ended', held: 'held' }[state] || state;
  element.className = 'state ' + state;
}

function runEnded() {
  view.ended = true;
  setConnection('ended');
  for (const stream of [view.tableStream, view.trendStream, program.stream]) if (stream) stream.close();
  clearInterval(view.statusTimer);
}

// ---- held by a breakpoint ----

function showHeld(held) {
  const key = held ? JSON.stringify(held) : '';
  if (key === view.heldKey) return;
  view.heldKey = key;
  view.held = held || null;
  $('held').hidden = !held;
  if (held) {
    const where = held.line ? `${held.block}${held.instance ? ' ' + held.instance : ''}, line ${held.line}: ${held.statement}`
      : held.event;
    $('held-text').textContent = `Held by the debugger in cycle ${held.cycle}: ${where}`;
    $('held-link').href = '#program/' + encodeURIComponent(held.instance || held.block);
    $('held-link').hidden = !held.line;
  }
  if (!view.ended) setConnection('live');
  programHeld(held);
}

// ---- the panes ----

// The location's hash names the pane: "#program/IntRamp" shows the program view on an instance.
function route() {
  const hash = decodeURIComponent(location.hash.slice(1));
  const tab = hash === 'program' || hash.startsWith('program/') ? 'program' : 'variables';
  if (tab !== view.tab) {
    view.tab = tab;
    $('table-pane').hidden = tab !== 'variables';
    $('program-pane').hidden = tab !== 'program';
    for (const link of document.querySelectorAll('#tabs a')) link.classList.toggle('active', link.dataset.tab === tab);
    // Only the pane shown has a stream of values.
    if (tab === 'variables') {
      closeProgramStream();
      openTableStream();
    } else {
      closeTableStream();
    }
  }
  if (tab === 'program') programShow(hash.slice('program/'.length)).catch((failure) => show(failure.message, 'error'));
}

// ---- the trend ----

// Labels that tell the ticks apart: as many decimals as the step between two ticks needs (two
// decimals, the chart's own, read "100" at every tick of a signal that wobbles around 100 by 0.0001).
function tickLabels(values) {
  let step = Infinity;
  for (let i = 1; i < values.length; i++) {
    const difference = Math.abs(values[i] - values[i - 1]);
    if (difference > 0 && difference < step) step = difference;
  }
  if (!Number.isFinite(step)) return values.map((value) => String(value));
  const largest = Math.max(...values.map(Math.abs));
  // A tick a rounding error off zero is zero (not "-0.00000" or "1.4e-17").
  const rounded = values.map((value) => (Math.abs(value) < step / 1e6 ? 0 : value));
  if (largest >= 1e9 || largest < 1e-4) {
    const significant = Math.min(15, Math.max(1, Math.floor(Math.log10(largest)) - Math.floor(Math.log10(step)) + 1));
    return rounded.map((value) => (value === 0 ? '0' : value.toExponential(significant - 1)));
  }
  const decimals = Math.min(12, Math.max(0, Math.ceil(-Math.log10(step) - 1e-9)));
  return rounded.map((value) => value.toFixed(decimals));
}

function distinctTicks(a, b, pixels, opts, dygraph, vals) {
  const ticks = Dygraph.numericTicks(a, b, pixels, opts, dygraph, vals);
  const labels = tickLabels(ticks.map((tick) => tick.v));
  ticks.forEach((tick, i) => { tick.label = labels[i]; });
  return ticks;
}

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
      // The legend shows a value whole, as the table does.
      axes: { y: { ticker: distinctTicks, valueFormatter: (value) => String(value) } },
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
  showHeld(status.held);
  if (view.codeVersion !== null && status.codeVersion !== view.codeVersion) {
    moduleChanged().catch((failure) => show(failure.message, 'error'));
  }
  view.codeVersion = status.codeVersion;
  if (!status.running) runEnded();
}

// An online change brought another module: its names and its listing.
async function moduleChanged() {
  view.module = await api('GET', '/api/module');
  showModule();
  programReset();
  await loadVariables();
  if (view.tab === 'program') route();
}

function list(element, items) {
  element.innerHTML = items.length ? items.map((item) => `<li>${item}</li>`).join('') : '<li class="none">none</li>';
}

// ---- start ----

async function loadVariables() {
  buildTable(await api('GET', '/api/variables' + ($('all').checked ? '?all=1' : '')));
  openTableStream();
}

function showModule() {
  document.title = `softplc: ${view.module.name}`;
  $('module').textContent = `${view.module.name} (${view.module.codeVersion})`;
}

async function start() {
  const body = document.querySelector('#variables tbody');
  body.addEventListener('click', onTableClick);
  body.addEventListener('keydown', onTableKey);
  $('filter').addEventListener('input', filter);
  $('all').addEventListener('change', () => loadVariables().catch((failure) => show(failure.message, 'error')));
  try {
    view.module = await api('GET', '/api/module');
    showModule();
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
    programStart();
    window.addEventListener('hashchange', route);
    route();
    refreshStatus();
    view.statusTimer = setInterval(refreshStatus, STATUS_EVERY_MS);
  } catch (failure) {
    show(failure.message, 'error');
  }
}

start();
