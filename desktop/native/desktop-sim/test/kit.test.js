'use strict';
// The test kit's hardware and its errors, as the applications' event log shows them.
const { test, beforeEach } = require('node:test');
const assert = require('node:assert/strict');
const sim = require('..');
const fixtures = require('../fixture');

const { eventTypes: T, eventFlags: F } = sim;

beforeEach(() => sim.reset());

const sent = () => sim.apps.events().map((e) => [e.type, e.keycode]);

test('keys go by the names of postKey, its modifiers with their sides, and the tap', () => {
  const cases = [
    // [name, key code, event type of the press]
    ['fn', 63, T.flagsChanged], ['rightCommand', 54, T.flagsChanged],
    ['leftCommand', 55, T.flagsChanged], ['cmd', 55, T.flagsChanged],
    ['COMMAND', 55, T.flagsChanged], ['meta', 55, T.flagsChanged], ['rightCmd', 54, T.flagsChanged],
    ['rightMeta', 54, T.flagsChanged], ['shift', 56, T.flagsChanged],
    ['rightShift', 60, T.flagsChanged], ['ctrl', 59, T.flagsChanged],
    ['rightControl', 62, T.flagsChanged], ['leftCtrl', 59, T.flagsChanged],
    ['alt', 58, T.flagsChanged], ['rightOption', 61, T.flagsChanged],
    ['rightAlt', 61, T.flagsChanged], ['capsLock', 57, T.flagsChanged],
    ['a', 0, T.keyDown], ['Z', 6, T.keyDown], ['Return', 36, T.keyDown], ['enter', 36, T.keyDown],
    ['f5', 96, T.keyDown], ['pagedown', 121, T.keyDown], ['left', 123, T.keyDown],
    [';', 41, T.keyDown], ['\\', 42, T.keyDown], ['`', 50, T.keyDown], ['9', 25, T.keyDown],
  ];
  for (const [name, keycode, type] of cases) {
    sim.reset();
    assert.equal(sim.keyboard.hold(name), true, name);
    assert.deepEqual(sim.hid.keysDown(), [keycode], name);
    assert.equal(sim.keyboard.release(name), true, name);
    assert.deepEqual(sim.hid.keysDown(), [], name);
    const releaseType = type === T.keyDown ? T.keyUp : T.flagsChanged;
    assert.deepEqual(sent(), [[type, keycode], [releaseType, keycode]], name);
  }
});

test('press holds a chord in the order written and releases it in reverse', () => {
  assert.equal(sim.keyboard.press('cmd+shift+z'), true);
  assert.deepEqual(sent(), [[T.flagsChanged, 55], [T.flagsChanged, 56], [T.keyDown, 6],
                            [T.keyUp, 6], [T.flagsChanged, 56], [T.flagsChanged, 55]]);
  const zDown = sim.apps.events()[2];
  assert.equal(zDown.flags & (F.command | F.shift), F.command | F.shift, 'z carries both');
  assert.deepEqual(sim.hid.keysDown(), []);

  sim.reset();
  sim.keyboard.hold('fn+rightCommand');
  assert.deepEqual(sim.hid.keysDown(), [63, 54]);
  sim.keyboard.release('fn+rightCommand');
  assert.deepEqual(sent(), [[T.flagsChanged, 63], [T.flagsChanged, 54], [T.flagsChanged, 63],
                            [T.flagsChanged, 54]], 'release goes in the order written');
});

test('a mistaken key name or key state throws before anything is sent', () => {
  sim.keyboard.hold('fn');
  const before = sim.apps.count();
  const cases = [
    // [call, error type, message]
    [() => sim.keyboard.press(), TypeError,
     "keyboard.press(keys): keys must be a string of key names joined by '+' ('fn', " +
     "'rightCommand', 'cmd+shift+z')"],
    [() => sim.keyboard.hold(63), TypeError, /^keyboard\.hold\(keys\): keys must be a string/],
    [() => sim.keyboard.press('hyper'), RangeError,
     "keyboard.press(keys): unknown key 'hyper' in 'hyper'"],
    [() => sim.keyboard.press('cmd+'), RangeError,
     "keyboard.press(keys): unknown key '' in 'cmd+'"],
    [() => sim.keyboard.press('f13'), RangeError, /unknown key 'f13'/],
    [() => sim.keyboard.press('page down'), RangeError, /unknown key 'page down'/],
    [() => sim.keyboard.press('cmd+command+c'), RangeError,
     "keyboard.press(keys): 'cmd+command+c' names one key twice"],
    [() => sim.keyboard.press('shift+fn'), Error, "keyboard.press(keys): 'fn' is already down"],
    [() => sim.keyboard.hold('FN'), Error, "keyboard.hold(keys): 'FN' is already down"],
    [() => sim.keyboard.release('fn+shift'), Error, "keyboard.release(keys): 'shift' is not down"],
  ];
  for (const [call, type, message] of cases) {
    assert.throws(call, (error) => {
      assert.equal(error.constructor, type);
      if (typeof message === 'string') assert.equal(error.message, message);
      else assert.match(error.message, message);
      return true;
    });
  }
  assert.equal(sim.apps.count(), before, 'nothing was sent');
  assert.deepEqual(sim.hid.keysDown(), [63]);
});

test('mouse buttons are numbered as the addon numbers them and carry the held modifiers', () => {
  const cases = [
    // [button, down type, up type, the system's button number]
    ['left', T.leftMouseDown, T.leftMouseUp, 0], [1, T.leftMouseDown, T.leftMouseUp, 0],
    ['right', T.rightMouseDown, T.rightMouseUp, 1], [2, T.rightMouseDown, T.rightMouseUp, 1],
    ['middle', T.otherMouseDown, T.otherMouseUp, 2], [4, T.otherMouseDown, T.otherMouseUp, 3],
    [5, T.otherMouseDown, T.otherMouseUp, 4], [32, T.otherMouseDown, T.otherMouseUp, 31],
  ];
  const seen = () => sim.apps.events().map((e) => [e.type, e.button]);
  for (const [button, down, up, number] of cases) {
    sim.reset();
    assert.equal(sim.mouse.press(button), true);
    assert.equal(sim.mouse.release(button), true);
    assert.equal(sim.mouse.click(button), true);
    assert.deepEqual(seen(), [[down, number], [up, number], [down, number], [up, number]],
                     String(button));
  }
  sim.reset();
  sim.keyboard.hold('rightShift');
  sim.mouse.click(4);
  for (const event of sim.apps.events().slice(1)) {
    assert.equal(event.flags, sim.hid.keyboardFlags());
  }
  assert.equal(sim.apps.events()[1].flags & F.shift, F.shift);
});

test('a mouse button the addon does not number throws, sending nothing', () => {
  const cases = [
    [undefined, TypeError], [null, TypeError], ['4', TypeError], ['forward', TypeError],
    ['Left', TypeError], [4.5, TypeError], [NaN, TypeError], [0, RangeError], [33, RangeError],
    [-5, RangeError],
  ];
  for (const [button, type] of cases) {
    for (const call of ['press', 'release', 'click']) {
      assert.throws(() => sim.mouse[call](button), (error) => {
        assert.equal(error.constructor, type, `${call}(${String(button)})`);
        assert.ok(error.message.startsWith(`mouse.${call}(button): button must be`), error.message);
        return true;
      });
    }
  }
  assert.equal(sim.apps.count(), 0);
});

test('the kit answers false when a tap removed one of the events it sent', () => {
  const keys = fixtures.probeTap({ mask: 2 ** T.keyDown, verdict: 'remove' });
  assert.equal(sim.keyboard.press('a'), false, 'the key-down was removed');
  assert.equal(sim.keyboard.press('shift'), true, 'modifiers pass');
  keys.stop();
  fixtures.probeTap({ verdict: 'remove' });  // other-mouse buttons
  assert.equal(sim.mouse.click(5), false);
  assert.equal(sim.mouse.press('left'), true);
});

test('loadApp checks every option', () => {
  const cases = [
    [[42], TypeError, 'loadApp(options): options must be an object'],
    [[{ nmae: 'Notes' }], TypeError, "loadApp(options): unknown option 'nmae'"],
    [[{ name: 7 }], TypeError, 'loadApp(options).name: a string'],
    [[{ pid: 0 }], RangeError, 'loadApp(options).pid: from 1 to 2147483647'],
    [[{ pid: '9' }], TypeError, 'loadApp(options).pid: an integer'],
    [[{ window: null }], TypeError, 'loadApp(options).window: a string'],
    [[{ field: 3 }], TypeError, 'loadApp(options).field: null, a title or {title, value, role}'],
    [[{ field: { titel: 'Body' } }], TypeError, "loadApp(options).field: unknown option 'titel'"],
    [[{ field: { role: 'AXButton' } }], RangeError,
     "loadApp(options).field.role: one of AXTextField, AXTextArea, AXComboBox, not 'AXButton'"],
    [[{ field: { value: 1 } }], TypeError, 'loadApp(options).field.value: a string'],
  ];
  for (const [args, type, message] of cases) {
    assert.throws(() => sim.loadApp(...args), (error) => {
      assert.equal(error.constructor, type);
      assert.equal(error.message, message);
      return true;
    });
  }
  assert.deepEqual(sim.ax.requests(), []);
});

test('loadApp answers what it loaded and leaves the accessibility permission as it was', () => {
  assert.deepEqual({ ...sim.loadApp() },
                   { pid: 1000, name: 'Application', bundleId: 'com.example.application' });
  assert.deepEqual({ ...sim.loadApp({ name: 'Sticky Notes 2', pid: 77 }) },
                   { pid: 77, name: 'Sticky Notes 2', bundleId: 'com.example.stickynotes2' });
  sim.setPermission('accessibility', false);
  sim.loadApp({ name: 'Notes', bundleId: 'org.example.notes' });
  assert.equal(sim.ax.trusted(), false);
  assert.equal(sim.permissions().accessibility, false);
});

test('waitForTap resolves once a tap is enabled, and rejects saying why it may not', async () => {
  await assert.rejects(sim.waitForTap({ timeoutMs: 20 }), {
    message: 'waitForTap: no event tap was enabled within 20 ms (was the tap started, with the ' +
      'permissions on and taps not refused?)',
  });
  const probe = fixtures.probeTap();
  await sim.waitForTap();
  assert.equal(sim.taps().length, 1);
  probe.stop();
});

test('resetAll needs the addon module, and changes nothing without it', () => {
  sim.keyboard.hold('fn');
  for (const bridge of [undefined, null, {}, { stop() {}, start() {} }, 'input-bridge']) {
    assert.throws(() => sim.resetAll(bridge), {
      name: 'TypeError',
      message: "resetAll(bridge): bridge must be the input-bridge module (require('input-bridge'))",
    });
  }
  assert.deepEqual(sim.hid.keysDown(), [63]);
});
