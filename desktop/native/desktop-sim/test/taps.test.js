'use strict';
// Taps seen through the control module, with the native probe-tap fixture as the application.
const { test, beforeEach, afterEach } = require('node:test');
const assert = require('node:assert/strict');
const sim = require('..');
const fixtures = require('../fixture');

const DOWN = sim.eventTypes.otherMouseDown;
const UP = sim.eventTypes.otherMouseUp;
const probes = [];

function probe(options) {
  const p = fixtures.probeTap(options);
  if (p) probes.push(p);
  return p;
}

beforeEach(() => sim.reset());
afterEach(() => {
  while (probes.length) probes.pop().stop();
  assert.equal(sim.cf.live(), 0, 'every reference the taps took was released');
  assert.deepEqual(sim.cf.misuseLog(), []);
});

test('a tap lists as created and sees its events on its own thread', () => {
  const p = probe({ placement: 'tail', location: 0 });
  assert.deepEqual(sim.taps(), [
    { enabled: true, location: 0, placement: 1, options: 0, mask: 2 ** DOWN + 2 ** UP },
  ]);
  assert.equal(sim.hid.send({ type: DOWN, button: 3, flags: 0x100000, keycode: 54, x: 1, y: 2 }),
               true);
  assert.deepEqual(p.calls(), [{ type: DOWN, button: 3, keycode: 54, flags: 0x100000, x: 1, y: 2,
                                 onProbeThread: true }]);
});

test('verdicts decide what reaches the applications, in tap order', () => {
  const back = probe({ verdict: 'remove' });
  const front = probe({ placement: 'head', stamp: 5 });  // head insert: in front of back
  assert.equal(sim.hid.send({ type: DOWN, button: 4 }), false);
  assert.equal(front.calls().length, 1);
  assert.equal(back.calls().length, 1);
  back.setVerdict('pass');
  assert.equal(sim.hid.sendMany({ type: UP, button: 4 }, 1000), 1000);
  front.setVerdict('remove');
  assert.equal(sim.hid.send({ type: UP, button: 4 }), false);
  assert.equal(back.calls().length, 1001, 'a removed event goes to no later tap');
  assert.equal(sim.apps.count(), 1000);
  assert.deepEqual(sim.apps.events().at(-1), { type: UP, button: 4, flags: 0, keycode: 0, x: 0,
                                                y: 0 });
});

test('a refused tap never exists, and every creation counts', () => {
  assert.equal(sim.tapCreateCalls(), 0);
  probe().stop();
  sim.refuseTaps(true);
  assert.equal(probe(), null);
  assert.deepEqual(sim.taps(), []);
  assert.equal(sim.tapCreateCalls(), 2, 'the refused one too');
  sim.reset();
  assert.equal(sim.tapCreateCalls(), 0);
});

test('a callback slower than the tap timeout gets its tap disabled, then notified', () => {
  sim.setTapTimeout(30);
  const p = probe({ verdict: 'block', reenable: false });
  assert.equal(sim.hid.send({ type: DOWN, button: 3 }), true, 'the event passes on timeout');
  assert.equal(sim.taps()[0].enabled, false);
  p.unblock();
  assert.equal(p.waitCalls(2), true);
  assert.equal(p.calls()[1].type, sim.eventTypes.tapDisabledByTimeout);
  assert.equal(sim.settle(), true);
  assert.equal(sim.taps()[0].enabled, false, 'this tap does not re-enable itself');
});

test('a tap that re-enables itself on the notification is enabled again', async () => {
  sim.setTapTimeout(30);
  const p = probe({ verdict: 'block' });
  assert.equal(sim.hid.send({ type: DOWN, button: 3 }), true);
  p.setVerdict('pass');
  p.unblock();
  await sim.waitFor(() => sim.taps()[0].enabled);
  assert.equal(sim.hid.send({ type: UP, button: 3 }), true);
  assert.deepEqual(p.calls().map((c) => c.type), [DOWN, sim.eventTypes.tapDisabledByTimeout, UP]);
});

for (const [reason, type] of [['timeout', 0xfffffffe], ['userInput', 0xffffffff]]) {
  test(`disableTaps('${reason}') returns after every tap was told`, () => {
    const selfHealing = probe();
    const passive = probe({ reenable: false });
    assert.equal(sim.hid.disableTaps(reason), 2);
    assert.deepEqual(selfHealing.calls().map((c) => c.type), [type]);
    assert.deepEqual(passive.calls().map((c) => c.type), [type]);
    assert.deepEqual(sim.taps().map((t) => t.enabled), [false, true]);
  });
}

test('a stopped tap is gone, its objects freed, and its events pass untouched', () => {
  const objects = sim.cf.objects();
  const p = probe({ verdict: 'remove' });
  assert.ok(sim.cf.objects() > objects);
  p.stop();
  probes.pop();
  assert.deepEqual(sim.taps(), []);
  assert.equal(sim.cf.objects(), objects, 'port, source and the thread\'s run loop are freed');
  assert.equal(sim.hid.send({ type: DOWN, button: 3 }), true);
});

test('a reset while a tap runs kills the tap; its later teardown is clean', () => {
  const p = probe({ verdict: 'remove' });
  sim.reset();
  assert.deepEqual(sim.taps(), []);
  assert.equal(sim.hid.send({ type: DOWN, button: 3 }), true);
  assert.equal(p.calls().length, 0);
  p.stop();
  probes.pop();
  assert.equal(sim.cf.live(), 0, 'releases of references taken before the reset do not count');
  assert.equal(sim.cf.misuse(), 0, sim.cf.misuseLog().join('\n'));
});

test('a lean tap passes a long stream and the ledger stays flat', () => {
  const p = probe({ record: false });
  const objects = sim.cf.objects();
  assert.equal(sim.hid.sendMany({ type: DOWN, button: 3 }, 200000), 200000);
  assert.equal(p.callCount(), 200000);
  assert.equal(sim.cf.objects(), objects, 'the HID frees its events');
  const stats = sim.hid.callbackStats();
  assert.equal(stats.count, 200000);
  assert.ok(stats.medianNs <= stats.p99Ns && stats.p99Ns <= stats.maxNs, JSON.stringify(stats));
  assert.ok(stats.meanNs > 0 && stats.meanNs <= stats.maxNs);
  sim.hid.resetCallbackStats();
  assert.equal(sim.hid.callbackStats().count, 0);
  p.setVerdict('remove');
  assert.equal(sim.hid.sendMany({ type: UP, button: 3 }, 1000), 0);
});
