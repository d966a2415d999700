'use strict';
// Desktops that look like real applications, each beside the exact dump it must give
// (test/fixtures/ax/NAME.json and NAME.expected.txt). After a reviewed change of the output,
// UPDATE_AX_EXPECTATIONS=1 rewrites the expectations; the diff is then part of the change.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./helpers');

const { bridge, sim } = h;
const update = ['1', 'true', 'yes'].includes(process.env.UPDATE_AX_EXPECTATIONS ?? '');

const names = fs.readdirSync(h.axFixtureDir)
  .filter((file) => file.endsWith('.json'))
  .map((file) => file.slice(0, -'.json'.length))
  .sort();

test('there are fixtures to compare', () => {
  assert.ok(names.length >= 3, `fixtures in ${h.axFixtureDir}`);
});

for (const name of names) {
  test(`${name}: the dump is the expected text, and every reference is released`, () => {
    sim.reset();
    sim.ax.load(h.loadAxFixture(name));
    const { text } = bridge.axDump();
    const expectedFile = path.join(h.axFixtureDir, `${name}.expected.txt`);
    if (update) fs.writeFileSync(expectedFile, text);
    assert.ok(fs.existsSync(expectedFile),
              `${expectedFile} is missing: run with UPDATE_AX_EXPECTATIONS=1 and review it`);
    assert.equal(text, fs.readFileSync(expectedFile, 'utf8'),
                 'run with UPDATE_AX_EXPECTATIONS=1 to rewrite the expectation after review');
    h.assertLedgerClean();
  });
}
