#!/usr/bin/env node
'use strict';
// Demo: an accessibility snapshot of a simulated notes editor. The desktop is loaded from the
// same fixture the tests compare against; the dump is printed as a language model would get it,
// followed by what axFocused reports for the element with the keyboard focus.
const path = require('node:path');
const bridge = require('..');
const sim = require('../../desktop-sim');

const fixture = path.join(__dirname, '..', 'test', 'fixtures', 'ax', 'notes-editor.json');

sim.reset();
sim.ax.load(require(fixture));
const result = bridge.axDump();
process.stdout.write(result.text);
console.log();
console.log(`focusedNodeId ${result.focusedNodeId}, ${Object.keys(result.nodes).length} node records, ` +
            `pid ${result.pid}, window "${result.windowTitle}"`);
console.log('axFocused():', bridge.axFocused());
console.log(`${sim.ax.requests().length} accessibility requests; references still held: ${sim.cf.live()}`);
