'use strict';
// What the tap reports for each kind of input, and which events reach the applications.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim, Flag, KeyCode, press, release, flags } = h;
const K = sim.keyCodes;

const down = (button, suppressed = false) => ({ button, phase: 'down', suppressed });
const up = (button, suppressed = false) => ({ button, phase: 'up', suppressed });
const fn = (phase) => ({ event: 'fn', phase });
const rightCommand = (phase) => ({ event: 'rightCommand', phase });

// Each case starts and ends with no modifier held and no button suppressed, because the
// modifier states and the mask live for the whole process. A step sends an event (expecting
// whether it reaches the applications), presses or releases a key of the simulated keyboard
// (which builds the event a Mac keyboard sends), or changes the suppression mask.
const send = (event, reaches = true) => ({ event, reaches });
const keyDown = (keycode) => ({ key: [keycode, true] });
const keyUp = (keycode) => ({ key: [keycode, false] });
const tap = (keycode) => [keyDown(keycode), keyUp(keycode)];
const suppress = (button, on) => ({ suppress: [button, on] });
const button4 = [send(press(3)), send(release(3))];

async function runCase(rec, steps, records) {
  rec.records.length = 0;
  for (const step of steps) {
    if (step.suppress) {
      bridge.setSuppress(...step.suppress);
      continue;
    }
    if (step.key) {
      const [keycode, isDown] = step.key;
      assert.equal(isDown ? sim.hid.keyDown(keycode) : sim.hid.keyUp(keycode), true,
                   `key ${keycode} ${isDown ? 'down' : 'up'} reaches the applications`);
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
  assert.deepEqual(sim.hid.keysDown(), [], 'the case released every key it pressed');
}

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
      ...tap(0),
      keyDown(K.leftCommand), ...tap(12), keyUp(K.leftCommand),  // a left-Command shortcut
      suppress(4, false),
    ],
    records: [],
  },
  {
    name: 'Fn pressed and released',
    steps: tap(K.fn),
    records: [fn('down'), fn('up')],
  },
  {
    name: 'another modifier while Fn is held adds no Fn record',
    steps: [keyDown(K.fn), ...tap(K.leftShift), ...tap(K.rightOption), keyUp(K.fn)],
    records: [fn('down'), fn('up')],
  },
  {
    name: 'left Command alone gives no record',
    steps: tap(K.leftCommand),
    records: [],
  },
  {
    name: 'right Command pressed and released',
    steps: tap(K.rightCommand),
    records: [rightCommand('down'), rightCommand('up')],
  },
  {
    // The button between shows the order: the release is reported at once, not when the left
    // key goes up.
    name: 'left Command held, right pressed and released: right is up at once',
    steps: [keyDown(K.leftCommand), ...tap(K.rightCommand), ...button4, keyUp(K.leftCommand)],
    records: [rightCommand('down'), rightCommand('up'), down(4), up(4)],
  },
  {
    name: 'right held, left pressed, right released, left released',
    steps: [keyDown(K.rightCommand), keyDown(K.leftCommand), keyUp(K.rightCommand), ...button4,
            keyUp(K.leftCommand)],
    records: [rightCommand('down'), rightCommand('up'), down(4), up(4)],
  },
  {
    name: 'Fn with both Command keys',
    steps: [keyDown(K.fn), keyDown(K.leftCommand), keyDown(K.rightCommand), keyUp(K.fn),
            keyDown(K.fn), keyUp(K.rightCommand), keyUp(K.leftCommand), keyUp(K.fn)],
    records: [fn('down'), rightCommand('down'), fn('up'), fn('down'), rightCommand('up'),
              fn('up')],
  },
  {
    name: 'other modifiers and typing under right Command keep it down',
    steps: [keyDown(K.rightCommand), ...tap(K.leftShift), ...tap(K.rightControl), ...tap(12),
            ...tap(K.capsLock), ...tap(K.capsLock), keyUp(K.rightCommand)],
    records: [rightCommand('down'), rightCommand('up')],
  },
  {
    name: 'Fn and right Command together are reported in event order',
    steps: [keyDown(K.fn), keyDown(K.rightCommand), send(press(4)), send(release(4)),
            keyUp(K.rightCommand), keyUp(K.fn)],
    records: [fn('down'), rightCommand('down'), down(5), up(5), rightCommand('up'), fn('up')],
  },
  {
    // Events other software makes often carry no device bits: only a change of key 54 moves
    // right Command then, and the shared Command mask holds its release back while the left
    // key's event still shows Command.
    name: 'synthetic events without device bits follow the key-code rule',
    steps: [
      send(flags(KeyCode.leftCommand, Flag.command)),
      send(flags(KeyCode.rightCommand, Flag.command)),
      send(flags(KeyCode.rightCommand, Flag.command)),
      send(flags(KeyCode.leftCommand)),
      send(flags(KeyCode.rightCommand)),
    ],
    records: [rightCommand('down'), rightCommand('up')],
  },
  {
    name: 'modifier events are never swallowed',
    steps: [
      ...[4, 5].map((b) => suppress(b, true)),
      ...tap(K.fn),
      ...tap(K.rightCommand),
      ...[4, 5].map((b) => suppress(b, false)),
    ],
    records: [fn('down'), fn('up'), rightCommand('down'), rightCommand('up')],
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
    await t.test(name, () => runCase(rec, steps, records));
  }
});

// Fn from the Fn key's own events only. Arrow, function and navigation keys carry the Fn bit,
// and with the latch the keyboard's flag state keeps it after Fn (or such a key) is released,
// so other keys' events carry it too: none of that may move the Fn state.
const ARROW = 123;
const F5 = 96;
const FN_CASES = [
  {
    name: 'Fn alone',
    steps: tap(K.fn),
    records: [fn('down'), fn('up')],
  },
  {
    name: 'Fn, then Shift',
    steps: [...tap(K.fn), ...tap(K.leftShift), ...tap(K.rightShift)],
    records: [fn('down'), fn('up')],
  },
  {
    name: 'Shift held while Fn is pressed and released',
    steps: [keyDown(K.leftShift), ...tap(K.fn), keyUp(K.leftShift)],
    records: [fn('down'), fn('up')],
  },
  {
    name: 'an arrow key with Fn held',
    steps: [keyDown(K.fn), ...tap(ARROW), keyUp(K.fn)],
    records: [fn('down'), fn('up')],
  },
  {
    name: 'arrow and function keys, then modifiers, without Fn',
    steps: [...tap(ARROW), ...tap(K.leftShift), keyDown(F5), ...tap(K.rightOption), keyUp(F5),
            ...tap(K.leftCommand)],
    records: [],
  },
  {
    name: 'right Command under a latched Fn bit',
    steps: [...tap(K.fn), ...tap(K.rightCommand)],
    records: [fn('down'), fn('up'), rightCommand('down'), rightCommand('up')],
  },
  {
    // The Globe key of some keyboards reports key code 179 for Fn.
    name: 'Fn events of key code 179',
    steps: [send(flags(179, Flag.fn)), send(flags(179))],
    records: [fn('down'), fn('up')],
  },
];

test('Fn comes from the Fn key only, with the latch on and off', async (t) => {
  let rec;
  t.before(async () => {
    rec = await h.startRecording();
  });
  t.after(() => {
    bridge.stop();
    sim.hid.setFnLatch(false);
  });
  for (const latch of [false, true]) {
    for (const { name, steps, records } of FN_CASES) {
      await t.test(`${name}${latch ? ', latch on' : ''}`, async () => {
        sim.hid.setFnLatch(false);  // nothing latched by the case before
        sim.hid.setFnLatch(latch);
        await runCase(rec, steps, records);
      });
    }
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
  sim.hid.keyDown(K.fn);
  await h.waitFor(() => rec.records.length === 1, 'fn down');
  bridge.stop();
  sim.hid.keyUp(K.fn);  // nobody is listening
  rec = await h.startRecording();
  sim.hid.keyDown(K.leftShift);
  sim.hid.keyUp(K.leftShift);
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
