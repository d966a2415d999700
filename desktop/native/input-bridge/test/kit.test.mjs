// The kit from ESM, as an application imports it: 'input-bridge/desktop-sim' gives every key of
// the CommonJS module as a named export, value for value, and it is desktop-sim's own module.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import * as kit from 'input-bridge/desktop-sim';
import { reset, hid, keyboard, typed, resetAll } from 'input-bridge/desktop-sim';
import * as bridge from 'input-bridge';

const require = createRequire(import.meta.url);
const sim = require('input-bridge/desktop-sim');

test('every CommonJS key is a named export of the same value', () => {
  const named = Object.keys(kit).filter((name) => name !== 'default');
  assert.deepEqual(named.sort(), Object.keys(sim).sort());
  for (const name of named) assert.equal(kit[name], sim[name], name);
  assert.equal(kit.default, sim);
  assert.equal(sim, require('../../desktop-sim'), "the checkout's desktop-sim, loaded once");
});

test('the named imports drive the desktop the addon sees', () => {
  reset();
  bridge.postType('from ESM');
  assert.equal(typed(), 'from ESM');
  assert.equal(keyboard.press('fn'), true);
  assert.deepEqual(hid.keysDown(), []);
  resetAll(bridge);
  assert.equal(typed(), '');
});
