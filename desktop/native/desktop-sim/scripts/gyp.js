#!/usr/bin/env node
'use strict';
// Runs node-gyp with Node's headers taken from the running node's installation, so that the
// build never downloads them. desktop-sim exists for Linux only; elsewhere there is nothing to
// build and the script says so.
//
//   node scripts/gyp.js            configures when there is no build yet, then builds what changed
//   node scripts/gyp.js rebuild    from clean (npm run build); any other node-gyp command works too
//
// Every core compiles unless JOBS or a -j argument says otherwise.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const packageDir = path.resolve(__dirname, '..');

// An existing build is built on: the Makefile gyp made regenerates itself when binding.gyp
// changes, so only a missing one needs the configure step.
function defaultCommand() {
  return fs.existsSync(path.join(packageDir, 'build', 'Makefile')) ? ['build'] : ['rebuild'];
}

function jobArgs(argv) {
  if (process.env.JOBS || argv.some((arg) => arg === '-j' || arg.startsWith('--jobs'))) return [];
  const cores = os.availableParallelism ? os.availableParallelism() : os.cpus().length;
  return ['-j', String(cores)];
}

function localNodeDir() {
  const prefix = path.dirname(path.dirname(process.execPath));
  return fs.existsSync(path.join(prefix, 'include', 'node', 'node_api.h')) ? prefix : null;
}

function nodeGypCommand() {
  try {
    return [process.execPath, require.resolve('node-gyp/bin/node-gyp.js', { paths: [packageDir] })];
  } catch {
    return ['node-gyp'];  // the copy npm puts on PATH for install scripts
  }
}

function main(argv) {
  if (process.platform !== 'linux') {
    console.log('desktop-sim: nothing to build on ' + process.platform + ' (Linux only)');
    return 0;
  }
  const nodedir = process.env.npm_config_nodedir || localNodeDir();
  if (!nodedir) {
    console.error('desktop-sim: no Node headers next to ' + process.execPath +
                  ' (include/node/node_api.h); set npm_config_nodedir');
    return 1;
  }
  const [command, ...prefix] = nodeGypCommand();
  const gypArgs = argv.length ? argv : defaultCommand();
  const args = [...prefix, ...gypArgs, ...jobArgs(gypArgs), `--nodedir=${nodedir}`];
  const result = spawnSync(command, args, { cwd: packageDir, stdio: 'inherit' });
  if (result.error) {
    console.error('desktop-sim: cannot run node-gyp: ' + result.error.message);
    return 1;
  }
  return result.status === null ? 1 : result.status;
}

process.exitCode = main(process.argv.slice(2));
