'use strict';
// Runs the native suites (the C API driven directly, threads included) as one test.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

test('native suites of the simulated CoreFoundation and event taps pass', () => {
  const binary = path.join(__dirname, '..', 'build', 'Release', 'desktop_sim_tests');
  assert.ok(fs.existsSync(binary),
            `${binary} was not built: install GoogleTest (apt-packages.txt), then npm install`);
  const run = spawnSync(binary, ['--gtest_brief=1'], {
    encoding: 'utf8',
    timeout: 300000,
    env: { ...process.env, DESKTOP_SIM_QUIET: '1' },
  });
  assert.equal(run.error, undefined, `cannot run ${binary}: ${run.error}`);
  assert.equal(run.status, 0, `${run.stdout}\n${run.stderr}`);
  assert.match(run.stdout, /PASSED/);
});
