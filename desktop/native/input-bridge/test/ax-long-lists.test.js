'use strict';
// Long child lists: a scroll area's content is read without its children, which are counted
// and read only as far as the walk will visit them; a list that takes longer than a request's
// timeout to come back is asked for again in part. The dump reads as if every list had been
// read whole.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim } = h;

test.beforeEach(() => sim.reset());
test.afterEach(() => h.assertLedgerClean());

const row = (i) => ({ attributes: { AXRole: 'AXRow', AXTitle: `row ${i}` },
                      children: [{ attributes: { AXRole: 'AXCell', AXValue: `cell ${i}` } }] });
const table = (rows) => ({ id: 'table', attributes: { AXRole: 'AXTable', AXTitle: 'Messages' },
                           children: Array.from({ length: rows }, (_, i) => row(i)) });
// The table inside a scroll area, or inside a group (whose content is read whole).
const desktop = (rows, holderRole) => h.axDesktop([{
  attributes: { AXRole: 'AXWindow', AXTitle: 'Mail' },
  children: [{ attributes: { AXRole: holderRole }, children: [table(rows)] }],
}]);

const tableRequests = () => sim.ax.requests().filter((r) => r.element === 'table');

test('a scroll area\'s table is counted and read in part, and reads as if read whole', () => {
  const cases = [
    // [name, rows, options]
    ['short', 5, {}],
    ['as long as the fan-out', 60, {}],
    ['longer', 500, {}],
    ['no child visited', 500, { maxChildrenPerNode: 0 }],
    ['one child each', 500, { maxChildrenPerNode: 1 }],
    ['the table\'s rows not visited', 500, { maxDepth: 3 }],
    ['a negative fan-out', 500, { maxChildrenPerNode: -3 }],
    ['a huge fan-out and the node cap', 500, { maxChildrenPerNode: 2 ** 31 - 1, maxNodes: 40 }],
  ];
  for (const [name, rows, options] of cases) {
    sim.reset();
    const whole = h.axDump(desktop(rows, 'AXGroup'), options);
    sim.reset();
    const inPart = h.axDump(desktop(rows, 'AXScrollArea'), options);
    const asWhole = inPart.text.replace('        2 scroll area\n', '        2 container\n');
    assert.equal(asWhole, whole.text, name);
    assert.equal(Object.keys(inPart.nodes).length, Object.keys(whole.nodes).length, name);
    const calls = tableRequests().map((r) => r.call);
    const visited = Object.values(inPart.nodes).some((node) => node.axRole === 'AXTable');
    assert.equal(calls.filter((c) => c === 'AXUIElementGetAttributeValueCount').length,
                 visited ? 1 : 0, name);
    assert.ok(!tableRequests().some((r) => r.call === 'AXUIElementCopyMultipleAttributeValues' &&
                                           r.attribute.includes('AXChildren')), name);
  }
});

test('a long list costs the rows shown, not the rows it has', () => {
  sim.ax.load(desktop(10000, 'AXScrollArea'));
  sim.ax.setItemLatency(100);  // about what Mail's message list costs per row
  const result = bridge.axDump();
  assert.match(result.text, /\n {16}… \(9940 more children omitted\)\n/);
  assert.doesNotMatch(result.text, /not responding|budget/);
  assert.deepEqual(tableRequests().map((r) => [r.call, r.attribute, r.result]), [
    ['AXUIElementCopyMultipleAttributeValues',
     'AXRole,AXSubrole,AXTitle,AXDescription,AXValue,AXHelp,AXPlaceholderValue,AXPosition,' +
     'AXSize,AXEnabled,AXSelected', 0],
    ['AXUIElementIsAttributeSettable', 'AXValue', -25205],
    ['AXUIElementGetAttributeValueCount', 'AXChildren', 0],
    ['AXUIElementCopyAttributeValues', 'AXChildren', 0],
  ]);
});

test('a list too long to come back in time is asked for again in part', () => {
  // Outside a scroll area the list comes with the table's batch: 10,000 rows at 100 µs each
  // take longer than the request's 0.5 s, so the batch times out once; the table is read again
  // without its children, which are then counted and read in part.
  sim.ax.load(desktop(10000, 'AXGroup'));
  sim.ax.setItemLatency(100);
  const result = bridge.axDump();
  assert.match(result.text, /\n {16}… \(9940 more children omitted\)\n/);
  assert.equal(Object.keys(result.nodes).length, 4 + 60 * 2);
  assert.doesNotMatch(result.text, /not responding|budget/);
  assert.deepEqual(tableRequests().map((r) => [r.call, r.result]), [
    ['AXUIElementCopyMultipleAttributeValues', -25204],
    ['AXUIElementCopyMultipleAttributeValues', 0],
    ['AXUIElementIsAttributeSettable', -25205],
    ['AXUIElementGetAttributeValueCount', 0],
    ['AXUIElementCopyAttributeValues', 0],
  ]);
});

test('read attribute by attribute, a list too long to come back in time is read in part too', () => {
  const slow = desktop(10000, 'AXGroup');
  slow.applications[0].batchedRequests = false;
  sim.ax.load(slow);
  sim.ax.setItemLatency(100);
  const result = bridge.axDump();
  assert.match(result.text, /\n {16}… \(9940 more children omitted\)\n/);
  assert.deepEqual(tableRequests().filter((r) => r.attribute === 'AXChildren')
    .map((r) => [r.call, r.result]), [
    ['AXUIElementCopyAttributeValue', -25204],
    ['AXUIElementGetAttributeValueCount', 0],
    ['AXUIElementCopyAttributeValues', 0],
  ]);
});
