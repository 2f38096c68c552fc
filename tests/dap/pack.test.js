// The editor extension (editors/vscode) packs into a .vsix with its grammar and debugger.
'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const cp = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const extension = path.join(__dirname, '..', '..', 'editors', 'vscode');

test('the editor extension packs', () => {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'softplc-vsix-'));
  try {
    const vsix = path.join(out, 'softplc-debug.vsix');
    const packer = path.join(__dirname, 'node_modules', '@vscode', 'vsce', 'vsce');
    const result = cp.spawnSync(process.execPath,
      [packer, 'package', '--no-dependencies', '--skip-license', '--allow-missing-repository', '--out', vsix],
      { cwd: extension, encoding: 'utf8', timeout: 60000 });
    assert.equal(result.status, 0, result.stdout + result.stderr);
    for (const file of ['extension/package.json', 'extension/extension.js', 'structured-text.tmLanguage.json']) {
      assert.ok(result.stdout.includes(path.basename(file)), file + ' is packed: ' + result.stdout);
    }
    assert.equal(fs.readFileSync(vsix).subarray(0, 2).toString(), 'PK');
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
});
