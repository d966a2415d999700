'use strict';
// Keys on every keyboard layout: the key a user of each layout presses for a shortcut or a
// character, the keys that type no character, the U.S. layout unchanged, a switch between two
// calls, and postKey on a worker's script thread.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const { Worker } = require('node:worker_threads');
const h = require('./helpers');

const { bridge, sim, Flag, Posted, postedBy } = h;

test.beforeEach(() => sim.reset());

const US = 'com.apple.keylayout.US';
const FRENCH = 'com.apple.keylayout.French';
const GERMAN = 'com.apple.keylayout.German';
const DVORAK = 'com.apple.keylayout.Dvorak';
const DVORAK_QWERTY_COMMAND = 'com.apple.keylayout.DVORAK-QWERTYCMD';

const C = Flag.command;
const S = Flag.shift;
const O = Flag.option;

// The key table's names and their U.S. positions: those that stand for a character, and those
// that stand for none.
const CHARACTER_KEYS = [
  ['a', 0], ['b', 11], ['c', 8], ['d', 2], ['e', 14], ['f', 3], ['g', 5], ['h', 4], ['i', 34],
  ['j', 38], ['k', 40], ['l', 37], ['m', 46], ['n', 45], ['o', 31], ['p', 35], ['q', 12],
  ['r', 15], ['s', 1], ['t', 17], ['u', 32], ['v', 9], ['w', 13], ['x', 7], ['y', 16], ['z', 6],
  ['0', 29], ['1', 18], ['2', 19], ['3', 20], ['4', 21], ['5', 23], ['6', 22], ['7', 26],
  ['8', 28], ['9', 25], ['slash', 44], ['/', 44], ['period', 47], ['.', 47], ['comma', 43],
  [',', 43], ['minus', 27], ['-', 27], ['equal', 24], ['=', 24], ['semicolon', 41], [';', 41],
  ['quote', 39], ["'", 39], ['backslash', 42], ['\\', 42], ['grave', 50], ['`', 50],
  ['leftbracket', 33], ['[', 33], ['rightbracket', 30], [']', 30],
];
const OTHER_KEYS = [
  ['return', 36], ['enter', 36], ['tab', 48], ['space', 49], ['delete', 51], ['backspace', 51],
  ['forwarddelete', 117], ['escape', 53], ['esc', 53], ['home', 115], ['end', 119],
  ['pageup', 116], ['pagedown', 121], ['left', 123], ['leftarrow', 123], ['right', 124],
  ['rightarrow', 124], ['up', 126], ['uparrow', 126], ['down', 125], ['downarrow', 125],
  ['f1', 122], ['f2', 120], ['f3', 99], ['f4', 118], ['f5', 96], ['f6', 97], ['f7', 98],
  ['f8', 100], ['f9', 101], ['f10', 109], ['f11', 103], ['f12', 111],
];

const press = (code, flags) => [Posted.key(code, true, flags), Posted.key(code, false, flags)];

function pressed(name, modifiers) {
  const { result, events } = postedBy(() => bridge.postKey(name, modifiers));
  assert.equal(result, true, name);
  return events;
}

// What a user of each layout presses: [name, modifiers, key code, flags]. From the layout
// descriptions the desktop's layouts are taken from (desktop-sim's README): on French AZERTY
// A and Q, Z and W trade places, M sits right of L, the digits are shifted on the number row and
// Command keeps the unshifted layer; on German QWERTZ Y and Z trade places and brackets are on
// Option-5 and -6; Dvorak moves almost every key; "Dvorak - QWERTY" is Dvorak but has the U.S.
// positions while Command is down.
const SHORTCUTS = ['a', 'c', 'q', 'v', 'w', 'x', 'y', 'z'];
const LAYOUT_CASES = {
  [FRENCH]: [
    // shortcuts
    ...[[12], [8], [0], [9], [6], [7], [16], [13]].map(([code], i) => [SHORTCUTS[i], ['cmd'], code, C]),
    ['1', ['cmd'], 18, C | S], ['2', ['cmd'], 19, C | S], ['0', ['cmd'], 29, C | S],
    [',', ['cmd'], 46, C], ['.', ['cmd'], 43, C | S], ['/', ['cmd'], 47, C | S],
    ['-', ['cmd'], 24, C], ['=', ['cmd'], 44, C], ['z', ['cmd', 'shift'], 13, C | S],
    // no key gives [ under Command or Command-Shift: the U.S. position
    ['[', ['cmd'], 33, C],
    // characters
    ['a', [], 12, 0], ['m', [], 41, 0], ['1', [], 18, S], ['/', [], 47, S], [';', [], 43, 0],
    ["'", [], 21, 0], ['-', [], 24, 0], ['[', [], 23, S | O], [']', [], 27, S | O],
    ['\\', [], 47, S | O], ['grave', [], 42, 0], ['quote', ['ctrl'], 21, Flag.control],
  ],
  [GERMAN]: [
    ...[[0], [8], [12], [9], [13], [7], [6], [16]].map(([code], i) => [SHORTCUTS[i], ['cmd'], code, C]),
    ['1', ['cmd'], 18, C], ['/', ['cmd'], 26, C | S], [',', ['cmd'], 43, C], ['.', ['cmd'], 47, C],
    ['-', ['cmd'], 44, C], ['=', ['cmd'], 29, C | S], ['[', ['cmd'], 33, C],
    ['y', [], 6, 0], ['z', [], 16, 0], ['[', [], 23, O], [']', [], 22, O], ['\\', [], 26, S | O],
    ['/', [], 26, S], [';', [], 43, S], ["'", [], 42, S], ['`', [], 24, S], ['=', [], 29, S],
    ['1', ['shift'], 18, S],
  ],
  [DVORAK]: [
    ...[[0], [34], [7], [47], [43], [11], [17], [44]].map(([code], i) => [SHORTCUTS[i], ['cmd'], code, C]),
    ['1', ['cmd'], 18, C], ['/', ['cmd'], 33, C], [',', ['cmd'], 13, C], ['.', ['cmd'], 14, C],
    ['[', ['cmd'], 27, C], ['=', ['cmd'], 30, C], ['-', ['cmd'], 39, C],
    ['c', [], 34, 0], ['s', [], 41, 0], ["'", [], 12, 0], [';', [], 6, 0], ['[', [], 27, 0],
    ['z', ['ctrl'], 44, Flag.control],
  ],
  [DVORAK_QWERTY_COMMAND]: [
    ...[[0], [8], [12], [9], [13], [7], [16], [6]].map(([code], i) => [SHORTCUTS[i], ['cmd'], code, C]),
    ['1', ['cmd'], 18, C], ['/', ['cmd'], 44, C], [',', ['cmd'], 43, C], ['[', ['cmd'], 33, C],
    ['z', ['cmd', 'shift'], 6, C | S], ['c', ['cmd', 'alt'], 8, C | O],
    // typing, Control included, stays Dvorak
    ['c', [], 34, 0], ['/', [], 33, 0], ['z', ['ctrl'], 44, Flag.control],
  ],
};

test('each layout gets the key its users press for the shortcut or character', () => {
  for (const [layout, cases] of Object.entries(LAYOUT_CASES)) {
    sim.setKeyboardLayout(layout);
    for (const [name, modifiers, code, flags] of cases) {
      assert.deepEqual(pressed(name, modifiers), press(code, flags),
                       `${layout}: postKey(${JSON.stringify(name)}, ${JSON.stringify(modifiers)})`);
    }
  }
});

test('on the U.S. layout every name posts its table code with exactly the named modifiers', () => {
  const modifierSets = [[[], 0], [['cmd'], C], [['shift'], S], [['cmd', 'shift'], C | S],
                        [['alt'], O], [['ctrl'], Flag.control], [['cmd', 'alt', 'fn'], C | O | Flag.fn]];
  for (const [name, code] of [...CHARACTER_KEYS, ...OTHER_KEYS]) {
    for (const [modifiers, flags] of modifierSets) {
      assert.deepEqual(pressed(name, modifiers), press(code, flags), `${name} ${modifiers}`);
    }
  }
});

test('keys that type no character keep their codes on every layout', () => {
  for (const layout of sim.keyboardLayouts) {
    sim.setKeyboardLayout(layout);
    for (const [name, code] of OTHER_KEYS) {
      for (const [modifiers, flags] of [[[], 0], [['cmd'], C]]) {
        assert.deepEqual(pressed(name, modifiers), press(code, flags), `${layout}: ${name}`);
      }
    }
  }
});

test('a layout switch between two calls changes the second', () => {
  const steps = [
    // [layout selected before the call, key code of Command-Z]
    [US, 6], [FRENCH, 13], [FRENCH, 13], [GERMAN, 16], [DVORAK, 44], [DVORAK_QWERTY_COMMAND, 6],
    [FRENCH, 13], [US, 6],
  ];
  for (const [layout, code] of steps) {
    sim.setKeyboardLayout(layout);
    assert.deepEqual(pressed('z', ['cmd']), press(code, C), layout);
  }
  h.assertLedgerClean();
});

// Runs postKey on a worker's script thread of this host and answers what it posted.
function postKeyOnWorker(name, modifiers) {
  const worker = new Worker(`
    const { parentPort, workerData } = require('node:worker_threads');
    const bridge = require(workerData.addon);
    parentPort.postMessage(bridge.postKey(workerData.name, workerData.modifiers));
  `, { eval: true, workerData: { addon: h.addonDir, name, modifiers } });
  return new Promise((resolve, reject) => {
    worker.once('message', resolve);
    worker.once('error', reject);
  });
}

test('a worker posts the keys of the layout the main thread read, calling no input source',
     { timeout: 60000 }, async () => {
  sim.setKeyboardLayout(GERMAN);
  assert.deepEqual(pressed('z', ['cmd']), press(16, C), 'the main thread reads the layout');
  sim.clearPosted();
  assert.equal(await postKeyOnWorker('z', ['cmd']), true);
  assert.deepEqual(sim.posted(), press(16, C));
  sim.clearPosted();
  assert.equal(await postKeyOnWorker('return', ['cmd']), true);
  assert.deepEqual(sim.posted(), press(36, C));
  // The text input sources belong to the main thread: a call from the worker would be misuse.
  h.assertLedgerClean();
});

test('a worker in a host whose main thread never read a layout posts the U.S. positions',
     { timeout: 60000 }, () => {
  const script = `
    const { Worker } = require('node:worker_threads');
    const sim = require('../desktop-sim');
    sim.setKeyboardLayout('${FRENCH}');
    const worker = new Worker("require('node:worker_threads').parentPort.postMessage(" +
                              "require(process.cwd()).postKey('z', ['cmd']))", { eval: true });
    worker.once('message', (answer) => {
      console.log(JSON.stringify({ answer, posted: sim.posted().map((e) => e.keycode),
                                   misuse: sim.cf.misuseLog(), live: sim.cf.live() }));
    });
  `;
  const child = spawnSync(process.execPath, ['-e', script], { cwd: h.addonDir, encoding: 'utf8',
                                                              timeout: 60000 });
  assert.equal(child.status, 0, child.stderr);
  assert.deepEqual(JSON.parse(child.stdout), { answer: true, posted: [6, 6], misuse: [], live: 0 });
});
