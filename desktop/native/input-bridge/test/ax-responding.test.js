'use strict';
// An application that stops answering: the messaging timeout of every request, the time budget
// of the dump, the stop after two kAXErrorCannotComplete in a row, and the focus query and the
// web-content switch on such an application. Times are asserted only as generous bounds.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim } = h;

test.beforeEach(() => sim.reset());
test.afterEach(() => {
  sim.reset();  // ends any hang
  h.assertLedgerClean();
});

const CANNOT_COMPLETE = -25204;
const button = (title, extra = {}) => ({ attributes: { AXRole: 'AXButton', AXTitle: title }, ...extra });
const buttons = (count) => Array.from({ length: count }, (_, i) => button(`b${i}`));
const stoppedLine = (n) => `\u2026 (application not responding, walk stopped at ${n})`;

function timed(call) {
  const started = process.hrtime.bigint();
  const result = call();
  return { result, ms: Number(process.hrtime.bigint() - started) / 1e6 };
}

const appRequests = () => sim.ax.requests().filter((r) => r.pid === h.AX_PID);

test('a responsive application: every request waits at most 0.5 s, and no new line', () => {
  const desktop = h.axDesktop(buttons(3), { focusedElement: 'app', focusedWindow: 'app' });
  const { text } = h.axDump(desktop);
  assert.doesNotMatch(text, /not responding/);
  const requests = sim.ax.requests();
  for (const request of requests.filter((r) => r.call !== 'AXUIElementGetPid' && r.pid !== 0)) {
    assert.equal(request.timeout, 0.5, `${request.call} ${request.attribute}`);
  }
  // The system-wide element keeps the process-wide timeout: setting it would change the host's.
  assert.deepEqual(requests.filter((r) => r.pid === 0).map((r) => r.timeout), [6]);
});

test('a hung application: the header without the window, the line, and nothing rendered', () => {
  sim.ax.load(h.axDesktop(buttons(3), { focusedWindow: 'app', focusedElement: 'app' }));
  sim.ax.setHung(h.AX_PID, true);
  const { result, ms } = timed(() => bridge.axDump());
  assert.equal(result.text, [
    'Fixture', `App=com.example.fixture (pid ${h.AX_PID})`, stoppedLine(0), '',
  ].join('\n'));
  assert.deepEqual(result.nodes, {});
  assert.equal(result.focusedNodeId, null);
  assert.equal(result.windowTitle, '');
  // The two web-content writes time out; after them nothing more is asked of the application.
  assert.deepEqual(appRequests().map((r) => [r.call, r.result]), [
    ['AXUIElementSetAttributeValue', CANNOT_COMPLETE],
    ['AXUIElementSetAttributeValue', CANNOT_COMPLETE],
    ['AXUIElementGetPid', 0],
  ]);
  assert.ok(ms < 3000 + 500 + 2000, `${ms} ms: within the budget and one timeout (and slack)`);
});

test('an application that hangs halfway: what was rendered, then the line', () => {
  // The header asks the application 4 times, each element twice (its batch and the settable
  // query): the sixth element's requests are the first to time out.
  sim.ax.load(h.axDesktop(buttons(20), { focusedElement: 'app', focusedWindow: 'app' }));
  sim.ax.setHung(h.AX_PID, true, { afterRequests: 4 + 2 * 5 });
  const result = bridge.axDump();
  assert.deepEqual(h.treeLines(result.text), [
    '0 application Fixture', '    1 button b0', '    2 button b1', '    3 button b2',
    '    4 button b3',
  ]);
  assert.ok(result.text.endsWith(`${stoppedLine(5)}\n\nThe focused UI element is 0 application Fixture.\n`),
            result.text);
  assert.deepEqual(Object.keys(result.nodes), ['0', '1', '2', '3', '4']);
  assert.deepEqual(appRequests().slice(-2).map((r) => r.result), [CANNOT_COMPLETE, CANNOT_COMPLETE]);
});

test('one kAXErrorCannotComplete is borne; two in a row stop the walk there', () => {
  // Read attribute by attribute, each failing attribute is a request answered with the code.
  const cases = [
    // [name, attributes of the second child, tree lines]
    ['one', { AXRole: { error: CANNOT_COMPLETE }, AXTitle: 'x' },
     ['0 application Fixture', '    1 button a', '    2 ? x', '    3 button c']],
    ['two in a row', { AXRole: { error: CANNOT_COMPLETE }, AXSubrole: { error: CANNOT_COMPLETE } },
     ['0 application Fixture', '    1 button a']],
  ];
  for (const [name, attributes, lines] of cases) {
    sim.reset();
    const desktop = h.axDesktop([button('a'), { attributes }, button('c')]);
    desktop.applications[0].batchedRequests = false;
    const result = h.axDump(desktop);
    assert.deepEqual(h.treeLines(result.text), lines, name);
    assert.equal(result.text.includes(stoppedLine(2)), lines.length === 2, name);
  }
});

test('the time budget: a short one bounds each request and ends the walk', () => {
  const cases = [
    // [name, options, hung, latency µs]
    ['a hung application and 200 ms', { timeoutMs: 200 }, true, 0],
    ['a slow application and 100 ms', { timeoutMs: 100 }, false, 2000],
  ];
  for (const [name, options, hung, latency] of cases) {
    sim.reset();
    sim.ax.load(h.axDesktop(buttons(50)));
    sim.ax.setHung(h.AX_PID, hung);
    sim.ax.setLatency(latency);
    const { result, ms } = timed(() => bridge.axDump(options));
    const rendered = Object.keys(result.nodes).length;
    assert.ok(rendered < 51, `${name}: stopped early (${rendered})`);
    assert.ok(result.text.includes(`${stoppedLine(rendered)}\n`), `${name}: ${result.text}`);
    assert.equal(h.treeLines(result.text).length, rendered, name);
    for (const request of appRequests().filter((r) => r.call !== 'AXUIElementGetPid')) {
      assert.ok(request.timeout > 0 && request.timeout <= options.timeoutMs / 1000 + 1e-6,
                `${name}: ${request.timeout} s`);
    }
    assert.ok(ms < options.timeoutMs * 2 + 2000, `${name}: ${ms} ms`);
  }
});

test('a budget of 0 asks the application nothing', () => {
  const result = h.axDump(h.axDesktop(buttons(2), { focusedWindow: 'app' }), { timeoutMs: 0 });
  assert.deepEqual(appRequests().map((r) => r.call), ['AXUIElementGetPid']);
  assert.equal(result.text, `Fixture\nApp=com.example.fixture (pid ${h.AX_PID})\n${stoppedLine(0)}\n`);
});

test('the focus query and the web-content switch on a hung application', () => {
  sim.ax.load(h.axDesktop([button('a', { id: 'a' })], { focusedElement: 'a' }));
  sim.ax.setHung(h.AX_PID, true);
  const { result: focused, ms } = timed(() => bridge.axFocused());
  assert.deepEqual(focused, { role: '', title: '', description: '', value: '' });
  // Two reads time out at 0.5 s each, and the other two are not made.
  assert.deepEqual(appRequests().map((r) => [r.attribute, r.result, r.timeout]), [
    ['AXRole', CANNOT_COMPLETE, 0.5], ['AXTitle', CANNOT_COMPLETE, 0.5],
  ]);
  assert.ok(ms < 1000 + 2000, `${ms} ms`);
  sim.ax.setHung(h.AX_PID, true);
  const before = appRequests().length;
  assert.equal(bridge.axEnableWebContent(), true);
  assert.deepEqual(appRequests().slice(before).map((r) => [r.call, r.result, r.timeout]), [
    ['AXUIElementSetAttributeValue', CANNOT_COMPLETE, 0.5],
    ['AXUIElementSetAttributeValue', CANNOT_COMPLETE, 0.5],
  ]);
});
