'use strict';
// Runs in a process of its own: the modifier states are process-wide and start out released.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim } = h;
const K = sim.keyCodes;

test('Fn already held at the first start is reported with the first flags change', async () => {
  sim.hid.keyDown(K.fn);  // no tap yet: nobody sees it go down
  const rec = await h.startRecording();
  // Shift pressed while Fn is held is the tap's first flags change.
  sim.hid.keyDown(K.leftShift);
  sim.hid.keyUp(K.leftShift);
  sim.hid.keyUp(K.fn);
  await h.waitFor(() => rec.records.length === 2, 'two records');
  await h.settle();
  bridge.stop();
  assert.deepEqual(rec.records, [{ event: 'fn', phase: 'down' }, { event: 'fn', phase: 'up' }]);
});
