'use strict';
// What the tap reports for each kind of input, and which events reach the applications.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim, Flag, KeyCode, press, release, flags } = h;

const down = (button, suppressed = false) => ({ button, phase: 'down', suppressed });
const up = (button, suppressed = false) => ({ button, phase: 'up', suppressed });
const fn = (phase) => ({ event: 'fn', phase });
const rightCommand = (phase) => ({ event: 'rightCommand', phase });

// Each case starts and ends with no modifier held and no button suppressed, because the
// modifier states and the mask live for the whole process. A step either sends an event
// (expecting whether it reaches the applications) or changes the suppression mask.
const send = (event, reaches = true) => ({ event, reaches });
const suppress = (button, on) => ({ suppress: [button, on] });

const CASES = [
  {
    name: 'button 4 pressed and released',
    steps: [send(press(3)), send(release(3))],
    records: [down(4), up(4)],
  },
  {
    name: 'button 5 pressed and released',
    steps: [send(press(4)), send(release(4))],
    records: [down(5), up(5)],
  },
  {
    name: 'suppressed button 5 is swallowed both ways',
    steps: [suppress(5, true), send(press(4), false), send(release(4), false), suppress(5, false)],
    records: [down(5, true), up(5, true)],
  },
  {
    name: 'suppressing button 5 leaves button 4 alone',
    steps: [suppress(5, true), send(press(3)), send(release(3)), suppress(5, false)],
    records: [down(4), up(4)],
  },
  {
    name: 'mask set between press and release swallows only the release',
    steps: [send(press(3)), suppress(4, true), send(release(3), false), suppress(4, false)],
    records: [down(4), up(4, true)],
  },
  {
    name: 'mask cleared between press and release swallows only the press',
    steps: [suppress(4, true), send(press(3), false), suppress(4, false), send(release(3))],
    records: [down(4, true), up(4)],
  },
  {
    name: 'middle and higher buttons pass without a record, even with every bit set',
    steps: [
      ...[1, 2, 3, 6, 7, 31].map((b) => suppress(b, true)),
      ...[2, 5, 6, 30].flatMap((b) => [send(press(b)), send(release(b))]),
      ...[1, 2, 3, 6, 7, 31].map((b) => suppress(b, false)),
    ],
    records: [],
  },
  {
    name: 'left button and key events are not the tap\'s business',
    steps: [
      suppress(4, true),
      send({ type: h.EventType.leftMouseDown, button: 3 }),
      send({ type: h.EventType.leftMouseUp, button: 3 }),
      send({ type: h.EventType.keyDown, keycode: 54, flags: Flag.command | Flag.fn }),
      suppress(4, false),
    ],
    records: [],
  },
  {
    name: 'Fn pressed and released',
    steps: [send(flags(KeyCode.fn, Flag.fn)), send(flags(KeyCode.fn))],
    records: [fn('down'), fn('up')],
  },
  {
    name: 'another modifier while Fn is held adds no Fn record',
    steps: [
      send(flags(KeyCode.fn, Flag.fn)),
      send(flags(KeyCode.shift, Flag.fn, Flag.shift)),
      send(flags(KeyCode.shift, Flag.fn)),
      send(flags(KeyCode.fn)),
    ],
    records: [fn('down'), fn('up')],
  },
  {
    name: 'left Command alone gives no record',
    steps: [send(flags(KeyCode.leftCommand, Flag.command)), send(flags(KeyCode.leftCommand))],
    records: [],
  },
  {
    name: 'right Command pressed and released',
    steps: [send(flags(KeyCode.rightCommand, Flag.command)), send(flags(KeyCode.rightCommand))],
    records: [rightCommand('down'), rightCommand('up')],
  },
  {
    name: 'right Command released while left Command is held reports up only later',
    steps: [
      send(flags(KeyCode.leftCommand, Flag.command)),
      send(flags(KeyCode.rightCommand, Flag.command)),
      send(flags(KeyCode.rightCommand, Flag.command)),  // right released, flag still set
      send(flags(KeyCode.leftCommand)),  // left released: not key 54, no record
      send(flags(KeyCode.rightCommand)),  // the next change of key 54 finds the flag clear
    ],
    records: [rightCommand('down'), rightCommand('up')],
  },
  {
    name: 'Fn and right Command together are reported in event order',
    steps: [
      send(flags(KeyCode.fn, Flag.fn)),
      send(flags(KeyCode.rightCommand, Flag.fn, Flag.command)),
      send(press(4)),
      send(release(4)),
      send(flags(KeyCode.rightCommand, Flag.fn)),
      send(flags(KeyCode.fn)),
    ],
    records: [fn('down'), rightCommand('down'), down(5), up(5), rightCommand('up'), fn('up')],
  },
  {
    name: 'modifier events are never swallowed',
    steps: [
      ...[4, 5].map((b) => suppress(b, true)),
      send(flags(KeyCode.fn, Flag.fn)),
      send(flags(KeyCode.fn)),
      ...[4, 5].map((b) => suppress(b, false)),
    ],
    records: [fn('down'), fn('up')],
  },
];

test('tap records', async (t) => {
  let rec;
  t.before(async () => {
    rec = await h.startRecording();
  });
  t.after(() => {
    bridge.stop();
  });

  for (const { name, steps, records } of CASES) {
    await t.test(name, async () => {
      rec.records.length = 0;
      for (const step of steps) {
        if (step.suppress) {
          bridge.setSuppress(...step.suppress);
          continue;
        }
        assert.equal(sim.hid.send(step.event), step.reaches,
                     `${JSON.stringify(step.event)} reaches the applications`);
      }
      await h.waitFor(() => rec.records.length >= records.length, `${records.length} records`);
      await h.settle();
      assert.deepEqual(rec.records, records);
      // Key order is part of the contract.
      assert.deepEqual(rec.records.map(Object.keys), records.map(Object.keys));
    });
  }
});

test('a mask set before start applies to the first event after it', async () => {
  assert.equal(bridge.setSuppress(4, true), 1 << 4);
  const rec = await h.startRecording();
  assert.equal(sim.hid.send(press(3)), false);
  assert.equal(bridge.setSuppress(4, false), 0);
  assert.equal(sim.hid.send(release(3)), true);
  await h.waitFor(() => rec.records.length === 2, 'two records');
  bridge.stop();
  assert.deepEqual(rec.records, [down(4, true), up(4)]);
});

test('a modifier released while the tap is stopped is reported up after the next start', async () => {
  let rec = await h.startRecording();
  sim.hid.send(flags(KeyCode.fn, Flag.fn));
  await h.waitFor(() => rec.records.length === 1, 'fn down');
  bridge.stop();
  sim.hid.send(flags(KeyCode.fn));  // nobody is listening
  rec = await h.startRecording();
  sim.hid.send(flags(KeyCode.shift, Flag.shift));
  sim.hid.send(flags(KeyCode.shift));
  await h.waitFor(() => rec.records.length === 1, 'fn up');
  await h.settle();
  bridge.stop();
  assert.deepEqual(rec.records, [fn('up')]);
});

test('setSuppress works with the tap stopped and changes nothing else', () => {
  assert.equal(bridge.isRunning(), false);
  assert.equal(bridge.setSuppress(5, true), 1 << 5);
  assert.equal(sim.hid.send(press(4)), true, 'no tap, nothing is swallowed');
  assert.equal(bridge.setSuppress(5, false), 0);
  assert.deepEqual(sim.taps(), []);
});
