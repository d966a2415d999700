#!/usr/bin/env node
'use strict';
// Stop benchmark: start/stop cycles of the tap while a worker thread keeps button events flowing
// through the simulated HID, and the time each stop blocks the script thread. Prints figures;
// asserts nothing.
//
// Three kinds of cycle, each counted on its own:
//   - running: stop once the tap is installed and has reported at least one record, so the tap
//     thread is inside a run or between two runs, handling events;
//   - at once: stop right after start, while the tap thread may still be creating the tap;
//   - waiting: stop while the grant is withdrawn and the tap thread, its tap removed, waits for
//     the grant to return (at a random moment of its quarter-second runs; a fifth as many
//     cycles, since each waits that moment out).
// and two event rates: a button event every millisecond (a 1 kHz mouse, the fastest hardware
// input), and a flood, the worker sending as fast as it can (which also takes a core from the
// threads being measured).
//
// Usage: node bench/stop.js [cycles]   (default 1000 of the first two kinds at each rate)
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const { percentile, waitFor: waitWithin } = require('./samples');

const CYCLES = Number(process.argv[2] || 1000);
const simPath = path.resolve(__dirname, '..', '..', 'desktop-sim');

// The worker sends runs of button-4 presses and releases until told to end. Events that find no
// tap pass at once; events that find the tap wait for its verdict, as on a Mac.
// flag[0]: 1 tells the worker to end; flag[1]: events sent so far.
const senderSource = `
  const { workerData } = require('node:worker_threads');
  const sim = require(workerData.simPath);
  const flag = new Int32Array(workerData.flag);
  const run = workerData.flood ? 16 : 1;
  let sent = 0;
  let down = true;
  while (Atomics.load(flag, 0) === 0) {
    sent += sim.hid.sendMany({ type: down ? 25 : 26, button: 3 }, run);
    down = !down;
    Atomics.store(flag, 1, Math.min(sent, 0x7fffffff));
    if (!workerData.flood) Atomics.wait(flag, 0, 0, 1);  // about a millisecond
  }
`;

const waitFor = (predicate, what, timeoutMs = 10000) =>
  waitWithin(predicate, what, timeoutMs);

function describe(label, samplesMs) {
  const sorted = [...samplesMs].sort((a, b) => a - b);
  const f = (ms) => `${ms.toFixed(3)} ms`;
  console.log(`  ${label.padEnd(9)} p50 ${f(percentile(sorted, 0.5))}, p99 ${f(percentile(sorted, 0.99))}, ` +
              `max ${f(sorted[sorted.length - 1])} (${sorted.length} stops)`);
  return { p99: percentile(sorted, 0.99), max: sorted[sorted.length - 1] };
}

function timedStop(bridge) {
  const start = process.hrtime.bigint();
  const stopped = bridge.stop();
  const ms = Number(process.hrtime.bigint() - start) / 1e6;
  if (!stopped) throw new Error('stop found no running tap');
  return ms;
}

// Runs both kinds of cycle with the worker sending at one rate; answers the stop times.
async function measureAt(bridge, sim, flood) {
  sim.reset();
  const flag = new SharedArrayBuffer(8);
  const flags = new Int32Array(flag);
  const worker = new Worker(senderSource, { eval: true, workerData: { simPath, flag, flood } });
  await waitFor(() => Atomics.load(flags, 1) > 0, 'the sender worker');

  let records = 0;
  const running = [];
  for (let i = 0; i < CYCLES; i++) {
    const before = records;
    bridge.start(() => records++);
    await waitFor(() => sim.taps().length === 1 && records > before, 'a record from the tap');
    running.push(timedStop(bridge));
  }
  const atOnce = [];
  for (let i = 0; i < CYCLES; i++) {
    bridge.start(() => records++);
    atOnce.push(timedStop(bridge));
    await new Promise((resolve) => setImmediate(resolve));  // lets the old function drain
  }
  const waiting = [];
  for (let i = 0; i < Math.ceil(CYCLES / 5); i++) {
    let disabled = false;
    bridge.start((record) => {
      records++;
      if (record.event === 'tap_disabled') disabled = true;
    });
    await waitFor(() => sim.taps().some((t) => t.enabled && t.mask === 0x6001000), 'the tap');
    sim.setPermission('postEvents', false);
    sim.hid.disableTaps('timeout');  // the tap thread's check removes the tap at once
    await waitFor(() => disabled, 'tap_disabled');
    await new Promise((resolve) => setTimeout(resolve, Math.random() * 250));
    waiting.push(timedStop(bridge));
    sim.setPermission('postEvents', true);
    await new Promise((resolve) => setImmediate(resolve));
  }

  Atomics.store(flags, 0, 1);
  Atomics.notify(flags, 0);
  await new Promise((resolve) => worker.once('exit', resolve));
  const sent = Atomics.load(flags, 1).toLocaleString('en-US');
  console.log(`${flood ? 'flood' : 'one event per millisecond'} (${sent} events sent, ` +
              `${records.toLocaleString('en-US')} records):`);
  return [describe('running:', running), describe('at once:', atOnce),
          describe('waiting:', waiting)];
}

async function main() {
  const bridge = require('..');
  const sim = require(simPath);
  console.log(`stop benchmark: ${CYCLES} start/stop cycles of each kind, events flowing`);
  const results = [...await measureAt(bridge, sim, false), ...await measureAt(bridge, sim, true)];
  const p99 = Math.max(...results.map((r) => r.p99));
  const max = Math.max(...results.map((r) => r.max));
  console.log(`target: p99 < 10 ms (worst ${p99.toFixed(3)} ms), max < 50 ms (worst ${max.toFixed(3)} ms)`);
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
