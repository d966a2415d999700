'use strict';
// Named keys: every name of the key table and its virtual key code, case folding, names that
// are not keys, modifier arrays, argument errors and failed event creation.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim, Flag, Posted, postedBy, assertThrowsExactly } = h;

test.beforeEach(() => sim.reset());

// The macOS virtual key codes (ANSI positions), as data: [name, code].
const KEYS = [
  ['return', 36], ['enter', 36], ['tab', 48], ['space', 49],
  ['delete', 51], ['backspace', 51], ['forwarddelete', 117], ['escape', 53],
  ['esc', 53], ['home', 115], ['end', 119], ['pageup', 116],
  ['pagedown', 121], ['left', 123], ['leftarrow', 123], ['right', 124],
  ['rightarrow', 124], ['up', 126], ['uparrow', 126], ['down', 125],
  ['downarrow', 125], ['f1', 122], ['f2', 120], ['f3', 99],
  ['f4', 118], ['f5', 96], ['f6', 97], ['f7', 98],
  ['f8', 100], ['f9', 101], ['f10', 109], ['f11', 103],
  ['f12', 111], ['a', 0], ['b', 11], ['c', 8],
  ['d', 2], ['e', 14], ['f', 3], ['g', 5],
  ['h', 4], ['i', 34], ['j', 38], ['k', 40],
  ['l', 37], ['m', 46], ['n', 45], ['o', 31],
  ['p', 35], ['q', 12], ['r', 15], ['s', 1],
  ['t', 17], ['u', 32], ['v', 9], ['w', 13],
  ['x', 7], ['y', 16], ['z', 6], ['0', 29],
  ['1', 18], ['2', 19], ['3', 20], ['4', 21],
  ['5', 23], ['6', 22], ['7', 26], ['8', 28],
  ['9', 25], ['slash', 44], ['/', 44], ['period', 47],
  ['.', 47], ['comma', 43], [',', 43], ['minus', 27],
  ['-', 27], ['equal', 24], ['=', 24], ['semicolon', 41],
  [';', 41], ['quote', 39], ["'", 39], ['backslash', 42],
  ['\\', 42], ['grave', 50], ['`', 50], ['leftbracket', 33],
  ['[', 33], ['rightbracket', 30], [']', 30],
];

// No modifiers named: the events carry none, only the bits the platform gives the key itself.
const press = (code, flags = 0) => [Posted.key(code, true, flags), Posted.key(code, false, flags)];

// For arrays that must not be printed (huge, or with getters that count their reads).
function assertPressesQuietly(label, key, modifiers, code, flags) {
  const { result, events } = postedBy(() => bridge.postKey(key, modifiers));
  assert.equal(result, true, label);
  assert.deepEqual(events, press(code, flags), label);
}

function assertPresses(key, modifiers, code, flags) {
  const args = modifiers === undefined ? [key] : [key, modifiers];
  const { result, events } = postedBy(() => bridge.postKey(...args));
  const label = `postKey(${args.map((a) => JSON.stringify(a)).join(', ')})`;
  assert.equal(result, true, label);
  assert.deepEqual(events, press(code, flags), label);
}

test('every key name posts its key code down and up, with no modifier set', () => {
  assert.equal(new Set(KEYS.map(([name]) => name)).size, 91, 'the test data holds 91 names');
  for (const [name, code] of KEYS) assertPresses(name, undefined, code, undefined);
});

test('key names are matched with ASCII letters folded to lower case', () => {
  for (const [name, code] of KEYS) assertPresses(name.toUpperCase(), undefined, code, undefined);
  const mixed = [['Enter', 36], ['RETURN', 36], ['PageDown', 121], ['F5', 96], ['ForwardDelete', 117]];
  for (const [name, code] of mixed) assertPresses(name, undefined, code, undefined);
  // The case of a letter never adds Shift.
  assertPresses('C', undefined, 8, undefined);
});

test('a key press carries the named modifiers only, whatever keys the user holds', () => {
  const K = sim.keyCodes;
  const cases = [
    // [keys held, modifiers named, flags posted]
    [[K.rightCommand], undefined, 0],
    [[K.fn], [], 0],
    [[K.leftShift, K.leftControl], ['cmd'], Flag.command],
    [[K.capsLock, K.rightOption], ['fn'], Flag.fn],
  ];
  for (const [keys, modifiers, flags] of cases) {
    for (const key of keys) sim.hid.keyDown(key);
    assert.notEqual(sim.hid.keyboardFlags(), 0);
    assertPresses('return', modifiers, 36, flags);
    sim.reset();
  }
});

test('a name outside the table posts nothing and answers false, whatever the modifiers', () => {
  const misses = ['f13', 'page down', '', ' ', ' return', 'return ', 'return\0', 'kp0', 'cmd',
                  'shift', 'É', 'é', 'ä', '\u0130', 'ｒｅｔｕｒｎ', 'left arrow', '\\\\', 'f01'];
  for (const name of misses) {
    for (const modifiers of [undefined, ['cmd'], 'cmd', [{ toString: () => 'cmd' }]]) {
      const { result, events } = postedBy(() => bridge.postKey(name, modifiers));
      assert.equal(result, false, `postKey(${JSON.stringify(name)})`);
      assert.deepEqual(events, []);
    }
  }
});

test('modifiers become the flags of both events; junk is skipped', () => {
  const KEPT = 0;  // no modifier found: the events carry none
  const cases = [
    // [modifiers, flags]
    [['cmd'], Flag.command],
    [['command'], Flag.command],
    [['meta'], Flag.command],
    [['ctrl'], Flag.control],
    [['control'], Flag.control],
    [['alt'], Flag.option],
    [['option'], Flag.option],
    [['shift'], Flag.shift],
    [['fn'], Flag.fn],
    [['fn', 'fn'], Flag.fn],
    [['Shift', 'OPTION', 7, 'hyper'], Flag.shift | Flag.option],
    [['CMD', 'Ctrl', 'aLt', 'SHIFT', 'Fn'], Flag.command | Flag.control | Flag.option | Flag.shift | Flag.fn],
    [[null, undefined, {}, ['cmd'], true, 0x100000, new String('cmd')], KEPT],
    [[' cmd', 'cmd ', 'cmd\0', 'command key', '⌘', ''], KEPT],
    [[, 'shift'], Flag.shift],
    [[], KEPT],
    // Not an array: ignored.
    ['cmd', KEPT],
    [{ 0: 'cmd', length: 1 }, KEPT],
    [new Proxy(['cmd'], {}), KEPT],  // Node-API's array test does not see through a proxy
    [null, KEPT],
    [42, KEPT],
  ];
  for (const [modifiers, flags] of cases) {
    assertPresses('tab', modifiers, 48, flags);
  }
  assertPresses('c', ['cmd'], 8, Flag.command);
  assertPresses('v', 'cmd', 9, KEPT);
  assertPresses('a', ['fn', 'fn'], 0, Flag.fn);
});

test('a modifier that cannot be read posts nothing: the error reaches the caller', () => {
  const modifiers = ['cmd'];
  Object.defineProperty(modifiers, 1, {
    get() {
      throw new Error('unreadable modifier');
    },
  });
  const { events } = postedBy(() => {
    assert.throws(() => bridge.postKey('q', modifiers), { message: 'unreadable modifier' });
  });
  assert.deepEqual(events, []);
});

// Each of these would take from seconds to hours if every index below the length were read. A
// synchronous call cannot be interrupted, but once it returns the test yields to the timers, and
// the test's own timeout, which would have expired first, fails a call that ran too long.
const BOUND = { timeout: 10000 };
const yieldToTimers = () => new Promise((resolve) => setTimeout(resolve, 0));

test('reading stops at the first element that throws; later elements are never read', BOUND, async () => {
  const reads = [];
  const modifiers = [];
  Object.defineProperty(modifiers, 0, {
    get() {
      reads.push(0);
      throw new Error('unreadable modifier');
    },
  });
  Object.defineProperty(modifiers, 1, {
    get() {
      reads.push(1);
      return 'cmd';
    },
  });
  modifiers.length = 1e7;
  const { events } = postedBy(() => {
    assert.throws(() => bridge.postKey('q', modifiers), { message: 'unreadable modifier' });
  });
  assert.deepEqual(events, []);
  assert.deepEqual(reads, [0]);
  await yieldToTimers();
});

test('a sparse array costs its elements, not its length', BOUND, async () => {
  const MAX_LENGTH = 2 ** 32 - 1;
  const cases = [
    // [what, build the modifier array, flags]
    ['the last index', () => { const a = []; a[MAX_LENGTH - 2] = 'cmd'; return a; }, Flag.command],
    ['first and far', () => { const a = ['shift']; a[4e9] = 'ctrl'; a.length = MAX_LENGTH; return a; },
      Flag.shift | Flag.control],
    ['nothing held', () => { const a = []; a.length = MAX_LENGTH; return a; }, 0],
    ['a named property', () => { const a = new Array(MAX_LENGTH); a[7] = 'OPTION'; a.extra = 'fn'; return a; },
      Flag.option],
  ];
  for (const [what, build, flags] of cases) {
    assertPressesQuietly(what, 'tab', build(), 48, flags);
    await yieldToTimers();
  }
});

test('elements are read once each, in index order, wherever they are held', () => {
  const reads = [];
  const modifiers = [];
  // Defined out of order, as accessors (non-enumerable by default): still read, and in order.
  for (const [index, name] of [[9, 'fn'], [2, 'shift'], [5, 'cmd']]) {
    Object.defineProperty(modifiers, index, {
      get() {
        reads.push(index);
        return name;
      },
    });
  }
  assertPressesQuietly('accessors', 'tab', modifiers, 48, Flag.fn | Flag.shift | Flag.command);
  assert.deepEqual(reads, [2, 5, 9]);
  // A key beyond the length, or one that only looks like an index, is not an element.
  const lookalikes = ['alt'];
  Object.assign(lookalikes, { '01': 'cmd', '1.0': 'cmd', '-1': 'cmd', 4294967295: 'cmd' });
  assertPresses('tab', lookalikes, 48, Flag.option);
});

test('postKey without a string key raises the usage TypeError and posts nothing', () => {
  for (const args of [[], [13], [undefined], [null, ['cmd']], [new String('a')], [['a']]]) {
    const { events } = postedBy(() => {
      assertThrowsExactly(() => bridge.postKey(...args), TypeError, 'postKey(key, modifiers?)');
    });
    assert.deepEqual(events, []);
  }
});

test('an event the platform fails to create is skipped and the call still answers true', () => {
  const [down, up] = press(0, Flag.command);
  const cases = [
    // [every n-th creation fails, expected]
    [1, []],
    [2, [down]],  // down is created first, up second
  ];
  for (const [every, expected] of cases) {
    sim.failEventCreation(every);
    const { result, events } = postedBy(() => bridge.postKey('a', ['cmd']));
    assert.equal(result, true);
    assert.deepEqual(events, expected, `failing every ${every}`);
  }
  // The count runs across calls: the third creation is the second call's down event.
  sim.failEventCreation(3);
  const { events } = postedBy(() => [bridge.postKey('a', ['cmd']), bridge.postKey('a', ['cmd'])]);
  assert.deepEqual(events, [down, up, up]);
});
