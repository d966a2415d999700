'use strict';
// The worker thread behind axDumpAsync: it loads the addon into its own environment and runs
// axDump for each message, one at a time, answering the result or the error it threw.
const { parentPort } = require('node:worker_threads');

// The one place the worker finds the native addon.
function loadAddon() {
  return require('./build/Release/input_bridge.node');
}

const addon = loadAddon();

parentPort.on('message', ({ options }) => {
  try {
    const result = options === undefined ? addon.axDump() : addon.axDump(options);
    parentPort.postMessage({ ok: true, result });
  } catch (error) {
    parentPort.postMessage({ ok: false, error });
  }
});
