// The program view: the listing of one block, highlighted, with the live value of each variable
// beside its name in the instance chosen. A value opens an editor that writes or forces it as the
// table does; a block's instance in the code leads to that block. While a debugger holds the
// cycle, the held statement is marked. Uses app.js's api(), act(), text() and view.
'use strict';

const PROGRAM_RATE = 5;   // value updates per second

const program = {
  listing: null,           // GET /api/listing
  note: '',                // why there is no listing
  tokens: [],              // per line of the listing
  variables: new Map(),    // lower-case name -> variable (every name of the symbol file)
  instances: new Map(),    // lower-case instance name -> {block, name}
  unit: null,              // the block shown
  instance: null,          // the instance whose values it shows ('' the program's); null: none
  chosen: new Map(),       // block name -> the instance last shown
  badges: new Map(),       // variable name -> its value elements
  values: new Map(),       // variable name -> {value, forced}, as last seen
  stream: null,
  pending: new Map(),      // values waiting for the next frame
  editing: null,           // the variable in the editor
};

// ---- values as the code shows them ----

// REAL with six significant digits (the whole value in the tooltip), written as a REAL literal.
function realText(value) {
  if (typeof value !== 'number') return String(value);   // "nan", "inf", "-inf"
  if (value === 0) return '0.0';
  const [mantissa, exponent] = value.toPrecision(6).split('e');
  let digits = mantissa.includes('.') ? mantissa.replace(/0+$/, '').replace(/\.$/, '.0') : `${mantissa}.0`;
  if (exponent) digits += `E${Number(exponent)}`;
  return digits;
}

const TIME_UNITS = [['d', 86400000000000n], ['h', 3600000000000n], ['m', 60000000000n], ['s', 1000000000n],
  ['ms', 1000000n], ['us', 1000n], ['ns', 1n]];

// A TIME literal ("T#7s619ms999us297ns", as the API gives it) to the millisecond from a second up,
// to the microsecond from a millisecond up (the whole value in the tooltip): "T#7s620ms".
function timeText(literal) {
  const found = /^T#(-?)((?:\d+(?:ms|us|ns|d|h|m|s))+)$/.exec(literal);
  if (!found) return literal;
  let ns = 0n;
  for (const [, count, unit] of found[2].matchAll(/(\d+)(ms|us|ns|d|h|m|s)/g)) {
    ns += BigInt(count) * TIME_UNITS.find(([name]) => name === unit)[1];
  }
  const step = ns >= 1000000000n ? 1000000n : ns >= 1000000n ? 1000n : 1n;
  ns = (ns + step / 2n) / step * step;
  let text = '';
  for (const [name, size] of TIME_UNITS) {
    if (ns >= size) {
      text += `${ns / size}${name}`;
      ns %= size;
    }
  }
  return `T#${found[1]}${text || '0s'}`;
}

function inlineText(variable, value) {
  if (value === null || value === undefined) return '?';
  if (variable.type === 'BOOL') return value ? 'TRUE' : 'FALSE';
  if (variable.type === 'REAL') return realText(value);
  if (variable.type === 'TIME') return timeText(String(value));
  return String(value);   // INT, UINT
}

function setBadge(element, variable, value, forced) {
  element.textContent = inlineText(variable, value);
  element.classList.toggle('true', value === true);
  element.classList.toggle('false', value === false);
  element.classList.toggle('forced', forced);
  element.title = `${variable.name} : ${variable.type} (${variable.direction}) = ${text(value)}` +
    (forced ? ', forced' : '') + (document.body.classList.contains('read-only') ? '' : '; click to write or force');
}

// A variable's new value and force, wherever the view shows it.
function programValue(name, value, forced) {
  const entry = program.values.get(name);
  if (entry && entry.value === value && entry.forced === forced) return;
  program.values.set(name, { value, forced });
  const variable = program.variables.get(name.toLowerCase());
  for (const element of program.badges.get(name) || []) setBadge(element, variable, value, forced);
}

// ---- loading ----

async function programLoad() {
  if (program.listing || program.note) return;
  try {
    const [listing, variables] = await Promise.all([api('GET', '/api/listing'), api('GET', '/api/variables?all=1')]);
    program.variables = new Map(variables.map((variable) => [variable.name.toLowerCase(), variable]));
    program.instances = new Map();
    for (const block of listing.blocks) {
      for (const instance of block.instances) program.instances.set(instance.name.toLowerCase(), { block, name: instance.name });
    }
    program.tokens = tokenizeST(listing.text || []);
    program.note = !listing.text ? `the listing's text is not available: ${listing.note}`
      : !listing.blocks.length ? 'the listing has no blocks' : '';
    program.listing = listing;
    const choose = $('unit');
    choose.replaceChildren(...listing.blocks.map((block) => new Option(block.name, block.name)));
  } catch (failure) {
    program.note = failure.message;
  }
}

// Forgets the listing (an online change brought another module).
function programReset() {
  program.listing = null;
  program.note = '';
  program.unit = null;
  program.chosen = new Map();
  program.values = new Map();
  if (program.stream) program.stream.close();
  program.stream = null;
}

// ---- which block, which instance ----

// The block and instance that a name of the location's hash means: an instance ("IntRamp") or a
// block ("Ramp_Int", in the instance last shown).
function programTarget(name) {
  const listing = program.listing;
  const key = (name || '').toLowerCase();
  const instance = key ? program.instances.get(key) : undefined;
  if (instance) return { unit: instance.block, instance: instance.name };
  const unit = listing.blocks.find((block) => block.name.toLowerCase() === key) || program.unit || listing.blocks[0];
  const names = unit.instances.map((each) => each.name);
  const remembered = program.chosen.get(unit.name);
  return { unit, instance: names.includes(remembered) ? remembered : (names.length ? names[0] : null) };
}

function programLink(unit, instance) {
  return '#program/' + encodeURIComponent(instance || unit.name);
}

async function programShow(name) {
  await programLoad();
  if (!program.listing || program.note) {
    $('listing').replaceChildren();
    $('unit-path').textContent = program.note;
    return;
  }
  const { unit, instance } = programTarget(name);
  const same = program.unit === unit && program.instance === instance;
  program.unit = unit;
  program.instance = instance;
  if (instance !== null) program.chosen.set(unit.name, instance);
  $('unit').value = unit.name;
  const choose = $('instance');
  choose.replaceChildren(...unit.instances.map((each) => new Option(each.name || unit.name, each.name)));
  if (!unit.instances.length) choose.append(new Option('no instance', ''));
  choose.value = instance ?? '';
  choose.disabled = unit.instances.length < 2;
  showPath(unit, instance);
  if (!same || !$('listing').hasChildNodes()) renderUnit();
  openProgramStream();
  markHeld(false);
}

// Where the instance sits: the program, then each enclosing instance ("Program_Control > IntRamp").
function showPath(unit, instance) {
  const path = $('unit-path');
  const top = program.listing.blocks.find((block) => block.instances.some((each) => each.name === ''));
  const parts = [];
  if (top && unit !== top) parts.push([top.name, programLink(top, '')]);
  const pieces = instance ? instance.split('.') : [];
  for (let i = 1; i < pieces.length; i++) {
    const outer = pieces.slice(0, i).join('.');
    if (program.instances.has(outer.toLowerCase())) parts.push([outer, '#program/' + encodeURIComponent(outer)]);
  }
  const here = instance ? `${instance} (${unit.name})` : unit.instances.length ? unit.name : `${unit.name} (no instance: no values)`;
  path.replaceChildren();
  for (const [label, href] of parts) {
    const link = document.createElement('a');
    link.href = href;
    link.textContent = label;
    path.append(link, ' › ');
  }
  path.append(here);
}

// ---- the code ----

function piece(kind, content) {
  const element = document.createElement('span');
  element.className = 't-' + kind;
  element.textContent = content;
  return element;
}

function nextSolid(tokens, index) {
  for (let i = index + 1; i < tokens.length; i++) if (tokens[i].kind !== 'space') return tokens[i];
  return null;
}

// A name of the code: a variable (with its value beside it), an instance (a link to its block), a
// block type (a link too), a call of a function, or a formal parameter of a call.
function nameElements(token, next, formal, prefix) {
  if (formal) return [piece('formal', token.text)];
  const key = (prefix ? `${prefix}.${token.text}` : token.text).toLowerCase();
  const variable = prefix !== null ? program.variables.get(key) : undefined;
  if (variable) {
    const badge = document.createElement('span');
    badge.className = 'val';
    badge.dataset.name = variable.name;
    badge.tabIndex = 0;
    if (!program.badges.has(variable.name)) program.badges.set(variable.name, []);
    program.badges.get(variable.name).push(badge);
    const known = program.values.get(variable.name);
    setBadge(badge, variable, known ? known.value : null, known ? known.forced : false);
    return [piece('var', token.text), badge];
  }
  const instance = prefix !== null ? program.instances.get(key) : undefined;
  const block = program.listing.blocks.find((each) => each.name.toLowerCase() === token.text.toLowerCase());
  if (instance || block) {
    const link = document.createElement('a');
    link.className = instance ? 't-instance' : 't-type';
    link.href = instance ? programLink(instance.block, instance.name) : programLink(block, null);
    link.textContent = token.text;
    return [link];
  }
  return [piece(next && next.text === '(' ? 'function' : 'name', token.text)];
}

// The block's lines. In the code a value stands after its name; in the declarations (VAR ...
// END_VAR) at the line's end, so that the columns stay aligned.
function renderUnit() {
  const unit = program.unit;
  const prefix = program.instance;
  program.badges = new Map();
  const fragment = document.createDocumentFragment();
  let depth = 0;   // of parentheses: a name before := or => inside a call is a formal parameter
  let declaring = false;
  for (let n = unit.line; n <= unit.endLine; n++) {
    const tokens = program.tokens[n - 1] || [];
    const line = document.createElement('div');
    line.className = 'line';
    line.dataset.line = n;
    const code = document.createElement('span');
    code.className = 'code';
    const first = tokens.find((token) => token.kind !== 'space');
    const keyword = first && first.kind === 'keyword' ? first.text.toUpperCase() : '';
    if (keyword.startsWith('VAR')) declaring = true;
    const declaration = declaring && !keyword.startsWith('VAR') && keyword !== 'END_VAR';
    if (declaring) line.classList.add('declaration');
    if (keyword === 'END_VAR') declaring = false;
    const atEnd = [];
    tokens.forEach((token, i) => {
      if (token.kind === 'punctuation') {
        if (token.text === '(') depth += 1;
        else if (token.text === ')') depth = Math.max(0, depth - 1);
        else if (token.text === ';') depth = 0;
      }
      if (token.kind === 'space') {
        code.append(token.text);
      } else if (token.kind === 'name') {
        const next = nextSolid(tokens, i);
        const formal = depth > 0 && next !== null && (next.text === ':=' || next.text === '=>');
        const [name, badge] = nameElements(token, next, formal, prefix);
        code.append(name);
        if (badge && declaration) atEnd.push(badge);
        else if (badge) code.append(badge);
      } else {
        code.append(piece(token.kind, token.text));
      }
    });
    if (atEnd.length) code.append(...atEnd);
    line.append(piece('number', String(n)), code);
    fragment.append(line);
  }
  $('listing').replaceChildren(fragment);
}

// ---- live values ----

function openProgramStream() {
  if (program.stream) program.stream.close();
  program.stream = null;
  const names = [...program.badges.keys()];
  if (!names.length || view.ended || view.tab !== 'program') return;
  const query = 'vars=' + names.map(encodeURIComponent).join(',') + `&rate=${PROGRAM_RATE}`;
  program.stream = openStream(query, (update) => {
    const forced = new Set(update.forced);
    if (program.pending.size === 0) {
      window.requestAnimationFrame(() => {
        const values = program.pending;
        program.pending = new Map();
        for (const [name, [value, isForced]] of values) programValue(name, value, isForced);
      });
    }
    for (const [name, value] of Object.entries(update.values)) program.pending.set(name, [value, forced.has(name)]);
    showUpdate(update);
  });
}

function closeProgramStream() {
  if (program.stream) program.stream.close();
  program.stream = null;
  closeEditor();
}

// ---- held by a breakpoint ----

// Marks the held statement when this block and instance hold it; `reveal`: and scrolls to it.
function markHeld(reveal) {
  for (const line of document.querySelectorAll('#listing .line.held')) line.classList.remove('held');
  const held = view.held;
  if (!held || !program.unit || !held.line) return;
  if (held.block !== program.unit.name || (held.instance || '') !== (program.instance || '')) return;
  // A statement's lines, or the line alone (a block's last line, where its exit lands).
  const step = program.listing.steps.find((each) => each.block === program.unit.typeId &&
    held.line >= each.line && held.line <= each.endLine);
  const first = step ? step.line : held.line;
  const last = step ? step.endLine : held.line;
  for (let n = first; n <= last; n++) {
    const line = document.querySelector(`#listing .line[data-line="${n}"]`);
    if (line) line.classList.add('held');
  }
  const shown = document.querySelector('#listing .line.held');
  if (reveal && shown) shown.scrollIntoView({ block: 'center' });
}

// A new stop: the view goes to the held statement.
function programHeld(held) {
  if (view.tab !== 'program' || !held || !held.line || !program.listing) {
    markHeld(false);
    return;
  }
  const target = held.instance || held.block;
  const wanted = '#program/' + encodeURIComponent(target);
  if (location.hash !== wanted) history.replaceState(null, '', wanted);
  programShow(target).then(() => markHeld(true));
}

// ---- writing from the code ----

function openEditor(badge) {
  if (document.body.classList.contains('read-only')) return;
  const variable = program.variables.get(badge.dataset.name.toLowerCase());
  const known = program.values.get(variable.name);
  program.editing = variable;
  $('editor-name').textContent = variable.name;
  $('editor-type').textContent = `${variable.type}, ${variable.direction}`;
  // A BOOL is offered its opposite: a click and Enter toggle it.
  const value = known ? known.value : null;
  $('editor-value').value = variable.type === 'BOOL' && typeof value === 'boolean' ? text(!value) : value === null ? '' : text(value);
  $('editor-set').hidden = variable.direction !== 'input';
  $('editor-release').hidden = !(known && known.forced);
  const editor = $('editor');
  const box = badge.getBoundingClientRect();
  editor.style.left = `${box.left + window.scrollX}px`;
  editor.style.top = `${box.bottom + window.scrollY + 4}px`;
  editor.hidden = false;
  $('editor-value').focus();
  $('editor-value').select();
}

function closeEditor() {
  $('editor').hidden = true;
  program.editing = null;
}

async function editorAct(action) {
  const variable = program.editing;
  if (!variable) return;
  if (action === 'enter') action = variable.direction === 'input' ? 'set' : 'force';
  if (await act(variable.name, action, $('editor-value').value.trim())) closeEditor();
}

function programStart() {
  $('unit').addEventListener('change', () => { location.hash = programLink(programTarget($('unit').value).unit, null); });
  $('instance').addEventListener('change', () => {
    if (program.unit && program.unit.instances.length) location.hash = programLink(program.unit, $('instance').value);
  });
  const listing = $('listing');
  listing.addEventListener('click', (event) => {
    const badge = event.target.closest('.val');
    if (badge) openEditor(badge);
  });
  listing.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' && event.target.classList.contains('val')) openEditor(event.target);
  });
  // Enter in the field submits the form: set what the program reads into, force anything else.
  $('editor').addEventListener('submit', (event) => {
    event.preventDefault();
    editorAct('enter');
  });
  $('editor-set').addEventListener('click', () => editorAct('set'));
  $('editor-force').addEventListener('click', () => editorAct('force'));
  $('editor-release').addEventListener('click', () => editorAct('release'));
  $('editor-close').addEventListener('click', closeEditor);
  $('declarations').addEventListener('change', () => {
    $('listing').classList.toggle('hide-declarations', !$('declarations').checked);
  });
  document.addEventListener('keydown', (event) => { if (event.key === 'Escape') closeEditor(); });
}
