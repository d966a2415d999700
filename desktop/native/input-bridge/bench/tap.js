#!/usr/bin/env node
'use strict';
// Tap benchmark: a million button events through the simulated tap into a counting script
// callback, beside a minimal baseline addon whose native thread hands small heap payloads to a
// thread-safe function. Prints figures; asserts nothing.
//
// The baseline runs twice: delivering the same {button, phase, suppressed} record the tap
// delivers, built with the plain C calls (the figure the tap is held to), and delivering a bare
// number (the floor of any delivery, for reference).
//
// In both runs every record is queued while the script thread is busy (the simulated HID's send
// loop, the baseline's producer), then the script thread drains the queue. That is the figure
// compared: records per second reaching the callback. Memory is the growth of the malloc heap
// while the records wait, divided by their number.
//
// Usage: node bench/tap.js [events]   (default 1000000)
const { loadBenchAddon } = require('./native-addon');

const COUNT = Number(process.argv[2] || 1e6);

async function waitFor(predicate, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (!predicate() && Date.now() < deadline) {
    await new Promise((resolve) => setImmediate(resolve));
  }
}

// Runs `queue` (which returns how many records it queued) and measures the drain.
async function measure(heapInUse, counter, queue) {
  const heapBefore = heapInUse();
  const queueStart = process.hrtime.bigint();
  const queued = queue();
  const drainStart = process.hrtime.bigint();
  const heapQueued = heapInUse();
  await waitFor(() => counter.count >= queued, 120000);
  const drainEnd = process.hrtime.bigint();
  const drainSeconds = Number(drainEnd - drainStart) / 1e9;
  return {
    queued,
    delivered: counter.count,
    queueSeconds: Number(drainStart - queueStart) / 1e9,
    perSecond: counter.count / drainSeconds,
    bytesPerRecord: (heapQueued - heapBefore) / queued,
  };
}

async function main() {
  const baseline = loadBenchAddon('baseline');
  const bridge = require('..');
  const sim = require('../../desktop-sim');

  // Warm both paths up once so neither pays first-call costs in the measured run.
  for (const asRecord of [false, true]) {
    const c = { count: 0 };
    await measure(baseline.heapInUse, c, () => baseline.queueAll(1000, () => c.count++, asRecord));
  }

  sim.reset();
  const ours = { count: 0 };
  bridge.start(() => ours.count++);
  await waitFor(() => sim.taps().length === 1, 10000);
  const press = { type: 25, button: 3 };
  sim.hid.sendMany(press, 1000);
  await waitFor(() => ours.count === 1000, 10000);
  ours.count = 0;
  if (typeof sim.hid.resetCallbackStats === 'function') sim.hid.resetCallbackStats();

  const tap = await measure(baseline.heapInUse, ours, () => {
    const reached = sim.hid.sendMany(press, COUNT);
    if (reached !== COUNT) console.log(`warning: ${COUNT - reached} events did not pass the tap`);
    return COUNT;
  });
  const stats = typeof sim.hid.callbackStats === 'function' ? sim.hid.callbackStats() : null;
  bridge.stop();

  const baseRecord = { count: 0 };
  const ref = await measure(baseline.heapInUse, baseRecord,
                            () => baseline.queueAll(COUNT, () => baseRecord.count++, true));
  const baseNumber = { count: 0 };
  const floor = await measure(baseline.heapInUse, baseNumber,
                              () => baseline.queueAll(COUNT, () => baseNumber.count++, false));

  const fmt = (n) => Math.round(n).toLocaleString('en-US');
  console.log(`tap benchmark: ${fmt(COUNT)} button events`);
  console.log(`  records lost while the tap runs:      ${tap.queued - tap.delivered}`);
  console.log(`  records per second reaching callback: ${fmt(tap.perSecond)}`);
  console.log(`  baseline addon, same record:          ${fmt(ref.perSecond)} per second (lost ${ref.queued - ref.delivered})`);
  console.log(`  ratio to baseline:                    ${(tap.perSecond / ref.perSecond).toFixed(2)} (target >= 0.80)`);
  console.log(`  baseline addon, bare number:          ${fmt(floor.perSecond)} per second (ratio ${(tap.perSecond / floor.perSecond).toFixed(2)})`);
  if (stats) {
    console.log(`  time inside the tap callback, median: ${fmt(stats.medianNs)} ns (p99 ${fmt(stats.p99Ns)} ns, ${fmt(stats.count)} calls)`);
  } else {
    console.log('  time inside the tap callback:         not measured (desktop-sim has no callback stats)');
  }
  console.log(`  memory per queued record:             ${tap.bytesPerRecord.toFixed(1)} bytes (target < 128; baseline ${ref.bytesPerRecord.toFixed(1)})`);
  console.log(`  events sent per second (round trip):  ${fmt(COUNT / tap.queueSeconds)}`);
}

main();
