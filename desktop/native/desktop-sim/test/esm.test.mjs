// The control module from ESM: every key of the CommonJS object is a named export, the same
// value, and the default export is the object itself.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import * as esm from '../index.mjs';
import { reset, hid, keyboard, typed } from '../index.mjs';

const sim = createRequire(import.meta.url)('../index.js');

test('named ESM exports are the CommonJS keys, value for value', () => {
  const named = Object.keys(esm).filter((name) => name !== 'default');
  assert.deepEqual(named.sort(), Object.keys(sim).sort());
  for (const name of named) assert.equal(esm[name], sim[name], name);
  assert.equal(esm.default, sim);
  assert.equal(reset, sim.reset);
  assert.equal(hid, sim.hid);
  assert.equal(keyboard, sim.keyboard);
  assert.equal(typed, sim.typed);
});

test('the package name gives import the ESM entry and require index.js', async () => {
  const resolved = import.meta.resolve('desktop-sim');
  assert.equal(resolved, new URL('../index.mjs', import.meta.url).href);
  const imported = await import('desktop-sim');
  assert.equal(imported.reset, sim.reset);
  assert.equal(createRequire(import.meta.url).resolve('desktop-sim'),
               createRequire(import.meta.url).resolve('../index.js'));
});
