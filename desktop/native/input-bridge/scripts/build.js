#!/usr/bin/env node
'use strict';
// Builds the addon with node-gyp. On Linux it first builds desktop-sim, the stand-in for the
// macOS services, whose shared library the addon links. Node's headers are taken from the
// running node's installation when it ships them, so the build never downloads them; where it
// does not (a macOS install from the official package ships them too), node-gyp's own
// resolution applies.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const addonDir = path.resolve(__dirname, '..');
const simDir = path.resolve(addonDir, '..', 'desktop-sim');

function localNodeDir() {
  const prefix = path.dirname(path.dirname(process.execPath));
  return fs.existsSync(path.join(prefix, 'include', 'node', 'node_api.h')) ? prefix : null;
}

function nodeGypCommand() {
  try {
    return [process.execPath, require.resolve('node-gyp/bin/node-gyp.js', { paths: [addonDir] })];
  } catch {
    return ['node-gyp'];  // the copy npm puts on PATH for install scripts
  }
}

function run(cwd, command, args) {
  const result = spawnSync(command, args, { cwd, stdio: 'inherit' });
  if (result.error) throw result.error;
  if (result.status !== 0) process.exit(result.status === null ? 1 : result.status);
}

function nodeGyp(cwd) {
  const [command, ...prefixArgs] = nodeGypCommand();
  const args = [...prefixArgs, 'rebuild'];
  const nodedir = process.env.npm_config_nodedir || localNodeDir();
  if (nodedir) args.push(`--nodedir=${nodedir}`);
  run(cwd, command, args);
}

if (process.platform === 'linux') {
  // desktop-sim's own install builds its library and control module.
  run(simDir, 'npm', ['install', '--no-audit', '--no-fund']);
}
nodeGyp(addonDir);
