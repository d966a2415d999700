#!/usr/bin/env node
'use strict';
// The host's event loop while a 1500-element dump runs at 40 µs per request: the loop delay
// (perf_hooks.monitorEventLoopDelay, 1 ms resolution) during the dump through axDumpAsync,
// beside the same dump through axDump, which blocks the loop for the whole walk. The worker is
// started by a warm-up call first; the cold first call is printed on its own.
// Prints figures; it asserts nothing.
const { monitorEventLoopDelay } = require('node:perf_hooks');
const bridge = require('..');
const sim = require('../../desktop-sim');
const { ELEMENTS, generatedDesktop } = require('./ax-desktop');

const RUNS = 5;
const LATENCY_US = 40;
const TARGET_P99_MS = 20;
const desktop = generatedDesktop();

async function measure(dump) {
  sim.reset();
  sim.ax.load(desktop);
  sim.ax.setLatency(LATENCY_US);
  const delay = monitorEventLoopDelay({ resolution: 1 });
  delay.enable();
  // Let the histogram's timer run before the dump starts, so that a blocked loop shows.
  await new Promise((resolve) => setTimeout(resolve, 5));
  const started = process.hrtime.bigint();
  const result = await dump();
  const wallMs = Number(process.hrtime.bigint() - started) / 1e6;
  await new Promise((resolve) => setTimeout(resolve, 5));
  delay.disable();
  if (Object.keys(result.nodes).length !== ELEMENTS) throw new Error('the dump is incomplete');
  return { p99: delay.percentile(99) / 1e6, max: delay.max / 1e6, wallMs };
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const f = (ms) => ms.toFixed(1).padStart(7);

async function series(name, dump) {
  const runs = [];
  for (let i = 0; i < RUNS; i++) runs.push(await measure(dump));
  console.log(`  ${name}: loop delay p99 ${f(median(runs.map((r) => r.p99)))} ms, ` +
              `max ${f(median(runs.map((r) => r.max)))} ms; dump ${f(median(runs.map((r) => r.wallMs)))} ms`);
}

(async () => {
  console.log(`event-loop delay during a ${ELEMENTS}-element dump at ${LATENCY_US} µs per request, ` +
              `median of ${RUNS} runs (target: p99 under ${TARGET_P99_MS} ms through axDumpAsync)`);
  const cold = await measure(() => bridge.axDumpAsync());
  await series('axDump     ', async () => bridge.axDump());
  await series('axDumpAsync', () => bridge.axDumpAsync());
  console.log(`  axDumpAsync, first call (starts the worker): p99 ${f(cold.p99)} ms, ` +
              `max ${f(cold.max)} ms; dump ${f(cold.wallMs)} ms`);
})();
