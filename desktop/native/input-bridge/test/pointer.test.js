'use strict';
// Pointer input: the exact events postClick, postMove and postScroll post, their argument
// errors, and skipped events when the platform fails to create one.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim, EventType, Posted, postedBy, assertThrowsExactly } = h;
const fixtures = require('../../desktop-sim/fixture');

test.beforeEach(() => sim.reset());

const LEFT = { button: 0, down: EventType.leftMouseDown, up: EventType.leftMouseUp };
const RIGHT = { button: 1, down: EventType.rightMouseDown, up: EventType.rightMouseUp };
const MIDDLE = { button: 2, down: EventType.otherMouseDown, up: EventType.otherMouseUp };

// A move with the button, then one down/up pair per click, numbered from 1.
function click(x, y, { button, down, up }, clicks) {
  const events = [Posted.move(x, y, button)];
  for (let k = 1; k <= clicks; k++) {
    events.push(Posted.mouse(down, x, y, button, k), Posted.mouse(up, x, y, button, k));
  }
  return events;
}

const CLICKS = [
  // [arguments, button, clicks]
  [[100, 200], LEFT, 1],
  [[100, 200, 'middle', 2], MIDDLE, 2],
  [[100, 200, 'right', 3], RIGHT, 3],
  [[5, 6, 'left'], LEFT, 1],
  // Names are whole and case-sensitive; anything else is the left button.
  [[5, 6, 'Right'], LEFT, 1],
  [[5, 6, 'MIDDLE'], LEFT, 1],
  [[5, 6, 'center'], LEFT, 1],
  [[5, 6, ''], LEFT, 1],
  [[5, 6, 'right '], LEFT, 1],
  [[5, 6, 'right\0'], LEFT, 1],
  // A button that is no string means left; the count is read all the same.
  [[0, 0, 1], LEFT, 1],
  [[0, 0, null, 2], LEFT, 2],
  [[0, 0, undefined, 3], LEFT, 3],
  [[0, 0, { name: 'right' }, 2], LEFT, 2],
  // Click counts go through int32 conversion, then into 1..3.
  [[1, 2, 'right', 0], RIGHT, 1],
  [[1, 2, 'right', -4], RIGHT, 1],
  [[1, 2, 'right', NaN], RIGHT, 1],
  [[1, 2, 'right', Infinity], RIGHT, 1],
  [[1, 2, 'right', 2.9], RIGHT, 2],
  [[1, 2, 'right', 7], RIGHT, 3],
  [[1, 2, 'right', 2 ** 32 + 2], RIGHT, 2],
  [[1, 2, 'right', -(2 ** 32) + 3], RIGHT, 3],
  [[1, 2, 'right', '2'], RIGHT, 1],
  [[1, 2, 'middle', 2, 'extra', {}], MIDDLE, 2],
  // Coordinates are passed on unchanged.
  [[10.5, -3.25], LEFT, 1],
  [[NaN, -Infinity, 'middle'], MIDDLE, 1],
  [[1e308, -1e-300], LEFT, 1],
];

test('postClick posts a move, then a down and an up per click', () => {
  for (const [args, button, clicks] of CLICKS) {
    const { result, events } = postedBy(() => bridge.postClick(...args));
    const label = `postClick(${args.map(String).join(', ')})`;
    assert.equal(result, true, label);
    assert.deepEqual(events, click(args[0], args[1], button, clicks), label);
  }
});

test('postMove moves to exactly the coordinates, never as a drag', () => {
  const cases = [[10.5, -3.25], [0, 0], [NaN, Infinity], [-Infinity, 1e308], [7, 8, 'right', 3]];
  for (const args of cases) {
    const { result, events } = postedBy(() => bridge.postMove(...args));
    assert.equal(result, true);
    assert.deepEqual(events, [Posted.move(args[0], args[1], 0)], `postMove(${args})`);
  }
});

test('postScroll posts one pixel scroll event: wheel 1 is -dy, wheel 2 is dx', () => {
  const cases = [
    // [dx, dy, wheel1, wheel2]
    [0, 3, -3, 0],
    [-2, 0, 0, -2],
    [1.9, -1.9, 1, 1],
    [0, 0, 0, 0],
    [NaN, Infinity, 0, 0],
    [0, 2 ** 32 + 5, -5, 0],
    [2 ** 31, 0, 0, -(2 ** 31)],
    [0, 2 ** 31 - 1, -(2 ** 31 - 1), 0],
    // The one dy whose negation does not fit saturates.
    [0, -(2 ** 31), 2 ** 31 - 1, 0],
    [0, 2 ** 31, 2 ** 31 - 1, 0],
  ];
  for (const [dx, dy, wheel1, wheel2] of cases) {
    const { result, events } = postedBy(() => bridge.postScroll(dx, dy, 'extra'));
    assert.equal(result, true);
    assert.deepEqual(events, [Posted.scroll(wheel1, wheel2)], `postScroll(${dx}, ${dy})`);
  }
});

test('wrong required arguments raise the usage TypeError and post nothing', () => {
  const cases = [
    ['postClick', 'postClick(x, y, button?, clickCount?)',
     [[], [1], ['1', 2], [1, true], [undefined, 1], [1, null], [1n, 2], [new Number(1), 2]]],
    ['postMove', 'postMove(x, y)', [[], [1], [1, '2'], [null, null], [{}, 1]]],
    ['postScroll', 'postScroll(dx, dy)', [[], [5], ['1', 1], [1, {}], [1, undefined], [[1], 2]]],
  ];
  for (const [name, usage, argLists] of cases) {
    for (const args of argLists) {
      const { events } = postedBy(() => {
        assertThrowsExactly(() => bridge[name](...args), TypeError, usage);
      });
      assert.deepEqual(events, [], `${name}(${args.map(String)})`);
    }
  }
});

test('an event the platform fails to create is skipped and the rest still go out', () => {
  const at = (x, y) => click(x, y, LEFT, 2);
  const [move, down1, up1, down2, up2] = at(3, 4);
  const cases = [
    // [every n-th creation fails, call, what is left]
    [1, () => bridge.postClick(3, 4, 'left', 2), []],
    // Creation order: move, down 1, up 1, down 2, up 2.
    [2, () => bridge.postClick(3, 4, 'left', 2), [move, up1, up2]],
    [3, () => bridge.postClick(3, 4, 'left', 2), [move, down1, down2, up2]],
    [1, () => bridge.postMove(3, 4), []],
    [1, () => bridge.postScroll(3, 4), []],
    [2, () => bridge.postScroll(3, 4), [Posted.scroll(-4, 3)]],
  ];
  for (const [every, call, expected] of cases) {
    sim.failEventCreation(every);
    const { result, events } = postedBy(call);
    assert.equal(result, true, 'the call still runs to its end');
    assert.deepEqual(events, expected, `${call} failing every ${every}`);
  }
});

// A slow machine must not make the system disable the tap and let events pass unseen.
const PATIENT_TAP_MS = 60000;

test('posted clicks pass the running tap, which reports nothing, even with every button swallowed', async () => {
  sim.setTapTimeout(PATIENT_TAP_MS);
  const rec = await h.startRecording();
  for (let button = 1; button <= 31; button++) bridge.setSuppress(button, true);
  try {
    sim.hid.resetCallbackStats();
    const { events } = postedBy(() => {
      bridge.postClick(20, 30, 'middle', 3);
      bridge.postClick(20, 30, 'right');
      bridge.postScroll(1, 1);
    });
    assert.deepEqual(events, [...click(20, 30, MIDDLE, 3), ...click(20, 30, RIGHT, 1),
                              Posted.scroll(-1, 1)]);
    assert.equal(sim.hid.callbackStats().count, 6, 'the tap saw the three middle-button pairs');
    await h.settle();
    assert.deepEqual(rec.records, []);
  } finally {
    for (let button = 1; button <= 31; button++) bridge.setSuppress(button, false);
    bridge.stop();
  }
  h.assertLedgerClean();
});

test('a posted event that a tap removes never reaches the applications', () => {
  sim.setTapTimeout(PATIENT_TAP_MS);
  const probe = fixtures.probeTap({ mask: 2 ** EventType.leftMouseDown, verdict: 'remove' });
  try {
    const { events } = postedBy(() => bridge.postClick(1, 2, 'left', 2));
    const [move, , up1, , up2] = click(1, 2, LEFT, 2);
    assert.deepEqual(events, [move, up1, up2]);
    assert.equal(probe.callCount(), 2);
  } finally {
    probe.stop();
  }
});
