'use strict';
// The keyboard model: which events each key produces, the flags they carry, and the sequences
// a keyboard cannot produce.
const { test, beforeEach } = require('node:test');
const assert = require('node:assert/strict');
const sim = require('..');
const fixtures = require('../fixture');

// Beside the modifier keys: keys that carry Fn or the numeric-pad bit (HIToolbox's kVK_ names).
const K = { ...sim.keyCodes, downArrow: 125, f5: 96, home: 115, keypad0: 82 };
const F = sim.eventFlags;
const D = sim.deviceFlags;
const T = sim.eventTypes;
const NC = F.nonCoalesced;

beforeEach(() => sim.reset());

// Each case is a sequence of [keycode, down] steps and the events the applications receive.
const event = (type, keycode, flags) => ({ type, keycode, flags: flags | NC });
const CASES = [
  {
    name: 'a letter alone is a key-down and a key-up with no modifier',
    steps: [[0, true], [0, false]],
    events: [event(T.keyDown, 0, 0), event(T.keyUp, 0, 0)],
  },
  {
    name: 'each modifier key is a flags-changed event with its own device bit',
    steps: [[K.leftShift, true], [K.leftShift, false], [K.rightShift, true], [K.rightShift, false],
            [K.leftControl, true], [K.leftControl, false], [K.rightControl, true],
            [K.rightControl, false], [K.leftOption, true], [K.leftOption, false],
            [K.rightOption, true], [K.rightOption, false], [K.leftCommand, true],
            [K.leftCommand, false], [K.rightCommand, true], [K.rightCommand, false],
            [K.fn, true], [K.fn, false]],
    events: [
      [K.leftShift, F.shift | D.leftShift], [K.rightShift, F.shift | D.rightShift],
      [K.leftControl, F.control | D.leftControl], [K.rightControl, F.control | D.rightControl],
      [K.leftOption, F.alternate | D.leftOption], [K.rightOption, F.alternate | D.rightOption],
      [K.leftCommand, F.command | D.leftCommand], [K.rightCommand, F.command | D.rightCommand],
      [K.fn, F.secondaryFn],
    ].flatMap(([code, flags]) => [event(T.flagsChanged, code, flags),
                                  event(T.flagsChanged, code, 0)]),
  },
  {
    name: 'the Command mask stays while either Command key is down; the device bits tell them apart',
    steps: [[K.leftCommand, true], [K.rightCommand, true], [K.rightCommand, false],
            [K.leftCommand, false]],
    events: [
      event(T.flagsChanged, K.leftCommand, F.command | D.leftCommand),
      event(T.flagsChanged, K.rightCommand, F.command | D.leftCommand | D.rightCommand),
      event(T.flagsChanged, K.rightCommand, F.command | D.leftCommand),
      event(T.flagsChanged, K.leftCommand, 0),
    ],
  },
  {
    name: 'a key typed under held modifiers carries all of them',
    steps: [[K.fn, true], [K.rightShift, true], [6, true], [6, false], [K.rightShift, false],
            [K.fn, false]],
    events: [
      event(T.flagsChanged, K.fn, F.secondaryFn),
      event(T.flagsChanged, K.rightShift, F.secondaryFn | F.shift | D.rightShift),
      event(T.keyDown, 6, F.secondaryFn | F.shift | D.rightShift),
      event(T.keyUp, 6, F.secondaryFn | F.shift | D.rightShift),
      event(T.flagsChanged, K.rightShift, F.secondaryFn),
      event(T.flagsChanged, K.fn, 0),
    ],
  },
  {
    name: 'Caps Lock is a lock: the first press turns it on, the second off',
    steps: [[K.capsLock, true], [K.capsLock, false], [0, true], [0, false], [K.capsLock, true],
            [K.capsLock, false]],
    events: [
      event(T.flagsChanged, K.capsLock, F.alphaShift),
      event(T.flagsChanged, K.capsLock, F.alphaShift),
      event(T.keyDown, 0, F.alphaShift),
      event(T.keyUp, 0, F.alphaShift),
      event(T.flagsChanged, K.capsLock, 0),
      event(T.flagsChanged, K.capsLock, 0),
    ],
  },
  {
    name: 'arrow, function and navigation keys carry Fn, arrows and the keypad the numeric pad',
    steps: [[K.downArrow, true], [K.downArrow, false], [K.f5, true], [K.f5, false],
            [K.home, true], [K.home, false], [K.keypad0, true], [K.keypad0, false]],
    events: [
      event(T.keyDown, K.downArrow, F.secondaryFn | F.numericPad),
      event(T.keyUp, K.downArrow, F.secondaryFn),  // a keyboard's arrow key-up has no NumPad
      event(T.keyDown, K.f5, F.secondaryFn),
      event(T.keyUp, K.f5, F.secondaryFn),
      event(T.keyDown, K.home, F.secondaryFn),
      event(T.keyUp, K.home, F.secondaryFn),
      event(T.keyDown, K.keypad0, F.numericPad),
      event(T.keyUp, K.keypad0, F.numericPad),
    ],
  },
  {
    name: "a held arrow's bits ride on other keys' events, never on Fn's release",
    steps: [[K.downArrow, true], [K.leftShift, true], [K.leftShift, false], [K.fn, true],
            [K.fn, false], [K.downArrow, false]],
    events: [
      event(T.keyDown, K.downArrow, F.secondaryFn | F.numericPad),
      event(T.flagsChanged, K.leftShift, F.shift | D.leftShift | F.secondaryFn | F.numericPad),
      event(T.flagsChanged, K.leftShift, F.secondaryFn | F.numericPad),
      event(T.flagsChanged, K.fn, F.secondaryFn | F.numericPad),
      event(T.flagsChanged, K.fn, F.numericPad),
      event(T.keyUp, K.downArrow, F.secondaryFn),
    ],
  },
  {
    name: 'with the latch, Fn stays set after its release until Fn is pressed and released again',
    latch: true,
    steps: [[K.fn, true], [K.fn, false], [K.leftShift, true], [K.leftShift, false], [K.fn, true],
            [K.fn, false], [K.leftShift, true], [K.leftShift, false]],
    events: [
      event(T.flagsChanged, K.fn, F.secondaryFn),
      event(T.flagsChanged, K.fn, 0),
      event(T.flagsChanged, K.leftShift, F.shift | D.leftShift | F.secondaryFn),
      event(T.flagsChanged, K.leftShift, F.secondaryFn),
      event(T.flagsChanged, K.fn, F.secondaryFn),
      event(T.flagsChanged, K.fn, 0),
      event(T.flagsChanged, K.leftShift, F.shift | D.leftShift),
      event(T.flagsChanged, K.leftShift, 0),
    ],
  },
  {
    name: "with the latch, an arrow's Fn and numeric-pad bits stay until Fn is pressed and released",
    latch: true,
    steps: [[K.downArrow, true], [K.downArrow, false], [K.leftShift, true], [K.leftShift, false],
            [K.fn, true], [K.fn, false], [0, true], [0, false]],
    events: [
      event(T.keyDown, K.downArrow, F.secondaryFn | F.numericPad),
      event(T.keyUp, K.downArrow, F.secondaryFn),
      event(T.flagsChanged, K.leftShift, F.shift | D.leftShift | F.secondaryFn | F.numericPad),
      event(T.flagsChanged, K.leftShift, F.secondaryFn | F.numericPad),
      event(T.flagsChanged, K.fn, F.secondaryFn | F.numericPad),
      event(T.flagsChanged, K.fn, F.numericPad),
      event(T.keyDown, 0, 0),
      event(T.keyUp, 0, 0),
    ],
  },
];

for (const { name, steps, events, latch = false } of CASES) {
  test(name, () => {
    sim.hid.setFnLatch(latch);
    for (const [keycode, down] of steps) {
      assert.equal(down ? sim.hid.keyDown(keycode) : sim.hid.keyUp(keycode), true);
    }
    assert.deepEqual(sim.apps.events().map(({ type, keycode, flags }) => ({ type, keycode, flags })),
                     events);
    assert.deepEqual(sim.hid.keysDown(), []);
  });
}

test('held keys and flags are visible, and reset releases everything without an event', () => {
  sim.hid.keyDown(K.leftControl);
  sim.hid.keyDown(K.capsLock);
  sim.hid.keyDown(12);
  assert.deepEqual(sim.hid.keysDown(), [K.leftControl, K.capsLock, 12]);
  assert.equal(sim.hid.keyboardFlags(), F.control | D.leftControl | F.alphaShift);
  sim.reset();
  assert.deepEqual(sim.hid.keysDown(), []);
  assert.equal(sim.hid.keyboardFlags(), 0);
  assert.equal(sim.apps.count(), 0);
});

test('a keyboard cannot press a held key again or release a key that is up', () => {
  sim.hid.keyDown(K.leftShift);
  const count = sim.apps.count();
  assert.throws(() => sim.hid.keyDown(K.leftShift), /hid\.keyDown\(keycode\): key 56 is already down/);
  assert.throws(() => sim.hid.keyUp(7), /hid\.keyUp\(keycode\): key 7 is not down/);
  assert.throws(() => sim.hid.keyDown(65536), RangeError);
  assert.throws(() => sim.hid.keyUp('a'), TypeError);
  assert.equal(sim.apps.count(), count, 'nothing was sent');
  assert.deepEqual(sim.hid.keysDown(), [K.leftShift]);
});

test('a key event a tap removes answers false, and the key is down all the same', () => {
  const p = fixtures.probeTap({ location: 0, mask: 2 ** T.flagsChanged, verdict: 'remove' });
  try {
    assert.equal(sim.hid.keyDown(K.rightCommand), false);
    assert.deepEqual(sim.hid.keysDown(), [K.rightCommand]);
    assert.deepEqual(p.calls().map((c) => [c.type, c.keycode, c.flags]),
                     [[T.flagsChanged, K.rightCommand, F.command | D.rightCommand | NC]]);
    p.setVerdict('pass');
    assert.equal(sim.hid.keyUp(K.rightCommand), true);
  } finally {
    p.stop();
  }
  assert.equal(sim.cf.live(), 0);
});

test('the latch shows in the flag state, clears when turned off, and reset turns it off', () => {
  assert.equal(sim.hid.fnLatch(), false);
  sim.hid.setFnLatch(true);
  assert.equal(sim.hid.fnLatch(), true);
  sim.hid.keyDown(K.fn);
  sim.hid.keyUp(K.fn);
  assert.equal(sim.hid.keyboardFlags(), F.secondaryFn, 'no key is down, the bit stays');
  sim.hid.setFnLatch(false);
  assert.equal(sim.hid.keyboardFlags(), 0);
  sim.hid.setFnLatch(true);
  sim.hid.keyDown(K.f5);
  sim.hid.keyUp(K.f5);
  assert.equal(sim.hid.keyboardFlags(), F.secondaryFn);
  sim.reset();
  assert.equal(sim.hid.fnLatch(), false);
  assert.equal(sim.hid.keyboardFlags(), 0);
  assert.throws(() => sim.hid.setFnLatch(1), { name: 'TypeError', message: /hid\.setFnLatch\(on\)/ });
});
