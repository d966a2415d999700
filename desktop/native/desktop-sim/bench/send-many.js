#!/usr/bin/env node
'use strict';
// Figures of the simulated HID path (prints them; asserts nothing): events per second through
// one active tap whose own thread runs its loop, the cost of one synchronous send, and the
// memory a long stream of events leaves behind.
const sim = require('..');
const fixtures = require('../fixture');

const COUNT = Number(process.env.DESKTOP_SIM_BENCH_COUNT || 1000000);
const press = { type: sim.eventTypes.otherMouseDown, button: 3 };

function rate(count, ns) {
  return Math.round(count / (Number(ns) / 1e9));
}

function timed(fn) {
  const start = process.hrtime.bigint();
  const result = fn();
  return { result, ns: process.hrtime.bigint() - start };
}

function main() {
  sim.reset();
  const tap = fixtures.probeTap({ record: false });
  sim.hid.sendMany(press, COUNT);  // warm-up: allocator and quarantine reach their steady state
  if (global.gc) global.gc();
  const objectsBefore = sim.cf.objects();
  const rssBefore = process.memoryUsage().rss;
  const many = timed(() => sim.hid.sendMany(press, COUNT));
  const rssAfter = process.memoryUsage().rss;
  const objectsAfter = sim.cf.objects();
  const singles = Math.min(20000, COUNT);
  const single = timed(() => {
    let reached = 0;
    for (let i = 0; i < singles; i++) reached += sim.hid.send(press) ? 1 : 0;
    return reached;
  });
  const calls = tap.callCount();
  tap.stop();
  const lines = [
    ['events sent with hid.sendMany', COUNT],
    ['  reached the applications', many.result],
    ['  events per second through one tap', rate(COUNT, many.ns)],
    ['  CF objects held after, minus before', objectsAfter - objectsBefore],
    ['  resident bytes per send (after - before)', ((rssAfter - rssBefore) / COUNT).toFixed(3)],
    ['single hid.send round trips per second', rate(singles, single.ns)],
    ['tap callbacks in all', calls],
    ['ledger after stop (live, misuse)', `${sim.cf.live()}, ${sim.cf.misuse()}`],
  ];
  for (const [name, value] of lines) console.log(`${name.padEnd(46)} ${value}`);
}

main();
