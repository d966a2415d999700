'use strict';
// An application that does not answer, or answers slowly: the messaging timeout of every request,
// the system-wide element's focus attributes asked aside when the focused application hangs,
// refusals that never stop a walk, the stop after two unanswered requests in a row, the time
// budget and its stop line, and the timeoutMs option. Times are never asserted: what a call
// waited for shows in the timeouts its requests were made with.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim } = h;

test.beforeEach(() => sim.reset());
test.afterEach(() => {
  sim.reset();  // ends any hang, and with it every request still waiting
  h.assertLedgerClean();
});

const CANNOT_COMPLETE = -25204;
const button = (title, extra = {}) => ({ attributes: { AXRole: 'AXButton', AXTitle: title }, ...extra });
const buttons = (count) => Array.from({ length: count }, (_, i) => button(`b${i}`));
const notResponding = (n) => `\u2026 (application not responding, walk stopped at ${n})`;
const budgetSpent = (ms, n) => `\u2026 (time budget of ${ms} ms spent, walk stopped at ${n})`;

const appRequests = () => sim.ax.requests().filter((r) => r.pid === h.AX_PID);
const systemWideRequests = () => sim.ax.requests().filter((r) => r.pid === 0);

// The system-wide request is answered by the focused application: that is the one answer a
// hang that starts after it lets through.
const AFTER_FOCUSED_APPLICATION = { afterRequests: 1 };

test('a responsive application: every request waits at most 0.5 s, and no stop line', () => {
  const desktop = h.axDesktop(buttons(3), { focusedElement: 'app', focusedWindow: 'app' });
  const { text } = h.axDump(desktop);
  assert.doesNotMatch(text, /not responding|budget/);
  for (const request of appRequests().filter((r) => r.call !== 'AXUIElementGetPid')) {
    assert.equal(request.timeout, 0.5, `${request.call} ${request.attribute}`);
  }
  // The system-wide element keeps the process-wide timeout: setting it would change the host's.
  assert.deepEqual(systemWideRequests().map((r) => r.timeout), [6]);
});

test('a hung focused application: none of the three calls waits for the system-wide element', async () => {
  sim.ax.load(h.axDesktop([button('a', { id: 'a' })], { focusedElement: 'a', focusedWindow: 'app' }));
  sim.ax.setHung(h.AX_PID, true);
  const cases = [
    // [name, call, result]
    ['axDump', () => bridge.axDump(), {
      nodes: {}, focusedNodeId: null,
      text: `ax-error code=${CANNOT_COMPLETE} (the focused application is not responding)\n`,
    }],
    ['axFocused', () => bridge.axFocused(), {}],
    ['axEnableWebContent', () => bridge.axEnableWebContent(), false],
  ];
  for (const [name, call, expected] of cases) {
    const waiting = sim.ax.stats().waiting;
    assert.deepEqual(call(), expected, name);
    // Back before the focused application answered: its request is still waiting, aside.
    assert.equal(sim.ax.stats().waiting, waiting + 1, name);
    assert.deepEqual(appRequests(), [], `${name}: nothing else was asked`);
  }
  sim.ax.setHung(h.AX_PID, false);
  await sim.waitFor(() => sim.ax.stats().waiting === 0 && sim.cf.live() === 0);
  // Answered late, each with the process-wide timeout, which nothing changed.
  assert.deepEqual(systemWideRequests().map((r) => [r.result, r.timeout]),
                   [[0, 6], [0, 6], [0, 6]]);
});

test('a hung application: the walk stops after two requests in a row go unanswered', () => {
  const cases = [
    // [name, hang after this many answers, tree lines]
    // The system-wide request, then the two web-content writes time out: nothing is rendered.
    ['from the header on', 1, []],
    // The header asks the application 6 times (the system-wide request, two writes, the focused
    // element, the window and its title), each element twice (its batch and the settable query):
    // the sixth element's batch and its second try, without the children, time out.
    ['halfway', 6 + 2 * 5, ['0 application Fixture', '    1 button b0', '    2 button b1',
                            '    3 button b2', '    4 button b3']],
  ];
  for (const [name, afterRequests, lines] of cases) {
    sim.reset();
    sim.ax.load(h.axDesktop(buttons(20), { focusedElement: 'app', focusedWindow: 'app' }));
    sim.ax.setHung(h.AX_PID, true, { afterRequests });
    const result = bridge.axDump();
    assert.deepEqual(lines.length === 0 ? [] : h.treeLines(result.text), lines, name);
    assert.ok(result.text.includes(`${notResponding(lines.length)}\n`), `${name}: ${result.text}`);
    assert.match(result.text, new RegExp(`^Fixture\nApp=com.example.fixture \\(pid ${h.AX_PID}\\)\n`));
    const answered = appRequests().filter((r) => r.call !== 'AXUIElementGetPid');
    assert.deepEqual(answered.slice(-2).map((r) => [r.result, r.timeout]),
                     [[CANNOT_COMPLETE, 0.5], [CANNOT_COMPLETE, 0.5]], name);
  }
});

test('refusals answered at once never stop a walk', () => {
  const refused = { error: CANNOT_COMPLETE };
  const refusing = (i) => button(`r${i}`, { attributes: {
    AXRole: 'AXButton', AXTitle: `r${i}`, AXHelp: refused, AXPlaceholderValue: refused,
  } });
  const cases = [
    // [name, batchedRequests, children]
    ['one element, single requests', false, [button('a'), refusing(0), button('c')]],
    ['one element, batched', true, [button('a'), refusing(0), button('c')]],
    ['every element of 200, single requests', false, Array.from({ length: 200 }, (_, i) => refusing(i))],
  ];
  for (const [name, batchedRequests, children] of cases) {
    sim.reset();
    const desktop = h.axDesktop(children);
    desktop.applications[0].batchedRequests = batchedRequests;
    const result = h.axDump(desktop, { maxNodes: 500, maxChildrenPerNode: 500 });
    assert.equal(Object.keys(result.nodes).length, children.length + 1, name);
    assert.doesNotMatch(result.text, /not responding|budget/, name);
    assert.ok(appRequests().some((r) => r.result === CANNOT_COMPLETE) || batchedRequests, name);
  }
});

test('the time budget: spent on an application that answers, or on one that does not', () => {
  const cases = [
    // [name, options, hang after, latency µs, stop line of the rendered count]
    ['a slow application and 100 ms', { timeoutMs: 100 }, null, 2000, (n) => budgetSpent(100, n)],
    ['a fractional budget', { timeoutMs: 50.5 }, null, 2000, (n) => budgetSpent('50.5', n)],
    ['a hung application and 3 s', {}, 1, 0, notResponding],
    // One request waits the whole 200 ms: the budget is gone before a second could go unanswered.
    ['a hung application and 200 ms', { timeoutMs: 200 }, 1, 0, (n) => budgetSpent(200, n)],
  ];
  for (const [name, options, hangAfter, latency, line] of cases) {
    sim.reset();
    sim.ax.load(h.axDesktop(buttons(50)));
    if (hangAfter !== null) sim.ax.setHung(h.AX_PID, true, { afterRequests: hangAfter });
    sim.ax.setLatency(latency);
    const result = bridge.axDump(options);
    const rendered = Object.keys(result.nodes).length;
    assert.ok(rendered < 51, `${name}: stopped early (${rendered})`);
    assert.ok(result.text.includes(`${line(rendered)}\n`), `${name}: ${result.text}`);
    assert.equal(rendered === 0 ? 0 : h.treeLines(result.text).length, rendered, name);
    const limit = (options.timeoutMs ?? 3000) / 1000;
    for (const request of appRequests().filter((r) => r.call !== 'AXUIElementGetPid')) {
      assert.ok(request.timeout > 0 && request.timeout <= Math.min(0.5, limit) + 1e-6,
                `${name}: ${request.timeout} s`);
    }
  }
});

test('timeoutMs: no limit takes the longest budget, nothing at all is a RangeError', async () => {
  const message = 'timeoutMs must be a positive number of milliseconds';
  const cases = [
    // [timeoutMs, the longest timeout a request may have, or null for the RangeError]
    [Infinity, 0.5], [1e308, 0.5], [2 ** 31, 0.5], [2 ** 32 + 50, 0.5], [2 ** 31 - 1, 0.5],
    [300.5, 0.3005],
    [NaN, null], [0, null], [-0, null], [-1, null], [-Infinity, null],
  ];
  for (const [timeoutMs, longest] of cases) {
    for (const [through, dump] of [['axDump', async (o) => bridge.axDump(o)],
                                   ['axDumpAsync', (o) => bridge.axDumpAsync(o)]]) {
      const name = `${through} ${timeoutMs}`;
      sim.reset();
      sim.ax.load(h.axDesktop(buttons(3)));
      if (longest === null) {
        await assert.rejects(dump({ timeoutMs }), (error) => {
          assert.equal(error.constructor, RangeError, name);
          assert.equal(error.message, message, name);
          return true;
        });
        assert.deepEqual(sim.ax.requests(), [], `${name}: nothing asked`);
        continue;
      }
      // What a request may wait shows the budget: a wrapped or zero one would cut it short.
      const result = await dump({ timeoutMs });
      assert.equal(Object.keys(result.nodes).length, 4, name);
      assert.doesNotMatch(result.text, /not responding|budget/, name);
      for (const request of appRequests().filter((r) => r.call !== 'AXUIElementGetPid')) {
        assert.ok(request.timeout <= longest && request.timeout > longest - 0.05,
                  `${name}: ${request.timeout}`);
      }
    }
  }
  h.assertThrowsExactly(() => bridge.axDump({ timeoutMs: NaN }), RangeError, message);
});

test('the focus query and the web-content switch on an application that hangs after the focus', () => {
  sim.ax.load(h.axDesktop([button('a', { id: 'a' })], { focusedElement: 'a' }));
  sim.ax.setHung(h.AX_PID, true, AFTER_FOCUSED_APPLICATION);
  assert.deepEqual(bridge.axFocused(), { role: '', title: '', description: '', value: '' });
  // Two reads time out at 0.5 s each, and the other two are not made.
  assert.deepEqual(appRequests().map((r) => [r.attribute, r.result, r.timeout]), [
    ['AXRole', CANNOT_COMPLETE, 0.5], ['AXTitle', CANNOT_COMPLETE, 0.5],
  ]);
  sim.ax.setHung(h.AX_PID, true, AFTER_FOCUSED_APPLICATION);
  const before = appRequests().length;
  assert.equal(bridge.axEnableWebContent(), true);
  assert.deepEqual(appRequests().slice(before).map((r) => [r.call, r.result, r.timeout]), [
    ['AXUIElementSetAttributeValue', CANNOT_COMPLETE, 0.5],
    ['AXUIElementSetAttributeValue', CANNOT_COMPLETE, 0.5],
  ]);
});
