'use strict';
// The permission switches through the control module: their checks, the accessibility alias,
// and a script-driven tap that starves when its access is withdrawn.
const { test, beforeEach } = require('node:test');
const assert = require('node:assert/strict');
const sim = require('..');
const fixtures = require('../fixture');

beforeEach(() => sim.reset());

const ALL_ON = { accessibility: true, inputMonitoring: true, postEvents: true };
const NONE = { accessibility: 0, inputMonitoring: 0, postEvents: 0 };

test('the permission calls check their arguments and change nothing on a mistake', () => {
  const cases = [
    [() => sim.setPermission('camera', false), TypeError,
     /setPermission\(name, on\): name must be one of 'accessibility', 'inputMonitoring', 'postEvents'/],
    [() => sim.setPermission(0, false), TypeError, /name must be one of/],
    [() => sim.setPermission('accessibility'), TypeError,
     /setPermission\(name, on\): expects a boolean/],
    [() => sim.setPermission('postEvents', 0), TypeError, /expects a boolean/],
    [() => sim.setRevocationDelay(-1), RangeError, /setRevocationDelay\(ms\)/],
    [() => sim.setRevocationDelay('100'), TypeError, /setRevocationDelay\(ms\)/],
    [() => sim.setPreflightStale('camera', true), TypeError,
     /setPreflightStale\(name, on\): name must be one of/],
    [() => sim.setPreflightStale('accessibility', 'yes'), TypeError,
     /setPreflightStale\(name, on\): expects a boolean/],
  ];
  for (const [call, type, message] of cases) assert.throws(call, { name: type.name, message });
  assert.deepEqual(sim.permissions(), ALL_ON);
  assert.equal(sim.revocationDelay(), 30000, 'the longest hold reported for a Mac');
});

test('the switches are independent, reset turns them all back on, setTrusted is accessibility', () => {
  for (const name of Object.keys(ALL_ON)) {
    sim.setPermission(name, false);
    assert.deepEqual(sim.permissions(), { ...ALL_ON, [name]: false }, name);
    sim.setPermission(name, true);
  }
  sim.ax.setTrusted(false);
  assert.equal(sim.permissions().accessibility, false);
  sim.setPermission('accessibility', true);
  assert.equal(sim.ax.trusted(), true);
  sim.ax.load({ trusted: false, focusedApplication: null, applications: [] });
  assert.equal(sim.permissions().accessibility, false, "a fixture's trust is the permission");

  sim.setPermission('inputMonitoring', false);
  sim.setRevocationDelay(5);
  sim.reset();
  assert.deepEqual(sim.permissions(), ALL_ON);
  assert.deepEqual(sim.prompts(), NONE);
  assert.equal(sim.revocationDelay(), 30000);
  assert.equal(sim.heldBack(), 0);
});

test('a stale preflight is per permission and reset makes every answer live again', () => {
  const NOT_STALE = { accessibility: false, inputMonitoring: false, postEvents: false };
  assert.deepEqual(sim.preflightStale(), NOT_STALE);
  sim.setPreflightStale('accessibility', true);
  sim.setPermission('accessibility', false);
  assert.deepEqual(sim.preflightStale(), { ...NOT_STALE, accessibility: true });
  assert.equal(sim.permissions().accessibility, false, 'the switch itself is withdrawn');
  assert.equal(fixtures.probeTap(), null, 'and an active tap is refused');
  sim.reset();
  assert.deepEqual(sim.preflightStale(), NOT_STALE);
});

test('a listening tap is refused key events, an active one its creation, without access', () => {
  sim.setPermission('accessibility', false);
  assert.equal(fixtures.probeTap(), null, 'an active tap needs the access to post');
  sim.setPermission('inputMonitoring', false);
  const keys = 2 ** sim.eventTypes.keyDown + 2 ** sim.eventTypes.flagsChanged;
  assert.equal(fixtures.probeTap({ listenOnly: true, mask: keys }), null,
               'nothing is left of a keys-only mask');
  const probe = fixtures.probeTap({ listenOnly: true, mask: keys + 2 ** 25 });
  assert.equal(sim.taps()[0].mask, 2 ** 25);
  probe.stop();
});

test('a starving tap holds every hardware event back until the system disables it', async () => {
  const probe = fixtures.probeTap({ location: 0, reenable: false });
  const button = { type: sim.eventTypes.otherMouseDown, button: 3 };
  assert.equal(sim.hid.send(button), true);
  sim.setRevocationDelay(600000);
  sim.setPermission('accessibility', false);
  assert.equal(sim.hid.send(button), false);
  assert.equal(sim.hid.send({ type: sim.eventTypes.keyDown }), false,
               'every event, not only those it wants');
  assert.equal(sim.hid.sendMany(button, 10), 0);
  assert.equal(sim.heldBack(), 12);
  assert.equal(probe.callCount(), 1);

  sim.setRevocationDelay(0);
  assert.equal(probe.waitCalls(2), true, 'the timeout notification');
  assert.equal(probe.calls()[1].type, sim.eventTypes.tapDisabledByTimeout);
  assert.equal(sim.taps()[0].enabled, false);
  assert.equal(sim.hid.send(button), true);
  assert.equal(sim.heldBack(), 12);
  probe.stop();
  assert.equal(sim.cf.live(), 0);
  assert.equal(sim.cf.misuse(), 0);
});
