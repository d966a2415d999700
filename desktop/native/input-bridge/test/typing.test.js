'use strict';
// Typed text: slices of at most 16 UTF-16 units, each sent as a key-down and a key-up event
// with key code 0 that carry the slice; surrogate pairs kept whole; argument errors and failed
// event creation.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { bridge, sim, Posted, postedBy, assertThrowsExactly } = h;

test.beforeEach(() => sim.reset());

const pairs = (slices) => slices.flatMap((s) => [Posted.typed(s, true), Posted.typed(s, false)]);
const a = (n) => 'a'.repeat(n);
const b = (n) => 'b'.repeat(n);
const GRIN = '\u{1F600}';  // two units: D83D DE00

const SLICINGS = [
  // [name, text, expected slices]
  ['empty text', '', []],
  ['one unit', 'x', ['x']],
  ['16 units', a(16), [a(16)]],
  ['17 units', a(16) + 'z', [a(16), 'z']],
  ['40 units', a(16) + b(16) + 'c'.repeat(8), [a(16), b(16), 'c'.repeat(8)]],
  ['32 units', a(16) + b(16), [a(16), b(16)]],
  ['control characters travel inside the slice', 'a\nb\tc\r\0\x1b\x7f', ['a\nb\tc\r\0\x1b\x7f']],
  ['a pair that ends the slice', a(14) + GRIN + 'z', [a(14) + GRIN, 'z']],
  ['a pair whose high half would be unit 16 moves whole', a(15) + GRIN, [a(15), GRIN]],
  ['slicing goes on from the shortened slice', a(15) + GRIN + b(20),
   [a(15), GRIN + b(14), b(6)]],
  ['pairs from the start', GRIN.repeat(9), [GRIN.repeat(8), GRIN]],
  ['pairs one unit off', 'x' + GRIN.repeat(8), ['x' + GRIN.repeat(7), GRIN]],
  ['a lone high surrogate at unit 16 is sliced there', a(15) + '\uD800' + 'z',
   [a(15) + '\uD800', 'z']],
  ['a lone high surrogate ends the text', a(15) + '\uD800', [a(15) + '\uD800']],
  ['a low surrogate at unit 17 without its high half', a(16) + '\uDC00', [a(16), '\uDC00']],
  ['a reversed pair is no pair', a(15) + '\uDE00\uD83D', [a(15) + '\uDE00', '\uD83D']],
  ['accents and CJK are one unit each', 'é'.repeat(10) + '漢字かな', ['é'.repeat(10) + '漢字かな']],
  ['decomposed accents are not normalised', 'e\u0301'.repeat(9), ['e\u0301'.repeat(8), 'e\u0301']],
  ['line breaks are not mapped', 'a\r\nb\n', ['a\r\nb\n']],
];

test('text is sent in slices of 16 units, a down and an up event per slice', () => {
  for (const [name, text, slices] of SLICINGS) {
    const { result, events } = postedBy(() => bridge.postType(text, 'extra'));
    assert.equal(result, true, name);
    assert.deepEqual(events, pairs(slices), name);
  }
});

// A long text of every kind of character, surrogate pairs at every offset.
function mixedText(units) {
  const pieces = ['a', ' ', 'é', '漢', GRIN, '\u{1F469}\u200D\u{1F4BB}', '\n', 'Ω', '\uD800'];
  let text = '';
  for (let i = 0; text.length < units; i++) text += pieces[(i * 7 + (i >> 3)) % pieces.length];
  return text;
}

test('a long mixed text arrives whole, in order, and no slice splits a pair', () => {
  const text = mixedText(5000);
  const { events } = postedBy(() => bridge.postType(text));
  assert.equal(events.length % 2, 0);
  let received = '';
  for (let i = 0; i < events.length; i += 2) {
    const [down, up] = [events[i], events[i + 1]];
    assert.deepEqual([down.keyDown, up.keyDown, down.keycode, up.keycode], [true, false, 0, 0]);
    assert.equal(up.text, down.text, 'both events of a pair carry the same slice');
    const slice = down.text;
    assert.ok(slice.length >= 1 && slice.length <= 16);
    const next = text.charCodeAt(received.length + slice.length);
    const last = slice.charCodeAt(slice.length - 1);
    const splitsPair = last >= 0xd800 && last <= 0xdbff && next >= 0xdc00 && next <= 0xdfff;
    assert.equal(splitsPair, false, `slice at ${received.length} splits a surrogate pair`);
    if (slice.length < 16 && received.length + slice.length < text.length) {
      assert.equal(text.charCodeAt(received.length + 15) >> 10, 0xd800 >> 10,
                   'only a pair moving whole shortens a slice');
    }
    received += slice;
  }
  assert.equal(received, text);
});

test('typed text carries no modifier, whatever keys the user holds', () => {
  const K = sim.keyCodes;
  const held = [
    [K.leftShift],
    [K.rightCommand],
    [K.fn, K.leftControl, K.rightOption, K.leftCommand],
    [K.capsLock],
  ];
  for (const keys of held) {
    for (const key of keys) sim.hid.keyDown(key);
    assert.notEqual(sim.hid.keyboardFlags(), 0);
    const { events } = postedBy(() => bridge.postType(a(20)));
    assert.deepEqual(events, pairs([a(16), a(4)]), `typed while holding ${keys}`);
    sim.reset();
  }
});

test('postType without a string raises the usage TypeError and posts nothing', () => {
  for (const args of [[], [42], [undefined], [null], [['a']], [new String('a')], [{}]]) {
    const { events } = postedBy(() => {
      assertThrowsExactly(() => bridge.postType(...args), TypeError, 'postType(text)');
    });
    assert.deepEqual(events, []);
  }
});

test('an event the platform fails to create is skipped; the other and later slices still go', () => {
  const text = a(16) + b(16) + 'c'.repeat(8);
  const [d1, u1, d2, u2, d3, u3] = pairs([a(16), b(16), 'c'.repeat(8)]);
  const cases = [
    // [every n-th creation fails, expected]; creation order d1, u1, d2, u2, d3, u3
    [1, []],
    [2, [d1, d2, d3]],
    [3, [d1, u1, u2, d3]],
  ];
  for (const [every, expected] of cases) {
    sim.failEventCreation(every);
    const { result, events } = postedBy(() => bridge.postType(text));
    assert.equal(result, true);
    assert.deepEqual(events, expected, `failing every ${every}`);
  }
  sim.failEventCreation(0);
  assert.deepEqual(postedBy(() => bridge.postType(text)).events, [d1, u1, d2, u2, d3, u3]);
});
