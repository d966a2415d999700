#!/usr/bin/env node
'use strict';
// Demo: the global event tap on the simulated desktop. A scripted user presses the extra mouse
// buttons and the watched modifier keys; every record the application would receive is
// printed, with what became of each event.
const bridge = require('..');
const sim = require('../../desktop-sim');

const FN = 0x800000;
const COMMAND = 0x100000;
const SHIFT = 0x20000;

// System button numbers count from 0: 3 and 4 are the mouse's buttons 4 and 5.
const SCRIPT = [
  ['press mouse button 4', { type: 25, button: 3 }],
  ['release mouse button 4', { type: 26, button: 3 }],
  ['swallow button 5 from now on', 'suppress 5'],
  ['press mouse button 5', { type: 25, button: 4 }],
  ['release mouse button 5', { type: 26, button: 4 }],
  ['press the middle button (not watched)', { type: 25, button: 2 }],
  ['press Fn', { type: 12, keycode: 63, flags: FN }],
  ['press Shift while Fn is held', { type: 12, keycode: 56, flags: FN | SHIFT }],
  ['release Shift and Fn', { type: 12, keycode: 63, flags: 0 }],
  ['press the left Command key (not watched)', { type: 12, keycode: 55, flags: COMMAND }],
  ['release the left Command key', { type: 12, keycode: 55, flags: 0 }],
  ['press the right Command key', { type: 12, keycode: 54, flags: COMMAND }],
  ['release the right Command key', { type: 12, keycode: 54, flags: 0 }],
];

async function main() {
  const received = [];
  bridge.start((record) => received.push(record));
  while (sim.taps().length === 0) await new Promise((resolve) => setImmediate(resolve));

  for (const [what, event] of SCRIPT) {
    if (event === 'suppress 5') {
      console.log(`${what.padEnd(42)} setSuppress(5, true) -> mask ${bridge.setSuppress(5, true)}`);
      continue;
    }
    const before = received.length;
    const reached = sim.hid.send(event);
    // Records travel to this thread through the host's queue: give it a turn.
    await new Promise((resolve) => setImmediate(resolve));
    const records = received.slice(before).map((r) => JSON.stringify(r)).join(' ') || '(no record)';
    console.log(`${what.padEnd(42)} ${reached ? 'reached apps ' : 'swallowed    '} ${records}`);
  }
  bridge.setSuppress(5, false);
  bridge.stop();
  console.log(`\ntap stopped; CoreFoundation references still held: ${sim.cf.live()}, misuse: ${sim.cf.misuse()}`);
}

main();
