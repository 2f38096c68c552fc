// Starts the adapter for a session: `softplc dap` for a launch (the executable from the setting
// softplc.path), the controller's port for an attach.
'use strict';
const vscode = require('vscode');

function activate(context) {
  context.subscriptions.push(vscode.debug.registerDebugAdapterDescriptorFactory('softplc', {
    createDebugAdapterDescriptor(session) {
      const configuration = session.configuration;
      if (configuration.request === 'attach') {
        return new vscode.DebugAdapterServer(Number(configuration.port), configuration.host || '127.0.0.1');
      }
      const softplc = vscode.workspace.getConfiguration('softplc').get('path') || 'softplc';
      return new vscode.DebugAdapterExecutable(softplc, ['dap']);
    },
  }));
}

function deactivate() {}

module.exports = { activate, deactivate };
