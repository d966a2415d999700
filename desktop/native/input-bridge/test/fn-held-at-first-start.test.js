'use strict';
// Runs in a process of its own: the modifier states are process-wide and start out released.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim, Flag, KeyCode, flags } = h;

test('Fn already held at the first start is reported with the first flags change', async () => {
  const rec = await h.startRecording();
  // The tap never saw Fn go down; Shift pressed while Fn is held is its first flags change.
  sim.hid.send(flags(KeyCode.shift, Flag.fn, Flag.shift));
  sim.hid.send(flags(KeyCode.shift, Flag.fn));
  sim.hid.send(flags(KeyCode.fn));
  await h.waitFor(() => rec.records.length === 2, 'two records');
  await h.settle();
  bridge.stop();
  assert.deepEqual(rec.records, [{ event: 'fn', phase: 'down' }, { event: 'fn', phase: 'up' }]);
});
