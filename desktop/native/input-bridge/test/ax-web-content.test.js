'use strict';
// Chromium and Electron applications build their web content's tree asynchronously once
// "AXManualAccessibility" is set: the first dump after the switch waits for it within its budget
// and marks what it could not wait for; a native application is never waited for and is asked
// exactly what it was asked before.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim } = h;

test.beforeEach(() => sim.reset());
test.afterEach(() => h.assertLedgerClean());

const text = (value) => ({ attributes: { AXRole: 'AXStaticText', AXValue: value } });
const loadingLine = '\u2026 (web content still loading)';

// A chat application: a window whose scroll area holds the web area with two messages. The
// addon remembers per pid when it switched web content on, so every case takes a pid of its own.
let nextPid = 6100;
function chatDesktop({ webContentDelayMs } = {}) {
  const pid = nextPid++;
  return {
    focusedApplication: pid,
    applications: [{
      pid, name: 'Chat', bundleId: 'com.example.chat', webContentDelayMs,
      root: { attributes: { AXRole: 'AXApplication', AXTitle: 'Chat' }, children: [{
        attributes: { AXRole: 'AXWindow', AXTitle: 'Chat' },
        children: [{ attributes: { AXRole: 'AXScrollArea' }, children: [{
          attributes: { AXRole: 'AXWebArea', AXTitle: 'General' },
          children: [text('hello'), text('see you at 3')],
        }] }],
      }] },
    }],
  };
}

const webContentLines = [
  '            3 web area General', '                4 text hello', '                5 text see you at 3',
];

test('the first dump of a Chromium-like application holds the web content that came in 300 ms', async () => {
  for (const [through, dump] of [['axDump', async () => bridge.axDump()],
                                 ['axDumpAsync', () => bridge.axDumpAsync()]]) {
    sim.reset();
    sim.ax.load(chatDesktop({ webContentDelayMs: 300 }));
    const result = await dump();
    assert.deepEqual(h.treeLines(result.text).slice(3), webContentLines, through);
    assert.doesNotMatch(result.text, /loading|budget|not responding/, through);
    assert.deepEqual(sim.ax.writes().map((w) => [w.attribute, w.value]),
                     [['AXManualAccessibility', true], ['AXEnhancedUserInterface', true]], through);
  }
});

test('web content that does not come within the budget is marked where it would be', () => {
  sim.ax.load(chatDesktop({ webContentDelayMs: 60000 }));
  const result = bridge.axDump({ timeoutMs: 400 });
  assert.deepEqual(h.treeLines(result.text).slice(3), ['            3 web area General',
                                                      `                ${loadingLine}`]);
  assert.ok(result.text.endsWith('\u2026 (time budget of 400 ms spent, walk stopped at 4)\n'),
            result.text);
});

test('a native application with an empty web area: the requests of every dump, and no wait', () => {
  const desktop = chatDesktop();
  desktop.applications[0].root.children[0].children[0].children[0].children = [];
  sim.ax.load(desktop);
  const batch = 'AXUIElementCopyMultipleAttributeValues AXRole,AXSubrole,AXTitle,AXDescription,' +
    'AXValue,AXHelp,AXPlaceholderValue,AXPosition,AXSize,AXEnabled,AXSelected';
  const settable = 'AXUIElementIsAttributeSettable AXValue';
  const expected = [
    'AXUIElementCopyAttributeValue AXFocusedApplication',
    'AXUIElementSetAttributeValue AXManualAccessibility',
    'AXUIElementSetAttributeValue AXEnhancedUserInterface',
    'AXUIElementCopyAttributeValue AXFocusedUIElement', 'AXUIElementGetPid null',
    'AXUIElementCopyAttributeValue AXFocusedWindow',
    `${batch},AXChildren`, settable,                                    // the application
    `${batch},AXChildren`, settable, 'AXUIElementCopyActionNames null',  // the window
    `${batch},AXChildren`, settable,                                    // the scroll area
    // The scroll area's content is read without its children, which are counted.
    batch, settable, 'AXUIElementGetAttributeValueCount AXChildren',
  ];
  const result = bridge.axDump();
  assert.equal(h.treeLines(result.text).at(-1), '            3 web area General');
  assert.doesNotMatch(result.text, /loading/);
  assert.deepEqual(sim.ax.requests().map((r) => `${r.call} ${r.attribute}`), expected);
  assert.deepEqual(sim.ax.writes().map((w) => w.attribute),
                   ['AXManualAccessibility', 'AXEnhancedUserInterface'], 'both attributes set');
});

test('web content switched on by axEnableWebContent is waited for by the next dump', () => {
  sim.ax.load(chatDesktop({ webContentDelayMs: 200 }));
  assert.equal(bridge.axEnableWebContent(), true);
  const result = bridge.axDump();
  assert.deepEqual(h.treeLines(result.text).slice(3), webContentLines);
});
