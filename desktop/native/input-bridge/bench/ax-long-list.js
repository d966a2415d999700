#!/usr/bin/env node
'use strict';
// A mail window whose scroll area holds a table of 10,000 rows, dumped with the defaults, beside
// the same window with a 60-row table: a long list must cost the rows shown, not the rows it has.
// Every request costs 40 µs, and every element an answer carries the item latency (5 µs, and
// about what Mail's message list costs per row, 100 µs). For comparison, the 10,000-row table
// outside a scroll area, where its list comes whole with its batch (at 100 µs a row that answer
// outlasts the request's timeout, and the table is asked again without it).
// Prints figures; it asserts nothing.
const bridge = require('..');
const sim = require('../../desktop-sim');

const RUNS = 7;
const LATENCY_US = 40;
const ITEM_LATENCIES_US = [5, 100];
const TARGET_RATIO = 1.5;

const row = (i) => ({ attributes: { AXRole: 'AXRow', AXTitle: `Message ${i}` },
                      children: [{ attributes: { AXRole: 'AXCell', AXValue: `Subject ${i}` } }] });

function mailDesktop(rows, holderRole) {
  return {
    focusedApplication: 950,
    applications: [{ pid: 950, name: 'Mail', bundleId: 'com.example.mail', root: {
      attributes: { AXRole: 'AXApplication', AXTitle: 'Mail' },
      children: [{ attributes: { AXRole: 'AXWindow', AXTitle: 'Inbox' }, children: [
        { attributes: { AXRole: 'AXToolbar' }, children: [{ attributes: { AXRole: 'AXButton', AXTitle: 'Reply' } }] },
        { attributes: { AXRole: holderRole }, children: [{
          attributes: { AXRole: 'AXTable', AXTitle: 'Messages' },
          children: Array.from({ length: rows }, (_, i) => row(i)),
        }] },
      ] }],
    } }],
  };
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

function dumpMs(desktop, itemLatencyUs) {
  const times = [];
  for (let i = 0; i <= RUNS; i++) {
    sim.reset();
    sim.ax.load(desktop);
    sim.ax.setLatency(LATENCY_US);
    sim.ax.setItemLatency(itemLatencyUs);
    const started = process.hrtime.bigint();
    const result = bridge.axDump();
    const ms = Number(process.hrtime.bigint() - started) / 1e6;
    if (/not responding|budget/.test(result.text)) throw new Error(`the dump stopped: ${result.text}`);
    if (i > 0) times.push(ms);  // the first run warms up
  }
  return median(times);
}

const f = (ms) => ms.toFixed(1).padStart(7);
console.log(`axDump of a mail window, defaults, ${LATENCY_US} µs per request, median of ${RUNS} runs`);
const desktops = {
  short: mailDesktop(60, 'AXScrollArea'),
  long: mailDesktop(10000, 'AXScrollArea'),
  whole: mailDesktop(10000, 'AXGroup'),
};
for (const itemLatencyUs of ITEM_LATENCIES_US) {
  const short = dumpMs(desktops.short, itemLatencyUs);
  const long = dumpMs(desktops.long, itemLatencyUs);
  const whole = dumpMs(desktops.whole, itemLatencyUs);
  console.log(`  ${itemLatencyUs} µs per element carried: 60 rows ${f(short)} ms, 10,000 rows ` +
              `${f(long)} ms, ratio ${(long / short).toFixed(2)} (target < ${TARGET_RATIO}); ` +
              `10,000 rows read whole ${f(whole)} ms`);
}
