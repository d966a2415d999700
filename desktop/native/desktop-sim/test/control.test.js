'use strict';
// The control module's own surface: argument checking, defaults and reset.
const { test, beforeEach } = require('node:test');
const assert = require('node:assert/strict');
const sim = require('..');
const fixtures = require('../fixture');

beforeEach(() => sim.reset());

test('bad arguments throw TypeError or RangeError naming the call', () => {
  const cases = [
    [() => sim.hid.send(), TypeError, /hid\.send\(event\): event must be an object/],
    [() => sim.hid.send(null), TypeError, /event must be an object/],
    [() => sim.hid.send({}), TypeError, /type must be an integer/],
    [() => sim.hid.send({ type: 2.5 }), TypeError, /type must be an integer/],
    [() => sim.hid.send({ type: 99 }), RangeError, /99 is not an event type/],
    [() => sim.hid.send({ type: 0xfffffffe }), RangeError, /not an event type the HID/],
    [() => sim.hid.send({ type: 25, buton: 3 }), TypeError, /unknown event field 'buton'/],
    [() => sim.hid.send({ type: 25, button: 32 }), RangeError, /button must be from 0 to 31/],
    [() => sim.hid.send({ type: 25, button: '3' }), TypeError, /button must be an integer/],
    [() => sim.hid.send({ type: 12, flags: -1 }), RangeError, /flags/],
    [() => sim.hid.send({ type: 12, flags: 1n << 64n }), RangeError, /unsigned 64-bit/],
    [() => sim.hid.send({ type: 10, keycode: 70000 }), RangeError, /keycode/],
    [() => sim.hid.send({ type: 5, x: NaN }), RangeError, /x must be finite/],
    [() => sim.hid.send({ type: 5, y: '1' }), TypeError, /y must be a number/],
    [() => sim.hid.sendMany({ type: 25 }), TypeError, /count must be an integer/],
    [() => sim.hid.sendMany({ type: 25 }, -1), RangeError, /count/],
    [() => sim.hid.disableTaps('slow'), TypeError, /'timeout' or 'userInput'/],
    [() => sim.refuseTaps(1), TypeError, /refuseTaps\(on\): expects a boolean/],
    [() => sim.setTapTimeout(-5), RangeError, /setTapTimeout\(ms\)/],
    [() => sim.setTapTimeout('5'), TypeError, /setTapTimeout\(ms\)/],
    [() => fixtures.probeTap({ verdict: 'maybe' }), TypeError, /verdict/],
    [() => sim.failEventCreation(), TypeError, /failEventCreation\(n\): n must be an integer/],
    [() => sim.failEventCreation(1.5), TypeError, /failEventCreation\(n\)/],
    [() => sim.failEventCreation(-1), RangeError, /failEventCreation\(n\)/],
    [() => sim.failEventCreation(2 ** 32), RangeError, /failEventCreation\(n\)/],
    [() => sim.setPostedLimit(-1), RangeError, /setPostedLimit\(n\)/],
    [() => sim.setPostedLimit('3'), TypeError, /setPostedLimit\(n\)/],
  ];
  for (const [call, type, message] of cases) assert.throws(call, { name: type.name, message });
});

test('reset restores the defaults and empties the logs', () => {
  sim.refuseTaps(true);
  sim.setTapTimeout(25);
  assert.equal(sim.hid.send({ type: 1 }), true);
  assert.equal(sim.apps.count(), 1);
  assert.equal(sim.tapsRefused(), true);
  assert.equal(sim.tapTimeout(), 25);
  sim.reset();
  assert.equal(sim.tapsRefused(), false);
  assert.equal(sim.tapTimeout(), 1000);
  assert.equal(sim.apps.count(), 0);
  assert.deepEqual(sim.apps.events(), []);
  assert.deepEqual(sim.posted(), []);
  assert.equal(sim.postedCount(), 0);
  assert.equal(sim.cf.live(), 0);
  assert.equal(sim.cf.misuse(), 0);
  assert.deepEqual(sim.cf.misuseLog(), []);
});

test('with no tap every event reaches the applications as sent', () => {
  const event = { type: sim.eventTypes.flagsChanged, flags: sim.eventFlags.secondaryFn,
                  keycode: 63, x: 4, y: 5 };
  assert.equal(sim.hid.send(event), true);
  assert.equal(sim.hid.sendMany({ type: 25, button: 3 }, 3), 3);
  const flagsAbove53 = 1n << 60n;
  assert.equal(sim.hid.send({ type: 12, flags: flagsAbove53 }), true);
  const events = sim.apps.events();
  assert.deepEqual(events[0], { type: 12, button: 0, flags: 0x800000, keycode: 63, x: 4, y: 5 });
  assert.deepEqual(events[1], { type: 25, button: 3, flags: 0, keycode: 0, x: 0, y: 0 });
  assert.equal(events[4].flags, flagsAbove53, 'flags beyond 2^53 come back as a bigint');
  assert.equal(sim.apps.count(), 5);
  assert.deepEqual(sim.taps(), []);
});

test('waitFor resolves on a condition and rejects past its bound', async () => {
  let n = 0;
  await sim.waitFor(() => ++n >= 3);
  assert.equal(n, 3);
  await assert.rejects(sim.waitFor(() => false, { timeoutMs: 10 }), /not true within 10 ms/);
});
