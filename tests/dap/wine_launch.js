// The Windows build's adapter under Wine: launch, stop on a listing line, the stack, detach.
// Exits 77 (skipped) when the Windows build is absent, unless KX_REQUIRE_WINDOWS=1.
'use strict';
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const exe = path.join(process.env.KX_WINDOWS_BIN_DIR || '', 'softplc.exe');
if (!process.env.KX_WINDOWS_BIN_DIR || !fs.existsSync(exe)) {
  if (process.env.KX_REQUIRE_WINDOWS === '1') {
    console.error(`${exe} is missing: build the windows-i686 preset`);
    process.exit(1);
  }
  console.log('skipped: no Windows build');
  process.exit(77);
}
process.env.SOFTPLC = process.env.SOFTPLC || exe;
const { frames, startAdapter, startSession } = require('./support');

(async () => {
  // Wine takes its time to start.
  const dc = startAdapter(['wine', exe, 'dap'], { env: { ...process.env, WINEDEBUG: '-all' }, timeoutMs: 60000 });
  try {
    const { breakpoints, stopped } = await startSession(dc, { args: { set: ['IntRampEnable=TRUE'] }, breakpoints: [220] });
    assert.equal(breakpoints[0].verified, true, breakpoints[0].message);
    assert.match(breakpoints[0].source.path, /CCodePublic\.st$/);
    assert.match(stopped.description, /^cycle 0, breakpoint: line 220/);
    assert.deepEqual(await frames(dc), [['Ramp_Int IntRamp', 220], ['Program_Control', 49]]);
    assert.equal((await dc.evaluateRequest({ expression: 'Period', context: 'hover', frameId: 1 })).body.result, 'T#1s');
    await dc.disconnectRequest({});
    const code = await Promise.race([dc.exited, new Promise((r) => setTimeout(() => r('running'), 30000))]);
    assert.equal(code, 0, dc.child.stderrText);
    console.log('ok: launched, stopped at line 220 and detached under Wine');
  } finally {
    dc.child.kill();
  }
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
