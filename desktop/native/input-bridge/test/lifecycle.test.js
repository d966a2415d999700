'use strict';
// Starting and stopping the tap, refusal, system disabling, and the reference ledger.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim, press, release } = h;

const START_FAILED = { event: 'start_failed', reason: 'tap_create_returned_null' };

h.useFreshTap(test);

test('the installed tap is an active head tap at the HID level for the three event types', async () => {
  await h.startRecording();
  assert.deepEqual(sim.taps(), [
    { enabled: true, location: 0, placement: 0, options: 0, mask: 0x6001000 },
  ]);
  assert.equal(bridge.stop(), true);
  assert.deepEqual(sim.taps(), [], 'stop has torn the tap down by the time it returns');
});

test('isRunning is true as soon as start returns and false after stop', () => {
  assert.equal(bridge.start(() => {}), true);
  assert.equal(bridge.isRunning(), true);
  assert.equal(bridge.stop(), true, 'stop right after start');
  assert.equal(bridge.isRunning(), false);
  assert.deepEqual(sim.taps(), []);
});

test('stop without start, and stop twice', () => {
  assert.equal(bridge.stop(), false);
  assert.equal(bridge.start(() => {}), true);
  assert.equal(bridge.stop(), true);
  assert.equal(bridge.stop(), false);
});

test('a second start keeps the first callback and the one tap', async () => {
  const first = await h.startRecording();
  const second = h.recorder();
  assert.equal(bridge.start(second.callback), true);
  assert.equal(bridge.start('not a function'), true, 'arguments are not looked at while running');
  assert.equal(sim.taps().length, 1);
  sim.hid.send(press(3));
  await h.waitFor(() => first.records.length === 1, 'the record');
  await h.settle();
  assert.deepEqual(second.records, []);
});

test('a refused tap reports one start failure and stays running until stop', async () => {
  sim.refuseTaps(true);
  const rec = h.recorder();
  assert.equal(bridge.start(rec.callback), true);
  await h.waitFor(() => rec.records.length === 1, 'the start-failure record');
  assert.equal(bridge.isRunning(), true);
  assert.equal(bridge.start(() => {}), true, 'no retry while failed');
  assert.deepEqual(sim.taps(), []);
  assert.equal(bridge.stop(), true);
  await h.settle();
  assert.deepEqual(rec.records, [START_FAILED]);
  assert.deepEqual(Object.keys(rec.records[0]), ['event', 'reason']);
  assert.equal(bridge.isRunning(), false);
});

test('after a refusal a new start installs the tap', async () => {
  sim.refuseTaps(true);
  const refused = h.recorder();
  bridge.start(refused.callback);
  await h.waitFor(() => refused.records.length === 1, 'the start-failure record');
  bridge.stop();
  sim.refuseTaps(false);
  const rec = await h.startRecording();
  sim.hid.send(press(4));
  await h.waitFor(() => rec.records.length === 1, 'a button record');
  assert.deepEqual(rec.records, [{ button: 5, phase: 'down', suppressed: false }]);
});

test('records queued before stop arrive after stop has returned', async () => {
  const rec = await h.startRecording();
  sim.hid.send(press(3));
  sim.hid.send(release(3));
  assert.equal(bridge.stop(), true);
  assert.deepEqual(rec.records, [], 'delivery happens on a later turn of the event loop');
  await h.waitFor(() => rec.records.length === 2, 'the queued records');
  assert.deepEqual(rec.records.map((r) => r.phase), ['down', 'up']);
});

test('start right after stop: each callback gets only its own records', async () => {
  const old = await h.startRecording();
  sim.hid.send(press(3));
  bridge.stop();  // the old function still holds the press; its queue has not drained
  const fresh = await h.startRecording();
  sim.hid.send(release(3));
  await h.waitFor(() => old.records.length === 1 && fresh.records.length === 1, 'both records');
  await h.settle();
  assert.deepEqual(old.records, [{ button: 4, phase: 'down', suppressed: false }]);
  assert.deepEqual(fresh.records, [{ button: 4, phase: 'up', suppressed: false }]);
});

test('stop called from inside the callback', async () => {
  const seen = [];
  let stopResult;
  bridge.start((record) => {
    seen.push(record);
    if (seen.length === 1) stopResult = bridge.stop();
  });
  await h.waitForTap();
  sim.hid.send(press(3));
  sim.hid.send(release(3));
  await h.waitFor(() => seen.length === 2, 'both records');
  assert.equal(stopResult, true);
  assert.equal(bridge.isRunning(), false);
  assert.deepEqual(sim.taps(), []);
});

for (const reason of ['timeout', 'userInput']) {
  test(`a tap disabled by ${reason} re-enables itself and keeps reporting`, async () => {
    const rec = await h.startRecording();
    sim.hid.disableTaps(reason);
    await h.waitFor(() => sim.taps()[0].enabled, 'the tap enabled again');
    sim.hid.send(press(3));
    await h.waitFor(() => rec.records.length === 1, 'a record after re-enabling');
    await h.settle();
    assert.deepEqual(rec.records, [{ button: 4, phase: 'down', suppressed: false }],
                     'the notification itself is no record');
  });
}

test('the ledger is back at its baseline after many start and stop cycles', async () => {
  for (let i = 0; i < 20; i++) {
    sim.refuseTaps(i % 3 === 2);
    const rec = h.recorder();
    bridge.start(rec.callback);
    if (i % 2 === 0) await h.waitFor(() => sim.taps().length === 1 || rec.records.length, 'tap');
    sim.hid.send(press(3));
    bridge.stop();
  }
  await h.settle();
});
