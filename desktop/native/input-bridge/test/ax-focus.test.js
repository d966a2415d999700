'use strict';
// axFocused and axEnableWebContent: the system-wide focus, and the two web-content attributes.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim } = h;

test.beforeEach(() => sim.reset());
test.afterEach(() => h.assertLedgerClean());

const field = (attributes) => ({ id: 'field', attributes: { AXRole: 'AXTextField', ...attributes } });

test('axFocused reads four texts of the focused element, in order, every key present', () => {
  const cases = [
    // [name, attributes, result]
    ['a text field', { AXTitle: 'Name', AXDescription: 'Your name', AXValue: 'Ada' },
     { role: 'AXTextField', title: 'Name', description: 'Your name', value: 'Ada' }],
    ['a title without description', { AXTitle: 'Name' },
     { role: 'AXTextField', title: 'Name', description: '', value: '' }],
    ['a number value', { AXValue: 12.5 }, { role: 'AXTextField', title: '', description: '', value: '12.5' }],
    ['a boolean value', { AXValue: false }, { role: 'AXTextField', title: '', description: '', value: 'false' }],
    ['a value of another kind', { AXValue: { point: [1, 2] } },
     { role: 'AXTextField', title: '', description: '', value: '' }],
    ['texts are neither cleaned nor clipped', { AXValue: `a\tb${'c'.repeat(200)}` },
     { role: 'AXTextField', title: '', description: '', value: `a\tb${'c'.repeat(200)}` }],
  ];
  for (const [name, attributes, expected] of cases) {
    sim.reset();
    sim.ax.load(h.axDesktop([field(attributes)], { focusedElement: 'field' }));
    const focused = bridge.axFocused();
    assert.deepEqual(focused, expected, name);
    assert.deepEqual(Object.keys(focused), ['role', 'title', 'description', 'value'], name);
  }
});

test('axFocused follows the system-wide focus, which may differ from the application\'s', () => {
  sim.ax.load({
    focusedApplication: 1,
    systemWideFocusedElement: 'menu',
    applications: [
      { pid: 1, focusedElement: 'a', root: { attributes: { AXRole: 'AXApplication' }, children: [
        { id: 'a', attributes: { AXRole: 'AXButton' } }] } },
      { pid: 2, root: { attributes: { AXRole: 'AXApplication' }, children: [
        { id: 'menu', attributes: { AXRole: 'AXMenu', AXTitle: 'Spotlight' } }] } },
    ],
  });
  assert.equal(bridge.axFocused().title, 'Spotlight');
});

test('axFocused answers an empty object with nothing focused or without permission', () => {
  sim.ax.load(h.axDesktop([field({})]));
  assert.deepEqual(bridge.axFocused(), {});
  sim.ax.load(h.axDesktop([field({})], { focusedElement: 'field', trusted: false }));
  assert.deepEqual(bridge.axFocused('ignored', 1), {});
  sim.ax.load({ focusedApplication: null, applications: [] });
  assert.deepEqual(bridge.axFocused(), {});
});

test('axEnableWebContent sets the two attributes on the focused application, each call', () => {
  sim.ax.load(h.axDesktop([], { focusedElement: undefined }));
  assert.equal(bridge.axEnableWebContent(), true, 'whether or not the application honours them');
  assert.equal(bridge.axEnableWebContent({ any: 'argument' }), true);
  const expected = { pid: h.AX_PID, element: 'app', value: true };
  assert.deepEqual(sim.ax.writes(), [
    { ...expected, attribute: 'AXManualAccessibility' },
    { ...expected, attribute: 'AXEnhancedUserInterface' },
    { ...expected, attribute: 'AXManualAccessibility' },
    { ...expected, attribute: 'AXEnhancedUserInterface' },
  ]);
});

test('axEnableWebContent answers false without a focused application or permission', () => {
  sim.ax.load({ focusedApplication: null, applications: [] });
  assert.equal(bridge.axEnableWebContent(), false);
  sim.ax.load(h.axDesktop([], { trusted: false }));
  assert.equal(bridge.axEnableWebContent(), false);
  assert.deepEqual(sim.ax.writes(), []);
});

test('axDump sets the same two attributes on the application before reading', () => {
  sim.ax.load(h.axDesktop([]));
  bridge.axDump();
  assert.deepEqual(sim.ax.writes().map((w) => [w.element, w.attribute, w.value]), [
    ['app', 'AXManualAccessibility', true],
    ['app', 'AXEnhancedUserInterface', true],
  ]);
});
