// The control module for ESM importers: `import { reset, hid } from 'desktop-sim'`. Node finds no
// named exports in index.js's one frozen object, so they are listed here; a test compares this
// list with the CommonJS keys.
import sim from './index.js';

export default sim;
export const { reset, hid, taps, refuseTaps, tapsRefused, setTapTimeout, tapTimeout, setPermission,
  permissions, prompts, setRevocationDelay, revocationDelay, heldBack, setPreflightStale,
  preflightStale, tapCreateCalls, settle, cf, apps, ax, waitFor, eventTypes, eventFlags,
  deviceFlags, keyCodes, posted, postedCount, clearPosted, setPostedLimit,
  failEventCreation, setKeyboardLayout, keyboardLayout, keyboardLayouts, keyboard, mouse, loadApp,
  typed, shortcuts, waitForTap, recordsDelivered, resetAll } = sim;
