#!/usr/bin/env node
'use strict';
// Demo: the global event tap on the simulated desktop. A scripted user presses the extra mouse
// buttons and the watched modifier keys; every record the application would receive is
// printed, with what became of each event.
const bridge = require('..');
const sim = require('../../desktop-sim');

const K = sim.keyCodes;

// System button numbers count from 0: 3 and 4 are the mouse's buttons 4 and 5. Keys go through
// the simulated keyboard, which sends what a Mac keyboard sends (flags-changed events carrying
// every held modifier's flags).
const SCRIPT = [
  ['press mouse button 4', { type: 25, button: 3 }],
  ['release mouse button 4', { type: 26, button: 3 }],
  ['swallow button 5 from now on', 'suppress 5'],
  ['press mouse button 5', { type: 25, button: 4 }],
  ['release mouse button 5', { type: 26, button: 4 }],
  ['press the middle button (not watched)', { type: 25, button: 2 }],
  ['press Fn', { keyDown: K.fn }],
  ['press Shift while Fn is held', { keyDown: K.leftShift }],
  ['release Shift', { keyUp: K.leftShift }],
  ['release Fn', { keyUp: K.fn }],
  ['press the left Command key (not watched)', { keyDown: K.leftCommand }],
  ['press the right Command key', { keyDown: K.rightCommand }],
  ['release it, left Command still held', { keyUp: K.rightCommand }],
  ['release the left Command key', { keyUp: K.leftCommand }],
];

function perform(step) {
  if (step.keyDown !== undefined) return sim.hid.keyDown(step.keyDown);
  if (step.keyUp !== undefined) return sim.hid.keyUp(step.keyUp);
  return sim.hid.send(step);
}

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
    const reached = perform(event);
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
