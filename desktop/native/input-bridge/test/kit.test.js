'use strict';
// The test kit with the addon, through the package's public entry points: what the posted events
// read back as, the application it loads as the snapshot functions see it, the tap wait, and the
// one reset that leaves desktop and addon as new.
const test = require('node:test');
const assert = require('node:assert/strict');
const bridge = require('input-bridge');
const sim = require('input-bridge/desktop-sim');

test.beforeEach(() => sim.resetAll(bridge));
// The ledger before resetAll, which starts it afresh: a stopped tap holds nothing.
test.afterEach(() => {
  bridge.stop();
  assert.equal(sim.cf.misuse(), 0, sim.cf.misuseLog().join('\n'));
  assert.equal(sim.cf.live(), 0);
  sim.resetAll(bridge);
});

// postKey's key names, as index.d.ts lists them.
const KEY_NAMES = [
  'return', 'enter', 'tab', 'space', 'delete', 'backspace', 'forwarddelete', 'escape', 'esc',
  'home', 'end', 'pageup', 'pagedown', 'left', 'leftarrow', 'right', 'rightarrow', 'up',
  'uparrow', 'down', 'downarrow', 'f1', 'f2', 'f3', 'f4', 'f5', 'f6', 'f7', 'f8', 'f9', 'f10',
  'f11', 'f12', ...'abcdefghijklmnopqrstuvwxyz0123456789', 'slash', '/', 'period', '.', 'comma',
  ',', 'minus', '-', 'equal', '=', 'semicolon', ';', 'quote', "'", 'backslash', '\\', 'grave',
  '`', 'leftbracket', '[', 'rightbracket', ']',
];

test('the shortcuts read back name each key and its modifiers as postKey takes them', () => {
  const cases = [
    // [postKey's arguments, shortcut read back]
    [['z', ['cmd', 'shift']], 'cmd+shift+z'],
    [['Z', ['Shift', 'COMMAND']], 'cmd+shift+z'],
    [['return'], 'return'],
    [['enter'], 'return'],
    [['backspace', ['option']], 'alt+delete'],
    [['a', ['fn']], 'fn+a'],
    [['a', ['meta', 'control', 'alt', 'shift', 'fn']], 'cmd+ctrl+alt+shift+fn+a'],
    [['tab', ['shift', 7, 'hyper']], 'shift+tab'],
    [['/', ['cmd']], 'cmd+slash'],
    [['v', 'cmd'], 'v'],
    // Arrow, function and navigation keys carry the Fn bit of their own, so an "fn" on them
    // cannot be told from none.
    [['left'], 'left'],
    [['left', ['fn', 'alt']], 'alt+left'],
    [['f5', ['ctrl']], 'ctrl+f5'],
    [['pagedown'], 'pagedown'],
  ];
  for (const [args, expected] of cases) {
    sim.clearPosted();
    assert.equal(bridge.postKey(...args), true);
    assert.deepEqual(sim.shortcuts(), [expected], JSON.stringify(args));
  }
});

test('every key name reads back as a name postKey posts the same key for', () => {
  for (const name of KEY_NAMES) {
    sim.clearPosted();
    bridge.postKey(name);
    const [shortcut] = sim.shortcuts();
    const [{ keycode }] = sim.posted();
    sim.clearPosted();
    assert.equal(bridge.postKey(shortcut), true, `${name} read back as ${shortcut}`);
    assert.equal(sim.posted()[0].keycode, keycode, `${name} read back as ${shortcut}`);
  }
});

test('shortcuts name key positions: another layout may read a character as its position', () => {
  // postKey posts the key that gives the character on the selected layout; German swaps Y and Z.
  sim.setKeyboardLayout('com.apple.keylayout.German');
  bridge.postKey('z', ['cmd']);
  assert.deepEqual(sim.shortcuts(), ['cmd+y']);
});

test('typed text is what postType sent, in order, and shortcuts leave it out', () => {
  const long = 'a line longer than one event can carry, with \u{1F3A4} and a\ttab\n';
  bridge.postType('Dear ');
  bridge.postKey('b', ['cmd']);
  bridge.postType(long);
  bridge.postType('');
  bridge.postKey('return');
  bridge.postType('\ud800 stays');
  assert.equal(sim.typed(), `Dear ${long}\ud800 stays`);
  assert.deepEqual(sim.shortcuts(), ['cmd+b', 'return']);
  sim.clearPosted();
  assert.equal(sim.typed(), '');
  assert.deepEqual(sim.shortcuts(), []);
});

test('events that reached no application are not read back', () => {
  sim.setPermission('postEvents', false);
  bridge.postType('into the void');
  bridge.postKey('z', ['cmd']);
  assert.equal(sim.posted().length, 4, 'the log keeps the dropped events');
  assert.equal(sim.typed(), '');
  assert.deepEqual(sim.shortcuts(), []);
});

test('loadApp gives the snapshot functions a focused application with a focused text field', () => {
  const app = sim.loadApp({ name: 'Notes', window: 'Shopping list', field: 'Body' });
  assert.deepEqual(bridge.axFocused(), { role: 'AXTextField', title: 'Body', description: '',
                                         value: '' });
  const dump = bridge.axDump();
  assert.equal(dump.pid, app.pid);
  assert.equal(dump.appName, 'Notes');
  assert.equal(dump.bundleId, 'com.example.notes');
  assert.equal(dump.windowTitle, 'Shopping list');
  assert.equal(dump.nodes[dump.focusedNodeId].title, 'Body');

  sim.loadApp({ field: { role: 'AXTextArea', title: 'Message', value: 'Hi', description: 'To' } });
  assert.deepEqual(bridge.axFocused(), { role: 'AXTextArea', title: 'Message', description: 'To',
                                         value: 'Hi' });
  sim.loadApp({ name: 'Finder', field: null });
  assert.deepEqual(bridge.axFocused(), {});
  assert.equal(bridge.axDump().appName, 'Finder');
  sim.setPermission('accessibility', false);
  sim.loadApp({ name: 'Notes' });
  assert.deepEqual(bridge.axFocused(), {}, 'the permission stays off');
});

test('waitForTap resolves once the addon has installed its tap', async () => {
  bridge.start(() => {});
  await sim.waitForTap();
  assert.equal(sim.taps().length, 1);
  assert.equal(sim.taps()[0].enabled, true);
});

test('recordsDelivered resolves once every record of the events sent has arrived', async () => {
  const records = [];
  bridge.start((record) => records.push(record));
  await sim.waitForTap();
  for (let i = 0; i < 50; i++) sim.mouse.click(4);
  sim.keyboard.press('fn');
  await sim.recordsDelivered();
  assert.equal(records.length, 102);
  assert.deepEqual(records.slice(-2),
                   [{ event: 'fn', phase: 'down' }, { event: 'fn', phase: 'up' }]);
});

// What a test may leave behind: each is followed by resetAll, then a new tap must report a
// press and release of both keys exactly, and swallow nothing.
const LEFTOVERS = [
  ['the tap running with both keys held and button 5 swallowed', async () => {
    bridge.setSuppress(5, true);
    bridge.start(() => {});
    await sim.waitForTap();
    sim.keyboard.hold('fn+rightCommand');
  }],
  ['the tap stopped by the test while both keys were held', async () => {
    bridge.start(() => {});
    await sim.waitForTap();
    sim.keyboard.hold('fn+rightCommand');
    bridge.stop();
  }],
  ['the keys released while the tap was stopped', async () => {
    bridge.start(() => {});
    await sim.waitForTap();
    sim.keyboard.hold('fn+rightCommand');
    bridge.stop();
    sim.keyboard.release('fn+rightCommand');
  }],
  ['the grant withdrawn with both keys held', async () => {
    const records = [];
    bridge.start((record) => records.push(record));
    await sim.waitForTap();
    sim.keyboard.hold('rightCommand+fn');
    sim.setPermission('accessibility', false);
    await sim.waitFor(() => records.some((record) => record.event === 'tap_disabled'));
  }],
  ['every suppression bit set, the tap never started', async () => {
    for (let button = 1; button <= 31; button++) bridge.setSuppress(button, true);
  }],
];

test('resetAll leaves the addon as new, whatever the test left behind', async () => {
  for (const [name, leave] of LEFTOVERS) {
    await leave();
    sim.resetAll(bridge);
    assert.equal(bridge.isRunning(), false, name);
    assert.equal(bridge.setSuppress(1, false), 0, `${name}: no button is swallowed`);
    assert.deepEqual(sim.hid.keysDown(), [], name);
    assert.deepEqual(sim.taps(), [], name);
    assert.equal(sim.tapCreateCalls(), 0, `${name}: the desktop is fresh`);

    const records = [];
    bridge.start((record) => records.push(record));
    await sim.waitForTap();
    sim.keyboard.press('fn');
    sim.keyboard.press('rightCommand');
    assert.equal(sim.mouse.click(5), true, `${name}: button 5 passes`);
    await sim.recordsDelivered();
    assert.deepEqual(records, [
      { event: 'fn', phase: 'down' }, { event: 'fn', phase: 'up' },
      { event: 'rightCommand', phase: 'down' }, { event: 'rightCommand', phase: 'up' },
      { button: 5, phase: 'down', suppressed: false },
      { button: 5, phase: 'up', suppressed: false },
    ], name);
    sim.resetAll(bridge);
  }
});
