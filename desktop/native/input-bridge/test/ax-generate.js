'use strict';
// Random accessibility desktops from a seed: random roles, texts, values, errors, shared
// elements and cycles. The same seed always gives the same desktop, so a dump of it can be
// compared with a text kept from an earlier build.

// mulberry32: small, fast and the same on every engine.
function random(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const ROLES = ['AXButton', 'AXGroup', 'AXStaticText', 'AXTextField', 'AXWindow', 'AXCheckBox',
               'AXWebArea', 'AXList', 'AXRow', 'AXImage', 'axbutton', 'AXq', 'Custom', ''];
const SUBROLES = ['AXStandardWindow', 'AXDialog', 'AXSystemDialog', 'AXSearchField'];
const WORDS = ['OK', 'Cancel', 'Save', 'hello', 'Größe', '名前', 'a\tb', 'two\nlines', 'cr\r\n',
               '\ud800lone', '😀 emoji', '', ' ', 'x'.repeat(150), 'Search'];
// Everything a copy may answer. kAXErrorCannotComplete (-25204) is left out: it means the
// application stopped answering, which ends a walk by design.
const ERRORS = [-25200, -25201, -25202, -25205, -25208, -25211, -25212];
const ACTIONS = ['AXRaise', 'AXPress', 'AXShowMenu', 'AXCancel', 'AX', 'Zoom', ''];

function generatedDesktop(seed, elementCount) {
  const rnd = random(seed);
  const pick = (list) => list[Math.floor(rnd() * list.length)];
  const chance = (p) => rnd() < p;
  const oddValue = () => pick([
    { error: pick(ERRORS) }, { null: true }, { other: true }, { point: [rnd() * 100, 2] },
    { size: [3, 4] }, true, false, 42, 2.5, 1e6, -0, { number: 7, type: pick([3, 5, 9, 13, 16]) },
  ]);
  const text = () => (chance(0.8) ? pick(WORDS) : oddValue());

  const elements = [];
  for (let i = 0; i < elementCount; i++) {
    const attributes = {};
    const role = pick(ROLES);
    if (chance(0.9)) attributes.AXRole = chance(0.95) ? role : oddValue();
    if (chance(0.3)) attributes.AXSubrole = chance(0.9) ? pick(SUBROLES) : oddValue();
    for (const name of ['AXTitle', 'AXDescription', 'AXValue', 'AXHelp', 'AXPlaceholderValue']) {
      if (chance(0.4)) attributes[name] = text();
    }
    if (chance(0.2) && attributes.AXDescription !== undefined) attributes.AXHelp = attributes.AXDescription;
    if (chance(0.2) && attributes.AXTitle !== undefined) attributes.AXValue = attributes.AXTitle;
    if (chance(0.6)) attributes.AXPosition = chance(0.9) ? { point: [i, -i / 2] } : oddValue();
    if (chance(0.6)) attributes.AXSize = chance(0.9) ? { size: [i * 3, 20.5] } : oddValue();
    for (const name of ['AXEnabled', 'AXSelected']) {
      if (chance(0.5)) attributes[name] = chance(0.85) ? chance(0.5) : oddValue();
    }
    const element = { id: `e${i}`, attributes };
    if (chance(0.3)) element.settable = chance(0.8) ? ['AXValue'] : ['AXTitle'];
    if (role === 'AXWindow' || chance(0.1)) {
      element.actions = chance(0.85)
        ? Array.from({ length: Math.floor(rnd() * 4) }, () => pick(ACTIONS))
        : { error: pick(ERRORS) };
    }
    elements.push(element);
  }
  // A random tree over the elements (each one's parent comes before it), then extra edges:
  // shared elements and references back up the tree (cycles), and a few odd AXChildren.
  for (let i = 1; i < elementCount; i++) {
    const parent = elements[Math.floor(rnd() * i)];
    (parent.children ??= []).push(elements[i]);
  }
  for (let k = 0; k < elementCount / 10; k++) {
    const from = elements[Math.floor(rnd() * elementCount)];
    (from.children ??= []).push({ ref: `e${Math.floor(rnd() * elementCount)}` });
  }
  for (const element of elements) {
    if (element.children === undefined && chance(0.05)) element.attributes.AXChildren = oddValue();
  }
  elements[0].attributes.AXRole = 'AXApplication';
  return {
    focusedApplication: 700,
    applications: [{
      pid: 700, name: `Generated ${seed}`, bundleId: `com.example.generated${seed}`,
      focusedElement: `e${Math.floor(rnd() * elementCount)}`,
      focusedWindow: chance(0.7) ? `e${Math.floor(rnd() * elementCount)}` : undefined,
      root: elements[0],
    }],
  };
}

// Limits the kept expectations are dumped with: the defaults, and tight ones that cut the tree.
const LIMIT_SETS = [{}, { maxDepth: 3, maxChildrenPerNode: 2, maxNodes: 40, textTruncate: 5 }];

module.exports = { generatedDesktop, LIMIT_SETS };
