// softplc run --dap: an editor attaches to a running controller that also serves the web view,
// stops it, reads, goes on and detaches, and the run keeps cycling and serving; a second client
// is refused while one is attached.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const cp = require('node:child_process');
const http = require('node:http');
const net = require('node:net');
const { SOFTPLC, connectTo, evaluate, frames, freePort, lineBreakpoints, resume, startSession } = require('./support');

function getStatus(port) {
  return new Promise((resolve, reject) => {
    http.get({ host: '127.0.0.1', port, path: '/api/status', timeout: 5000 }, (response) => {
      let body = '';
      response.on('data', (chunk) => { body += chunk; });
      response.on('end', () => resolve(JSON.parse(body)));
    }).on('error', reject);
  });
}

// Waits until `ready` gives something (polling every 100 ms, 10 s at most).
async function eventually(ready) {
  const deadline = Date.now() + 10000;
  for (;;) {
    try {
      const value = await ready();
      if (value) return value;
    } catch (error) {
      if (Date.now() > deadline) throw error;
    }
    if (Date.now() > deadline) throw new Error('not ready within 10 s');
    await new Promise((r) => setTimeout(r, 100));
  }
}

// The bytes a refused client receives until its connection closes.
function refusedBytes(port) {
  return new Promise((resolve, reject) => {
    const socket = net.createConnection(port, '127.0.0.1');
    let text = '';
    socket.on('data', (data) => { text += data; });
    socket.on('close', () => resolve(text));
    socket.on('error', reject);
    socket.setTimeout(5000, () => { socket.destroy(); reject(new Error('the refused connection stayed open')); });
  });
}

test('attach to a running controller, stop, read, go on, detach: the run keeps cycling and serving', async () => {
  const [dapPort, httpPort] = [await freePort(), await freePort()];
  const run = cp.spawn(SOFTPLC, ['run', '--duration', '60s', '--stats', '--set', 'IntRampEnable=TRUE', '--dap', String(dapPort),
    '--http', String(httpPort)], { stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  run.stdout.on('data', (data) => { output += data; });
  run.stderr.on('data', (data) => { output += data; });
  const exited = new Promise((resolve) => run.on('exit', (code) => resolve(code)));
  const clients = [];
  try {
    await eventually(() => output.includes('debug adapter (DAP) on 127.0.0.1:' + dapPort));
    const dc = await eventually(() => connectTo(dapPort));
    clients.push(dc.socket);
    const { stopped } = await startSession(dc, { request: 'attach', breakpoints: [220] });
    assert.equal(stopped.reason, 'breakpoint');
    assert.deepEqual(await frames(dc), [['Ramp_Int IntRamp', 220], ['Program_Control', 49]]);
    assert.equal(await evaluate(dc, 'Target'), '100');

    // The web view says where the program is held; a second debugging client is refused.
    const held = (await getStatus(httpPort)).held;
    assert.deepEqual([held.line, held.block, held.instance], [220, 'Ramp_Int', 'IntRamp']);
    const refused = await refusedBytes(dapPort);
    assert.match(refused, /another debugging client is attached to this run; one client at a time/);

    const { event } = await resume(dc);
    assert.equal(event.reason, 'breakpoint');
    await dc.setBreakpointsRequest(lineBreakpoints([]));
    await dc.continueRequest({ threadId: 1 });
    await dc.disconnectRequest({});
    dc.socket.end();

    // Detached: the run goes on without stops, and serves.
    const before = (await getStatus(httpPort)).cycles;
    const after = await eventually(async () => {
      const status = await getStatus(httpPort);
      return status.cycles > before + 5 && status.held === null ? status : null;
    });
    assert.ok(after.statistics.holds >= 2, JSON.stringify(after.statistics));
    assert.equal(after.statistics.overruns, 0);

    // Another client may attach now, and a launch is refused with the reason.
    const again = await connectTo(dapPort);
    clients.push(again.socket);
    await again.initializeRequest();
    await assert.rejects(again.launchRequest({}), /running controller's debug adapter: 'attach' to it/);
    await again.attachRequest({});
    await assert.rejects(again.terminateRequest({}), /a debugging session does not end it/);
    await again.disconnectRequest({ terminateDebuggee: true });
    const closed = new Promise((resolve) => again.socket.on('close', resolve));
    again.socket.end();
    await closed;

    // SIGTERM ends the run even while a session holds it at a breakpoint.
    const last = await connectTo(dapPort);
    clients.push(last.socket);
    await startSession(last, { request: 'attach', breakpoints: [220] });
  } catch (error) {
    error.message += '\nthe run said:\n' + output;
    throw error;
  } finally {
    // The last session still holds the run at its breakpoint: the signal alone must end it.
    run.kill('SIGTERM');
    setTimeout(() => run.kill('SIGKILL'), 10000).unref();
    await exited;
    for (const socket of clients) socket.destroy();
  }
  assert.equal(await exited, 4, output);
  assert.match(output, /debug adapter: 3 sessions, 1 client refused/);
  assert.match(output, /held by the debugger: \d+ stops?, /);
});
