'use strict';
// The module's surface and the calling conventions every function shares.
const test = require('node:test');
const assert = require('node:assert/strict');
const { bridge, sim, assertThrowsExactly } = require('./helpers');

const EXPORTED = [
  'start', 'stop', 'setSuppress', 'isRunning',
  'postClick', 'postMove', 'postScroll', 'postKey', 'postType',
  'axDump', 'axFocused', 'axEnableWebContent',
  'permissions', 'requestAccessibility',
];

test('the addon exports exactly the registered functions, in registration order', () => {
  const native = require('../build/Release/input_bridge.node');
  assert.deepEqual(Object.keys(native), EXPORTED);
  for (const name of EXPORTED) {
    assert.equal(typeof native[name], 'function', name);
    assert.equal(native[name].name, '', `${name} is created without a name of its own`);
  }
});

test('the package exports the addon\'s functions as they are, and axDumpAsync after them', () => {
  assert.deepEqual(Object.keys(bridge), [...EXPORTED, 'axDumpAsync']);
  const native = require('../build/Release/input_bridge.node');
  for (const name of EXPORTED) assert.equal(bridge[name], native[name], name);
  assert.equal(typeof bridge.axDumpAsync, 'function');
});

test('loading the addon starts nothing', () => {
  assert.equal(bridge.isRunning(), false);
  assert.deepEqual(sim.taps(), []);
});

test('start without a function raises the usage TypeError and starts nothing', () => {
  const cases = [[], [undefined], ['callback'], [42], [{}], [null]];
  for (const args of cases) {
    assertThrowsExactly(() => bridge.start(...args), TypeError,
                        'start(callback) requires a function');
    assert.equal(bridge.isRunning(), false, `start(${args.map(String)})`);
  }
  assert.deepEqual(sim.taps(), []);
});

test('setSuppress argument errors leave the mask unchanged', () => {
  const before = bridge.setSuppress(7, true);
  const typeErrors = [[], [4], [undefined, true], ['4', true], [4, 1], [4, 'true'], [4, undefined]];
  for (const args of typeErrors) {
    assertThrowsExactly(() => bridge.setSuppress(...args), TypeError,
                        'setSuppress(button: number, on: boolean)');
  }
  const rangeErrors = [0, -1, 32, 33, NaN, Infinity, -0.5];
  for (const button of rangeErrors) {
    assertThrowsExactly(() => bridge.setSuppress(button, true), RangeError, 'button out of range');
  }
  assert.equal(bridge.setSuppress(7, false), before & ~(1 << 7));
});

test('setSuppress returns the new mask as an unsigned number', () => {
  const cases = [
    // [button, on, mask after]
    [5, true, 1 << 5],
    [4, true, (1 << 5) | (1 << 4)],
    [5, false, 1 << 4],
    [4.9, false, 0],  // the fraction is dropped
    [31, true, 2147483648],
    [1, true, 2147483648 + 2],
    [31, false, 2],
    [1, false, 0],
    [2 ** 32 + 3, true, 8],  // int32 conversion keeps the low 32 bits
    [3, false, 0],
  ];
  for (const [button, on, expected] of cases) {
    assert.equal(bridge.setSuppress(button, on), expected, `setSuppress(${button}, ${on})`);
  }
  assert.equal(bridge.setSuppress(6, true, 'extra', {}), 1 << 6, 'extra arguments are ignored');
  assert.equal(bridge.setSuppress(6, false), 0);
});

test('stop and isRunning take no arguments and ignore any given', () => {
  assert.equal(bridge.stop('anything', 1), false);
  assert.equal(bridge.isRunning({}), false);
});
