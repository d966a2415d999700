'use strict';
// The push-to-talk module on the simulated desktop: the user's keys and mouse through the kit,
// a fake recogniser, and what the focused application received.
const { test, afterEach } = require('node:test');
const assert = require('node:assert/strict');
const bridge = require('input-bridge');
const sim = require('input-bridge/desktop-sim');
const { createPushToTalk } = require('./push-to-talk.js');

// A recogniser that hears one transcript after another; calls says what it was asked.
function fakeRecogniser(...transcripts) {
  const calls = [];
  return {
    calls,
    startDictation: (trigger) => calls.push(`start ${trigger}`),
    stopDictation: async () => {
      calls.push('stop');
      return transcripts.shift() ?? '';
    },
  };
}

let current = null;

// A fresh desktop with a notes application whose text field has the focus, and push-to-talk
// listening on it.
async function listening(options) {
  await finish();
  sim.loadApp({ name: 'Notes', window: 'Shopping list', field: 'Body', ...options.app });
  current = createPushToTalk(options);
  current.start();
  await sim.waitForTap();
  return current;
}

async function finish() {
  if (current !== null) await current.stop();
  current = null;
  sim.resetAll(bridge);
}

afterEach(finish);

const TRIGGERS = [
  // [trigger, press, release, whether the application gets the trigger's events]
  ['fn', () => sim.keyboard.hold('fn'), () => sim.keyboard.release('fn'), true],
  ['rightCommand', () => sim.keyboard.hold('rightCommand'),
   () => sim.keyboard.release('rightCommand'), true],
  ['button5', () => sim.mouse.press(5), () => sim.mouse.release(5), false],
];

test('holding a trigger dictates, and its release types the transcript', async () => {
  for (const [name, press, release, reachesApplication] of TRIGGERS) {
    const recogniser = fakeRecogniser('buy oat milk');
    await listening(recogniser);
    assert.equal(press(), reachesApplication, `${name} pressed`);
    await sim.waitFor(() => recogniser.calls.length === 1);
    assert.deepEqual(recogniser.calls, [`start ${name}`]);
    assert.equal(release(), reachesApplication, `${name} released`);
    await sim.waitFor(() => sim.typed() !== '');
    assert.deepEqual(recogniser.calls, [`start ${name}`, 'stop']);
    assert.equal(sim.typed(), 'buy oat milk', name);
    assert.deepEqual(sim.shortcuts(), [], `${name}: nothing but the text was posted`);
  }
});

test('a second trigger during a dictation neither restarts nor ends it', async () => {
  const recogniser = fakeRecogniser('one take');
  const ptt = await listening(recogniser);
  sim.keyboard.hold('fn');
  sim.keyboard.press('rightCommand');
  sim.mouse.click(5);
  await sim.recordsDelivered();
  assert.equal(ptt.isDictating(), true);
  assert.deepEqual(recogniser.calls, ['start fn']);
  sim.keyboard.release('fn');
  await sim.waitFor(() => sim.typed() !== '');
  assert.deepEqual(recogniser.calls, ['start fn', 'stop']);
  assert.equal(sim.typed(), 'one take');
});

test('other keys and buttons start nothing and pass to the applications', async () => {
  const recogniser = fakeRecogniser('after all that');
  await listening(recogniser);
  assert.equal(sim.keyboard.press('cmd'), true);
  assert.equal(sim.keyboard.press('leftCommand+shift'), true);
  assert.equal(sim.keyboard.press('rightOption'), true);
  for (const button of ['left', 'right', 'middle', 4]) {
    assert.equal(sim.mouse.click(button), true, `button ${button} is not swallowed`);
  }
  // Records arrive in order: once Fn's dictation has started, every earlier one was handled.
  sim.keyboard.hold('fn');
  await sim.waitFor(() => recogniser.calls.includes('start fn'));
  assert.deepEqual(recogniser.calls, ['start fn']);
});

test('with no text field focused the transcript goes to onUntyped', async () => {
  const untyped = [];
  await listening({ ...fakeRecogniser('lost words'), onUntyped: (text) => untyped.push(text),
                    app: { name: 'Finder', field: null } });
  sim.keyboard.press('fn');
  await sim.waitFor(() => untyped.length > 0);
  assert.deepEqual(untyped, ['lost words']);
  assert.equal(sim.typed(), '');
});

test('transcripts are typed in the order the dictations ended', async () => {
  const pending = [];
  const errors = [];
  await listening({
    startDictation: () => {},
    stopDictation: () => new Promise((resolve) => pending.push(resolve)),
    onError: (error) => errors.push(error),
  });
  sim.keyboard.press('fn');
  sim.mouse.click(5);
  await sim.waitFor(() => pending.length === 2);
  pending[1]('second.');
  pending[0]('First, ');
  await sim.waitFor(() => sim.typed().length === 'First, second.'.length);
  assert.equal(sim.typed(), 'First, second.');
  assert.deepEqual(errors, []);
});

test('a failing recogniser and a refused tap reach onError; nothing is typed', async () => {
  const errors = [];
  await listening({
    startDictation: () => {},
    stopDictation: async () => { throw new Error('no speech'); },
    onError: (error) => errors.push(error.message),
  });
  sim.keyboard.press('rightCommand');
  await sim.waitFor(() => errors.length > 0);
  assert.deepEqual(errors, ['no speech']);

  await finish();
  sim.refuseTaps(true);
  current = createPushToTalk({ ...fakeRecogniser(),
                               onError: (error) => errors.push(error.message) });
  current.start();
  await sim.waitFor(() => errors.length > 1);
  assert.match(errors[1], /refused the event tap/);
  assert.equal(sim.typed(), '');
});

test('a permission withdrawn mid-dictation ends it; without it nothing can be typed', async () => {
  const untyped = [];
  const recogniser = fakeRecogniser('half a sentence');
  await listening({ ...recogniser, onUntyped: (text) => untyped.push(text) });
  sim.keyboard.hold('fn');
  await sim.waitFor(() => recogniser.calls.length === 1);
  sim.setPermission('accessibility', false);
  await sim.waitFor(() => untyped.length > 0);
  assert.deepEqual(recogniser.calls, ['start fn', 'stop']);
  assert.deepEqual(untyped, ['half a sentence']);
});

test('stop() ends a dictation in progress and resolves once its transcript is typed', async () => {
  const recogniser = fakeRecogniser('last words');
  const ptt = await listening(recogniser);
  sim.keyboard.hold('fn');
  await sim.waitFor(() => ptt.isDictating());
  await ptt.stop();
  assert.equal(bridge.isRunning(), false);
  assert.equal(sim.typed(), 'last words');
  assert.equal(bridge.setSuppress(1, false), 0, 'button 5 is no longer swallowed');
});
