'use strict';
// The control module's accessibility entries: fixture validation, trust, logs and statistics.
// What the desktop answers to the accessibility calls is covered by the native suite.
const { test, beforeEach } = require('node:test');
const assert = require('node:assert/strict');
const sim = require('..');

beforeEach(() => sim.reset());

const app = (root, extra = {}) => ({ pid: 10, root, ...extra });
const desktop = (applications, extra = {}) => ({ focusedApplication: 10, applications, ...extra });
const button = { attributes: { AXRole: 'AXButton' } };

test('a well-formed desktop loads; refs may point forward and make cycles', () => {
  sim.ax.load(desktop([app({
    id: 'root',
    attributes: { AXRole: 'AXApplication', AXTitle: 'T', AXValue: { number: 2, type: 9 },
                  AXPosition: { point: [1, 2] }, AXSize: { size: [3, 4] }, AXHelp: { error: -25212 },
                  AXDescription: { other: true }, AXEnabled: true, AXSelected: { null: true },
                  AXLone: '\ud800' },
    settable: ['AXValue'], actions: ['AXRaise'],
    children: [{ ref: 'later' }, { id: 'later', attributes: {}, children: [{ ref: 'root' }] }],
  }, { name: 'N', bundleId: 'b', running: false, focusedElement: 'later', focusedWindow: 'later' })],
  { systemWideFocusedElement: 'root', trusted: false }));
  assert.equal(sim.ax.trusted(), false);
  assert.equal(sim.cf.live(), 0);
});

test('mistakes in a fixture are errors that name where they are', () => {
  const cases = [
    // [desktop, error type, message pattern]
    [null, TypeError, /desktop must be an object/],
    [{ applications: [], extra: 1 }, TypeError, /unknown key 'extra'/],
    [{ applications: {} }, TypeError, /applications must be an array/],
    [desktop([app(button), app(button)]), TypeError, /pid 10 is used twice/],
    [desktop([app(button, { pid: 0 })]), RangeError, /pid must be from 1/],
    [desktop([{ pid: 10 }]), TypeError, /applications\[0\]\.root: every application has a root/],
    [desktop([app(button)], { focusedApplication: 11 }), TypeError, /no application has the pid 11/],
    [desktop([app({ ref: 'x' })]), TypeError, /a root cannot be a ref/],
    [desktop([app({ children: [{ ref: 'nowhere' }] })]), TypeError, /children\[0\]\.ref: no element has the id 'nowhere'/],
    [desktop([app({ id: 'a', children: [{ id: 'a' }] })]), TypeError, /'a' is used twice/],
    [desktop([app({ attributes: { AXTitle: [1] } })]), TypeError, /attributes\.AXTitle: a string/],
    [desktop([app({ attributes: { AXTitle: NaN } })]), RangeError, /finite/],
    [desktop([app({ attributes: { AXTitle: { error: 0 } } })]), RangeError, /error 0 is success/],
    [desktop([app({ attributes: { AXTitle: { point: [1] } } })]), TypeError, /point: expects an array of two numbers/],
    [desktop([app({ attributes: { AXTitle: { number: 1, type: 0 } } })]), RangeError, /type must be from 1 to 255/],
    [desktop([app({ attributes: { AXTitle: { other: false } } })]), TypeError, /unknown value form 'other'/],
    [desktop([app({ attributes: { AXChildren: 'x' }, children: [] })]), TypeError, /given by children already/],
    [desktop([app({ actions: 'AXPress' })]), TypeError, /actions: an array of names or \{error\}/],
    [desktop([app({ settable: [1] })]), TypeError, /settable: expects an array of strings/],
    [desktop([app({ children: ['x'] })]), TypeError, /children\[0\]: an element must be an object/],
    [desktop([app(button, { focusedElement: 'ghost' })]), TypeError, /focusedElement: no element has the id 'ghost'/],
    [desktop([app(button)], { systemWideFocusedElement: 3 }), TypeError, /systemWideFocusedElement: an id string/],
    [desktop([app(button, { batchedRequests: 'no' })]), TypeError, /batchedRequests: true, false or \{error: code\}/],
    [desktop([app(button, { batchedRequests: { error: 0 } })]), RangeError, /error 0 is success/],
    [desktop([app(button, { webContentDelayMs: -1 })]), RangeError, /webContentDelayMs must be from 0/],
    [desktop([app(button, { webContentDelayMs: '300' })]), TypeError, /webContentDelayMs must be an integer/],
  ];
  for (const [fixture, ErrorType, pattern] of cases) {
    assert.throws(() => sim.ax.load(fixture), (error) => {
      assert.equal(error.constructor, ErrorType, String(error));
      assert.match(error.message, pattern);
      assert.match(error.message, /^ax\.load\(desktop\)/);
      return true;
    });
  }
});

test('a deeply nested fixture loads without recursion', () => {
  let element = button;
  for (let i = 0; i < 20000; i++) element = { attributes: { AXRole: 'AXGroup' }, children: [element] };
  sim.ax.load(desktop([app(element)]));
});

test('reset: trusted, no latency, logs empty', () => {
  sim.ax.load(desktop([app(button)], { trusted: false }));
  sim.ax.setLatency(50);
  sim.ax.setItemLatency(7);
  sim.reset();
  assert.equal(sim.ax.trusted(), true);
  assert.deepEqual(sim.ax.requests(), []);
  assert.deepEqual(sim.ax.writes(), []);
  assert.deepEqual(sim.ax.stats(),
                   { requests: 0, answerNs: 0, latencyUs: 0, waiting: 0, itemLatencyUs: 0 });
});

test('setTrusted and setLatency check their arguments', () => {
  assert.throws(() => sim.ax.setTrusted(1), TypeError);
  assert.throws(() => sim.ax.setLatency(-1), RangeError);
  assert.throws(() => sim.ax.setLatency(1.5), TypeError);
  sim.ax.setTrusted(false);
  assert.equal(sim.ax.trusted(), false);
  sim.ax.setLatency(40);
  assert.equal(sim.ax.stats().latencyUs, 40);
});

test('setItemLatency checks its argument; a Chromium-like application loads', () => {
  assert.throws(() => sim.ax.setItemLatency(-1), RangeError);
  assert.throws(() => sim.ax.setItemLatency(0.5), TypeError);
  assert.throws(() => sim.ax.setItemLatency(10000001), RangeError);
  sim.ax.setItemLatency(100);
  assert.equal(sim.ax.stats().itemLatencyUs, 100);
  sim.ax.load(desktop([app({ attributes: { AXRole: 'AXApplication' },
                             children: [{ attributes: { AXRole: 'AXWebArea' } }] },
                           { webContentDelayMs: 0 })]));
});

test('setHung checks its arguments; requests log their messaging timeout', () => {
  const cases = [
    // [arguments, error type]
    [[0, true], RangeError], [[10, 'yes'], TypeError], [[10, true, { afterRequests: -1 }], RangeError],
    [[10, true, { after: 1 }], TypeError], [[10.5, true], TypeError],
  ];
  for (const [args, ErrorType] of cases) {
    assert.throws(() => sim.ax.setHung(...args), ErrorType, JSON.stringify(args));
  }
  sim.ax.load(desktop([app(button)]));
  sim.ax.setHung(10, true, { afterRequests: 5 });
  sim.ax.setHung(10, false);
  assert.deepEqual(sim.ax.requests(), []);
});

test('batchedRequests: false and {error} load; the request log carries timeouts', () => {
  for (const batchedRequests of [true, false, { error: -25205 }]) {
    sim.ax.load(desktop([app(button, { batchedRequests })]));
  }
  assert.deepEqual(sim.ax.requests(), []);
  assert.equal(sim.cf.live(), 0);
});
