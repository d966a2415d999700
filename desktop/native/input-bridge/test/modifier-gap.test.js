'use strict';
// Modifier changes made while the tap was not there (stopped, or removed while the grant was
// missing) are reported as soon as it is back, from the system's modifier state, so that the
// next press is always reported.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim } = h;
const K = sim.keyCodes;

const TAP_DISABLED = { event: 'tap_disabled', reason: 'permission_revoked' };
const TAP_ENABLED = { event: 'tap_enabled', reason: 'permission_granted' };
const edge = (name, phase) => ({ event: name, phase });

// [what, key, the key is held before the gap, latch, records when the tap is back, records of
// what follows: a held key's release, then a press and release]. The system's state cannot show
// a Fn press (it keeps the Fn bit after arrow and function keys, and with the latch after Fn
// too), so only a Fn release is reported from it; a release it hides is reported with the next
// press instead.
const CASES = [
  ['Fn held across the gap, released in it', K.fn, true, false,
   [edge('fn', 'up')], [edge('fn', 'down'), edge('fn', 'up')]],
  ['Fn held across the gap, released in it, latch on', K.fn, true, true,
   [], [edge('fn', 'up'), edge('fn', 'down'), edge('fn', 'up')]],
  ['Fn pressed in the gap', K.fn, false, false,
   [], [edge('fn', 'down'), edge('fn', 'up')]],
  ['right Command held across the gap, released in it', K.rightCommand, true, false,
   [edge('rightCommand', 'up')], [edge('rightCommand', 'down'), edge('rightCommand', 'up')]],
  ['right Command pressed in the gap', K.rightCommand, false, false,
   [edge('rightCommand', 'down')],
   [edge('rightCommand', 'up'), edge('rightCommand', 'down'), edge('rightCommand', 'up')]],
];

const name = (key) => (key === K.fn ? 'fn' : 'rightCommand');

// Gaps: each opens with the tap gone and closes with it back, and answers the records the
// script has by then (the ones from before the gap excluded) and the recorder to go on with.
const GAPS = {
  async 'stop and start'(rec, change) {
    bridge.stop();
    change();
    const next = await h.startRecording();
    return next;
  },
  async 'withdrawal and re-grant'(rec, change) {
    const before = rec.records.length;
    sim.setPermission('accessibility', false);
    await h.waitFor(() => rec.records.length >= before + 1, 'tap_disabled');
    change();
    sim.setPermission('accessibility', true);
    await h.waitFor(() => rec.records.length >= before + 2, 'tap_enabled');
    await h.waitForTap();
    assert.deepEqual(rec.records.splice(0, before + 2).slice(before), [TAP_DISABLED, TAP_ENABLED]);
    return rec;
  },
};

async function recordsOf(rec, count) {
  await h.waitFor(() => rec.records.length >= count, `${count} records`);
  await h.settle();
  return rec.records.splice(0);
}

for (const [gapName, gap] of Object.entries(GAPS)) {
  test(`modifier changes across a gap: ${gapName}`, async (t) => {
    for (const [what, key, heldBefore, latch, atReturn, after] of CASES) {
      await t.test(what, async () => {
        sim.reset();
        sim.setRevocationDelay(600000);
        sim.hid.setFnLatch(latch);
        let rec = await h.startRecording();
        try {
          if (heldBefore) {
            sim.hid.keyDown(key);
            assert.deepEqual(await recordsOf(rec, 1), [edge(name(key), 'down')]);
          }
          rec = await gap(rec, () => (heldBefore ? sim.hid.keyUp(key) : sim.hid.keyDown(key)));
          assert.deepEqual(await recordsOf(rec, atReturn.length), atReturn, 'when the tap is back');
          if (!heldBefore) sim.hid.keyUp(key);
          sim.hid.keyDown(key);
          sim.hid.keyUp(key);
          assert.deepEqual(await recordsOf(rec, after.length), after, 'what follows');
        } finally {
          bridge.stop();
        }
        h.assertLedgerClean();
      });
    }
  });
}
