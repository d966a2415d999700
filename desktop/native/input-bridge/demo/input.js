#!/usr/bin/env node
'use strict';
// Demo: synthetic input on the simulated desktop. The application clicks, presses a shortcut,
// scrolls and types a sentence; every event the simulated applications received is printed.
const bridge = require('..');
const sim = require('../../desktop-sim');

const TYPE_NAMES = {
  1: 'left down', 2: 'left up', 3: 'right down', 4: 'right up', 5: 'mouse moved',
  10: 'key down', 11: 'key up', 22: 'scroll wheel', 25: 'other down', 26: 'other up',
};

const FLAG_NAMES = [[0x100000, 'cmd'], [0x40000, 'ctrl'], [0x80000, 'option'],
                    [0x20000, 'shift'], [0x800000, 'fn']];

function describe(event) {
  const parts = [(TYPE_NAMES[event.type] || `type ${event.type}`).padEnd(13)];
  if (event.button !== undefined) {
    parts.push(`at (${event.x}, ${event.y}) button ${event.button} click state ${event.clickState}`);
  }
  if (event.wheel1 !== undefined) parts.push(`wheel 1 ${event.wheel1}, wheel 2 ${event.wheel2}`);
  if (event.keycode !== undefined) parts.push(`key code ${String(event.keycode).padStart(3)}`);
  const flags = FLAG_NAMES.filter(([bit]) => Number(event.flags) & bit).map(([, name]) => name);
  if (flags.length) parts.push(`flags ${flags.join('+')}`);
  if (event.text !== undefined) parts.push(`text ${JSON.stringify(event.text)}`);
  return parts.join('  ');
}

function show(what, call) {
  sim.clearPosted();
  const result = call();
  console.log(`${what} -> ${result}`);
  for (const event of sim.posted()) console.log(`    ${describe(event)}`);
}

sim.reset();
show('postClick(640, 360)', () => bridge.postClick(640, 360));
show("postClick(640, 360, 'left', 2)", () => bridge.postClick(640, 360, 'left', 2));
show("postKey('s', ['cmd', 'shift'])", () => bridge.postKey('s', ['cmd', 'shift']));
show('postScroll(0, 3)', () => bridge.postScroll(0, 3));
show("postType('Grüße aus 東京 👋, see you!')", () => bridge.postType('Grüße aus 東京 👋, see you!'));
show("postKey('page down')", () => bridge.postKey('page down'));
console.log(`\nCoreFoundation references still held: ${sim.cf.live()}, misuse: ${sim.cf.misuse()}`);
