'use strict';
// setSuppress from several script threads at once: worker threads load the addon into their own
// environments and share its one mask, so no call may lose another's change.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const h = require('./helpers');

const { bridge } = h;

// Each worker owns one bit and only ever changes that one: after it sets the bit, the mask must
// show it until the worker clears it, and not after. Reading goes through a bit nobody sets, so
// that every read is a change of the mask as well. A change lost to another thread's stale store
// (a load and a store that are not one operation) would show as the owner's bit missing or back.
const workerSource = `
  const { workerData, parentPort } = require('node:worker_threads');
  const bridge = require(workerData.addon);
  const { bit, rounds } = workerData;
  let lost = 0;
  let revived = 0;
  for (let i = 0; i < rounds; i++) {
    bridge.setSuppress(bit, true);
    if (((bridge.setSuppress(31, false) >>> bit) & 1) === 0) lost++;
    bridge.setSuppress(bit, false);
    if (((bridge.setSuppress(31, false) >>> bit) & 1) === 1) revived++;
  }
  parentPort.postMessage({ lost, revived });
`;

const BITS = [6, 7, 8, 9];
const ROUNDS = 250000;

test('setSuppress from four workers at once loses no change', { timeout: 120000 }, async () => {
  const runs = BITS.map((bit) => new Promise((resolve, reject) => {
    const worker = new Worker(workerSource, {
      eval: true,
      workerData: { addon: path.resolve(h.addonDir), bit, rounds: ROUNDS },
    });
    worker.once('message', resolve);
    worker.once('error', reject);
  }));
  const results = await Promise.all(runs);
  assert.deepEqual(results, BITS.map(() => ({ lost: 0, revived: 0 })));
  assert.equal(bridge.setSuppress(31, false), 0, 'every worker cleared its bit');
});
