'use strict';
// Builds (once) and loads a benchmark's own native addon from bench/NAME, a node-gyp project
// whose target is NAME, with the same offline header lookup as the main build.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

function loadBenchAddon(name) {
  const dir = path.join(__dirname, name);
  const addon = path.join(dir, 'build', 'Release', `${name}.node`);
  if (!fs.existsSync(addon)) {
    const gyp = require.resolve('node-gyp/bin/node-gyp.js', { paths: [path.join(__dirname, '..')] });
    const prefix = path.dirname(path.dirname(process.execPath));
    const args = [gyp, 'rebuild'];
    if (fs.existsSync(path.join(prefix, 'include', 'node', 'node_api.h'))) {
      args.push(`--nodedir=${prefix}`);
    }
    const result = spawnSync(process.execPath, args, { cwd: dir, stdio: 'inherit' });
    if (result.status !== 0) throw new Error(`the ${name} addon did not build`);
  }
  return require(addon);
}

module.exports = { loadBenchAddon };
