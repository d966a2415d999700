'use strict';
// What the addon does in a process that has none of the permissions: the state of a fresh Mac
// (a CI runner) before the user granted anything. On macOS this runs against the system as it
// is (`node --test test/unprivileged.test.js`, the macOS workflow); on Linux the simulated
// desktop is put in the same state first.
const test = require('node:test');
const assert = require('node:assert/strict');

const onMac = process.platform === 'darwin';
const bridge = require('..');
const sim = onMac ? null : require('../../desktop-sim');

function withoutPermissions() {
  if (sim) {
    sim.reset();
    for (const name of ['accessibility', 'inputMonitoring', 'postEvents']) sim.setPermission(name, false);
  }
}

test.beforeEach(withoutPermissions);
test.after(() => sim && sim.reset());

// A Mac whose settings already trust the host (a runner image may) cannot show the refusals.
const trusted = onMac && bridge.permissions().accessibility;
const needsNoAccessibility = { skip: trusted && 'this Mac grants the host the accessibility permission' };

const FUNCTIONS = [
  'start', 'stop', 'setSuppress', 'isRunning',
  'postClick', 'postMove', 'postScroll', 'postKey', 'postType',
  'axDump', 'axFocused', 'axEnableWebContent', 'permissions', 'requestAccessibility',
];

test('the exports hold the registered functions in their order', () => {
  assert.deepEqual(Object.keys(bridge).filter((name) => FUNCTIONS.includes(name)), FUNCTIONS);
  for (const name of Object.keys(bridge)) assert.equal(typeof bridge[name], 'function', name);
});

test('every argument error raises its exact error', () => {
  const cases = [
    // [call, error type, message]
    [() => bridge.start(), TypeError, 'start(callback) requires a function'],
    [() => bridge.start('callback'), TypeError, 'start(callback) requires a function'],
    [() => bridge.setSuppress(4), TypeError, 'setSuppress(button: number, on: boolean)'],
    [() => bridge.setSuppress('4', true), TypeError, 'setSuppress(button: number, on: boolean)'],
    [() => bridge.setSuppress(0, true), RangeError, 'button out of range'],
    [() => bridge.setSuppress(32, false), RangeError, 'button out of range'],
    [() => bridge.postClick(1), TypeError, 'postClick(x, y, button?, clickCount?)'],
    [() => bridge.postClick('1', 2), TypeError, 'postClick(x, y, button?, clickCount?)'],
    [() => bridge.postMove(1), TypeError, 'postMove(x, y)'],
    [() => bridge.postScroll(undefined, 1), TypeError, 'postScroll(dx, dy)'],
    [() => bridge.postKey(13), TypeError, 'postKey(key, modifiers?)'],
    [() => bridge.postType(), TypeError, 'postType(text)'],
  ];
  for (const [call, ErrorType, message] of cases) {
    assert.throws(call, (error) => {
      assert.equal(error.constructor, ErrorType, message);
      assert.equal(error.message, message);
      return true;
    });
  }
  assert.equal(bridge.isRunning(), false, 'no argument error started the tap');
});

test('axDump without the accessibility permission gives the ax-error text and no details',
     needsNoAccessibility, () => {
  const dump = bridge.axDump();
  assert.deepEqual(Object.keys(dump), ['nodes', 'text', 'focusedNodeId']);
  assert.deepEqual(dump.nodes, {});
  assert.match(dump.text,
               /^ax-error code=-?\d+ \(Accessibility permission likely not granted to this build\)\n$/);
  assert.equal(dump.focusedNodeId, null);
  assert.deepEqual(bridge.axFocused(), {});
  assert.equal(bridge.axEnableWebContent(), false);
});

test('start without the permission delivers exactly one start-failure record',
     needsNoAccessibility, async () => {
  const records = [];
  assert.equal(bridge.start((record) => records.push(record)), true);
  const deadline = Date.now() + 10000;
  while (records.length === 0 && Date.now() < deadline) {
    await new Promise((resolve) => setTimeout(resolve, 5));
  }
  assert.equal(bridge.isRunning(), true, 'a refused tap still counts as started until stop');
  assert.equal(bridge.stop(), true);
  // stop joined the tap thread: whatever it queued arrives within a few turns of the loop.
  for (let i = 0; i < 3; i++) await new Promise((resolve) => setImmediate(resolve));
  assert.deepEqual(records, [{ event: 'start_failed', reason: 'tap_create_returned_null' }]);
  assert.equal(bridge.isRunning(), false);
});

test('permissions() reports the three capabilities as booleans', () => {
  const granted = bridge.permissions();
  assert.deepEqual(Object.keys(granted), ['accessibility', 'inputMonitoring', 'postEvents']);
  for (const value of Object.values(granted)) assert.equal(typeof value, 'boolean');
  assert.equal(granted.accessibility, !bridge.axDump().text.startsWith('ax-error'),
               'the snapshot fails exactly when the permission is missing');
});
