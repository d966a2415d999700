'use strict';
// How one element reads in the dump: label part, state words, numbers, clipping, role names and
// frames. Each table renders its cases as children of one application, one line per case.
const test = require('node:test');
const assert = require('node:assert/strict');
const h = require('./helpers');

const { sim } = h;

test.beforeEach(() => sim.reset());
test.afterEach(() => h.assertLedgerClean());

// Dumps the cases as the root's children and answers each case's line without its
// indentation and id.
function renderChildren(elements, options) {
  const result = h.axDump(h.axDesktop(elements), options);
  const lines = h.treeLines(result.text).slice(1);
  assert.equal(lines.length, elements.length, result.text);
  return {
    result,
    lines: lines.map((line, i) => {
      const prefix = `    ${i + 1} `;
      assert.ok(line.startsWith(prefix), `line ${JSON.stringify(line)} starts with ${prefix}`);
      return line.slice(prefix.length);
    }),
  };
}

function checkTable(cases, options) {
  const { lines } = renderChildren(cases.map(([, element]) => element), options);
  cases.forEach(([name, , expected], i) => assert.equal(lines[i], expected, name));
}

test('the label part: which texts are present, and their labels', () => {
  const el = (attributes, extra = {}) => ({ attributes: { AXRole: 'AXButton', ...attributes }, ...extra });
  checkTable([
    ['nothing', el({}), 'button'],
    ['title alone', el({ AXTitle: 'OK' }), 'button OK'],
    ['a value equal to the title is not counted', el({ AXTitle: 'OK', AXValue: 'OK' }), 'button OK'],
    ['a lone value has no label', el({ AXValue: 'Hello' }), 'button Hello'],
    ['lone description', el({ AXDescription: 'Logo' }), 'button Description: Logo'],
    ['lone help', el({ AXHelp: 'Opens it' }), 'button Help: Opens it'],
    ['lone placeholder', el({ AXPlaceholderValue: 'Search' }), 'button Placeholder: Search'],
    ['help equal to the description shows the description only',
     el({ AXDescription: 'Same', AXHelp: 'Same' }), 'button Description: Same'],
    ['title and description', el({ AXTitle: 'Save', AXDescription: 'Saves the file' }),
     'button Save, Description: Saves the file'],
    ['without a title the first label follows a single space',
     el({ AXDescription: 'd', AXHelp: 'h' }), 'button Description: d, Help: h'],
    ['value and placeholder', el({ AXValue: 'hello', AXPlaceholderValue: 'Search' }),
     'button Value: hello, Placeholder: Search'],
    ['all five, in their order',
     el({ AXPlaceholderValue: 'P', AXValue: 'V', AXHelp: 'H', AXDescription: 'D', AXTitle: 'T' }),
     'button T, Description: D, Help: H, Value: V, Placeholder: P'],
    ['a value differing from the title is labelled', el({ AXTitle: 'Volume', AXValue: '7' }),
     'button Volume, Value: 7'],
  ]);
});

test('state words: disabled, selected, settable and the kind of a settable value', () => {
  const el = (attributes, settable) => ({
    attributes: { AXRole: 'AXCheckBox', ...attributes }, settable,
  });
  checkTable([
    ['enabled', el({ AXEnabled: true }), 'checkbox'],
    ['disabled', el({ AXEnabled: false }), 'checkbox (disabled)'],
    ['AXEnabled missing is not disabled', el({}), 'checkbox'],
    ['AXEnabled of another kind is not disabled', el({ AXEnabled: 'no' }), 'checkbox'],
    ['AXEnabled failing is not disabled', el({ AXEnabled: { error: -25204 } }), 'checkbox'],
    ['selected', el({ AXSelected: true }), 'checkbox (selected)'],
    ['selected as a number is not selected', el({ AXSelected: 1 }), 'checkbox'],
    ['settable string', el({ AXValue: 'on' }, ['AXValue']), 'checkbox (settable, string) on'],
    ['settable boolean', el({ AXValue: true }, ['AXValue']), 'checkbox (settable, boolean) true'],
    ['settable integer', el({ AXValue: 3 }, ['AXValue']), 'checkbox (settable, integer) 3'],
    ['settable double', el({ AXValue: 0.5 }, ['AXValue']), 'checkbox (settable, float) 0.5'],
    ['settable of another kind', el({ AXValue: { point: [1, 2] } }, ['AXValue']),
     'checkbox (settable)'],
    ['settable without a value', el({}, ['AXValue']), 'checkbox (settable)'],
    ['all four words',
     el({ AXEnabled: false, AXSelected: true, AXValue: 'x' }, ['AXValue']),
     'checkbox (disabled, selected, settable, string) x'],
    ['a value that is not settable adds no word', el({ AXValue: 'x' }), 'checkbox x'],
  ]);
});

test('number types: the five floating-point codes read float, every other code integer', () => {
  const codes = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17];
  const floats = new Set([5, 6, 12, 13, 16]);
  const { lines } = renderChildren(codes.map((type) => ({
    attributes: { AXRole: 'AXSlider', AXValue: { number: 2, type } }, settable: ['AXValue'],
  })));
  codes.forEach((type, i) => {
    assert.equal(lines[i], `slider (settable, ${floats.has(type) ? 'float' : 'integer'}) 2`,
                 `CFNumberType ${type}`);
  });
});

test('numbers and booleans read as text; other kinds, failures and no value read empty', () => {
  const el = (title) => ({ attributes: { AXRole: 'AXStaticText', AXTitle: title } });
  checkTable([
    ['integral', el(3), 'text 3'],
    ['fraction', el(2.5), 'text 2.5'],
    ['one million', el(1e6), 'text 1e+06'],
    ['small', el(0.00001), 'text 1e-05'],
    ['seven integer digits', el(1234567), 'text 1.23457e+06'],
    ['six digits stay plain', el(123456), 'text 123456'],
    ['rounded to six digits', el(3.14159265), 'text 3.14159'],
    ['negative', el(-42.25), 'text -42.25'],
    ['0.0001 stays plain', el(0.0001), 'text 0.0001'],
    ['a 32-bit float', el({ number: 0.1, type: 5 }), 'text 0.1'],
    ['true', el(true), 'text true'],
    ['false', el(false), 'text false'],
    ['empty string', el(''), 'text'],
    ['another kind', el({ other: true }), 'text'],
    ['a point', el({ point: [1, 2] }), 'text'],
    ['no value', el({ null: true }), 'text'],
    ['an error', el({ error: -25212 }), 'text'],
    ['a lone surrogate is the loss byte', el('a\ud800b'), 'text a?b'],
    // The platform's UTF-8 conversion stops at each one; the text goes on past it.
    ['unpaired surrogates anywhere, the rest intact', el('\udc00\u00e9\u{1F600}x\ud800\ud800'),
     'text ?\u00e9\u{1F600}x??'],
    ['halves in the wrong order are two losses', el('\ude00\ud83d'), 'text ??'],
    ['a surrogate pair is one character', el('\u{1F600}'), 'text \u{1F600}'],
  ]);
});

test('texts are cleaned and clipped at textTruncate bytes', () => {
  const el = (title) => ({ attributes: { AXRole: 'AXStaticText', AXTitle: title } });
  const cases = [
    // [name, limit, title, expected line]
    ['12 bytes at limit 10', 10, 'abcdefghijkl', 'text abcdefghij\u2026'],
    ['exactly the limit', 10, 'abcdefghij', 'text abcdefghij'],
    ['shorter', 10, 'abc', 'text abc'],
    ['limit 0 leaves only the ellipsis', 0, 'abc', 'text \u2026'],
    ['limit 0 leaves empty empty', 0, '', 'text'],
    ['negative: no clipping', -1, 'a'.repeat(300), `text ${'a'.repeat(300)}`],
    ['tab, line feed and carriage return become spaces', -1, 'a\tb\nc\rd', 'text a b c d'],
    ['CR LF is two spaces and keeps the length', 4, 'a\r\nb', 'text a  b'],
    ['other control characters stay', -1, 'a\u000bb', 'text a\u000bb'],
    ['the cut counts bytes: a character across it is cut', 2, 'a\u00e9z', 'text a\ufffd\u2026'],
    ['a character ending at the cut is whole', 3, 'a\u00e9z', 'text a\u00e9\u2026'],
  ];
  for (const [name, limit, title, expected] of cases) {
    sim.reset();
    const { lines } = renderChildren([el(title)], { textTruncate: limit });
    assert.equal(lines[0], expected, name);
  }
});

test('the clipped bytes themselves: the cut keeps the leading byte of a split character', () => {
  // Script strings replace a broken sequence, so the byte count is checked on the record:
  // "a" and the first byte of "é" (2 bytes), then the 3-byte ellipsis.
  const { result } = renderChildren(
    [{ attributes: { AXRole: 'AXStaticText', AXTitle: 'a\u00e9z' } }], { textTruncate: 2 });
  assert.equal(result.nodes['1'].title, 'a\ufffd\u2026');
});

test('role names: the table, the window subroles and the fallback', () => {
  const cases = [
    // [AXRole, AXSubrole, expected name]
    ['AXCheckBox', '', 'checkbox'],
    ['AXTextArea', '', 'text entry area'],
    ['AXStaticText', '', 'text'],
    ['AXGroup', '', 'container'],
    ['AXIncrementor', '', 'stepper'],
    ['AXList', '', 'content list'],
    ['AXButton', '', 'button'],
    ['AXPopUpButton', '', 'pop up button'],
    ['AXMenuBarItem', '', 'menu bar item'],
    ['AXApplication', '', 'application'],
    ['AXWindow', 'AXStandardWindow', 'standard window'],
    ['AXWindow', 'AXFloatingWindow', 'standard window'],
    ['AXWindow', '', 'standard window'],
    ['AXWindow', 'AXDialog', 'dialog'],
    ['AXWindow', 'AXSystemDialog', 'dialog'],
    ['AXButton', 'AXDialog', 'button'],
    ['AXWebArea', '', 'web area'],
    ['AXMenuButton', '', 'menu button'],
    ['AXURLField', '', 'urlfield'],
    ['AX3DView', '', '3 dview'],
    ['AXb', '', 'b'],
    ['AX', '', 'AX'],
    ['axbutton', '', 'axbutton'],
    ['VendorThing', '', 'VendorThing'],
    ['AXCaf\u00e9Bar', '', 'caf\u00e9 bar'],
  ];
  const { lines, result } = renderChildren(cases.map(([role, subrole]) => ({
    attributes: subrole ? { AXRole: role, AXSubrole: subrole } : { AXRole: role },
  })));
  cases.forEach(([role, subrole, expected], i) => {
    assert.equal(lines[i], expected, `${role}/${subrole}`);
    assert.equal(result.nodes[String(i + 1)].role, expected);
    assert.equal(result.nodes[String(i + 1)].axRole, role);
  });
});

test('an element without a role shows "?" in its line and "" in its record', () => {
  const { lines, result } = renderChildren([
    { attributes: { AXTitle: 'Nameless' } },
    { attributes: { AXRole: '' } },
    { attributes: { AXRole: { error: -25202 } } },
  ]);
  assert.deepEqual(lines, ['? Nameless', '?', '?']);
  assert.equal(result.nodes['1'].role, '');
  assert.equal(result.nodes['1'].axRole, '');
});

test('frames: position and size as reported, 0 where missing or of another kind', () => {
  const { result } = renderChildren([
    { attributes: { AXRole: 'AXButton', AXPosition: { point: [10.5, -20] }, AXSize: { size: [80, 24] } } },
    { attributes: { AXRole: 'AXButton', AXSize: { size: [30, 40] } } },
    { attributes: { AXRole: 'AXButton', AXPosition: { size: [1, 2] }, AXSize: 'big' } },
    { attributes: { AXRole: 'AXButton', AXPosition: { other: true }, AXSize: { error: -25205 } } },
  ]);
  const frame = (id) => {
    const { x, y, w, h: height } = result.nodes[id];
    return [x, y, w, height];
  };
  assert.deepEqual(frame('1'), [10.5, -20, 80, 24]);
  assert.deepEqual(frame('2'), [0, 0, 30, 40]);
  assert.deepEqual(frame('3'), [0, 0, 0, 0]);
  assert.deepEqual(frame('4'), [0, 0, 0, 0]);
});

test('node records hold the clipped texts and the depth, keyed by id in pre-order', () => {
  const result = h.axDump(h.axDesktop([{
    attributes: { AXRole: 'AXGroup', AXTitle: 'Outer\tgroup', AXDescription: 'd' },
    children: [{ attributes: { AXRole: 'AXButton', AXTitle: 'Inner', AXValue: 'v', AXHelp: 'help' } }],
  }]), { textTruncate: 5 });
  assert.deepEqual(Object.keys(result.nodes), ['0', '1', '2']);
  assert.deepEqual(result.nodes['1'], {
    role: 'container', axRole: 'AXGroup', title: 'Outer\u2026', description: 'd', value: '',
    x: 0, y: 0, w: 0, h: 0, depth: 1,
  });
  assert.deepEqual(Object.keys(result.nodes['2']),
                   ['role', 'axRole', 'title', 'description', 'value', 'x', 'y', 'w', 'h', 'depth']);
  assert.equal(result.nodes['2'].depth, 2);
});

test('window actions: names other than the press, without the prefix; windows only', () => {
  const win = (actions, extra = {}) => ({
    attributes: { AXRole: 'AXWindow', AXSubrole: 'AXStandardWindow', AXTitle: 'W', ...extra },
    actions,
  });
  checkTable([
    ['raise and press', win(['AXRaise', 'AXPress']), 'standard window W, Secondary Actions: Raise'],
    ['only press', win(['AXPress']), 'standard window W'],
    ['none', win([]), 'standard window W'],
    ['failing', win({ error: -25204 }), 'standard window W'],
    ['several, an empty one skipped, a short one kept',
     win(['AXRaise', '', 'AX', 'AXShowMenu', 'Custom']),
     'standard window W, Secondary Actions: Raise, AX, ShowMenu, Custom'],
    ['a dialog too', win(['AXRaise'], { AXSubrole: 'AXDialog' }), 'dialog W, Secondary Actions: Raise'],
    ['not a window', { attributes: { AXRole: 'AXButton', AXTitle: 'B' }, actions: ['AXRaise'] },
     'button B'],
  ]);
});
