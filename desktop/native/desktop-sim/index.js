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

// Test fixture, not part of the simulated platform: a native tap on a thread of its own.
const placements = { head: 0, tail: 1 };
const verdicts = new Set(['pass', 'remove', 'block']);

function probeTap(options = {}) {
  const where = 'fixtures.probeTap(options)';
  const {
    location = 1, placement = 'head', listenOnly = false,
    mask = 2 ** eventTypes.otherMouseDown + 2 ** eventTypes.otherMouseUp,
    addMode = 'common', runMode = 'default', reenable = true, verdict = 'pass', stamp = 0,
    record = true,
  } = options;
  checkInteger(where, 'location', location, 0, 2);
  if (!(placement in placements)) throw new TypeError(`${where}: placement must be 'head' or 'tail'`);
  if (!verdicts.has(verdict)) throw new TypeError(`${where}: verdict must be pass, remove or block`);
  const maskBig = typeof mask === 'bigint' ? mask : BigInt(checkInteger(where, 'mask', mask, 0,
                                                                         Number.MAX_SAFE_INTEGER));
  const id = native.probeStart(location, placements[placement], listenOnly ? 1 : 0, maskBig,
                               String(addMode), String(runMode), Boolean(reenable), verdict,
                               checkInteger(where, 'stamp', stamp, 0, Number.MAX_SAFE_INTEGER),
                               Boolean(record));
  if (id === 0) return null;  // the tap was refused
  return Object.freeze({
    calls: () => native.probeCalls(id),
    callCount: () => native.probeCallCount(id),
    setVerdict(v) {
      if (!verdicts.has(v)) throw new TypeError('probe.setVerdict(v): pass, remove or block');
      native.probeSetVerdict(id, v);
    },
    unblock: () => native.probeUnblock(id),
    pause: (paused) => native.probePause(id, checkBoolean('probe.pause(paused)', paused)),
    waitCalls: (count, timeoutMs = 5000) => native.probeWaitCalls(id, count, timeoutMs),
    stop: () => native.probeStop(id),
  });
}

module.exports = Object.freeze({
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
  settle(timeoutMs = 5000) {
    return native.settle(checkTimeout('settle(timeoutMs)', timeoutMs));
  },
  cf,
  apps,
  waitFor,
  eventTypes,
  eventFlags,
  fixtures: Object.freeze({ probeTap }),
  // Events the program posted that reached the applications since reset() or clearPosted()
  // (the last 4096), oldest first, and their total count.
  posted: () => native.posted(),
  postedCount: () => native.postedCount(),
  clearPosted: () => native.clearPosted(),
  // 0 off, 1 every event creation answers NULL, n every n-th one (counted from this call).
  failEventCreation(n) {
    native.failEventCreation(checkInteger('failEventCreation(n)', 'n', n, 0, 0xffffffff));
  },
});
