'use strict';
// The keyboard layout switch of the control module: which layouts there are, selecting one,
// refusing what is not one, reset, and the keyboard staying a set of positions.
const { test, beforeEach } = require('node:test');
const assert = require('node:assert/strict');
const sim = require('..');

beforeEach(() => sim.reset());

test('the desktop has the five layouts, U.S. first and selected after reset', () => {
  assert.deepEqual(sim.keyboardLayouts, [
    'com.apple.keylayout.US',
    'com.apple.keylayout.French',
    'com.apple.keylayout.German',
    'com.apple.keylayout.Dvorak',
    'com.apple.keylayout.DVORAK-QWERTYCMD',
  ]);
  assert.ok(Object.isFrozen(sim.keyboardLayouts));
  assert.equal(sim.keyboardLayout(), 'com.apple.keylayout.US');
  for (const id of sim.keyboardLayouts) {
    sim.setKeyboardLayout(id);
    assert.equal(sim.keyboardLayout(), id);
  }
  sim.reset();
  assert.equal(sim.keyboardLayout(), 'com.apple.keylayout.US');
});

test('what is not a layout of the desktop is refused and changes nothing', () => {
  sim.setKeyboardLayout('com.apple.keylayout.German');
  const cases = [
    // [argument, error type]
    [undefined, TypeError],
    [42, TypeError],
    [{ toString: () => 'com.apple.keylayout.US' }, TypeError],
    ['com.apple.keylayout.us', RangeError],
    ['com.apple.keylayout.Klingon', RangeError],
    ['', RangeError],
    ['com.apple.keylayout.US\0', RangeError],
  ];
  for (const [id, ErrorType] of cases) {
    assert.throws(() => sim.setKeyboardLayout(id), (error) => {
      assert.equal(error.constructor, ErrorType);
      assert.match(error.message, /^setKeyboardLayout\(id\): /);
      return true;
    }, String(id));
    assert.equal(sim.keyboardLayout(), 'com.apple.keylayout.German');
  }
});

test('the keyboard sends positions whatever the layout', () => {
  const pressA = () => {
    sim.hid.keyDown(0);
    sim.hid.keyUp(0);
    return sim.apps.events().splice(-2);
  };
  const us = pressA();
  for (const id of sim.keyboardLayouts) {
    sim.setKeyboardLayout(id);
    assert.deepEqual(pressA(), us, id);
  }
});
