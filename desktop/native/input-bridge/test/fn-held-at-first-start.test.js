'use strict';
// Runs in a process of its own: the modifier states are process-wide and start out released.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim } = h;
const K = sim.keyCodes;

// The system's flag state cannot prove that Fn is held (it keeps the bit after arrow and function
// keys), so a Fn already held when the tap starts is not reported: no recording starts from it.
// Its release then finds Fn up and says nothing, and the next press is reported as usual.
test('Fn already held at the first start makes no record; the next press does', async () => {
  sim.hid.keyDown(K.fn);  // no tap yet: nobody sees it go down
  const rec = await h.startRecording();
  try {
    sim.hid.keyDown(K.leftShift);
    sim.hid.keyUp(K.leftShift);
    sim.hid.keyUp(K.fn);
    sim.hid.keyDown(K.fn);
    sim.hid.keyUp(K.fn);
    await h.waitFor(() => rec.records.length === 2, 'two records');
    await h.settle();
  } finally {
    bridge.stop();
  }
  assert.deepEqual(rec.records, [{ event: 'fn', phase: 'down' }, { event: 'fn', phase: 'up' }]);
});
