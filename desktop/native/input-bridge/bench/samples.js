'use strict';
// What the tap benchmarks share: waiting for a condition while the event loop keeps turning (so
// the tap's records arrive), and percentiles of sorted samples.

async function waitFor(predicate, what, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  while (!predicate()) {
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setImmediate(resolve));
  }
}

function percentile(sorted, fraction) {
  return sorted[Math.min(sorted.length - 1, Math.floor(fraction * (sorted.length - 1)))];
}

module.exports = { waitFor, percentile };
