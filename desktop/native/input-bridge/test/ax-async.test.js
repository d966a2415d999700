'use strict';
// axDumpAsync: the same result as axDump from a worker thread, the same errors, calls one at a
// time, a host that still exits by itself, and input posted on the main thread while the worker
// walks (scripts/tsan.sh runs this file under ThreadSanitizer).
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const h = require('./helpers');
const { generatedDesktop } = require('./ax-generate');

const { bridge, sim } = h;

test.beforeEach(() => sim.reset());
test.afterEach(() => h.assertLedgerClean());

const button = (title) => ({ attributes: { AXRole: 'AXButton', AXTitle: title } });

test('the same result as axDump, fixtures and options alike', async () => {
  const cases = [
    // [name, desktop, arguments]
    ['notes-editor', h.loadAxFixture('notes-editor'), []],
    ['settings-dialog with limits', h.loadAxFixture('settings-dialog'), [{ maxDepth: 2, textTruncate: 4 }]],
    ['a random desktop', generatedDesktop(7, 150), [{ maxChildrenPerNode: 5 }]],
    ['inherited options and a function', h.axDesktop([button('a')]),
     [Object.assign(() => {}, { maxNodes: 1 })]],
    ['a non-object argument', h.axDesktop([button('a')]), ['maxDepth']],
    ['without permission', h.axDesktop([button('a')], { trusted: false }), [{}]],
  ];
  for (const [name, desktop, args] of cases) {
    sim.reset();
    sim.ax.load(desktop);
    const expected = bridge.axDump(...args);
    assert.deepEqual(await bridge.axDumpAsync(...args), expected, name);
    assert.deepEqual(Object.keys(await bridge.axDumpAsync(...args)), Object.keys(expected), name);
  }
});

test('bad options reject with the error axDump throws', async () => {
  sim.ax.load(h.axDesktop([button('a')]));
  const thrown = new Error('x');
  const cases = [
    // [name, options]
    ['not a number', { maxNodes: 'ten' }],
    ['undefined', { timeoutMs: undefined }],
    ['a symbol', { maxDepth: Symbol('s') }],
    ['a getter', { get maxDepth() { throw thrown; } }],
    ['a Proxy get trap', new Proxy({}, { has: () => true, get() { throw thrown; } })],
    ['a Proxy has trap', new Proxy({}, { has() { throw thrown; } })],
  ];
  for (const [name, options] of cases) {
    let syncError = null;
    try {
      bridge.axDump(options);
    } catch (error) {
      syncError = error;
    }
    assert.ok(syncError !== null, name);
    await assert.rejects(bridge.axDumpAsync(options), (error) => {
      if (syncError === thrown) return error === thrown;
      assert.equal(error.constructor, syncError.constructor, name);
      assert.equal(error.message, syncError.message, name);
      return true;
    }, name);
  }
});

test('calls are answered one at a time, in order, each as its own axDump', async () => {
  sim.ax.load(h.axDesktop(Array.from({ length: 30 }, (_, i) => button(`b${i}`))));
  sim.ax.setLatency(100);
  const limits = [{ maxNodes: 3 }, {}, { maxDepth: 0 }, { textTruncate: 1 }];
  const expected = limits.map((options) => bridge.axDump(options));
  const order = [];
  const results = await Promise.all(limits.map((options, i) =>
    bridge.axDumpAsync(options).then((result) => {
      order.push(i);
      return result;
    })));
  assert.deepEqual(order, [0, 1, 2, 3]);
  assert.deepEqual(results, expected);
  // No call's requests interleave with another's: split at each dump's first request, the log
  // of the four calls reads as that of the four axDump calls before them.
  const segments = [];
  for (const { call, attribute } of sim.ax.requests()) {
    if (attribute === 'AXFocusedApplication') segments.push([]);
    segments.at(-1).push(`${call} ${attribute}`);
  }
  assert.equal(segments.length, 2 * limits.length);
  assert.deepEqual(segments.slice(limits.length), segments.slice(0, limits.length));
});

test('an idle worker does not keep the host alive', () => {
  const script = `
    const sim = require('../desktop-sim');
    const bridge = require('.');
    sim.ax.load({ focusedApplication: 5, applications: [{ pid: 5, name: 'Alone',
      root: { attributes: { AXRole: 'AXApplication' }, children: [{ attributes: { AXRole: 'AXButton' } }] } }] });
    bridge.axDumpAsync().then((result) => console.log(Object.keys(result.nodes).length));
  `;
  const child = spawnSync(process.execPath, ['-e', script], { cwd: h.addonDir, encoding: 'utf8',
                                                              timeout: 60000 });
  assert.equal(child.error, undefined, 'the host exited by itself once the answer was in');
  assert.equal(child.status, 0, child.stderr);
  assert.equal(child.stdout, '2\n');
});

test('the main thread posts input while the worker walks', async () => {
  const desktop = generatedDesktop(11, 300);
  sim.ax.load(desktop);
  const expected = bridge.axDump({ timeoutMs: 60000 });
  sim.reset();
  sim.ax.load(desktop);
  sim.ax.setLatency(200);
  let settled = false;
  let postsDuringDump = 0;
  const dump = bridge.axDumpAsync({ timeoutMs: 60000 }).finally(() => { settled = true; });
  while (!settled) {
    await new Promise((resolve) => setImmediate(resolve));
    if (settled) break;
    bridge.postMove(postsDuringDump % 500, 7);
    bridge.postClick(3, 4);
    bridge.postKey('a', ['shift']);
    bridge.postType('hé');
    bridge.postScroll(1, -1);
    postsDuringDump++;
  }
  assert.deepEqual(await dump, expected);
  assert.ok(postsDuringDump > 0, 'the main thread ran while the worker walked');
  assert.ok(sim.postedCount() >= postsDuringDump);
});
