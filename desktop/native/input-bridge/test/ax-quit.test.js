'use strict';
// Quitting never waits for a dump: process.exit(), an uncaught exception or a worker terminated
// while a walk runs on a worker thread ends the walk at its next request. Each case runs in a
// child host walking a slow application for about 20 s; node:test's timeout bounds the wait.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { spawn } = require('node:child_process');
const h = require('./helpers');

const simDir = path.resolve(h.addonDir, '..', 'desktop-sim');

// The child: loads 2000 buttons answering in 5 ms a request, starts the walk the case names,
// and quits once the walk has made 20 requests. After a terminate it checks that no request
// follows and exits with 0, or 3 when the walk went on.
const child = `
  const { Worker } = require('node:worker_threads');
  const sim = require(${JSON.stringify(simDir)});
  const bridge = require(${JSON.stringify(h.addonDir)});
  const [how] = process.argv.slice(1);
  const buttons = Array.from({ length: 2000 }, (_, i) => ({ attributes: { AXRole: 'AXButton', AXTitle: 'b' + i } }));
  sim.ax.load({ focusedApplication: 9, applications: [{ pid: 9, name: 'Slow',
    root: { attributes: { AXRole: 'AXApplication' }, children: buttons } }] });
  sim.ax.setLatency(5000);
  const options = { maxChildrenPerNode: 5000, maxNodes: 5000, timeoutMs: 600000 };
  let worker = null;
  if (how.startsWith('terminate')) {
    const call = how === 'terminate-async' ? 'axDumpAsync' : 'axDump';
    worker = new Worker('require(' + JSON.stringify(${JSON.stringify(h.addonDir)}) + ').' + call +
                        '(' + JSON.stringify(options) + ')', { eval: true });
  } else {
    bridge.axDumpAsync(options);
  }
  const started = setInterval(async () => {
    if (sim.ax.stats().requests < 20) return;
    clearInterval(started);
    if (how === 'exit') process.exit(0);
    if (how === 'throw') throw new Error('quitting');
    await worker.terminate();
    const after = sim.ax.stats().requests;
    setTimeout(() => process.exit(sim.ax.stats().requests === after ? 0 : 3), 100);
  }, 1);
`;

function run(how) {
  return new Promise((resolve) => {
    const host = spawn(process.execPath, ['-e', child, how], { cwd: h.addonDir });
    let stderr = '';
    host.stderr.on('data', (chunk) => { stderr += chunk; });
    host.on('exit', (code) => resolve({ code, stderr }));
  });
}

const cases = [
  // [how the host quits, its exit code]
  ['exit', 0],
  ['throw', 1],
  ['terminate-async', 0],
  ['terminate-sync', 0],
];
for (const [how, code] of cases) {
  test(`a walk on a worker thread ends when the host quits: ${how}`, { timeout: 15000 }, async () => {
    const result = await run(how);
    assert.equal(result.code, code, result.stderr);
    if (how === 'throw') assert.match(result.stderr, /quitting/);
  });
}
