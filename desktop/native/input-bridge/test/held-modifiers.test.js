'use strict';
// Keys the user holds (a push-to-talk key, say) never leak into synthetic input: every posted
// event carries exactly the modifiers its call names, whatever is held, and keeps the bits the
// platform gives it.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim, EventType, Flag, Posted, postedBy } = h;
const K = sim.keyCodes;

test.beforeEach(() => sim.reset());

const DOWN_ARROW = 125;

// What the user holds: a key pressed, or Caps Lock turned on (pressed and released).
const HELD = [
  ['left Shift', [K.leftShift]],
  ['right Shift', [K.rightShift]],
  ['left Control', [K.leftControl]],
  ['right Control', [K.rightControl]],
  ['left Option', [K.leftOption]],
  ['right Option', [K.rightOption]],
  ['left Command', [K.leftCommand]],
  ['right Command', [K.rightCommand]],
  ['Fn', [K.fn]],
  ['Caps Lock', [], [K.capsLock]],
  ['an arrow key', [DOWN_ARROW]],  // adds Fn and the numeric pad to the flag state while held
  ['right Command, Fn, left Shift and Caps Lock', [K.rightCommand, K.fn, K.leftShift],
   [K.capsLock]],
];

const LEFT = [EventType.leftMouseDown, EventType.leftMouseUp, 0];
const RIGHT = [EventType.rightMouseDown, EventType.rightMouseUp, 1];
const MIDDLE = [EventType.otherMouseDown, EventType.otherMouseUp, 2];
const click = (x, y, [down, up, button], clicks) => [
  Posted.move(x, y, button),
  ...Array.from({ length: clicks }, (_, i) => [Posted.mouse(down, x, y, button, i + 1),
                                               Posted.mouse(up, x, y, button, i + 1)]).flat(),
];
const keyPress = (code, named = 0) => [Posted.key(code, true, named), Posted.key(code, false, named)];

// [call, the events it posts]: pointer events and typed text carry no modifier at all; a named
// key its named modifiers and its own bits (an arrow's Fn and numeric pad, a function key's Fn).
const CALLS = [
  [() => bridge.postMove(10, 20), [Posted.move(10, 20)]],
  [() => bridge.postClick(10, 20), click(10, 20, LEFT, 1)],
  [() => bridge.postClick(10, 20, 'right', 2), click(10, 20, RIGHT, 2)],
  [() => bridge.postClick(10, 20, 'middle', 3), click(10, 20, MIDDLE, 3)],
  [() => bridge.postScroll(2, -3), [Posted.scroll(3, 2)]],
  [() => bridge.postKey('return'), keyPress(36)],
  [() => bridge.postKey('c', ['cmd']), keyPress(8, Flag.command)],
  [() => bridge.postKey('left'), keyPress(123)],
  [() => bridge.postKey('right', ['ctrl']), keyPress(124, Flag.control)],
  [() => bridge.postKey('f5', ['shift']), keyPress(96, Flag.shift)],
  [() => bridge.postKey('pagedown'), keyPress(121)],
  [() => bridge.postKey('a', ['fn']), keyPress(0, Flag.fn)],
  [() => bridge.postType('hé'), [Posted.typed('hé', true), Posted.typed('hé', false)]],
];

test('every posted event carries the modifiers its call names and nothing held', () => {
  for (const [heldName, pressed, toggled = []] of HELD) {
    sim.reset();
    for (const key of pressed) sim.hid.keyDown(key);
    for (const key of toggled) {
      sim.hid.keyDown(key);
      sim.hid.keyUp(key);
    }
    assert.notEqual(sim.hid.keyboardFlags(), 0, `${heldName}: the keyboard shows what is held`);
    for (const [call, expected] of CALLS) {
      const { result, events } = postedBy(call);
      assert.equal(result, true);
      assert.deepEqual(events, expected, `${call} with ${heldName} held`);
    }
  }
});

test('with nothing held every event keeps the flags it was created with', () => {
  for (const [call, expected] of CALLS) {
    assert.deepEqual(postedBy(call).events, expected, `${call}`);
  }
});
