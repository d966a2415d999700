'use strict';
// The accessibility benchmarks' application: 1500 generated elements.

const ELEMENTS = 1500;
const FAN_OUT = 12;

// Element i's children are FAN_OUT * i + 1 ... FAN_OUT * i + FAN_OUT, as in a heap: 1500
// elements, at most 12 children each, four levels deep. Every tenth element is a window, every
// seventh a settable text field.
function generatedDesktop() {
  const make = (i) => {
    if (i % 10 === 1) {
      return { attributes: { AXRole: 'AXWindow', AXSubrole: 'AXStandardWindow', AXTitle: `Window ${i}`,
                             AXPosition: { point: [i, i] }, AXSize: { size: [800, 600] } },
               actions: ['AXRaise', 'AXPress'] };
    }
    if (i % 7 === 0) {
      return { attributes: { AXRole: 'AXTextField', AXValue: `value ${i}`, AXPlaceholderValue: 'Type here',
                             AXEnabled: true }, settable: ['AXValue'] };
    }
    return { attributes: { AXRole: i % 2 ? 'AXButton' : 'AXGroup', AXTitle: `Element ${i}`,
                           AXDescription: i % 3 ? '' : 'described', AXEnabled: true } };
  };
  const elements = Array.from({ length: ELEMENTS }, (_, i) => make(i));
  elements[0] = { attributes: { AXRole: 'AXApplication', AXTitle: 'Generated' } };
  for (let i = ELEMENTS - 1; i > 0; i--) {
    const parent = elements[Math.floor((i - 1) / FAN_OUT)];
    (parent.children ??= []).unshift(elements[i]);
  }
  return { focusedApplication: 900,
           applications: [{ pid: 900, name: 'Generated', bundleId: 'com.example.generated',
                            root: elements[0] }] };
}

module.exports = { ELEMENTS, generatedDesktop };
