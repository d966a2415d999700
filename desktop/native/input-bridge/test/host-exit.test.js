'use strict';
// The host's own exit, worker threads that own the tap, throwing callbacks and refused
// threads: each scenario runs in a child host of its own (fixtures/child.js).
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync, execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const CHILD = path.join(__dirname, 'fixtures', 'child.js');

function runChild(scenario, env = {}, nodeOptions = []) {
  const result = spawnSync(process.execPath, [...nodeOptions, CHILD, scenario], {
    env: { ...process.env, ...env },
    encoding: 'utf8',
    timeout: 60000,
  });
  const lines = result.stdout.trim().split('\n').filter(Boolean);
  return {
    status: result.status,
    signal: result.signal,
    stderr: result.stderr,
    report: lines.length ? JSON.parse(lines[lines.length - 1]) : undefined,
  };
}

function assertCleanExit(run, status) {
  assert.equal(run.signal, null, `no crash or abort: ${run.stderr}`);
  assert.equal(run.status, status, run.stderr);
}

const EXIT_CASES = [
  ['process.exit while the tap runs', 'exitWhileRunning', 7],
  ['process.exit inside the callback with deliveries queued', 'exitInsideCallback', 3],
  ['natural end after stop keeps the script\'s exit code', 'exitCodeAfterStop', 4],
  ['process.exit while a worker owns the tap', 'exitWhileWorkerOwnsTap', 6],
];

for (const [name, scenario, status] of EXIT_CASES) {
  test(`host exit: ${name}`, () => {
    const run = runChild(scenario);
    assertCleanExit(run, status);
    assert.equal(run.stderr, '');
  });
}

test('a worker that owns the tap is terminated: the tap ends with it', () => {
  const run = runChild('workerTerminated');
  assertCleanExit(run, 0);
  const r = run.report;
  assert.deepEqual(r.records, [{ button: 4, phase: 'down', suppressed: false }]);
  assert.equal(r.running, false);
  assert.equal(r.taps, 0);
  assert.equal(r.passes, true);
  assert.equal(r.live, 0);
  assert.equal(r.misuse, 0);
  assert.deepEqual(r.mine, [{ button: 5, phase: 'down', suppressed: false }]);
});

test('a worker that owns the tap exits through process.exit', () => {
  const run = runChild('workerExitsItself');
  assertCleanExit(run, 0);
  assert.deepEqual(run.report, { code: 5, running: false, taps: 0, misuse: 0 });
});

// Node's default policy for an exception left pending by an addon callback is a warning;
// the strict policy hands it to 'uncaughtException' like any other.
const STRICT_POLICY = '--force-node-api-uncaught-exceptions-policy=true';

test('a throwing callback leaves its exception to the host and the tap keeps reporting', () => {
  const lenient = runChild('throwingCallback');
  assertCleanExit(lenient, 0);
  assert.deepEqual(lenient.report, { calls: 7, caught: 0, stillRunning: true });
  assert.match(lenient.stderr, /Uncaught N-API callback exception/);

  const strict = runChild('throwingCallback', {}, [STRICT_POLICY]);
  assertCleanExit(strict, 0);
  assert.deepEqual(strict.report, { calls: 7, caught: 7, stillRunning: true });
});

test('a throwing callback with no handler under the strict policy ends the host, no crash', () => {
  const run = runChild('throwingCallbackUnhandled', {}, [STRICT_POLICY]);
  assertCleanExit(run, 1);
  assert.match(run.stderr, /callback failure/);
});

test('start when the tap thread cannot be created', async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'input-bridge-fault-'));
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const shim = path.join(dir, 'libfail_pthread_create.so');
  execFileSync('cc', ['-shared', '-fPIC', '-O1', '-o', shim,
                      path.join(__dirname, 'fixtures', 'fail_pthread_create.c'), '-ldl']);
  // Keep whatever is preloaded already (the sanitizer runtime must stay first).
  const preload = [process.env.LD_PRELOAD, shim].filter(Boolean).join(' ');
  const run = runChild('threadRefused', { LD_PRELOAD: preload });
  assertCleanExit(run, 0);
  const r = run.report;
  assert.equal(r.result, 'not returned');
  assert.deepEqual(r.error, { name: 'Error', message: 'start: the tap thread could not be created' });
  assert.deepEqual(r.afterFailure, { running: false, taps: 0 });
  assert.equal(r.restarted, true);
  assert.deepEqual(r.records, [{ button: 4, phase: 'down', suppressed: false }]);
  assert.equal(r.live, 0);
  assert.equal(r.misuse, 0);
});
