'use strict';
// The test kit: the simulated desktop in the words of an application's own tests. Keys by name,
// mouse buttons as the input bridge numbers them, an application with a focused text field from
// a few lines, and what the applications received read back as text and shortcuts. Built only
// on the control module's low-level calls, which it is handed, so that it stays one layer above
// them; it knows nothing of the addon beyond the two functions resetAll() is given.

// postKey's key table, in its order: name and virtual key code (the U.S. positions of
// HIToolbox's Events.h). The first name of a code is the one shortcuts() reads back.
const KEY_TABLE = [
  ['return', 36], ['enter', 36], ['tab', 48], ['space', 49], ['delete', 51], ['backspace', 51],
  ['forwarddelete', 117], ['escape', 53], ['esc', 53], ['home', 115], ['end', 119],
  ['pageup', 116], ['pagedown', 121], ['left', 123], ['leftarrow', 123], ['right', 124],
  ['rightarrow', 124], ['up', 126], ['uparrow', 126], ['down', 125], ['downarrow', 125],
  ['f1', 122], ['f2', 120], ['f3', 99], ['f4', 118], ['f5', 96], ['f6', 97], ['f7', 98],
  ['f8', 100], ['f9', 101], ['f10', 109], ['f11', 103], ['f12', 111],
  ['a', 0], ['b', 11], ['c', 8], ['d', 2], ['e', 14], ['f', 3], ['g', 5], ['h', 4], ['i', 34],
  ['j', 38], ['k', 40], ['l', 37], ['m', 46], ['n', 45], ['o', 31], ['p', 35], ['q', 12],
  ['r', 15], ['s', 1], ['t', 17], ['u', 32], ['v', 9], ['w', 13], ['x', 7], ['y', 16], ['z', 6],
  ['0', 29], ['1', 18], ['2', 19], ['3', 20], ['4', 21], ['5', 23], ['6', 22], ['7', 26],
  ['8', 28], ['9', 25], ['slash', 44], ['/', 44], ['period', 47], ['.', 47], ['comma', 43],
  [',', 43], ['minus', 27], ['-', 27], ['equal', 24], ['=', 24], ['semicolon', 41], [';', 41],
  ['quote', 39], ["'", 39], ['backslash', 42], ['\\', 42], ['grave', 50], ['`', 50],
  ['leftbracket', 33], ['[', 33], ['rightbracket', 30], [']', 30],
];

// The modifier keys under postKey's modifier names: the bare name is the left key, and each name
// also takes a side ('rightShift', 'leftCmd'). The flag is what postKey sets for the name, and
// what shortcuts() reads back, in this order.
const MODIFIERS = [
  // [postKey's names, left key, right key, flag]
  [['cmd', 'command', 'meta'], 55, 54, 0x100000],
  [['ctrl', 'control'], 59, 62, 0x40000],
  [['alt', 'option'], 58, 61, 0x80000],
  [['shift'], 56, 60, 0x20000],
];
const FN_KEY = 63;
const FN_FLAG = 0x800000;
const CAPS_LOCK_KEY = 57;

// Keys whose events carry the Fn bit of their own (arrows, function and navigation keys): on
// them the bit says nothing about an "fn" modifier.
const KEYS_WITH_OWN_FN = new Set([122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 115, 116,
                                  117, 119, 121, 123, 124, 125, 126]);

function keyCodesByName() {
  const codes = new Map(KEY_TABLE);
  for (const [names, left, right] of MODIFIERS) {
    for (const name of names) {
      codes.set(name, left);
      codes.set(`left${name}`, left);
      codes.set(`right${name}`, right);
    }
  }
  codes.set('fn', FN_KEY);
  codes.set('capslock', CAPS_LOCK_KEY);
  return codes;
}

// Lower-case names, matched in any case as postKey matches its own.
const KEY_CODES = keyCodesByName();
const KEY_NAME_OF_CODE = new Map([...KEY_TABLE].reverse().map(([name, code]) => [code, name]));

const BUTTON_NAMES = Object.freeze({ left: 1, right: 2, middle: 3 });
const MAX_BUTTON = 32;
const MAX_PID = 2 ** 31 - 1;
const FIELD_ROLES = ['AXTextField', 'AXTextArea', 'AXComboBox'];
const APP_KEYS = ['name', 'bundleId', 'pid', 'window', 'field'];
const FIELD_KEYS = ['title', 'value', 'role', 'description'];
const TAP_WAIT_MS = 5000;
const SUPPRESSIBLE_BUTTONS = 31;

function plainObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

function createKit(sim) {
  const { hid, eventTypes } = sim;

  // One key or a chord such as 'cmd+shift+z', as [{name, code}] in the order written. Every
  // mistake is found before anything is sent.
  function parseKeys(where, keys) {
    if (typeof keys !== 'string') {
      throw new TypeError(`${where}: keys must be a string of key names joined by '+' ` +
                          "('fn', 'rightCommand', 'cmd+shift+z')");
    }
    const parsed = keys.split('+').map((name) => {
      const code = KEY_CODES.get(name.toLowerCase());
      if (code === undefined) throw new RangeError(`${where}: unknown key '${name}' in '${keys}'`);
      return { name, code };
    });
    const codes = new Set(parsed.map((key) => key.code));
    if (codes.size !== parsed.length) {
      throw new RangeError(`${where}: '${keys}' names one key twice`);
    }
    return parsed;
  }

  function requireState(where, parsed, down) {
    const held = new Set(hid.keysDown());
    for (const { name, code } of parsed) {
      if (held.has(code) === down) continue;
      throw new Error(`${where}: '${name}' is ${down ? 'not' : 'already'} down`);
    }
  }

  // Every event is sent even when a tap removes one; the answer says whether all went through.
  function sendKeys(parsed, down) {
    let reached = true;
    for (const { code } of parsed) {
      if (!(down ? hid.keyDown(code) : hid.keyUp(code))) reached = false;
    }
    return reached;
  }

  const keyboard = Object.freeze({
    // Presses and holds the keys, in the order written.
    hold(keys) {
      const parsed = parseKeys('keyboard.hold(keys)', keys);
      requireState('keyboard.hold(keys)', parsed, false);
      return sendKeys(parsed, true);
    },
    // Releases held keys, in the order written.
    release(keys) {
      const parsed = parseKeys('keyboard.release(keys)', keys);
      requireState('keyboard.release(keys)', parsed, true);
      return sendKeys(parsed, false);
    },
    // Holds the keys in the order written and releases them in the reverse order: a chord.
    press(keys) {
      const parsed = parseKeys('keyboard.press(keys)', keys);
      requireState('keyboard.press(keys)', parsed, false);
      const pressed = sendKeys(parsed, true);
      const released = sendKeys([...parsed].reverse(), false);
      return pressed && released;
    },
  });

  // The button as the addon numbers it (1 left, 2 right, 3 middle, 4 and 5 the side buttons),
  // turned into the event the HID sends: the system counts buttons from 0, and the left and
  // right buttons have event types of their own.
  function buttonEvent(where, button, down) {
    let number = button;
    if (typeof button === 'string' && Object.hasOwn(BUTTON_NAMES, button)) {
      number = BUTTON_NAMES[button];
    } else if (typeof button !== 'number' || !Number.isInteger(button)) {
      throw new TypeError(`${where}: button must be 'left', 'right', 'middle' or a number from 1 ` +
                          `to ${MAX_BUTTON}`);
    } else if (button < 1 || button > MAX_BUTTON) {
      throw new RangeError(`${where}: button must be from 1 to ${MAX_BUTTON}, not ${button}`);
    }
    const types = number === 1 ? [eventTypes.leftMouseDown, eventTypes.leftMouseUp]
      : number === 2 ? [eventTypes.rightMouseDown, eventTypes.rightMouseUp]
        : [eventTypes.otherMouseDown, eventTypes.otherMouseUp];
    // A mouse's events carry the modifiers held on the keyboard, as on a Mac.
    return { type: types[down ? 0 : 1], button: number - 1, flags: hid.keyboardFlags() };
  }

  const mouse = Object.freeze({
    press(button) {
      return hid.send(buttonEvent('mouse.press(button)', button, true));
    },
    release(button) {
      return hid.send(buttonEvent('mouse.release(button)', button, false));
    },
    click(button) {
      const down = buttonEvent('mouse.click(button)', button, true);
      const pressed = hid.send(down);
      const released = hid.send(buttonEvent('mouse.click(button)', button, false));
      return pressed && released;
    },
  });

  function optionalString(where, value, fallback) {
    if (value === undefined) return fallback;
    if (typeof value !== 'string') throw new TypeError(`${where}: a string`);
    return value;
  }

  function checkKnownKeys(where, object, allowed) {
    for (const key of Object.keys(object)) {
      if (!allowed.includes(key)) throw new TypeError(`${where}: unknown option '${key}'`);
    }
  }

  function fieldOf(where, field) {
    if (field === null) return null;
    if (field === undefined || typeof field === 'string') {
      return { role: 'AXTextField', title: field ?? '', value: '', description: '' };
    }
    if (!plainObject(field)) throw new TypeError(`${where}: null, a title or {title, value, role}`);
    checkKnownKeys(where, field, FIELD_KEYS);
    const role = optionalString(`${where}.role`, field.role, 'AXTextField');
    if (!FIELD_ROLES.includes(role)) {
      throw new RangeError(`${where}.role: one of ${FIELD_ROLES.join(', ')}, not '${role}'`);
    }
    return {
      role,
      title: optionalString(`${where}.title`, field.title, ''),
      value: optionalString(`${where}.value`, field.value, ''),
      description: optionalString(`${where}.description`, field.description, ''),
    };
  }

  function appOptions(options) {
    const where = 'loadApp(options)';
    if (options === undefined) options = {};
    if (!plainObject(options)) throw new TypeError(`${where}: options must be an object`);
    checkKnownKeys(where, options, APP_KEYS);
    const name = optionalString(`${where}.name`, options.name, 'Application');
    const slug = name.toLowerCase().replace(/[^a-z0-9]+/g, '') || 'application';
    const pid = options.pid === undefined ? 1000 : options.pid;
    if (typeof pid !== 'number' || !Number.isInteger(pid)) {
      throw new TypeError(`${where}.pid: an integer`);
    }
    if (pid < 1 || pid > MAX_PID) throw new RangeError(`${where}.pid: from 1 to ${MAX_PID}`);
    return {
      name,
      pid,
      bundleId: optionalString(`${where}.bundleId`, options.bundleId, `com.example.${slug}`),
      window: optionalString(`${where}.window`, options.window, name),
      field: fieldOf(`${where}.field`, options.field),
    };
  }

  function fieldElement(field) {
    return {
      id: 'field',
      attributes: {
        AXRole: field.role, AXTitle: field.title, AXDescription: field.description,
        AXValue: field.value, AXFocused: true, AXEnabled: true,
      },
      settable: ['AXValue', 'AXFocused'],
    };
  }

  // Replaces the accessibility desktop with one focused application: a window, and in it the
  // focused text field (none for field: null). The accessibility permission stays as it is.
  function loadApp(options) {
    const app = appOptions(options);
    const window = {
      id: 'window',
      attributes: { AXRole: 'AXWindow', AXSubrole: 'AXStandardWindow', AXTitle: app.window,
                    AXMain: true, AXFocused: true },
      children: app.field === null ? [] : [fieldElement(app.field)],
    };
    sim.ax.load({
      trusted: sim.ax.trusted(),
      focusedApplication: app.pid,
      applications: [{
        pid: app.pid, name: app.name, bundleId: app.bundleId, focusedWindow: 'window',
        focusedElement: app.field === null ? undefined : 'field',
        root: { attributes: { AXRole: 'AXApplication', AXTitle: app.name }, children: [window] },
      }],
    });
    return Object.freeze({ pid: app.pid, name: app.name, bundleId: app.bundleId });
  }

  // Key-down events the program posted that reached the applications (not those dropped for
  // want of permission): an application acts on the press, so a lost key-up changes nothing.
  function postedKeyDowns() {
    return sim.posted().filter((event) => event.keyDown === true && event.dropped !== true);
  }

  // The text the posted key events typed (postType's), in order.
  function typed() {
    return postedKeyDowns().filter((event) => event.text !== undefined)
      .map((event) => event.text).join('');
  }

  function shortcutName(event) {
    const flags = Number(BigInt(event.flags) & 0xffffffffn);
    const names = MODIFIERS.filter(([, , , flag]) => (flags & flag) !== 0).map(([[name]]) => name);
    if ((flags & FN_FLAG) !== 0 && !KEYS_WITH_OWN_FN.has(event.keycode)) names.push('fn');
    names.push(KEY_NAME_OF_CODE.get(event.keycode) ?? `key${event.keycode}`);
    return names.join('+');
  }

  // The keys posted without text (postKey's), each as 'cmd+shift+z' or 'return', in order.
  function shortcuts() {
    return postedKeyDowns().filter((event) => event.text === undefined).map(shortcutName);
  }

  // Resolves once an event tap is installed and enabled (the addon's, after start()).
  function waitForTap({ timeoutMs = TAP_WAIT_MS } = {}) {
    return sim.waitFor(() => sim.taps().some((tap) => tap.enabled), { timeoutMs }).catch(() => {
      throw new Error(`waitForTap: no event tap was enabled within ${timeoutMs} ms (was the ` +
                      'tap started, with the permissions on and taps not refused?)');
    });
  }

  // Resolves once the records the tap made of every event sent so far have reached the
  // callback: the desktop has handed each event to the tap (settle), and the addon's deliveries
  // wait for the host's event loop, which drains such a queue within a turn or two.
  async function recordsDelivered() {
    sim.settle();
    for (let turn = 0; turn < 3; turn++) {
      await new Promise((resolve) => setImmediate(resolve));
      await new Promise((resolve) => setTimeout(resolve, 0));
    }
  }

  // Blocks the script thread for a moment: the tap thread installs its tap on its own.
  const pause = (ms) => Atomics.wait(new Int32Array(new SharedArrayBuffer(4)), 0, 0, ms);

  function waitForTapSync(where) {
    const deadline = Date.now() + TAP_WAIT_MS;
    while (!sim.taps().some((tap) => tap.enabled)) {
      if (Date.now() > deadline) throw new Error(`${where}: the addon's tap was not installed`);
      pause(1);
    }
  }

  // For an afterEach: the addon's tap stopped, its suppression mask clear, its modifier state
  // as new, and a fresh desktop. The addon keeps the last Fn and right Command state its tap saw
  // for the life of the process, and a tap that starts reports the changes made while none was
  // there: a key the test left held, released by the reset, would otherwise reach the next
  // test's callback as a release. So a short start and stop on the fresh desktop lets the addon
  // read the state afresh (anything it reports goes to a callback of this call's own), and a
  // second reset leaves no trace of it.
  function resetAll(bridge) {
    const where = 'resetAll(bridge)';
    if (!plainObject(bridge) || typeof bridge.stop !== 'function' ||
        typeof bridge.start !== 'function' || typeof bridge.setSuppress !== 'function') {
      throw new TypeError(`${where}: bridge must be the input-bridge module ` +
                          "(require('input-bridge'))");
    }
    bridge.stop();
    for (let button = 1; button <= SUPPRESSIBLE_BUTTONS; button++) {
      bridge.setSuppress(button, false);
    }
    sim.reset();
    bridge.start(() => {});
    try {
      waitForTapSync(where);
    } finally {
      bridge.stop();
      sim.reset();
    }
  }

  return { keyboard, mouse, loadApp, typed, shortcuts, waitForTap, recordsDelivered, resetAll };
}

module.exports = { createKit };
