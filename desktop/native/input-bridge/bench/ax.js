#!/usr/bin/env node
'use strict';
// axDump on a generated 1500-element application: accessibility requests per element, the
// addon's own time per element (the dump's time minus the simulated desktop's time answering
// requests) beside the desktop's cost per request; then, with a 40 µs round trip per request
// (a typical native application), the dump's wall time beside requests × 40 µs. Each figure is
// printed beside the one of the single-request walk, before batched reads (TODAY).
// Prints figures; it asserts nothing.
const bridge = require('..');
const sim = require('../../desktop-sim');
const { ELEMENTS, generatedDesktop } = require('./ax-desktop');

const RUNS = 7;
const LATENCY_US = 40;
const HEADER_REQUESTS = 6;  // focused application, two web-content writes, focus, pid, window
const TARGET_REQUESTS_PER_ELEMENT = 2.2;
const TARGET_DUMP_MS = 150;
// The single-request walk on this tree: 13.2 requests per element, about 0.82 s at 40 µs.
const TODAY = { requestsPerElement: 13.2, dumpMs: 820 };

function dumpOnce(latencyUs) {
  sim.reset();
  sim.ax.load(desktop);
  sim.ax.setLatency(latencyUs);
  const started = process.hrtime.bigint();
  const result = bridge.axDump();
  const wallNs = Number(process.hrtime.bigint() - started);
  const { requests, answerNs } = sim.ax.stats();
  const elements = Object.keys(result.nodes).length;
  if (elements !== ELEMENTS) throw new Error(`rendered ${elements} elements, not ${ELEMENTS}`);
  if (sim.cf.live() !== 0 || sim.cf.misuse() !== 0) throw new Error('the ledger is not balanced');
  return { wallNs, requests, answerNs, elements, ownNs: wallNs - answerNs };
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

function runs(latencyUs) {
  dumpOnce(latencyUs);  // warm-up
  return Array.from({ length: RUNS }, () => dumpOnce(latencyUs));
}

const desktop = generatedDesktop();
const us = (ns) => (ns / 1000).toFixed(2);
const ms = (ns) => (ns / 1e6).toFixed(1);

const fast = runs(0);
const perElement = (fast[0].requests - HEADER_REQUESTS) / fast[0].elements;
console.log(`axDump, defaults, ${ELEMENTS} elements, median of ${RUNS} runs`);
console.log(`  requests: ${fast[0].requests} (${perElement.toFixed(2)} per element, the header's ` +
            `${HEADER_REQUESTS} excluded; today ${TODAY.requestsPerElement}, ` +
            `target <= ${TARGET_REQUESTS_PER_ELEMENT})`);
console.log(`  dump wall time:                      ${ms(median(fast.map((r) => r.wallNs)))} ms`);
console.log(`  addon's own time per element:        ${us(median(fast.map((r) => r.ownNs / r.elements)))} µs`);
console.log(`  simulated desktop's time per request: ${us(median(fast.map((r) => r.answerNs / r.requests)))} µs`);

const slow = runs(LATENCY_US);
const wall = median(slow.map((r) => r.wallNs));
const own = median(slow.map((r) => r.ownNs));
const floor = slow[0].requests * LATENCY_US * 1000;
console.log(`with ${LATENCY_US} µs per request`);
console.log(`  dump wall time:        ${ms(wall)} ms (today about ${TODAY.dumpMs} ms; ` +
            `target < ${TARGET_DUMP_MS} ms)`);
console.log(`  requests × ${LATENCY_US} µs:      ${ms(floor)} ms`);
console.log(`  addon's own time:      ${ms(own)} ms (${(100 * own / wall).toFixed(1)}% of the wall time; target < 10%)`);
console.log(`  requests per element:  ${perElement.toFixed(2)} (today ${TODAY.requestsPerElement}, ` +
            `target <= ${TARGET_REQUESTS_PER_ELEMENT})`);
