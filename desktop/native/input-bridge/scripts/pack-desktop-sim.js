#!/usr/bin/env node
'use strict';
// npm pack's prepack and postpack steps. The package carries the simulated desktop's sources
// in desktop-sim/ so that it installs and builds on Linux with nothing beside it, and an
// application's own tests can script the desktop through require('input-bridge/desktop-sim').
//
//   node scripts/pack-desktop-sim.js copy     the repository's ../desktop-sim into desktop-sim/
//   node scripts/pack-desktop-sim.js remove   the copy again, once the tarball is written
//
// Only what builds and drives the desktop is copied: no tests, benchmarks or build output.
const fs = require('node:fs');
const path = require('node:path');

const addonDir = path.resolve(__dirname, '..');
const source = path.resolve(addonDir, '..', 'desktop-sim');
const copy = path.join(addonDir, 'desktop-sim');
const CARRIED = [
  'package.json', 'README.md', 'binding.gyp', 'index.js', 'index.mjs', 'index.d.ts', 'kit.js',
  'include', 'src', 'api-pins', 'scripts/gyp.js', 'scripts/has-gtest.js',
];

function remove() {
  fs.rmSync(copy, { recursive: true, force: true });
}

function copyTree() {
  if (!fs.existsSync(path.join(source, 'binding.gyp'))) {
    throw new Error(`desktop-sim's sources are not beside the addon (looked in ${source})`);
  }
  remove();
  for (const entry of CARRIED) {
    fs.cpSync(path.join(source, entry), path.join(copy, entry), { recursive: true });
  }
}

const actions = { copy: copyTree, remove };
const action = actions[process.argv[2]];
if (!action) {
  console.error('usage: pack-desktop-sim.js copy|remove');
  process.exitCode = 2;
} else {
  action();
}
