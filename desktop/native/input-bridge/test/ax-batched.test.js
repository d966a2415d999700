'use strict';
// The batched read gives byte for byte the dump that reading attribute by attribute gives: on
// random desktops (roles, texts, values, errors, shared elements, cycles), against the texts the
// single-request walk gave before batching (test/fixtures/ax-generated, regenerated with
// UPDATE_AX_EXPECTATIONS=1 after a reviewed change), and against this build's own fallback for
// applications that refuse batched requests.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const h = require('./helpers');
const { generatedDesktop, LIMIT_SETS } = require('./ax-generate');

const { bridge, sim } = h;
const update = ['1', 'true', 'yes'].includes(process.env.UPDATE_AX_EXPECTATIONS ?? '');
const expectedDir = path.join(__dirname, 'fixtures', 'ax-generated');

test.afterEach(() => h.assertLedgerClean());

// How an application answers batched requests: takes them, does not implement them (asked once),
// or refuses them element by element.
const MODES = [['batched', undefined], ['not implemented', false],
               ['refused per element', { error: -25205 }]];

function dumpIn(mode, desktop, options) {
  sim.reset();
  desktop.applications[0].batchedRequests = mode;
  sim.ax.load(desktop);
  return bridge.axDump(options);
}

test('random desktops dump as the single-request walk dumped them', () => {
  for (const seed of [1, 2, 3, 4]) {
    LIMIT_SETS.forEach((limits, i) => {
      const file = path.join(expectedDir, `seed${seed}-limits${i}.expected.txt`);
      for (const [mode, batched] of MODES) {
        const { text } = dumpIn(batched, generatedDesktop(seed, 120), limits);
        if (update && mode === 'batched') fs.writeFileSync(file, text);
        assert.equal(text, fs.readFileSync(file, 'utf8'), `seed ${seed}, limits ${i}, ${mode}`);
      }
    });
  }
});

test('batched and single reads agree on text, records and focus for many random desktops', () => {
  for (let seed = 100; seed < 140; seed++) {
    const options = seed % 2 ? {} : { maxChildrenPerNode: 3, textTruncate: 8 };
    const [reference, ...others] = MODES.map(([, batched]) =>
      dumpIn(batched, generatedDesktop(seed, 60), options));
    for (const [i, other] of others.entries()) {
      assert.deepEqual(other, reference, `seed ${seed}: ${MODES[i + 1][0]} against batched`);
    }
  }
});

test('a batched answer holding error placeholders and null values reads them as missing', () => {
  // Every attribute fails or has no value: in a batch they come back as AXValues of the error
  // type and as kCFNull, in single requests as error codes and as success without a value.
  const failing = { AXRole: { error: -25212 }, AXSubrole: { null: true }, AXTitle: { error: -25200 },
                    AXDescription: { null: true }, AXValue: { error: -25205 },
                    AXPosition: { null: true }, AXSize: { error: -25201 }, AXEnabled: { null: true },
                    AXSelected: { error: -25212 }, AXChildren: { null: true } };
  const lines = MODES.map(([, batched]) => {
    const desktop = h.axDesktop([{ attributes: failing, settable: ['AXValue'] }]);
    const result = dumpIn(batched, desktop);
    assert.deepEqual(result.nodes['1'], { role: '', axRole: '', title: '', description: '', value: '',
                                          x: 0, y: 0, w: 0, h: 0, depth: 1 });
    return h.treeLines(result.text);
  });
  assert.deepEqual(lines[0], ['0 application Fixture', '    1 ? (settable)']);
  assert.deepEqual(lines[1], lines[0]);
  assert.deepEqual(lines[2], lines[0]);
});
