'use strict';
// The worker thread behind axDumpAsync: it loads the addon into its own environment and runs
// axDump for each message, one at a time, answering the result or the error it threw.
const { parentPort, workerData } = require('node:worker_threads');

// The binary the package's entry point loads, as the main thread found it (asar-unpacked.js):
// a real file, so this thread needs neither the archive nor the module resolution around it.
const addon = require(workerData.binary);

parentPort.on('message', ({ options }) => {
  try {
    const result = options === undefined ? addon.axDump() : addon.axDump(options);
    parentPort.postMessage({ ok: true, result });
  } catch (error) {
    parentPort.postMessage({ ok: false, error });
  }
});
