'use strict';
// Shared fixture for the addon suites: the addon, the simulated desktop, and small waits.
const assert = require('node:assert/strict');
const path = require('node:path');

const bridge = require('..');
const sim = require('../../desktop-sim');

const EventType = Object.freeze({
  leftMouseDown: 1,
  leftMouseUp: 2,
  rightMouseDown: 3,
  rightMouseUp: 4,
  mouseMoved: 5,
  keyDown: 10,
  keyUp: 11,
  flagsChanged: 12,
  scrollWheel: 22,
  otherMouseDown: 25,
  otherMouseUp: 26,
});

const Flag = Object.freeze({
  capsLock: 0x10000,
  shift: 0x20000,
  control: 0x40000,
  option: 0x80000,
  command: 0x100000,
  numericPad: 0x200000,
  fn: 0x800000,
  nonCoalesced: 0x100,
});

// The bits a Mac gives the events of these keys of the key table itself: Fn on function and
// navigation keys, Fn and the numeric pad on the arrows.
const FN_KEYS = [122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111, 115, 116, 117, 119, 121];
const ARROW_KEYS = [123, 124, 125, 126];
const keyOwnFlags = (keycode) => (ARROW_KEYS.includes(keycode) ? Flag.fn | Flag.numericPad
                                  : FN_KEYS.includes(keycode) ? Flag.fn : 0);

const KeyCode = Object.freeze({ rightCommand: 54, leftCommand: 55, shift: 56, fn: 63 });

// System button numbers are zero-based: 3 and 4 are the script's buttons 4 and 5.
const press = (systemButton) => ({ type: EventType.otherMouseDown, button: systemButton });
const release = (systemButton) => ({ type: EventType.otherMouseUp, button: systemButton });
const flags = (keycode, ...masks) => ({
  type: EventType.flagsChanged,
  keycode,
  flags: masks.reduce((a, b) => a | b, 0),
});

const WAIT_MS = 10000;

async function waitFor(predicate, what, timeoutMs = WAIT_MS) {
  const deadline = Date.now() + timeoutMs;
  while (!predicate()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setImmediate(resolve));
  }
}

// Lets every delivery already queued run: the host drains a thread-safe function's queue in
// one turn of the event loop, so two turns after the last queueing nothing is left in flight.
async function settle() {
  for (let i = 0; i < 3; i++) {
    await new Promise((resolve) => setImmediate(resolve));
    await new Promise((resolve) => setTimeout(resolve, 0));
  }
}

function recorder() {
  const records = [];
  const callback = (record) => records.push(record);
  return { records, callback };
}

async function waitForTap() {
  await waitFor(() => sim.taps().length === 1 && sim.taps()[0].enabled, 'the event tap');
}

// Starts the tap with a fresh recorder and waits until the tap is installed.
async function startRecording() {
  const rec = recorder();
  assert.equal(bridge.start(rec.callback), true);
  await waitForTap();
  return rec;
}

function sendAll(events) {
  return events.map((event) => sim.hid.send(event));
}

function assertLedgerClean() {
  assert.equal(sim.cf.misuse(), 0, `CoreFoundation misuse: ${JSON.stringify(sim.cf.misuseLog?.())}`);
  assert.equal(sim.cf.live(), 0, 'every CoreFoundation reference taken was released');
}

// For files whose cases each start and stop a tap: a fresh desktop before, the tap stopped and
// every reference released after.
function useFreshTap(test) {
  test.beforeEach(() => {
    assert.equal(bridge.isRunning(), false, 'each case starts with the tap stopped');
    sim.reset();
  });
  test.afterEach(() => {
    bridge.stop();
    assertLedgerClean();
  });
}

function assertThrowsExactly(fn, ErrorType, message) {
  assert.throws(fn, (error) => {
    assert.equal(error.constructor, ErrorType);
    assert.equal(error.message, message);
    assert.equal(Object.hasOwn(error, 'code'), false, 'the error carries its message only');
    return true;
  });
}

// Expected events as the simulated applications receive them (desktop-sim's posted() records).
// Events are made without a source, so key events sit at (0, 0). Every event leaves with the
// modifiers it names and nothing that held keys put there; key events keep the bits the platform
// gave them (the non-coalesced bit, a key's own Fn and numeric-pad bits).
const Posted = Object.freeze({
  move: (x, y, button = 0) => ({ type: EventType.mouseMoved, x, y, button, clickState: 0, flags: 0 }),
  mouse: (type, x, y, button, clickState) => ({ type, x, y, button, clickState, flags: 0 }),
  scroll: (wheel1, wheel2) => ({ type: EventType.scrollWheel, x: 0, y: 0, flags: 0, wheel1, wheel2 }),
  key: (keycode, keyDown, named = 0) => ({
    type: keyDown ? EventType.keyDown : EventType.keyUp, x: 0, y: 0,
    flags: Flag.nonCoalesced | keyOwnFlags(keycode) | named, keycode, keyDown,
  }),
  // Typed text names no modifier, so it never carries those the user holds.
  typed: (text, keyDown) => ({ ...Posted.key(0, keyDown), text }),
});

// Runs one call on a clean posted log and answers its result and what reached the applications.
// Every call must give back every reference it took (a running tap holds its own throughout)
// and misuse nothing.
function postedBy(call) {
  sim.clearPosted();
  const baseline = sim.cf.live();
  const result = call();
  const events = sim.posted();
  assert.equal(sim.cf.misuse(), 0, `CoreFoundation misuse: ${JSON.stringify(sim.cf.misuseLog())}`);
  assert.equal(sim.cf.live(), baseline, 'the call released every reference it took');
  return { result, events };
}

const addonDir = path.resolve(__dirname, '..');

// --- accessibility fixtures ---

const AX_PID = 4242;

// A desktop whose one application (focused, running) has a root with these children.
function axDesktop(children, {
  trusted = true, name = 'Fixture', bundleId = 'com.example.fixture', focusedElement,
  focusedWindow, rootAttributes = { AXRole: 'AXApplication', AXTitle: 'Fixture' },
} = {}) {
  return {
    trusted,
    focusedApplication: AX_PID,
    applications: [{
      pid: AX_PID, name, bundleId, focusedElement, focusedWindow,
      root: { id: 'app', attributes: rootAttributes, children },
    }],
  };
}

function axDump(desktop, ...args) {
  sim.ax.load(desktop);
  return bridge.axDump(...args);
}

// The node and omission lines of a dump: everything between the header and the trailer (the
// cap line, the line of a walk that stopped early, the focus sentence).
function treeLines(text) {
  const lines = text.split('\n');
  const first = lines.findIndex((line) => /^0 /.test(line));
  const trailer = (line) => line === '' || line.startsWith('\u2026 (max') ||
    line.startsWith('\u2026 (application not responding') || line.startsWith('\u2026 (time budget');
  const end = lines.findIndex((line, i) => i > first && trailer(line));
  return lines.slice(first, end < 0 ? undefined : end);
}

const axFixtureDir = path.join(__dirname, 'fixtures', 'ax');

function loadAxFixture(name) {
  return JSON.parse(require('node:fs').readFileSync(path.join(axFixtureDir, `${name}.json`), 'utf8'));
}

module.exports = {
  bridge,
  sim,
  EventType,
  Flag,
  keyOwnFlags,
  KeyCode,
  press,
  release,
  flags,
  waitFor,
  settle,
  recorder,
  waitForTap,
  startRecording,
  sendAll,
  assertLedgerClean,
  useFreshTap,
  assertThrowsExactly,
  Posted,
  postedBy,
  addonDir,
  AX_PID,
  axDesktop,
  axDump,
  treeLines,
  axFixtureDir,
  loadAxFixture,
};
