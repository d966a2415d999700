// import { reset, hid } from 'input-bridge/desktop-sim': the same object as kit.js, with each
// key a named export. Where the control module lies is decided at run time (kit.js), so its
// names cannot be re-exported statically and are listed here; a test compares this list with
// the CommonJS keys.
import { createRequire } from 'node:module';

const sim = createRequire(import.meta.url)('./kit.js');

export default sim;
export const { reset, hid, taps, refuseTaps, tapsRefused, setTapTimeout, tapTimeout, setPermission,
  permissions, prompts, setRevocationDelay, revocationDelay, heldBack, setPreflightStale,
  preflightStale, tapCreateCalls, settle, cf, apps, ax, waitFor, eventTypes, eventFlags,
  deviceFlags, keyCodes, posted, postedCount, clearPosted, setPostedLimit,
  failEventCreation, setKeyboardLayout, keyboardLayout, keyboardLayouts, keyboard, mouse, loadApp,
  typed, shortcuts, waitForTap, recordsDelivered, resetAll } = sim;
