'use strict';
// axDumpAsync(options): a promise of exactly what axDump(options) gives, computed on a worker
// thread, so that a walk through a slow application never blocks the host's event loop (in an
// Electron main process, its whole user interface). One worker serves every call: started on
// first use, reused, and unref'd while idle so it never keeps the host alive. Calls run one at a
// time, in the order they were made.
const { axWorkerArguments } = require('./asar-unpacked.js');
const { Worker, isMainThread } = require('node:worker_threads');

// The options axDump reads, in its order. They are read here, on the caller's thread, exactly as
// axDump reads them (has, then get, stopping at the first failure), so getters and Proxy traps
// run where the caller expects and what they throw rejects the promise; only plain values cross
// to the worker.
const OPTION_KEYS = ['maxDepth', 'maxChildrenPerNode', 'maxNodes', 'textTruncate', 'timeoutMs'];

function readOptions(options) {
  if (options === null || (typeof options !== 'object' && typeof options !== 'function')) {
    return undefined;
  }
  const read = {};
  for (const key of OPTION_KEYS) {
    if (!(key in options)) continue;
    const value = options[key];
    if (typeof value !== 'number') {
      // A value that is no number fails axDump's conversion; null fails it the same way and,
      // unlike functions or symbols, can be posted. axDump reads no option after it.
      read[key] = null;
      break;
    }
    read[key] = value;
  }
  return read;
}

let worker = null;
let running = null;  // the call the worker is working on
const waiting = [];

function startWorker() {
  const started = new Worker(...axWorkerArguments());
  started.on('message', (answer) => finish(started, answer));
  started.on('error', (error) => lose(started, error));
  started.on('exit', (code) => {
    lose(started, new Error(`axDumpAsync: the worker thread ended (exit code ${code})`));
  });
  return started;
}

function next() {
  if (running !== null) return;
  if (waiting.length === 0) {
    if (worker !== null) worker.unref();
    return;
  }
  running = waiting.shift();
  if (worker === null) worker = startWorker();
  worker.ref();  // a call in flight keeps the host alive until it is answered
  worker.postMessage({ options: running.options });
}

// The host's own window is in front: its elements can be read on the main thread only, so a
// call made there is answered by axDump there. A call made on another thread keeps the worker's
// answer, which says why it holds no tree.
function dumpOnMainThread(call) {
  const { axDump } = require('./binding.js');
  try {
    call.resolve(call.options === undefined ? axDump() : axDump(call.options));
  } catch (error) {
    call.reject(error);
  }
}

function finish(from, answer) {
  if (from !== worker || running === null) return;
  const call = running;
  running = null;
  if (answer.ok && answer.onMainThread && isMainThread) dumpOnMainThread(call);
  else if (answer.ok) call.resolve(answer.result);
  else call.reject(answer.error);
  next();
}

// A worker that failed or ended takes its call with it; the next call starts a new one.
function lose(from, error) {
  if (from !== worker) return;
  worker = null;
  const call = running;
  running = null;
  if (call !== null) call.reject(error);
  next();
}

function axDumpAsync(options) {
  return new Promise((resolve, reject) => {
    let read;
    try {
      read = readOptions(options);
    } catch (error) {
      reject(error);
      return;
    }
    waiting.push({ options: read, resolve, reject });
    next();
  });
}

module.exports = { axDumpAsync };
