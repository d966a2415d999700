'use strict';
// The host's own window in front: a process answers requests to its own elements on the calling
// thread, so they are read on the main thread only. axDumpAsync then gives axDump's dump, and a
// worker's own calls read nothing of the host (desktop-sim logs a request to this process's
// elements off its main thread as misuse, and the ledger check fails on it).
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const h = require('./helpers');
const { generatedDesktop } = require('./ax-generate');

const { bridge, sim } = h;

test.beforeEach(() => sim.reset());
test.afterEach(() => h.assertLedgerClean());

// A desktop whose focused application is this process.
function hostInFront(desktop) {
  const host = desktop.applications[0];
  host.pid = process.pid;
  desktop.focusedApplication = process.pid;
  return desktop;
}

test('axDumpAsync with the host in front gives axDump\'s dump', async () => {
  const cases = [
    // [name, desktop, options]
    ['notes-editor', h.loadAxFixture('notes-editor'), undefined],
    ['a random desktop with limits', generatedDesktop(5, 120), { maxChildrenPerNode: 4, maxNodes: 50 }],
    ['nothing rendered', h.loadAxFixture('settings-dialog'), { maxNodes: 0 }],
  ];
  for (const [name, desktop, options] of cases) {
    sim.reset();
    sim.ax.load(hostInFront(desktop));
    const expected = bridge.axDump(options);
    assert.equal(expected.pid, process.pid, name);
    assert.deepEqual(await bridge.axDumpAsync(options), expected, name);
    assert.equal(sim.cf.misuse(), 0, `${name}: ${sim.cf.misuseLog()}`);
  }
});

// Runs the addon's three snapshot functions on a worker thread of this process.
function onWorker(script) {
  const bridgeDir = path.resolve(__dirname, '..');
  return new Promise((resolve, reject) => {
    const worker = new Worker(`
      const { parentPort } = require('node:worker_threads');
      const bridge = require(${JSON.stringify(bridgeDir)});
      (async () => { ${script} })().then((answer) => parentPort.postMessage(answer));
    `, { eval: true });
    worker.once('message', resolve);
    worker.once('error', reject);
  });
}

test('a worker\'s own calls with the host in front read nothing of the host', async () => {
  sim.ax.load(hostInFront(h.loadAxFixture('notes-editor')));
  const [name, bundleId] = [h.loadAxFixture('notes-editor').applications[0].name,
                            h.loadAxFixture('notes-editor').applications[0].bundleId];
  const answers = await onWorker(`return {
    dump: bridge.axDump(), focused: bridge.axFocused(), enabled: bridge.axEnableWebContent(),
    dumpAsync: await bridge.axDumpAsync() };`);
  const dump = {
    nodes: {},
    text: `${name}\nApp=${bundleId} (pid ${process.pid})\n` +
      '\u2026 (the host\'s own window is in front: its elements are read on its main thread only)\n',
    focusedNodeId: null, bundleId, appName: name, windowTitle: '', pid: process.pid,
  };
  assert.deepEqual(answers, { dump, focused: {}, enabled: false, dumpAsync: dump });
  assert.deepEqual(sim.ax.requests(), [], 'no request at all');
  assert.deepEqual(sim.ax.writes(), []);
});

test('a worker reads another application in front as the main thread does', async () => {
  sim.ax.load(h.loadAxFixture('notes-editor'));
  const expected = { dump: bridge.axDump(), focused: bridge.axFocused() };
  const answers = await onWorker('return { dump: bridge.axDump(), focused: bridge.axFocused() };');
  assert.deepEqual(answers, expected);
});
