// What the DAP tests share: the adapter as a child process (or a socket) behind the DebugClient of
// @vscode/debugadapter-testsupport, and a launch that sets breakpoints and runs to the first stop.
'use strict';
let DebugClient;
try {
  ({ DebugClient } = require('@vscode/debugadapter-testsupport'));
} catch (error) {
  throw new Error('the DAP test client is not installed: run scripts/install-deps.sh (npm ci in tests/dap)');
}
const cp = require('node:child_process');
const net = require('node:net');
const path = require('node:path');

const SOFTPLC = process.env.SOFTPLC;
if (!SOFTPLC) throw new Error('SOFTPLC must name the softplc executable');
const BIN = path.dirname(SOFTPLC);
const LISTING = path.join(BIN, 'CCodePublic.st');

// A client whose messages travel over `readable`/`writable`; timeouts apply (the client's own
// socket mode turns them off).
function clientOn(readable, writable, timeoutMs = 5000) {
  const dc = new DebugClient('', '', 'softplc');
  dc.defaultTimeout = timeoutMs;
  dc.connect(readable, writable);
  return dc;
}

// `softplc dap` (or another command line) as the adapter.
function startAdapter(command = [SOFTPLC, 'dap'], options = {}) {
  const child = cp.spawn(command[0], command.slice(1), { stdio: ['pipe', 'pipe', 'pipe'], ...options });
  child.stderrText = '';
  child.stderr.on('data', (data) => { child.stderrText += data; });
  const dc = clientOn(child.stdout, child.stdin, options.timeoutMs);
  dc.child = child;
  dc.exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  return dc;
}

function connectTo(port, timeoutMs) {
  return new Promise((resolve, reject) => {
    const socket = net.createConnection(port, '127.0.0.1', () => {
      const dc = clientOn(socket, socket, timeoutMs);
      dc.socket = socket;
      resolve(dc);
    });
    socket.on('error', reject);
  });
}

function lineBreakpoints(lines) {
  return { source: { path: LISTING }, breakpoints: lines.map((line) => (typeof line === 'number' ? { line } : line)) };
}

// initialize, launch (or attach), the breakpoints, configurationDone, and the first stop.
async function startSession(dc, { request = 'launch', args = {}, breakpoints = [], wait = true } = {}) {
  const initialized = dc.waitForEvent('initialized');
  const init = await dc.initializeRequest();
  await dc.send(request, args);
  await initialized;
  // Attached, the program may stop as soon as the breakpoints are set: the event can come in the
  // same read as their response.
  const stopped = wait ? dc.waitForEvent('stopped', 10000) : null;
  const set = await dc.setBreakpointsRequest(lineBreakpoints(breakpoints));
  await dc.configurationDoneRequest();
  return { capabilities: init.body, breakpoints: set.body.breakpoints, stopped: stopped && (await stopped).body };
}

// Resumes with `command` and gives the next stop and its innermost frames as [name, line].
async function resume(dc, command = 'continue') {
  const stopped = dc.waitForEvent('stopped');
  await dc.send(command, { threadId: 1 });
  const event = (await stopped).body;
  return { event, frames: await frames(dc) };
}

async function frames(dc) {
  const trace = await dc.stackTraceRequest({ threadId: 1 });
  return trace.body.stackFrames.map((frame) => [frame.name, frame.line]);
}

// The variables under a scope or a record, by name: { Enable: ['TRUE', 'BOOL', ref] }.
async function variables(dc, reference) {
  const listed = await dc.variablesRequest({ variablesReference: reference });
  return Object.fromEntries(listed.body.variables.map((v) => [v.name, [v.value, v.type, v.variablesReference]]));
}

async function evaluate(dc, expression, context = 'watch', frameId = 1) {
  return (await dc.evaluateRequest({ expression, context, frameId })).body.result;
}

// The reason a request is refused (its error message), or 'accepted'.
async function refusal(promise) {
  try {
    await promise;
    return 'accepted';
  } catch (error) {
    return error.message;
  }
}

// A port nothing listens on now.
function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

module.exports = {
  BIN, LISTING, SOFTPLC, clientOn, connectTo, evaluate, frames, freePort, lineBreakpoints, refusal, resume,
  startAdapter, startSession, variables,
};
