#!/usr/bin/env node
'use strict';
// axDump on a generated 1500-element application: accessibility requests per element, the
// addon's own time per element (the dump's time minus the simulated desktop's time answering
// requests) beside the desktop's cost per request; then, with a 40 µs round trip per request
// (a typical native application), the dump's wall time beside requests × 40 µs.
// Prints figures; it asserts nothing.
const bridge = require('..');
const sim = require('../../desktop-sim');

const ELEMENTS = 1500;
const FAN_OUT = 12;
const RUNS = 7;
const LATENCY_US = 40;
const MAX_REQUESTS_PER_ELEMENT = 15;

// Element i's children are FAN_OUT * i + 1 ... FAN_OUT * i + FAN_OUT, as in a heap: 1500
// elements, at most 12 children each, four levels deep. Every tenth element is a window, every
// seventh a settable text field.
function generatedDesktop() {
  const make = (i) => {
    if (i % 10 === 1) {
      return { attributes: { AXRole: 'AXWindow', AXSubrole: 'AXStandardWindow', AXTitle: `Window ${i}`,
                             AXPosition: { point: [i, i] }, AXSize: { size: [800, 600] } },
               actions: ['AXRaise', 'AXPress'] };
    }
    if (i % 7 === 0) {
      return { attributes: { AXRole: 'AXTextField', AXValue: `value ${i}`, AXPlaceholderValue: 'Type here',
                             AXEnabled: true }, settable: ['AXValue'] };
    }
    return { attributes: { AXRole: i % 2 ? 'AXButton' : 'AXGroup', AXTitle: `Element ${i}`,
                           AXDescription: i % 3 ? '' : 'described', AXEnabled: true } };
  };
  const elements = Array.from({ length: ELEMENTS }, (_, i) => make(i));
  elements[0] = { attributes: { AXRole: 'AXApplication', AXTitle: 'Generated' } };
  for (let i = ELEMENTS - 1; i > 0; i--) {
    const parent = elements[Math.floor((i - 1) / FAN_OUT)];
    (parent.children ??= []).unshift(elements[i]);
  }
  return { focusedApplication: 900,
           applications: [{ pid: 900, name: 'Generated', bundleId: 'com.example.generated',
                            root: elements[0] }] };
}

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
const perElement = fast[0].requests / fast[0].elements;
console.log(`axDump, defaults, ${ELEMENTS} elements, median of ${RUNS} runs`);
console.log(`  requests: ${fast[0].requests} (${perElement.toFixed(2)} per element, ` +
            `at most ${MAX_REQUESTS_PER_ELEMENT} allowed; the header's 6 included)`);
console.log(`  dump wall time:                      ${ms(median(fast.map((r) => r.wallNs)))} ms`);
console.log(`  addon's own time per element:        ${us(median(fast.map((r) => r.ownNs / r.elements)))} µs`);
console.log(`  simulated desktop's time per request: ${us(median(fast.map((r) => r.answerNs / r.requests)))} µs`);

const slow = runs(LATENCY_US);
const wall = median(slow.map((r) => r.wallNs));
const own = median(slow.map((r) => r.ownNs));
const floor = slow[0].requests * LATENCY_US * 1000;
console.log(`with ${LATENCY_US} µs per request`);
console.log(`  dump wall time:        ${ms(wall)} ms`);
console.log(`  requests × ${LATENCY_US} µs:      ${ms(floor)} ms`);
console.log(`  addon's own time:      ${ms(own)} ms (${(100 * own / wall).toFixed(1)}% of the wall time; target < 10%)`);
console.log(`  requests per element:  ${perElement.toFixed(2)} (target <= ${MAX_REQUESTS_PER_ELEMENT})`);
