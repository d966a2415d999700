'use strict';
// The walk and the axDump result: limits, options, the header and trailer, the focused element,
// the requests made per element, deep and cyclic trees, and the reference ledger.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim } = h;

test.beforeEach(() => sim.reset());
test.afterEach(() => h.assertLedgerClean());

const button = (title, extra = {}) => ({ attributes: { AXRole: 'AXButton', AXTitle: title }, ...extra });
const buttons = (count, prefix = 'b') =>
  Array.from({ length: count }, (_, i) => button(`${prefix}${i}`));

test('the header, the walk and the focus sentence, as one text', () => {
  const desktop = h.axDesktop([{
    id: 'win',
    attributes: { AXRole: 'AXWindow', AXSubrole: 'AXStandardWindow', AXTitle: 'Untitled' },
    actions: ['AXRaise', 'AXPress'],
    children: [{ id: 'field', attributes: { AXRole: 'AXTextField', AXValue: 'hello', AXPlaceholderValue: 'Search' }, settable: ['AXValue'] }],
  }], { name: 'Notes', bundleId: 'com.example.notes', focusedElement: 'field', focusedWindow: 'win' });
  const result = h.axDump(desktop);
  assert.equal(result.text, [
    'Notes',
    `App=com.example.notes (pid ${h.AX_PID})`,
    'Window: "Untitled", App: Notes.',
    '0 application Fixture',
    '    1 standard window Untitled, Secondary Actions: Raise',
    '        2 text field (settable, string) Value: hello, Placeholder: Search',
    '',
    'The focused UI element is 2 text field hello.',
    '',
  ].join('\n'));
  assert.deepEqual(Object.keys(result),
                   ['nodes', 'text', 'focusedNodeId', 'bundleId', 'appName', 'windowTitle', 'pid']);
  assert.equal(result.focusedNodeId, 2);
  assert.equal(result.bundleId, 'com.example.notes');
  assert.equal(result.appName, 'Notes');
  assert.equal(result.windowTitle, 'Untitled');
  assert.equal(result.pid, h.AX_PID);
});

test('the header without name, bundle id or window title', () => {
  const cases = [
    // [name, application fields, header lines]
    ['no name: no name line, "?" for the app', { bundleId: 'com.x', focusedWindow: 'w' },
     ['App=com.x (pid 4242)', 'Window: "Doc", App: ?.']],
    ['no bundle id', { name: 'X', focusedWindow: 'w' }, ['X', 'App=? (pid 4242)', 'Window: "Doc", App: X.']],
    ['no focused window', { name: 'X', bundleId: 'com.x' }, ['X', 'App=com.x (pid 4242)']],
    ['not running: both names empty', { name: 'X', bundleId: 'com.x', running: false, focusedWindow: 'w' },
     ['App=? (pid 4242)', 'Window: "Doc", App: ?.']],
  ];
  for (const [name, app, header] of cases) {
    sim.reset();
    const window = { id: 'w', attributes: { AXRole: 'AXWindow', AXTitle: 'Doc' } };
    sim.ax.load({
      focusedApplication: 4242,
      applications: [{ pid: 4242, ...app, root: { attributes: { AXRole: 'AXApplication' }, children: [window] } }],
    });
    const result = bridge.axDump();
    assert.deepEqual(result.text.split('\n').slice(0, header.length), header, name);
    assert.equal(result.text.split('\n')[header.length], '0 application', name);
    assert.equal(result.appName, app.running === false ? '' : app.name ?? '', name);
    assert.equal(result.bundleId, app.running === false ? '' : app.bundleId ?? '', name);
  }
});

test('the window title is clipped and cleaned like the node texts', () => {
  const window = { id: 'w', attributes: { AXRole: 'AXWindow', AXTitle: 'Abcdefgh' } };
  let result = h.axDump(h.axDesktop([window], { focusedWindow: 'w' }), { textTruncate: 5 });
  assert.equal(result.windowTitle, 'Abcde\u2026');
  assert.match(result.text, /^Window: "Abcde\u2026", App: Fixture\.$/m);
  window.attributes.AXTitle = 'Two\nlines';
  result = h.axDump(h.axDesktop([window], { focusedWindow: 'w' }));
  assert.equal(result.windowTitle, 'Two lines');
  assert.match(result.text, /^Window: "Two lines", App: Fixture\.$/m);
});

test('limits: depth, fan-out and the node cap', () => {
  const tree = (children) => h.axDesktop(children);
  const cases = [
    // [name, children of the root, options, tree lines, node keys]
    ['maxDepth 0 with 61 children: the root line and the omission line', buttons(61),
     { maxDepth: 0 }, ['0 application Fixture', '    \u2026 (1 more children omitted)'], ['0']],
    ['maxDepth 0 with 60 children: the root line only', buttons(60), { maxDepth: 0 },
     ['0 application Fixture'], ['0']],
    ['maxChildrenPerNode 0: every child counted as omitted',
     [button('a', { children: buttons(2, 'c') })], { maxChildrenPerNode: 0 },
     ['0 application Fixture', '    \u2026 (1 more children omitted)'], ['0']],
    ['a negative fan-out limit omits every child, and nothing from an empty list',
     [button('a', { children: [] })], { maxChildrenPerNode: -3 },
     ['0 application Fixture', '    \u2026 (1 more children omitted)'], ['0']],
    ['maxNodes 1: the root alone', buttons(3), { maxNodes: 1 }, ['0 application Fixture'], ['0']],
    ['maxNodes 0: nothing at all', buttons(3), { maxNodes: 0 }, [], []],
    ['the omission line comes after the visited subtree, at the children\'s depth',
     [button('a', { children: buttons(3, 'c') }), button('z')], { maxChildrenPerNode: 2 },
     ['0 application Fixture', '    1 button a', '        2 button c0', '        3 button c1',
      '        \u2026 (1 more children omitted)', '    4 button z'], ['0', '1', '2', '3', '4']],
    ['children turned away by the cap are not counted as omitted',
     [button('a', { children: buttons(3, 'c') })], { maxNodes: 3 },
     ['0 application Fixture', '    1 button a', '        2 button c0'], ['0', '1', '2']],
    ['an element at maxDepth still reports its omitted children',
     [button('a', { children: buttons(3, 'c') })], { maxDepth: 1, maxChildrenPerNode: 1 },
     ['0 application Fixture', '    1 button a', '        \u2026 (2 more children omitted)'],
     ['0', '1']],
  ];
  for (const [name, children, options, lines, keys] of cases) {
    sim.reset();
    const result = h.axDump(tree(children), options);
    const walked = result.text.split('\n').filter((line) => /^ *(\d+ |\u2026 \(\d)/.test(line));
    assert.deepEqual(walked, lines, name);
    assert.deepEqual(Object.keys(result.nodes), keys, name);
  }
});

test('61 children under the defaults: 60 subtrees, then one omitted', () => {
  const result = h.axDump(h.axDesktop(buttons(61)));
  const lines = h.treeLines(result.text);
  assert.equal(lines.length, 62);
  assert.equal(lines[60], '    60 button b59');
  assert.equal(lines[61], '    \u2026 (1 more children omitted)');
});

test('the cap line: written whenever the count reaches maxNodes', () => {
  const cases = [
    // [name, number of children, maxNodes, cap line expected]
    ['cap 1', 3, 1, true],
    ['the last allowed node is the last element', 2, 3, true],
    ['room to spare', 2, 4, false],
    ['a cap of 0', 2, 0, true],
    ['a negative cap', 2, -1, true],
  ];
  for (const [name, count, maxNodes, capped] of cases) {
    sim.reset();
    const { text } = h.axDump(h.axDesktop(buttons(count)), { maxNodes });
    assert.equal(text.endsWith(`\u2026 (max node cap reached at ${maxNodes})\n`), capped, name);
  }
});

test('options: defaults for anything but an object or function; inherited properties count', () => {
  const desktop = h.axDesktop([button('a', { children: [button('deep')] })]);
  const depthZero = Object.create({ maxDepth: 0 });
  const fn = Object.assign(() => {}, { maxDepth: 0 });
  const cases = [
    // [name, arguments, number of nodes]
    ['no argument', [], 3],
    ['null', [null], 3],
    ['a number', [0], 3],
    ['a string', ['maxDepth'], 3],
    ['an inherited property', [depthZero], 1],
    ['a function with properties', [fn], 1],
    ['fractions are dropped', [{ maxDepth: 1.9 }], 2],
    ['a non-finite number is 0', [{ maxDepth: Infinity }], 1],
    ['an array is an object', [[]], 3],
    ['extra arguments are ignored', [{ maxDepth: 1 }, { maxDepth: 0 }], 2],
    ['a boolean first argument', [true], 3],
  ];
  for (const [name, args, count] of cases) {
    sim.reset();
    sim.ax.load(desktop);
    assert.equal(Object.keys(bridge.axDump(...args).nodes).length, count, name);
  }
});

test('an option that is present but no number ends the call with a pending exception', () => {
  const cases = [{ maxDepth: undefined }, { maxNodes: 'ten' }, { textTruncate: null }];
  for (const options of cases) {
    sim.reset();
    sim.ax.load(h.axDesktop([button('a')]));
    assert.throws(() => bridge.axDump(options), Error, JSON.stringify(options));
    h.assertLedgerClean();
  }
});

test('an option whose reading throws: that exception, and nothing asked of the desktop', () => {
  const thrown = new Error('x');
  let laterReads = 0;
  const cases = [
    // [name, options]
    ['a getter', { get maxDepth() { throw thrown; } }],
    ['a Proxy get trap', new Proxy({}, { has: () => true, get() { throw thrown; } })],
    ['a Proxy has trap', new Proxy({}, { has() { throw thrown; } })],
    ['a getter after plain options, before others', {
      maxDepth: 1, get textTruncate() { throw thrown; }, get timeoutMs() { laterReads++; return 1; },
    }],
  ];
  for (const [name, options] of cases) {
    sim.reset();
    sim.ax.load(h.axDesktop([button('a')]));
    assert.throws(() => bridge.axDump(options), (error) => error === thrown, name);
    assert.deepEqual(sim.ax.requests(), [], `${name}: no request`);
    assert.deepEqual(sim.ax.writes(), [], `${name}: no web-content switch`);
  }
  assert.equal(laterReads, 0, 'no option is read after one threw');
});

test('timeoutMs is read after the four limits, with the same conversion', () => {
  const order = [];
  const options = new Proxy({ maxNodes: 5, timeoutMs: 1000.9 }, {
    has(target, key) { order.push(`has ${String(key)}`); return key in target; },
    get(target, key) { order.push(`get ${String(key)}`); return target[key]; },
  });
  const result = h.axDump(h.axDesktop([button('a')]), options);
  assert.deepEqual(order, ['has maxDepth', 'has maxChildrenPerNode', 'has maxNodes', 'get maxNodes',
                           'has textTruncate', 'has timeoutMs', 'get timeoutMs']);
  assert.equal(Object.keys(result.nodes).length, 2);
  sim.reset();
  assert.throws(() => h.axDump(h.axDesktop([button('a')]), { timeoutMs: '1000' }), Error);
});

test('the focused element: found, beyond the limits, absent or elsewhere', () => {
  const children = [
    button('first', { id: 'first' }),
    { id: 'box', attributes: { AXRole: 'AXGroup', AXDescription: 'Sidebar' }, children: [button('deep', { id: 'deep' })] },
    { id: 'blank', attributes: { AXRole: 'AXTextField' } },
    { id: 'nameless', attributes: { AXTitle: 'Who' } },
  ];
  const cases = [
    // [name, focused id, options, focusedNodeId, sentence or null]
    ['a button', 'first', {}, 1, 'The focused UI element is 1 button first.'],
    ['the description when there is no title', 'box', {}, 2, 'The focused UI element is 2 container Sidebar.'],
    ['an empty label: no second space', 'blank', {}, 4, 'The focused UI element is 4 text field.'],
    ['an empty role name: two spaces before the label', 'nameless', {}, 5, 'The focused UI element is 5  Who.'],
    ['too deep', 'deep', { maxDepth: 1 }, null, null],
    ['cut off by the cap', 'deep', { maxNodes: 3 }, null, null],
    ['no focused element', undefined, {}, null, null],
  ];
  for (const [name, focused, options, id, sentence] of cases) {
    sim.reset();
    const result = h.axDump(h.axDesktop(children, { focusedElement: focused }), options);
    assert.equal(result.focusedNodeId, id, name);
    const last = result.text.split('\n').at(-2);
    if (sentence === null) assert.doesNotMatch(result.text, /focused UI element/, name);
    else assert.equal(last, sentence, name);
    if (sentence !== null) assert.ok(result.text.endsWith(`\n\n${sentence}\n`), name);
  }
});

test('a focused element in another application is never found', () => {
  sim.ax.load({
    focusedApplication: 1,
    applications: [
      { pid: 1, name: 'A', focusedElement: 'elsewhere', root: { attributes: { AXRole: 'AXApplication' }, children: [button('a')] } },
      { pid: 2, name: 'B', root: { attributes: { AXRole: 'AXApplication' }, children: [button('b', { id: 'elsewhere' })] } },
    ],
  });
  const result = bridge.axDump();
  assert.equal(result.focusedNodeId, null);
  assert.doesNotMatch(result.text, /focused UI element/);
});

test('an element shared by two parents is rendered under each; the last one emitted wins focus', () => {
  const shared = button('shared', { id: 'shared' });
  const result = h.axDump(h.axDesktop([
    { attributes: { AXRole: 'AXGroup' }, children: [shared] },
    { attributes: { AXRole: 'AXGroup' }, children: [{ ref: 'shared' }] },
  ], { focusedElement: 'shared' }));
  assert.deepEqual(h.treeLines(result.text), [
    '0 application Fixture', '    1 container', '        2 button shared', '    3 container',
    '        4 button shared',
  ]);
  assert.equal(result.focusedNodeId, 4);
});

test('requests per element: one batched read and the settable query, actions for windows', () => {
  const slots = ['AXRole', 'AXSubrole', 'AXTitle', 'AXDescription', 'AXValue', 'AXHelp',
                 'AXPlaceholderValue', 'AXPosition', 'AXSize', 'AXEnabled', 'AXSelected',
                 'AXChildren'];
  const copy = (attribute) => `AXUIElementCopyAttributeValue ${attribute}`;
  const batch = `AXUIElementCopyMultipleAttributeValues ${slots.join(',')}`;
  const settable = 'AXUIElementIsAttributeSettable AXValue';
  const singles = slots.map(copy);
  const header = [
    'AXUIElementSetAttributeValue AXManualAccessibility',
    'AXUIElementSetAttributeValue AXEnhancedUserInterface',
    copy('AXFocusedUIElement'), 'AXUIElementGetPid', copy('AXFocusedWindow'),
  ];
  const cases = [
    // [name, batchedRequests, requests of the application, of a plain element, of a window]
    ['batched', undefined, [...header, batch, settable], [batch, settable],
     [batch, settable, 'AXUIElementCopyActionNames']],
    // Not implemented is the process's answer: asked once, then every element singly.
    ['not implemented', false, [...header, batch, ...singles, settable], [...singles, settable],
     [...singles, settable, 'AXUIElementCopyActionNames']],
    // Another refusal may be one element's: every element tries the batch first.
    ['refused per element', { error: -25205 }, [...header, batch, ...singles, settable],
     [batch, ...singles, settable], [batch, ...singles, settable, 'AXUIElementCopyActionNames']],
  ];
  let batchedText = null;
  for (const [name, batchedRequests, app, plain, window] of cases) {
    sim.reset();
    const desktop = h.axDesktop([
      { id: 'win', attributes: { AXRole: 'AXWindow', AXValue: 'v' }, settable: ['AXValue'],
        actions: ['AXRaise'], children: [
          button('plain', { id: 'plain' }),
          { id: 'field', attributes: { AXRole: 'AXTextField', AXValue: 'x' }, settable: ['AXValue'] },
        ] },
    ]);
    desktop.applications[0].batchedRequests = batchedRequests;
    const { text } = h.axDump(desktop);
    batchedText ??= text;
    assert.equal(text, batchedText, `${name}: the same dump`);
    const byElement = new Map();
    for (const { call, element, attribute } of sim.ax.requests()) {
      if (!byElement.has(element)) byElement.set(element, []);
      byElement.get(element).push(attribute ? `${call} ${attribute}` : call);
    }
    assert.deepEqual(byElement.get('app'), app, name);
    assert.deepEqual(byElement.get('win'), window, name);
    assert.deepEqual(byElement.get('plain'), plain, name);
    assert.deepEqual(byElement.get('field'), plain, `${name}: a settable value is not read again`);
    assert.deepEqual(byElement.get(null), [copy('AXFocusedApplication')], 'the system-wide element');
  }
});

test('without permission: the error text, nothing else set, nothing leaked', () => {
  const result = h.axDump(h.axDesktop([button('a')], { trusted: false }));
  assert.deepEqual(result, {
    nodes: {},
    text: 'ax-error code=-25211 (Accessibility permission likely not granted to this build)\n',
    focusedNodeId: null,
  });
  assert.deepEqual(sim.ax.requests().map((r) => [r.call, r.result]),
                   [['AXUIElementCopyAttributeValue', -25211]]);
  assert.deepEqual(sim.ax.writes(), []);
});

test('without a focused application: the same result with the code of the failure', () => {
  sim.ax.load({ focusedApplication: null, applications: [] });
  const result = bridge.axDump();
  assert.equal(result.text,
               'ax-error code=-25212 (Accessibility permission likely not granted to this build)\n');
  assert.equal(result.focusedNodeId, null);
  assert.equal('pid' in result, false);
});

test('permission withdrawn after loading: every call but the system-wide element fails', () => {
  sim.ax.load(h.axDesktop([button('a')]));
  sim.ax.setTrusted(false);
  assert.match(bridge.axDump().text, /^ax-error code=-25211 /);
  assert.deepEqual(bridge.axFocused(), {});
  assert.equal(bridge.axEnableWebContent(), false);
  sim.ax.setTrusted(true);
  assert.match(bridge.axDump().text, /^Fixture\n/);
});

test('a cyclic tree with huge limits stops where an element would contain itself', () => {
  const limits = { maxDepth: 2 ** 31 - 1, maxNodes: 2 ** 31 - 1, maxChildrenPerNode: 2 ** 31 - 1 };
  const result = h.axDump(h.axDesktop([
    { id: 'loop', attributes: { AXRole: 'AXGroup', AXTitle: 'loop' },
      children: [{ ref: 'loop' }, button('inside', { children: [{ ref: 'app' }, { ref: 'loop' }] })] },
  ]), limits);
  assert.deepEqual(h.treeLines(result.text), [
    '0 application Fixture', '    1 container loop', '        2 button inside',
  ]);
});

test('a chain far deeper than a native stack allows, with huge limits', () => {
  // The text grows with the square of the depth (every line is indented), so this is about the
  // deepest chain whose dump a script string still holds comfortably (50 MB); one native frame
  // per level would need megabytes of stack for it, more under the sanitizers.
  const depth = 5000;
  let chain = button(`n${depth}`);
  for (let i = depth - 1; i >= 1; i--) chain = button(`n${i}`, { children: [chain] });
  const limits = { maxDepth: 2 ** 31 - 1, maxNodes: 2 ** 31 - 1, timeoutMs: 2 ** 31 - 1 };
  const result = h.axDump(h.axDesktop([chain]), limits);
  assert.equal(Object.keys(result.nodes).length, depth + 1);
  assert.equal(result.nodes[String(depth)].depth, depth);
  const lines = h.treeLines(result.text);
  assert.equal(lines.at(-1), `${'    '.repeat(depth)}${depth} button n${depth}`);
});

test('a dump that outgrows the longest script string is cut at the end, not fatal', () => {
  // 13 000 levels would render about 340 MB of text; a script string holds 2^28 - 16 bytes of
  // it at most (V8 with pointer compression, as in Electron). Handing the host a longer one ends
  // the process.
  const maxBytes = 2 ** 28 - 16;
  const depth = 13000;
  let chain = button(`n${depth}`);
  for (let i = depth - 1; i >= 1; i--) chain = button(`n${i}`, { children: [chain] });
  // The time budget is lifted too: such a walk may well take longer than the default 3 s.
  const result = h.axDump(h.axDesktop([chain]),
                          { maxDepth: 2 ** 31 - 1, maxNodes: 2 ** 31 - 1, timeoutMs: 2 ** 31 - 1 });
  const bytes = Buffer.byteLength(result.text);
  assert.ok(bytes <= maxBytes && bytes > maxBytes - 64 * 1024, `${bytes} bytes`);
  assert.ok(result.text.endsWith('\u2026'), 'the cut is marked');
  const emitted = Object.keys(result.nodes).length;
  assert.ok(emitted > 11000 && emitted < depth, `${emitted} nodes: the walk stopped at the cut`);
  assert.equal(result.focusedNodeId, null);
});

test('the ledger stays balanced across failing attributes and odd values', () => {
  const odd = {
    attributes: {
      AXRole: { error: -25204 }, AXSubrole: { other: true }, AXTitle: { null: true },
      AXDescription: { point: [1, 2] }, AXValue: { size: [1, 2] }, AXHelp: { error: -25212 },
      AXPosition: 'here', AXSize: 7, AXEnabled: { other: true }, AXSelected: { error: -25200 },
    },
    settable: ['AXValue'],
  };
  const result = h.axDump(h.axDesktop([
    odd,
    { attributes: { AXRole: 'AXWindow' }, actions: { error: -25206 } },
    { attributes: { AXRole: 'AXGroup', AXChildren: { other: true } } },
    { attributes: { AXRole: 'AXGroup', AXChildren: 'not an array' } },
    { attributes: { AXRole: 'AXGroup', AXChildren: { error: -25202 } } },
  ]));
  assert.deepEqual(h.treeLines(result.text).slice(1), [
    '    1 ? (settable)', '    2 standard window', '    3 container', '    4 container',
    '    5 container',
  ]);
});
