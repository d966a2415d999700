'use strict';
// Push-to-talk for an Electron main process: hold Fn or right Command (or press and hold mouse
// button 5) to dictate, release to stop, and the transcript is typed into the focused text
// field. Button 5 is swallowed, so the application under the pointer never sees it (browsers
// take it for "forward"). The recogniser is the application's: dictation starts and stops
// through the two functions given, which tests replace with fakes.
const bridge = require('input-bridge');

const TRIGGER_BUTTON = 5;
const KEY_TRIGGERS = new Set(['fn', 'rightCommand']);
// Roles whose element takes typed text; anything else gets the transcript through onUntyped.
const TEXT_ROLES = new Set(['AXTextField', 'AXTextArea', 'AXComboBox']);

// The trigger a record is a press or release of, or null for any other record.
function triggerOf(record) {
  if (record.button === TRIGGER_BUTTON) return 'button5';
  if (KEY_TRIGGERS.has(record.event)) return record.event;
  return null;
}

/**
 * startDictation(trigger): begins recording; trigger is 'fn', 'rightCommand' or 'button5'.
 * stopDictation(): ends it and answers the transcript (or a promise of it).
 * onUntyped(transcript): a transcript with no text field focused, for the clipboard say.
 * onError(error): a recogniser that failed, or an event tap the system refused.
 */
function createPushToTalk({
  startDictation, stopDictation, onUntyped = () => {}, onError = () => {},
}) {
  if (typeof startDictation !== 'function' || typeof stopDictation !== 'function') {
    throw new TypeError('createPushToTalk: startDictation and stopDictation must be functions');
  }
  let started = false;
  let activeTrigger = null;
  // Transcripts are typed in the order the dictations ended, however long each recogniser takes.
  let typing = Promise.resolve();

  function deliver(transcript) {
    if (!transcript) return;
    const focused = bridge.axFocused();
    if (focused !== null && TEXT_ROLES.has(focused.role)) bridge.postType(transcript);
    else onUntyped(transcript);
  }

  function begin(trigger) {
    if (activeTrigger !== null) return;  // one dictation at a time; the other trigger waits
    activeTrigger = trigger;
    try {
      startDictation(trigger);
    } catch (error) {
      activeTrigger = null;
      onError(error);
    }
  }

  function end() {
    activeTrigger = null;
    const transcript = new Promise((resolve) => resolve(stopDictation()));
    typing = typing.then(() => transcript).then(deliver, onError);
  }

  function onRecord(record) {
    if (!started) return;  // records queued before stop() still arrive after it
    const trigger = triggerOf(record);
    if (trigger !== null) {
      if (record.phase === 'down') begin(trigger);
      else if (trigger === activeTrigger) end();
    } else if (record.event === 'start_failed') {
      onError(new Error('the system refused the event tap (Accessibility permission?)'));
    } else if (record.event === 'tap_disabled' && activeTrigger !== null) {
      // The permission went away mid-dictation: the release will never be seen.
      end();
    }
  }

  return {
    start() {
      started = true;
      bridge.setSuppress(TRIGGER_BUTTON, true);
      bridge.start(onRecord);
    },
    // Ends the tap, a dictation in progress included; resolves once its transcript is handled.
    stop() {
      started = false;
      bridge.stop();
      bridge.setSuppress(TRIGGER_BUTTON, false);
      if (activeTrigger !== null) end();
      return typing;
    },
    isDictating: () => activeTrigger !== null,
  };
}

module.exports = { createPushToTalk };
