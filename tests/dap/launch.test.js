// softplc dap through a DAP client: launch, stop on a listing line, breakpoints with conditions,
// hit counts and log messages, data breakpoints, setVariable, stepping, pause, and malformed input.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const {
  BIN, LISTING, SOFTPLC, evaluate, frames, lineBreakpoints, refusal, resume, startAdapter, startSession, variables,
} = require('./support');

// Each session is ended by the test: disconnect ends a launched run, and the adapter exits.
async function withAdapter(body) {
  const dc = startAdapter();
  try {
    await body(dc);
    await dc.disconnectRequest({});
    assert.equal(await Promise.race([dc.exited, new Promise((r) => setTimeout(() => r('running'), 5000))]), 0);
  } finally {
    dc.child.kill();
  }
}

const RAMP = { set: ['IntRampEnable=TRUE'] };
const NEXT_MODULE = path.join(BIN, process.platform === 'win32' ? 'CCodePublic_next.dll' : 'CCodePublic_next.so');

test('launch stops on a listing line with its stack, scopes and typed values', () => withAdapter(async (dc) => {
  const { capabilities, breakpoints, stopped } = await startSession(dc, { args: RAMP, breakpoints: [221, 220] });
  for (const feature of ['supportsConditionalBreakpoints', 'supportsHitConditionalBreakpoints', 'supportsLogPoints',
    'supportsFunctionBreakpoints', 'supportsDataBreakpoints', 'supportsSetVariable', 'supportsReadMemoryRequest']) {
    assert.equal(capabilities[feature], true, feature);
  }
  assert.deepEqual(breakpoints.map((b) => [b.line, b.verified]), [[221, false], [220, true]]);
  assert.match(breakpoints[0].message, /^line 221 is a plain copy: .*nearest lines that do are 220 and 222/);
  assert.equal(breakpoints[1].source.path, LISTING);
  assert.equal(stopped.reason, 'breakpoint');
  assert.deepEqual(stopped.hitBreakpointIds, [breakpoints[1].id]);
  assert.match(stopped.description, /^cycle 0, /);

  assert.deepEqual((await dc.threadsRequest()).body.threads, [{ id: 1, name: 'KX_PI_Program_Control' }]);
  const trace = (await dc.stackTraceRequest({ threadId: 1 })).body.stackFrames;
  assert.deepEqual(trace.map((f) => [f.name, f.line, f.source.path]),
    [['Ramp_Int IntRamp', 220, LISTING], ['Program_Control', 49, LISTING]]);

  const scopes = (await dc.scopesRequest({ frameId: 1 })).body.scopes;
  assert.deepEqual(scopes.map((s) => s.name), ['Ramp_Int IntRamp', 'Inputs', 'Outputs']);
  const fields = await variables(dc, scopes[0].variablesReference);
  assert.deepEqual([fields.Enable, fields.Target, fields.Period, fields.Value].map((v) => v.slice(0, 2)),
    [['TRUE', 'BOOL'], ['100', 'INT'], ['T#1s', 'TIME'], ['0', 'REAL']]);
  assert.ok(fields.Clock[2] > 0, 'the embedded timer opens as a record');
  const clock = await variables(dc, fields.Clock[2]);
  assert.deepEqual([clock.IN[0], clock.PT[0]], ['TRUE', 'T#36500d']);
  const inputs = await variables(dc, scopes[1].variablesReference);
  assert.deepEqual([inputs.IntRampEnable[0], inputs.LagIn[0]], ['TRUE', '102.6']);
  const outputs = await variables(dc, scopes[2].variablesReference);
  assert.equal(outputs.IntRampOut[0], '0');
}));

// Breakpoints at line 220 (in Ramp_Int, before NewValue is chosen): Value grows by about 0.01 a
// cycle from cycle 1 on (the ramp's clock starts at 0 in cycle 0).
const CONDITIONS = [
  { name: 'a condition stops where it first holds', breakpoint: { line: 220, condition: 'Value > 0.05' }, cycle: 7 },
  { name: 'a condition over program variables', breakpoint: { line: 220, condition: 'IntRamp.Value > 0.02 AND NOT LagResetCmd' }, cycle: 4 },
  { name: 'an instance names the one it stops in', breakpoint: { line: 220, condition: 'IntRamp AND Value > 0.03' }, cycle: 5 },
  { name: 'a hit count stops at that hit', breakpoint: { line: 220, hitCondition: '3' }, cycle: 2 },
  { name: 'a hit count and a condition', breakpoint: { line: 220, condition: 'Value > 0.05', hitCondition: '>= 2' }, cycle: 8 },
];

for (const { name, breakpoint, cycle } of CONDITIONS) {
  test(name, () => withAdapter(async (dc) => {
    const { breakpoints, stopped } = await startSession(dc, { args: RAMP, breakpoints: [breakpoint] });
    assert.equal(breakpoints[0].verified, true, breakpoints[0].message);
    assert.match(stopped.description, new RegExp(`^cycle ${cycle}, breakpoint: line 220`));
  }));
}

test('function breakpoints stop at a block type\'s entry; unknown names are refused', () => withAdapter(async (dc) => {
  await startSession(dc, { args: RAMP, wait: false });
  const stopped = dc.waitForEvent('stopped');
  const set = (await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'Ramp_Int' }, { name: 'Ramp_In' }] })).body;
  assert.deepEqual(set.breakpoints.map((b) => b.verified), [true, false]);
  assert.match(set.breakpoints[1].message, /did you mean Ramp_Int\?/);
  assert.equal((await stopped).body.reason, 'function breakpoint');
  assert.deepEqual(await frames(dc), [['Ramp_Int IntRamp', 143], ['Program_Control', 49]]);
}));

test('an online change verifies the breakpoints again against the new module\'s listing', () => withAdapter(async (dc) => {
  const changed = dc.waitForEvent('breakpoint');
  const { breakpoints } = await startSession(dc, {
    args: { ...RAMP, replaceAt: [`2:${NEXT_MODULE}`] },
    breakpoints: [{ line: 220, hitCondition: '4' }],
  });
  const event = (await changed).body;
  assert.deepEqual([event.reason, event.breakpoint.id, event.breakpoint.verified, event.breakpoint.source.name],
    ['changed', breakpoints[0].id, true, 'CCodePublic_next.st']);
}));

test('conditions that cannot be read are refused with the reason', () => withAdapter(async (dc) => {
  const { breakpoints } = await startSession(dc, {
    args: RAMP,
    wait: false,
    breakpoints: [
      { line: 220, condition: 'Value >' },
      { line: 220, condition: 'NoSuchName > 1' },
      { line: 220, condition: 'RealRamp' },
      { line: 220, hitCondition: 'often' },
    ],
  });
  assert.deepEqual(breakpoints.map((b) => b.verified), [false, false, false, false]);
  assert.match(breakpoints[1].message, /NoSuchName/);
  assert.match(breakpoints[2].message, /RealRamp is not an instance of Ramp_Int/);
  assert.match(breakpoints[3].message, /hit condition 'often' is not a count/);
}));

test('a logpoint tells its message and does not stop', () => withAdapter(async (dc) => {
  const logged = [];
  dc.on('output', (e) => { if (e.body.category === 'console' && e.body.line === 220) logged.push(e.body.output); });
  const ended = dc.waitForEvent('terminated');
  const { breakpoints } = await startSession(dc, {
    args: { ...RAMP, cycles: 3 },
    wait: false,
    breakpoints: [{ line: 220, logMessage: 'Value={Value} out={IntRampOut + 1} {Nope}' }],
  });
  assert.equal(breakpoints[0].verified, true);
  await ended;
  assert.equal(logged.length, 3);
  assert.match(logged[0], /^Value=0 out=1 \{Nope: column 1: unknown variable 'Nope'/);
  assert.match(logged[2], /^Value=0\.0099\d+ out=1 /);
}));

test('setVariable changes the program\'s course, and a data breakpoint stops where it shows', () => withAdapter(async (dc) => {
  await startSession(dc, { args: RAMP, breakpoints: [220] });
  const [ramp] = (await dc.scopesRequest({ frameId: 1 })).body.scopes;
  const set = await dc.setVariableRequest({ variablesReference: ramp.variablesReference, name: 'JumpSel', value: '42.25' });
  assert.deepEqual([set.body.value, set.body.type], ['42.25', 'REAL']);
  for (const [name, value, why] of [
    ['JumpSel', 'lots', /JumpSel/],
    ['NoSuchField', '1', /NoSuchField/],
    ['Enable', '2', /Enable/],
  ]) {
    assert.match(await refusal(dc.setVariableRequest({ variablesReference: ramp.variablesReference, name, value })), why);
  }
  await dc.setBreakpointsRequest(lineBreakpoints([]));
  const info = (await dc.dataBreakpointInfoRequest({ name: 'IntRampOut' })).body;
  assert.equal(info.dataId, 'IntRampOut');
  assert.equal((await dc.dataBreakpointInfoRequest({ name: 'Nope' })).body.dataId, null);
  await dc.setDataBreakpointsRequest({ breakpoints: [{ dataId: info.dataId }] });
  const { event, frames: where } = await resume(dc);
  assert.equal(event.reason, 'data breakpoint');
  // Without the write it would be 0 -> 1 in cycle 51.
  assert.match(event.description, /^IntRampOut: 0 -> 42 \(cycle 0, /);
  assert.deepEqual(where, [['Program_Control', 54]]);
  assert.equal(await evaluate(dc, 'IntRamp.Value'), '42.25');
}));

test('evaluate reads names, fields of the frame, expressions and offsets; the console forces', () => withAdapter(async (dc) => {
  await startSession(dc, { args: RAMP, breakpoints: [220] });
  const offset = (await dc.evaluateRequest({ expression: 'IntRampOut', context: 'watch' })).body.memoryReference;
  for (const [expression, context, result] of [
    ['Period', 'hover', 'T#1s'],
    ['IntRamp.Target', 'watch', '100'],
    ['Target - 1', 'watch', '99'],
    ['ABS(-3) + Step', 'repl', '4'],
    [`@${offset}:INT`, 'watch', '0'],
    ['force ExtIn11 7', 'repl', 'forced ExtIn11 = 7 (from the end of this cycle on)'],
    ['ExtIn11', 'watch', '7'],
  ]) {
    assert.equal(await evaluate(dc, expression, context), result, expression);
  }
  for (const [expression, why] of [['Value >', /./], ['NoSuchName', /NoSuchName/], ['force ExtIn11', /usage: force NAME VALUE/]]) {
    assert.match(await refusal(dc.evaluateRequest({ expression, context: 'repl', frameId: 1 })), why);
  }
  const memory = (await dc.customRequest('readMemory', { memoryReference: offset, count: 2 })).body;
  assert.deepEqual([memory.address, memory.data], [offset, 'AAA=']);
  await dc.customRequest('writeMemory', { memoryReference: offset, data: 'BQA=' });
  assert.equal(await evaluate(dc, 'IntRampOut'), '5');
  assert.match(await refusal(dc.customRequest('readMemory', { memoryReference: '999999', count: 1 })), /outside the data area/);
}));

test('next, stepIn and stepOut go by the listing\'s statements across a block call', () => withAdapter(async (dc) => {
  await startSession(dc, { args: RAMP, breakpoints: [49] });
  await dc.setBreakpointsRequest(lineBreakpoints([]));
  for (const [command, expected] of [
    ['stepIn', [['Ramp_Int IntRamp', 143], ['Program_Control', 49]]],
    ['stepIn', [['Ramp_Int IntRamp', 192], ['Program_Control', 49]]],
    ['next', [['Ramp_Int IntRamp', 193], ['Program_Control', 49]]],
    ['stepOut', [['Program_Control', 54]]],
    ['next', [['Program_Control', 59]]],
    ['stepOut', [['Program_Control, before cycle 1', 0]]],
  ]) {
    const { event, frames: where } = await resume(dc, command);
    assert.deepEqual([event.reason, where], ['step', expected], command);
  }
}));

test('pause stops the running program; terminate ends the run with its report', () => withAdapter(async (dc) => {
  await startSession(dc, { args: RAMP, wait: false });
  await new Promise((r) => setTimeout(r, 200));
  const stopped = dc.waitForEvent('stopped');
  await dc.pauseRequest({ threadId: 1 });
  assert.equal((await stopped).body.reason, 'pause');
  assert.ok((await frames(dc)).length >= 1);
  const exited = dc.waitForEvent('exited');
  const terminated = dc.waitForEvent('terminated');
  const report = dc.assertOutput('console', 'ran ');
  await dc.terminateRequest({});
  assert.equal((await exited).body.exitCode, 0);
  await terminated;
  await report;
}));

// ---- malformed input, on the adapter's standard input ----------------------------------------

function rawAdapter() {
  const cp = require('node:child_process');
  const child = cp.spawn(SOFTPLC, ['dap'], { stdio: ['pipe', 'pipe', 'pipe'] });
  let received = Buffer.alloc(0);
  const messages = [];
  let waiting = null;
  child.stdout.on('data', (data) => {
    received = Buffer.concat([received, data]);
    for (;;) {
      const end = received.indexOf('\r\n\r\n');
      if (end < 0) break;
      const length = Number(/Content-Length: (\d+)/.exec(received.subarray(0, end).toString())[1]);
      if (received.length < end + 4 + length) break;
      messages.push(JSON.parse(received.subarray(end + 4, end + 4 + length).toString()));
      received = received.subarray(end + 4 + length);
    }
    if (waiting) waiting();
  });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  return {
    child,
    exited,
    write(text) { child.stdin.write(text); },
    send(body) {
      const text = typeof body === 'string' ? body : JSON.stringify(body);
      child.stdin.write(`Content-Length: ${Buffer.byteLength(text)}\r\n\r\n${text}`);
    },
    // The next message that `match` accepts, within 5 s.
    async next(match) {
      const deadline = Date.now() + 5000;
      for (;;) {
        const at = messages.findIndex(match);
        if (at >= 0) return messages.splice(at, 1)[0];
        if (Date.now() > deadline) throw new Error('no such message; received ' + JSON.stringify(messages));
        await new Promise((resolve) => { waiting = resolve; setTimeout(resolve, 100); });
      }
    },
  };
}

test('malformed messages, unknown requests and bad arguments get error responses; broken framing ends the session', async () => {
  const raw = rawAdapter();
  try {
    const response = (seq) => raw.next((m) => m.type === 'response' && m.request_seq === seq);
    for (const [body, seq, why] of [
      ['{"seq": 1, "type": "request", "command": ', 0, /is not JSON/],
      [{ seq: 2, type: 'request' }, 2, /not a request/],
      [{ seq: 3, type: 'request', command: 'threads' }, 3, /before 'initialize'/],
      [{ seq: 4, type: 'request', command: 'initialize', arguments: [] }, 4, /arguments of a request are an object/],
      [{ seq: 5, type: 'request', command: 'initialize', arguments: { adapterID: 'softplc' } }, 5, null],
      [{ seq: 6, type: 'request', command: 'stackTrace', arguments: { threadId: 1 } }, 6, /before 'launch' or 'attach'/],
      [{ seq: 7, type: 'request', command: 'launch', arguments: { perod: '10ms' } }, 7, /unknown launch attribute "perod"/],
      [{ seq: 8, type: 'request', command: 'launch', arguments: { period: 'fast' } }, 8, /period/],
      [{ seq: 9, type: 'request', command: 'attach', arguments: {} }, 9, /use 'launch'/],
      [{ seq: 10, type: 'request', command: 'launch', arguments: { program: '/nonexistent/m.so' } }, 10, /nonexistent/],
      [{ seq: 11, type: 'request', command: 'launch', arguments: { stopOnEntry: true } }, 11, null],
      [{ seq: 12, type: 'request', command: 'frobnicate' }, 12, /unknown request 'frobnicate'/],
      [{ seq: 13, type: 'request', command: 'variables', arguments: { variablesReference: 'x' } }, 13, /whole number/],
      [{ seq: 14, type: 'request', command: 'scopes', arguments: {} }, 14, /frameId/],
      [{ seq: 15, type: 'request', command: 'writeMemory', arguments: { memoryReference: '0', data: '@@' } }, 15, /base64/],
      [{ seq: 16, type: 'request', command: 'launch', arguments: {} }, 16, /begun already/],
    ]) {
      raw.send(body);
      const answer = await response(seq);
      if (why === null) {
        assert.equal(answer.success, true, JSON.stringify(answer));
      } else {
        assert.equal(answer.success, false, JSON.stringify(body));
        assert.match(answer.message, why);
      }
    }
    // A header beyond the size limit: the adapter says why and ends.
    raw.write('Content-Length: 999999999999\r\n\r\n{}');
    const told = await raw.next((m) => m.event === 'output' && m.body.category === 'stderr');
    assert.match(told.body.output, /the session ends: /);
    assert.equal(await Promise.race([raw.exited, new Promise((r) => setTimeout(() => r('running'), 5000))]), 0);
  } finally {
    raw.child.kill();
  }
});

test('the end of the input ends a launched session like disconnect', async () => {
  const raw = rawAdapter();
  try {
    raw.send({ seq: 1, type: 'request', command: 'initialize', arguments: {} });
    raw.send({ seq: 2, type: 'request', command: 'launch', arguments: {} });
    raw.send({ seq: 3, type: 'request', command: 'configurationDone' });
    await raw.next((m) => m.type === 'response' && m.request_seq === 3);
    raw.child.stdin.end();
    assert.equal(await Promise.race([raw.exited, new Promise((r) => setTimeout(() => r('running'), 5000))]), 0);
  } finally {
    raw.child.kill();
  }
});
