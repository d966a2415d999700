#!/usr/bin/env node
'use strict';
// Builds the addon with node-gyp. On Linux it first builds desktop-sim, the stand-in for the
// macOS services, whose shared library the addon links.
//
//   node scripts/build.js             build from source (npm run build), on an existing build
//                                     only what changed; --clean builds from clean
//   node scripts/build.js --install   what npm's install step runs: nothing when a prebuilt
//                                     binary fits this platform and architecture
//
// Headers: Electron's rebuild tools say which runtime to build for through npm_config_target,
// npm_config_runtime and npm_config_disturl, which node-gyp reads itself; when any of them is
// set the script adds nothing of its own. Otherwise it points node-gyp at npm_config_nodedir or
// the running node's own headers where they are installed, so the build downloads nothing.
// Every core compiles unless JOBS says otherwise.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { desktopSimDir } = require('./desktop-sim-dir.js');

const addonDir = path.resolve(__dirname, '..');
const RUNTIME_VARIABLES = ['npm_config_target', 'npm_config_runtime', 'npm_config_disturl'];

function localNodeDir(execPath = process.execPath) {
  const prefix = path.dirname(path.dirname(execPath));
  return fs.existsSync(path.join(prefix, 'include', 'node', 'node_api.h')) ? prefix : null;
}

// The header arguments node-gyp gets for an environment.
function headerArgs(env, localDir) {
  if (RUNTIME_VARIABLES.some((name) => env[name])) return [];
  const nodedir = env.npm_config_nodedir || localDir;
  return nodedir ? [`--nodedir=${nodedir}`] : [];
}

// The prebuilt binary that fits this host, or null. Only prebuilds/ counts: a build/ folder
// left by an earlier build must not stop a new one.
function fittingPrebuild(dir) {
  const saved = process.env.PREBUILDS_ONLY;
  process.env.PREBUILDS_ONLY = '1';
  try {
    delete require.cache[require.resolve('node-gyp-build/node-gyp-build.js')];
    return require('node-gyp-build/node-gyp-build.js').path(dir);
  } catch {
    return null;
  } finally {
    if (saved === undefined) delete process.env.PREBUILDS_ONLY;
    else process.env.PREBUILDS_ONLY = saved;
  }
}

function wantsSourceBuild(env) {
  return env.npm_config_build_from_source === 'true' || env.npm_config_build_from_source === '';
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
  if (result.error) {
    console.error(`input-bridge: cannot run ${command}: ${result.error.message}`);
    process.exit(1);
  }
  if (result.status !== 0) process.exit(result.status === null ? 1 : result.status);
}

function buildDesktopSim(clean) {
  const simDir = desktopSimDir();
  if (!fs.existsSync(path.join(simDir, 'binding.gyp'))) {
    console.error(`input-bridge: desktop-sim's sources are missing (looked in ${simDir})`);
    process.exit(1);
  }
  if (simDir === path.join(addonDir, 'desktop-sim')) {
    // The copy a package carries: its own script builds the library and the control module
    // with the local headers, resolving node-addon-api and node-gyp from the application.
    run(simDir, process.execPath, [path.join(simDir, 'scripts', 'gyp.js'), 'rebuild',
                                   ...jobArgs(process.env)]);
  } else {
    // The repository's folder, whose own install fetches its build tools and builds it (on an
    // existing build, only what changed).
    if (clean) fs.rmSync(path.join(simDir, 'build'), { recursive: true, force: true });
    run(simDir, 'npm', ['install', '--no-audit', '--no-fund']);
  }
}

// node-gyp's command for a folder: an existing build is built on (the Makefile gyp made
// regenerates itself when binding.gyp changes), a missing one configured first.
function gypCommand(dir, clean) {
  return !clean && fs.existsSync(path.join(dir, 'build', 'Makefile')) ? 'build' : 'rebuild';
}

function jobArgs(env) {
  if (env.JOBS) return [];
  return ['-j', String(os.availableParallelism ? os.availableParallelism() : os.cpus().length)];
}

function main(argv) {
  if (argv.includes('--install') && !wantsSourceBuild(process.env)) {
    const prebuild = fittingPrebuild(addonDir);
    if (prebuild) {
      console.log(`input-bridge: using the prebuilt ${path.relative(addonDir, prebuild)}`);
      return;
    }
  }
  const clean = argv.includes('--clean');
  if (process.platform === 'linux') buildDesktopSim(clean);
  const [command, ...prefixArgs] = nodeGypCommand();
  run(addonDir, command, [...prefixArgs, gypCommand(addonDir, clean), ...jobArgs(process.env),
                          ...headerArgs(process.env, localNodeDir())]);
}

module.exports = { headerArgs, fittingPrebuild, localNodeDir };

if (require.main === module) main(process.argv.slice(2));
