'use strict';
// Control module of the simulated desktop: scripts the user's hardware and the system for tests
// of code that calls the macOS input services through desktop-sim. Linux only.

if (process.platform !== 'linux') {
  throw new Error(
    `desktop-sim runs on Linux only (this is ${process.platform}); on macOS the real system ` +
      'services stand where the simulated desktop would');
}

function loadNative() {
  const file = require('node:path').join(__dirname, 'build', 'Release', 'desktop_sim_control.node');
  try {
    return require(file);
  } catch (error) {
    if (error.code !== 'MODULE_NOT_FOUND') throw error;
    throw new Error(`desktop-sim is not built (no ${file}): run npm install in ${__dirname}`);
  }
}

const native = loadNative();

// CGEventType values the HID system can produce (the two tap-disabled notifications are the
// system's, never hardware's).
const eventTypes = Object.freeze({
  null: 0,
  leftMouseDown: 1,
  leftMouseUp: 2,
  rightMouseDown: 3,
  rightMouseUp: 4,
  mouseMoved: 5,
  leftMouseDragged: 6,
  rightMouseDragged: 7,
  keyDown: 10,
  keyUp: 11,
  flagsChanged: 12,
  scrollWheel: 22,
  tabletPointer: 23,
  tabletProximity: 24,
  otherMouseDown: 25,
  otherMouseUp: 26,
  otherMouseDragged: 27,
  tapDisabledByTimeout: 0xfffffffe,
  tapDisabledByUserInput: 0xffffffff,
});

const eventFlags = Object.freeze({
  alphaShift: 0x00010000,
  shift: 0x00020000,
  control: 0x00040000,
  alternate: 0x00080000,
  command: 0x00100000,
  numericPad: 0x00200000,
  help: 0x00400000,
  secondaryFn: 0x00800000,
  nonCoalesced: 0x00000100,
});

// Device-dependent modifier bits (IOLLEvent.h): which key of a pair is down.
const deviceFlags = Object.freeze({
  leftControl: 0x0001,
  leftShift: 0x0002,
  rightShift: 0x0004,
  leftCommand: 0x0008,
  rightCommand: 0x0010,
  leftOption: 0x0020,
  rightOption: 0x0040,
  rightControl: 0x2000,
});

// Virtual key codes of the modifier keys (HIToolbox's Events.h).
const keyCodes = Object.freeze({
  rightCommand: 54,
  leftCommand: 55,
  leftShift: 56,
  capsLock: 57,
  leftOption: 58,
  leftControl: 59,
  rightShift: 60,
  rightOption: 61,
  rightControl: 62,
  fn: 63,
});

const hardwareTypes = new Set(
  Object.values(eventTypes).filter((t) => t !== eventTypes.tapDisabledByTimeout &&
                                          t !== eventTypes.tapDisabledByUserInput));
const eventKeys = new Set(['type', 'button', 'flags', 'keycode', 'x', 'y']);
const MAX_U64 = (1n << 64n) - 1n;
const MAX_TIMEOUT_MS = 0xffffffff;

function isInteger(value) {
  return typeof value === 'number' && Number.isInteger(value);
}

function checkInteger(where, name, value, min, max) {
  if (!isInteger(value)) throw new TypeError(`${where}: ${name} must be an integer`);
  if (value < min || value > max) {
    throw new RangeError(`${where}: ${name} must be from ${min} to ${max}, not ${value}`);
  }
  return value;
}

function toFlags(where, value) {
  if (value === undefined) return 0n;
  if (typeof value === 'bigint') {
    if (value < 0n || value > MAX_U64) {
      throw new RangeError(`${where}: flags must be an unsigned 64-bit value`);
    }
    return value;
  }
  if (!isInteger(value)) throw new TypeError(`${where}: flags must be an integer or a bigint`);
  if (value < 0 || value > Number.MAX_SAFE_INTEGER) {
    throw new RangeError(`${where}: flags must be from 0 to ${Number.MAX_SAFE_INTEGER} ` +
                         '(pass a bigint for higher bits)');
  }
  return BigInt(value);
}

function toCoordinate(where, name, value) {
  if (value === undefined) return 0;
  if (typeof value !== 'number') throw new TypeError(`${where}: ${name} must be a number`);
  if (!Number.isFinite(value)) throw new RangeError(`${where}: ${name} must be finite`);
  return value;
}

// Validates an event description and returns the native call's arguments.
function eventArgs(where, event) {
  if (event === null || typeof event !== 'object' || Array.isArray(event)) {
    throw new TypeError(`${where}: event must be an object {type, button?, flags?, keycode?, x?, y?}`);
  }
  for (const key of Object.keys(event)) {
    if (!eventKeys.has(key)) throw new TypeError(`${where}: unknown event field '${key}'`);
  }
  if (!isInteger(event.type)) throw new TypeError(`${where}: type must be an integer event type`);
  if (!hardwareTypes.has(event.type)) {
    throw new RangeError(`${where}: ${event.type} is not an event type the HID system produces`);
  }
  const button = event.button === undefined ? 0 : checkInteger(where, 'button', event.button, 0, 31);
  const keycode =
    event.keycode === undefined ? 0 : checkInteger(where, 'keycode', event.keycode, 0, 0xffff);
  return [event.type, button, toFlags(where, event.flags), keycode,
          toCoordinate(where, 'x', event.x), toCoordinate(where, 'y', event.y)];
}

function checkBoolean(where, value) {
  if (typeof value !== 'boolean') throw new TypeError(`${where}: expects a boolean`);
  return value;
}

function checkTimeout(where, ms) {
  return checkInteger(where, 'ms', ms, 0, MAX_TIMEOUT_MS);
}

// Result codes of the native key call (desktop_sim_key_result).
const KEY_NOT_DOWN = -2;
const KEY_ALREADY_DOWN = -1;

function keyResult(where, keycode, down) {
  checkInteger(where, 'keycode', keycode, 0, 0xffff);
  const result = native.hidKey(keycode, down);
  if (result === KEY_ALREADY_DOWN) {
    throw new Error(`${where}: key ${keycode} is already down (a keyboard cannot press it again)`);
  }
  if (result === KEY_NOT_DOWN) {
    throw new Error(`${where}: key ${keycode} is not down (a keyboard cannot release it)`);
  }
  return result === 1;
}

const hid = Object.freeze({
  // Sends one hardware event through the taps; true when it reached the applications.
  send(event) {
    return native.hidSend(...eventArgs('hid.send(event)', event));
  },
  // Sends count copies of the event; answers how many reached the applications.
  sendMany(event, count) {
    const args = eventArgs('hid.sendMany(event, count)', event);
    checkInteger('hid.sendMany(event, count)', 'count', count, 0, Number.MAX_SAFE_INTEGER);
    return native.hidSendMany(...args, count);
  },
  // Presses a key as a Mac keyboard does (see the keyboard section of the README): a modifier
  // key gives a flags-changed event, any other key a key-down event, each carrying the flags of
  // every modifier then held. Answers as send().
  keyDown(keycode) {
    return keyResult('hid.keyDown(keycode)', keycode, true);
  },
  // Releases a held key; answers as send().
  keyUp(keycode) {
    return keyResult('hid.keyUp(keycode)', keycode, false);
  },
  // Key codes held down, in the order they went down.
  keysDown: () => native.keysDown(),
  // The flags of every modifier held now (Caps Lock included): what keyboard events carry, and
  // what events created with no source start with.
  keyboardFlags: () => native.keyboardFlags(),
  // While on, the keyboard's flag state keeps the Fn bit after Fn (or an arrow, function or
  // navigation key) is released, until Fn is pressed and released again; off clears it.
  setFnLatch(on) {
    native.setFnLatch(checkBoolean('hid.setFnLatch(on)', on));
  },
  fnLatch: () => native.fnLatch(),
  // Disables every enabled tap as the system does, notifies each, and returns once the
  // notifications were handled (at most the tap timeout); answers the number disabled.
  disableTaps(reason) {
    if (reason !== 'timeout' && reason !== 'userInput') {
      throw new TypeError("hid.disableTaps(reason): reason must be 'timeout' or 'userInput'");
    }
    return native.hidDisableTaps(reason === 'userInput');
  },
  // Time spent inside tap callbacks since reset() or resetCallbackStats():
  // {count, medianNs, p99Ns, maxNs, meanNs}.
  callbackStats: () => native.callbackStats(),
  resetCallbackStats: () => native.resetCallbackStats(),
});

const cf = Object.freeze({
  live: () => native.cfLive(),
  misuse: () => native.cfMisuse(),
  misuseLog: () => native.cfMisuseLog(),
  objects: () => native.cfObjects(),
});

const apps = Object.freeze({
  events: () => native.appEvents(),
  count: () => native.appEventCount(),
});

// Resolves once predicate() is true, checking after each turn of the event loop and at most
// every intervalMs; rejects after timeoutMs. For state that another thread changes.
function waitFor(predicate, { timeoutMs = 5000, intervalMs = 1 } = {}) {
  if (typeof predicate !== 'function') throw new TypeError('waitFor(predicate): needs a function');
  const deadline = Date.now() + timeoutMs;
  return new Promise((resolve, reject) => {
    const check = () => {
      let done;
      try {
        done = predicate();
      } catch (error) {
        reject(error);
        return;
      }
      if (done) resolve();
      else if (Date.now() >= deadline) reject(new Error(`waitFor: not true within ${timeoutMs} ms`));
      else setTimeout(check, intervalMs);
    };
    check();
  });
}

// --- accessibility desktop ---

const AX_KIND = Object.freeze({ string: 0, boolean: 1, number: 2, point: 3, size: 4, error: 5,
                                other: 6, null: 7 });
const INT32_MIN = -(2 ** 31);
const INT32_MAX = 2 ** 31 - 1;
const PID_MAX = INT32_MAX;
const AX_ERROR_NOT_IMPLEMENTED = -25208;

function isPlainObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

function checkKeys(where, object, allowed) {
  for (const key of Object.keys(object)) {
    if (!allowed.includes(key)) throw new TypeError(`${where}: unknown key '${key}'`);
  }
}

function checkPair(where, pair) {
  if (!Array.isArray(pair) || pair.length !== 2 || !pair.every((v) => typeof v === 'number')) {
    throw new TypeError(`${where}: expects an array of two numbers`);
  }
  return pair;
}

// One attribute value of a fixture as [kind, a, b] for the native loader.
function attributeRow(where, value) {
  if (typeof value === 'string') return [AX_KIND.string, value, 0];
  if (typeof value === 'boolean') return [AX_KIND.boolean, value, 0];
  if (typeof value === 'number') {
    if (!Number.isFinite(value)) throw new RangeError(`${where}: numbers must be finite`);
    return [AX_KIND.number, value, Number.isInteger(value) ? 4 : 13];
  }
  if (!isPlainObject(value)) {
    throw new TypeError(`${where}: a string, boolean, number, {number, type}, {point}, {size}, ` +
                        '{error}, {other: true} or {null: true}');
  }
  const keys = Object.keys(value);
  if ('number' in value) {
    checkKeys(where, value, ['number', 'type']);
    if (typeof value.number !== 'number' || !Number.isFinite(value.number)) {
      throw new TypeError(`${where}: number must be a finite number`);
    }
    return [AX_KIND.number, value.number, checkInteger(where, 'type', value.type, 1, 255)];
  }
  if (keys.length !== 1) throw new TypeError(`${where}: one of point, size, error, other, null`);
  if ('point' in value) return [AX_KIND.point, ...checkPair(`${where}.point`, value.point)];
  if ('size' in value) return [AX_KIND.size, ...checkPair(`${where}.size`, value.size)];
  if ('error' in value) return [AX_KIND.error, checkAxError(where, value.error), 0];
  if (value.other === true) return [AX_KIND.other, 0, 0];
  if (value.null === true) return [AX_KIND.null, 0, 0];
  throw new TypeError(`${where}: unknown value form '${keys[0]}'`);
}

function checkAxError(where, code) {
  checkInteger(where, 'error', code, INT32_MIN, INT32_MAX);
  if (code === 0) throw new RangeError(`${where}: error 0 is success; use {null: true}`);
  return code;
}

// What AXUIElementCopyMultipleAttributeValues answers an application: 0 when it takes batched
// requests (true, the default), kAXErrorNotImplemented for false, or the {error} given.
function batchedRequestsError(where, batched) {
  if (batched === undefined || batched === true) return 0;
  if (batched === false) return AX_ERROR_NOT_IMPLEMENTED;
  if (!isPlainObject(batched)) throw new TypeError(`${where}: true, false or {error: code}`);
  checkKeys(where, batched, ['error']);
  return checkAxError(where, batched.error);
}

function checkNames(where, names) {
  if (!Array.isArray(names) || !names.every((n) => typeof n === 'string')) {
    throw new TypeError(`${where}: expects an array of strings`);
  }
  return names;
}

// Flattens a desktop fixture: every element gets a number, refs and ids are resolved, and
// every mistake is a TypeError or RangeError naming where it is. Iterative, so a fixture may
// nest as deep as it likes.
function flattenDesktop(desktop) {
  const where = 'ax.load(desktop)';
  if (!isPlainObject(desktop)) throw new TypeError(`${where}: desktop must be an object`);
  checkKeys(where, desktop,
            ['trusted', 'focusedApplication', 'systemWideFocusedElement', 'applications']);
  const trusted = desktop.trusted === undefined ? true : checkBoolean(`${where}.trusted`,
                                                                    desktop.trusted);
  if (!Array.isArray(desktop.applications)) {
    throw new TypeError(`${where}: applications must be an array`);
  }
  const elements = [];
  const byId = new Map();
  const pendingRefs = [];  // [element number, child slot, id, path]
  const flatten = (rootGiven, rootPath) => {
    const stack = [{ given: rootGiven, path: rootPath, parent: -1 }];
    let rootNumber = -1;
    while (stack.length > 0) {
      const { given, path, parent } = stack.pop();
      if (!isPlainObject(given)) throw new TypeError(`${path}: an element must be an object`);
      let number;
      if ('ref' in given) {
        checkKeys(path, given, ['ref']);
        if (parent < 0) throw new TypeError(`${path}: a root cannot be a ref`);
        if (typeof given.ref !== 'string') throw new TypeError(`${path}: ref must be an id string`);
        elements[parent].children.push(-1);
        pendingRefs.push([parent, elements[parent].children.length - 1, given.ref, path]);
        continue;
      }
      checkKeys(path, given, ['id', 'attributes', 'settable', 'actions', 'children']);
      number = elements.length;
      const element = { id: null, attributes: [], settable: [], actions: [], actionsError: 0,
                        children: [] };
      if (given.id !== undefined) {
        if (typeof given.id !== 'string' || given.id === '') {
          throw new TypeError(`${path}.id: a non-empty string`);
        }
        if (byId.has(given.id)) throw new TypeError(`${path}.id: '${given.id}' is used twice`);
        byId.set(given.id, number);
        element.id = given.id;
      }
      const attributes = given.attributes === undefined ? {} : given.attributes;
      if (!isPlainObject(attributes)) throw new TypeError(`${path}.attributes: an object`);
      for (const [name, value] of Object.entries(attributes)) {
        if (name === 'AXChildren' && given.children !== undefined) {
          throw new TypeError(`${path}.attributes.AXChildren: given by children already`);
        }
        element.attributes.push([name, ...attributeRow(`${path}.attributes.${name}`, value)]);
      }
      if (given.settable !== undefined) element.settable = checkNames(`${path}.settable`, given.settable);
      if (Array.isArray(given.actions)) {
        element.actions = checkNames(`${path}.actions`, given.actions);
      } else if (given.actions !== undefined) {
        if (!isPlainObject(given.actions)) {
          throw new TypeError(`${path}.actions: an array of names or {error}`);
        }
        checkKeys(`${path}.actions`, given.actions, ['error']);
        element.actionsError = checkAxError(`${path}.actions`, given.actions.error);
      }
      elements.push(element);
      if (parent >= 0) elements[parent].children.push(number);
      else rootNumber = number;
      if (given.children !== undefined) {
        if (!Array.isArray(given.children)) throw new TypeError(`${path}.children: an array`);
        // Children are pushed in reverse so they are numbered, and appended, in order.
        for (let i = given.children.length - 1; i >= 0; i--) {
          stack.push({ given: given.children[i], path: `${path}.children[${i}]`, parent: number });
        }
      }
    }
    return rootNumber;
  };
  // Children are appended in visiting order, which the reversed pushes make document order;
  // refs hold their slot in that order too.
  const pids = new Set();
  const apps = desktop.applications.map((app, i) => {
    const path = `${where}.applications[${i}]`;
    if (!isPlainObject(app)) throw new TypeError(`${path}: an application must be an object`);
    checkKeys(path, app, ['pid', 'name', 'bundleId', 'running', 'focusedElement', 'focusedWindow',
                          'root', 'batchedRequests', 'webContentDelayMs']);
    const pid = checkInteger(path, 'pid', app.pid, 1, PID_MAX);
    if (pids.has(pid)) throw new TypeError(`${path}: pid ${pid} is used twice`);
    pids.add(pid);
    for (const key of ['name', 'bundleId', 'focusedElement', 'focusedWindow']) {
      if (app[key] !== undefined && typeof app[key] !== 'string') {
        throw new TypeError(`${path}.${key}: a string`);
      }
    }
    const running = app.running === undefined ? true : checkBoolean(`${path}.running`, app.running);
    const batchError = batchedRequestsError(`${path}.batchedRequests`, app.batchedRequests);
    // Chromium-like (see the README): -1 for a native application.
    const webContentDelayMs = app.webContentDelayMs === undefined ? -1
      : checkInteger(`${path}.webContentDelayMs`, 'webContentDelayMs', app.webContentDelayMs, 0,
                     MAX_TIMEOUT_MS);
    if (app.root === undefined) throw new TypeError(`${path}.root: every application has a root`);
    return { pid, name: app.name ?? null, bundleId: app.bundleId ?? null, running,
             root: flatten(app.root, `${path}.root`), focusedElementId: app.focusedElement,
             focusedWindowId: app.focusedWindow, batchError, webContentDelayMs, path };
  });
  const resolve = (id, path) => {
    if (id === undefined) return -1;
    if (!byId.has(id)) throw new TypeError(`${path}: no element has the id '${id}'`);
    return byId.get(id);
  };
  for (const [parent, slot, id, path] of pendingRefs) {
    elements[parent].children[slot] = resolve(id, `${path}.ref`);
  }
  for (const app of apps) {
    app.focusedElement = resolve(app.focusedElementId, `${app.path}.focusedElement`);
    app.focusedWindow = resolve(app.focusedWindowId, `${app.path}.focusedWindow`);
  }
  let focusedPid = -1;
  if (desktop.focusedApplication !== undefined && desktop.focusedApplication !== null) {
    focusedPid = checkInteger(where, 'focusedApplication', desktop.focusedApplication, 1, PID_MAX);
    if (!pids.has(focusedPid)) {
      throw new TypeError(`${where}.focusedApplication: no application has the pid ${focusedPid}`);
    }
  }
  if (desktop.systemWideFocusedElement !== undefined &&
      typeof desktop.systemWideFocusedElement !== 'string') {
    throw new TypeError(`${where}.systemWideFocusedElement: an id string`);
  }
  const systemFocused = resolve(desktop.systemWideFocusedElement,
                                `${where}.systemWideFocusedElement`);
  return { trusted, focusedPid, systemFocused, elements, apps };
}

const ax = Object.freeze({
  // Replaces the accessibility desktop with the fixture's (see the README for its format).
  load(desktop) {
    const flat = flattenDesktop(desktop);
    if (!native.axLoad(flat)) throw new Error('ax.load(desktop): the simulated desktop refused it');
  },
  // The accessibility permission under its older name: setPermission('accessibility', on).
  setTrusted(on) {
    native.axSetTrusted(checkBoolean('ax.setTrusted(on)', on));
  },
  trusted: () => native.axTrusted(),
  // {call, pid, element, attribute, result, timeout} per accessibility request answered since
  // reset(); timeout is the messaging timeout it was made with, in seconds.
  requests: () => native.axRequests(),
  // {pid, element, attribute, value} per attribute set since reset().
  writes: () => native.axWrites(),
  // The application of pid stops answering (after answering afterRequests more requests):
  // requests wait for their messaging timeout, then answer kAXErrorCannotComplete. on false: it
  // answers again, and waiting requests go on at once.
  setHung(pid, on, { afterRequests = 0, ...rest } = {}) {
    const where = 'ax.setHung(pid, on, {afterRequests})';
    checkInteger(where, 'pid', pid, 1, PID_MAX);
    checkBoolean(where, on);
    checkKeys(where, rest, []);
    checkInteger(where, 'afterRequests', afterRequests, 0, Number.MAX_SAFE_INTEGER);
    native.axSetHung(pid, on, afterRequests);
  },
  setLatency(microseconds) {
    native.axSetLatency(checkInteger('ax.setLatency(microseconds)', 'microseconds', microseconds,
                                     0, 10000000));
  },
  // {requests, answerNs, latencyUs, waiting, itemLatencyUs}: requests answered since reset(), the
  // time spent in them, the requests waiting for an answer that will not come now, and the item
  // latency.
  stats: () => native.axStats(),

  // --- answers that grow with their size ---
  // Every element of the arrays an answer carries costs this much more (0 after reset()); a
  // round trip longer than the request's messaging timeout answers kAXErrorCannotComplete after
  // that timeout.
  setItemLatency(microseconds) {
    native.axSetItemLatency(checkInteger('ax.setItemLatency(microseconds)', 'microseconds',
                                         microseconds, 0, 10000000));
  },
});

// --- permissions ---

// The switches in the order of the native enumeration.
const PERMISSIONS = Object.freeze(['accessibility', 'inputMonitoring', 'postEvents']);

function permissionIndex(where, name) {
  const index = PERMISSIONS.indexOf(name);
  if (typeof name !== 'string' || index < 0) {
    const names = PERMISSIONS.map((p) => `'${p}'`).join(', ');
    throw new TypeError(`${where}: name must be one of ${names}`);
  }
  return index;
}

// {accessibility, inputMonitoring, postEvents} of values read one switch at a time.
function perPermission(read) {
  const result = {};
  PERMISSIONS.forEach((name, index) => { result[name] = read(index); });
  return result;
}

// The keyboard layouts the desktop has (text input source identifiers), U.S. first.
const keyboardLayouts = Object.freeze(native.keyboardLayoutIds());

// Selects the layout the user types with, as switching input sources does: the next
// TISCopyCurrent...InputSource answers it. Key codes stay positions (hid.keyDown is unaffected).
function setKeyboardLayout(id) {
  const where = 'setKeyboardLayout(id)';
  if (typeof id !== 'string') throw new TypeError(`${where}: id must be a string`);
  if (!keyboardLayouts.includes(id)) {
    throw new RangeError(`${where}: no keyboard layout '${id}' (one of ${keyboardLayouts.join(', ')})`);
  }
  native.setKeyboardLayout(id);
}

const lowLevel = {
  reset: () => native.reset(),
  hid,
  taps: () => native.taps(),
  refuseTaps(on) {
    native.refuseTaps(checkBoolean('refuseTaps(on)', on));
  },
  tapsRefused: () => native.tapsRefused(),
  setTapTimeout(ms) {
    native.setTapTimeout(checkTimeout('setTapTimeout(ms)', ms));
  },
  tapTimeout: () => native.tapTimeout(),
  // The user's privacy switches for the process (all on after reset()).
  setPermission(name, on) {
    const where = 'setPermission(name, on)';
    native.setPermission(permissionIndex(where, name), checkBoolean(where, on));
  },
  permissions: () => perPermission((index) => native.permissionGranted(index)),
  // Prompts the system showed since reset(), per permission.
  prompts: () => perPermission((index) => native.prompts(index)),
  // How long an active tap that lost its access starves before the system disables it.
  setRevocationDelay(ms) {
    native.setRevocationDelay(checkTimeout('setRevocationDelay(ms)', ms));
  },
  revocationDelay: () => native.revocationDelay(),
  // Hardware events held back by a starving tap since reset().
  heldBack: () => native.heldBack(),
  // While on, the permission's preflight calls keep answering what they answered when it was
  // turned on, whatever the switch says now; tap creation and posting follow the switch.
  setPreflightStale(name, on) {
    const where = 'setPreflightStale(name, on)';
    native.setPreflightStale(permissionIndex(where, name), checkBoolean(where, on));
  },
  preflightStale: () => perPermission((index) => native.preflightStale(index)),
  // CGEventTapCreate calls since reset(), refused ones included.
  tapCreateCalls: () => native.tapCreateCalls(),
  settle(timeoutMs = 5000) {
    return native.settle(checkTimeout('settle(timeoutMs)', timeoutMs));
  },
  cf,
  apps,
  ax,
  waitFor,
  eventTypes,
  eventFlags,
  deviceFlags,
  keyCodes,
  // Events the program posted that reached the applications since reset() or clearPosted(),
  // oldest first (all of them unless setPostedLimit keeps fewer), and their total count.
  posted: () => native.posted(),
  postedCount: () => native.postedCount(),
  clearPosted: () => native.clearPosted(),
  // Keep only the most recent n posted events (0: all, the default); for long runs.
  setPostedLimit(n) {
    native.setPostedLimit(checkInteger('setPostedLimit(n)', 'n', n, 0, Number.MAX_SAFE_INTEGER));
  },
  // 0 off, 1 every event creation answers NULL, n every n-th one (counted from this call).
  failEventCreation(n) {
    native.failEventCreation(checkInteger('failEventCreation(n)', 'n', n, 0, 0xffffffff));
  },
  // The keyboard layout selected (U.S. after reset()), and the ones there are.
  setKeyboardLayout,
  keyboardLayout: () => native.keyboardLayout(),
  keyboardLayouts,
};

// The low-level calls, then the test kit's helpers made of them (kit.js).
module.exports = Object.freeze({ ...lowLevel, ...require('./kit.js').createKit(lowLevel) });
