'use strict';
// Permissions: the tap when the user withdraws its access, and the permission checks.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim, press, release } = h;

const TAP_DISABLED = { event: 'tap_disabled', reason: 'permission_revoked' };
const TAP_ENABLED = { event: 'tap_enabled', reason: 'permission_granted' };
const START_FAILED = { event: 'start_failed', reason: 'tap_create_returned_null' };
const ALL_GRANTED = { accessibility: true, inputMonitoring: true, postEvents: true };

h.useFreshTap(test);

const turn = () => new Promise((resolve) => setImmediate(resolve));

test('a tap whose permission is withdrawn while buttons flow is removed and reported once', async () => {
  const rec = await h.startRecording();
  assert.deepEqual(h.sendAll([press(3), release(3)]), [true, true]);
  await h.waitFor(() => rec.records.length === 2, 'the records before the revocation');

  sim.setPermission('accessibility', false);
  // The buttons go on flowing: held back while the starving tap is enabled, then, once the
  // system has disabled it and the addon has removed it, through to the applications again.
  const deadline = Date.now() + 10000;
  for (let sent = 0; !rec.records.some((r) => r.event === 'tap_disabled'); sent++) {
    assert.ok(Date.now() < deadline, 'timed out waiting for the tap_disabled record');
    sim.hid.send(sent % 2 === 0 ? press(3) : release(3));
    await turn();
  }
  assert.ok(sim.heldBack() > 0, 'the starving tap held input back');
  await h.waitFor(() => sim.taps().length === 0, 'the tap removed');

  const heldBack = sim.heldBack();
  assert.deepEqual(h.sendAll([press(3), release(3), press(4)]), [true, true, true]);
  assert.equal(sim.heldBack(), heldBack, 'nothing is held back any more');
  await h.settle();
  assert.deepEqual(rec.records.slice(0, 2), [
    { button: 4, phase: 'down', suppressed: false },
    { button: 4, phase: 'up', suppressed: false },
  ]);
  assert.deepEqual(rec.records.slice(2), [TAP_DISABLED], 'one record, and nothing after it');

  assert.equal(bridge.isRunning(), true, 'running until stop, as after a refused tap');
  assert.equal(bridge.start(() => assert.fail('a second start does nothing')), true);
  assert.deepEqual(sim.taps(), []);
  assert.equal(bridge.stop(), true);
  assert.equal(bridge.isRunning(), false);
});

// The system's own timeout is kept out of the way: only the addon's live check can end the hold.
const SYSTEM_HOLD_MS = 600000;

// Sends button events until one reaches the applications again: the hold has ended.
async function sendUntilThrough(what) {
  await h.waitFor(() => sim.hid.send(press(3)) && sim.hid.send(release(3)), what);
}

test('a withdrawn grant is noticed without the system\'s timeout, whatever the preflight says', async () => {
  const cases = [
    // [withdrawn, preflight answers stale]
    ['accessibility', false],
    ['accessibility', true],  // the application's row deleted: the trust check still says yes
    ['postEvents', false],
    ['postEvents', true],
  ];
  for (const [withdrawn, stale] of cases) {
    const what = `${withdrawn} withdrawn${stale ? ', preflight stale' : ''}`;
    sim.reset();
    sim.setRevocationDelay(SYSTEM_HOLD_MS);
    const rec = await h.startRecording();
    if (stale) sim.setPreflightStale(withdrawn, true);
    sim.setPermission(withdrawn, false);
    if (stale) assert.equal(bridge.permissions().postEvents, true, `${what}: the preflight`);
    await sendUntilThrough(`${what}: input flowing again`);
    assert.ok(sim.heldBack() > 0, `${what}: the starving tap held input back meanwhile`);
    await h.waitFor(() => rec.records.length === 1, `${what}: the record`);
    assert.deepEqual(sim.taps(), [], `${what}: the tap is gone`);
    await h.settle();
    assert.deepEqual(rec.records, [TAP_DISABLED], what);
    assert.equal(bridge.isRunning(), true, `${what}: running until stop`);
    assert.equal(bridge.stop(), true, what);
    h.assertLedgerClean();
  }
});

test('the grant\'s return reinstalls the tap, reported once, and records flow again', async () => {
  sim.setRevocationDelay(SYSTEM_HOLD_MS);
  sim.setPreflightStale('accessibility', true);
  const rec = await h.startRecording();
  for (let round = 1; round <= 2; round++) {
    rec.records.length = 0;
    sim.setPermission('accessibility', false);
    await h.waitFor(() => rec.records.length === 1, `round ${round}: tap_disabled`);
    assert.deepEqual(sim.taps(), []);
    assert.equal(sim.hid.send(press(4)), true, 'no tap: nothing is held back or reported');
    assert.equal(bridge.isRunning(), true, 'running while the grant is missing');
    sim.setPermission('accessibility', true);
    await h.waitFor(() => rec.records.length === 2, `round ${round}: tap_enabled`);
    await h.waitForTap();
    assert.deepEqual(h.sendAll([release(4), press(4), release(4)]), [true, true, true]);
    await h.waitFor(() => rec.records.length === 5, `round ${round}: the button's records`);
    await h.settle();
    assert.deepEqual(rec.records, [
      TAP_DISABLED,
      TAP_ENABLED,
      { button: 5, phase: 'up', suppressed: false },
      { button: 5, phase: 'down', suppressed: false },
      { button: 5, phase: 'up', suppressed: false },
    ], `round ${round}`);
  }
  assert.equal(bridge.isRunning(), true);
});

test('stop ends the tap thread while it waits for the grant', async () => {
  const rec = await h.startRecording();
  sim.setPermission('postEvents', false);
  assert.equal(sim.hid.disableTaps('timeout'), 1);
  await h.waitFor(() => rec.records.length === 1, 'tap_disabled');
  assert.equal(bridge.isRunning(), true);
  assert.equal(bridge.stop(), true);
  assert.equal(bridge.isRunning(), false);
  sim.setPermission('postEvents', true);
  await h.settle();
  assert.deepEqual(rec.records, [TAP_DISABLED], 'no tap_enabled after stop');
  assert.deepEqual(sim.taps(), []);
});

test('start after stop tries again, and gets the tap once the permission is back', async () => {
  sim.setPermission('accessibility', false);
  const refused = h.recorder();
  bridge.start(refused.callback);
  await h.waitFor(() => refused.records.length === 1, 'the start failure');
  assert.equal(bridge.stop(), true);

  sim.setPermission('accessibility', true);
  const rec = await h.startRecording();
  sim.setPermission('postEvents', false);
  await h.waitFor(() => rec.records.length === 1, 'the revocation');
  assert.equal(bridge.stop(), true);

  sim.setPermission('postEvents', true);
  const again = await h.startRecording();
  sim.hid.send(press(4));
  await h.waitFor(() => again.records.length === 1, 'a record from the new tap');
  await h.settle();
  assert.deepEqual(refused.records, [START_FAILED]);
  assert.deepEqual(rec.records, [TAP_DISABLED]);
  assert.deepEqual(again.records, [{ button: 5, phase: 'down', suppressed: false }]);
});

test('a disable notification re-enables the tap only while the access is there', async () => {
  const cases = [
    // [withdrawn, notification, re-enabled]
    [null, 'timeout', true],
    [null, 'userInput', true],
    ['inputMonitoring', 'timeout', true],  // an active tap does not need it
    ['accessibility', 'timeout', false],
    ['postEvents', 'userInput', false],
  ];
  for (const [withdrawn, reason, reenabled] of cases) {
    const what = `${withdrawn ?? 'nothing'} withdrawn, disabled by ${reason}`;
    sim.reset();
    sim.setRevocationDelay(600000);  // the system's own timeout stays out of the way
    const rec = await h.startRecording();
    if (withdrawn) sim.setPermission(withdrawn, false);
    assert.equal(sim.hid.disableTaps(reason), 1, what);
    if (reenabled) {
      assert.equal(sim.taps()[0].enabled, true, what);
    } else {
      await h.waitFor(() => sim.taps().length === 0, `${what}: the tap removed`);
    }
    await h.settle();
    assert.deepEqual(rec.records, reenabled ? [] : [TAP_DISABLED], what);
    assert.equal(bridge.stop(), true, what);
    h.assertLedgerClean();
  }
});

test('without the access an active tap needs, start reports the refused tap', async () => {
  for (const withdrawn of ['accessibility', 'postEvents']) {
    sim.reset();
    sim.setPermission(withdrawn, false);
    const rec = h.recorder();
    assert.equal(bridge.start(rec.callback), true);
    await h.waitFor(() => rec.records.length === 1, `${withdrawn}: the start failure`);
    await h.settle();
    assert.deepEqual(rec.records, [START_FAILED], withdrawn);
    assert.deepEqual(sim.taps(), []);
    assert.equal(bridge.stop(), true);
  }
});

test('permissions() answers each capability from its own platform check', () => {
  const cases = [
    // [withdrawn, expected]
    [[], ALL_GRANTED],
    [['accessibility'], { accessibility: false, inputMonitoring: true, postEvents: false }],
    [['inputMonitoring'], { accessibility: true, inputMonitoring: false, postEvents: true }],
    [['postEvents'], { accessibility: true, inputMonitoring: true, postEvents: false }],
    [['accessibility', 'inputMonitoring', 'postEvents'],
     { accessibility: false, inputMonitoring: false, postEvents: false }],
  ];
  for (const [withdrawn, expected] of cases) {
    sim.reset();
    for (const name of withdrawn) sim.setPermission(name, false);
    const answer = bridge.permissions('extra', 1);
    assert.deepEqual(answer, expected, withdrawn.join(', ') || 'all granted');
    assert.deepEqual(Object.keys(answer), ['accessibility', 'inputMonitoring', 'postEvents']);
  }
  assert.deepEqual(sim.prompts(), { accessibility: 0, inputMonitoring: 0, postEvents: 0 },
                   'checking asks the user nothing');
});

test('requestAccessibility() prompts an untrusted process and answers its trust', () => {
  assert.equal(bridge.requestAccessibility(), true);
  assert.equal(sim.prompts().accessibility, 0, 'a trusted process is not asked');
  h.assertLedgerClean();

  sim.setPermission('accessibility', false);
  assert.equal(bridge.requestAccessibility(), false, 'the prompt answers later');
  assert.equal(bridge.requestAccessibility({}), false);
  assert.deepEqual(sim.prompts(), { accessibility: 2, inputMonitoring: 0, postEvents: 0 });
  h.assertLedgerClean();  // the options dictionary is released
});

test('synthetic input without the permission to post is dropped, and says nothing', () => {
  sim.setPermission('postEvents', false);
  const { result, events } = h.postedBy(() => bridge.postKey('a'));
  assert.equal(result, true);
  assert.deepEqual(events.map((e) => e.dropped), [true, true]);
  assert.equal(sim.apps.count(), 0, 'nothing reached the applications');
});
