'use strict';
// The worker thread behind axDumpAsync: it loads the addon into its own environment and runs
// axDump for each message, one at a time, answering the result or the error it threw.
const { parentPort, workerData } = require('node:worker_threads');

// The binary the package's entry point loads, as the main thread found it (asar-unpacked.js):
// a real file, so this thread needs neither the archive nor the module resolution around it.
const addon = require(workerData.binary);

// A process answers requests to its own elements on the calling thread, so with the host's own
// window in front axDump reads nothing of it here: it answers the host's pid and no node. The
// dump is then the main thread's to make.
const hostInFront = (result) => result !== null && result.pid === process.pid &&
  Object.keys(result.nodes).length === 0;

parentPort.on('message', ({ options }) => {
  try {
    const result = options === undefined ? addon.axDump() : addon.axDump(options);
    parentPort.postMessage({ ok: true, result, onMainThread: hostInFront(result) });
  } catch (error) {
    parentPort.postMessage({ ok: false, error });
  }
});
