// Control module of the simulated desktop (Linux only).

/** A hardware event. Missing fields are 0. */
export interface HidEvent {
  /** The numeric CGEventType, e.g. 25 for other-mouse-down. */
  type: number;
  /** The system's zero-based button number (event field 3), 0 to 31. */
  button?: number;
  /** CGEventFlags; a bigint for bits above 2^53. */
  flags?: number | bigint;
  /** Virtual key code (event field 9), 0 to 65535. */
  keycode?: number;
  x?: number;
  y?: number;
}

/** An event as it reached the applications (after the taps' changes). */
export interface AppEvent {
  type: number;
  button: number;
  /** A number, or a bigint when bits above 2^53 are set. */
  flags: number | bigint;
  keycode: number;
  x: number;
  y: number;
}

/** One live event tap, in tap order. */
export interface TapInfo {
  enabled: boolean;
  /** CGEventTapLocation: 0 HID, 1 session, 2 annotated session. */
  location: number;
  /** CGEventTapPlacement: 0 head insert, 1 tail append. */
  placement: number;
  /** CGEventTapOptions: 0 default (active), 1 listen only. */
  options: number;
  /** CGEventMask; a bigint when bits above 2^53 are set. */
  mask: number | bigint;
}

export type DisableReason = 'timeout' | 'userInput';

/**
 * A fresh desktop: taps gone, refusal off, default tap timeout, every permission granted with
 * live preflight answers, the default revocation delay, prompt, held-back and tap-creation counts
 * at 0, no key held, Caps Lock and the Fn latch off, an empty accessibility desktop (no latency,
 * logs emptied), ledger baseline taken.
 */
export function reset(): void;

export const hid: {
  /**
   * true when the event reached the applications; false when a tap removed it, or when a
   * starving active tap held it back (see setPermission).
   */
  send(event: HidEvent): boolean;
  /** Sends count copies; answers how many reached the applications. */
  sendMany(event: HidEvent, count: number): number;
  /**
   * Presses the key with this virtual key code (0 to 65535) as a Mac keyboard does: a modifier
   * key (Shifts 56/60, Controls 59/62, Options 58/61, Commands 55/54, Fn 63, Caps Lock 57) gives a
   * flags-changed event with its key code, any other key a key-down event; the event's flags are
   * those of every modifier then held (device-independent masks, device-dependent bits of
   * IOLLEvent.h) and the non-coalesced bit 0x100. Arrow, function and navigation keys add the Fn
   * bit 0x800000 (arrows and the keypad the numeric-pad bit 0x200000 too) to their own events
   * and, while held, to every other event; Fn's own release never carries it. Caps Lock is a
   * lock: each press turns 0x10000 on or off. Answers as send(). Throws an Error, sending
   * nothing, for a key already down.
   */
  keyDown(keycode: number): boolean;
  /** Releases a held key (key-up or flags-changed event); answers as send(). Throws an Error,
   * sending nothing, for a key that is not down. */
  keyUp(keycode: number): boolean;
  /** Key codes held down, in the order they went down. reset() releases them all silently. */
  keysDown(): number[];
  /**
   * The keyboard's flag state: every modifier held now, Caps Lock included, and the bits held or
   * latched arrow, function and navigation keys add. What keyboard events carry, what events
   * created with no source (CGEventCreate*Event(NULL, ...)) start with, and what
   * CGEventSourceFlagsState answers (with the non-coalesced bit).
   */
  keyboardFlags(): number;
  /**
   * While on, the flag state keeps the Fn bit after Fn is released (and after an arrow, function
   * or navigation key is, an arrow's numeric-pad bit too), so later events of other keys carry
   * it, until Fn is pressed and released again. Off (the default) clears it at once.
   */
  setFnLatch(on: boolean): void;
  fnLatch(): boolean;
  /**
   * Disables every enabled tap and notifies each (type 0xFFFFFFFE or 0xFFFFFFFF); returns once
   * the notifications were handled, or after the tap timeout. Answers the number disabled.
   */
  disableTaps(reason: DisableReason): number;
  /** Time spent inside tap callbacks since reset() or resetCallbackStats(). */
  callbackStats(): CallbackStats;
  resetCallbackStats(): void;
};

/** Percentiles exact to 1 ns below 1024 ns, within 1/64 above. */
export interface CallbackStats {
  count: number;
  medianNs: number;
  p99Ns: number;
  maxNs: number;
  meanNs: number;
}

export function taps(): TapInfo[];
/** While on, CGEventTapCreate answers NULL, as without the user's permission. */
export function refuseTaps(on: boolean): void;
export function tapsRefused(): boolean;
/** How long a tap may keep an event before the system disables it (default 1000 ms). */
export function setTapTimeout(ms: number): void;
export function tapTimeout(): number;
/** Waits until no tap delivery or notification is queued or running; false after the bound. */
export function settle(timeoutMs?: number): boolean;

/** The user's privacy switches for the process. */
export type PermissionName = 'accessibility' | 'inputMonitoring' | 'postEvents';

export interface Permissions {
  accessibility: boolean;
  inputMonitoring: boolean;
  postEvents: boolean;
}

/**
 * Grants or withdraws one permission (all are granted after reset()). accessibility: the
 * accessibility API (AXIsProcessTrusted); with postEvents it is the post-event access
 * (CGPreflightPostEventAccess) that posting and active taps need. inputMonitoring
 * (CGPreflightListenEventAccess): key and flags-changed events for listen-only taps, which
 * accessibility gives as well. Withdrawing the post-event access while an active tap is enabled
 * starves the tap: every hardware event is held back (hid.send answers false) until the system
 * disables the tap by timeout after the revocation delay.
 */
export function setPermission(name: PermissionName, on: boolean): void;
/** The switches as they are now. */
export function permissions(): Permissions;
/** Prompts the system showed since reset(): requests made while the access was missing. */
export function prompts(): { accessibility: number; inputMonitoring: number; postEvents: number };
/**
 * How long a starving active tap stays enabled before the system disables it (default 30000 ms,
 * the longest hold reported for a Mac).
 */
export function setRevocationDelay(ms: number): void;
export function revocationDelay(): number;
/** Hardware events held back by a starving tap since reset(); they reach nothing. */
export function heldBack(): number;
/**
 * While on, the permission's preflight calls (AXIsProcessTrusted, CGPreflightListenEventAccess,
 * its share of CGPreflightPostEventAccess, and the request calls) keep answering what they
 * answered when it was turned on; tap creation, posting and a starving tap follow the switch.
 */
export function setPreflightStale(name: PermissionName, on: boolean): void;
/** Which permissions' preflight answers are stale. */
export function preflightStale(): Permissions;
/** CGEventTapCreate calls since reset(), refused ones included. */
export function tapCreateCalls(): number;

export const cf: {
  /** References taken since reset() (Create/Copy results, CFRetain) and still held. */
  live(): number;
  /** Misuses recorded since reset(). */
  misuse(): number;
  /** One text per misuse since reset() (the last 1000), naming the call and what was wrong. */
  misuseLog(): string[];
  /** Objects alive now, the program's and the system's. */
  objects(): number;
};

export const apps: {
  /** The most recent events that reached the applications (at most 4096), oldest first. */
  events(): AppEvent[];
  /** Number of events that reached the applications since reset(). */
  count(): number;
};

/** Resolves once predicate() is true; rejects after timeoutMs (default 5000). */
export function waitFor(
  predicate: () => boolean,
  options?: { timeoutMs?: number; intervalMs?: number },
): Promise<void>;

export const eventTypes: Readonly<Record<
  | 'null' | 'leftMouseDown' | 'leftMouseUp' | 'rightMouseDown' | 'rightMouseUp' | 'mouseMoved'
  | 'leftMouseDragged' | 'rightMouseDragged' | 'keyDown' | 'keyUp' | 'flagsChanged'
  | 'scrollWheel' | 'tabletPointer' | 'tabletProximity' | 'otherMouseDown' | 'otherMouseUp'
  | 'otherMouseDragged' | 'tapDisabledByTimeout' | 'tapDisabledByUserInput',
  number>>;

export const eventFlags: Readonly<Record<
  | 'alphaShift' | 'shift' | 'control' | 'alternate' | 'command' | 'numericPad' | 'help'
  | 'secondaryFn' | 'nonCoalesced',
  number>>;

/** Device-dependent modifier bits of IOLLEvent.h: which key of a pair is down. */
export const deviceFlags: Readonly<Record<
  | 'leftControl' | 'leftShift' | 'rightShift' | 'leftCommand' | 'rightCommand' | 'leftOption'
  | 'rightOption' | 'rightControl',
  number>>;

/** Virtual key codes of the modifier keys (HIToolbox's Events.h). */
export const keyCodes: Readonly<Record<
  | 'rightCommand' | 'leftCommand' | 'leftShift' | 'capsLock' | 'leftOption' | 'leftControl'
  | 'rightShift' | 'rightOption' | 'rightControl' | 'fn',
  number>>;

/** An accessibility attribute value in a fixture. */
export type AxFixtureValue =
  | string
  | boolean
  | number
  | { number: number; type: number }
  | { point: [number, number] }
  | { size: [number, number] }
  | { error: number }
  | { other: true }
  | { null: true };

export interface AxFixtureElement {
  id?: string;
  attributes?: Record<string, AxFixtureValue>;
  settable?: string[];
  actions?: string[] | { error: number };
  children?: Array<AxFixtureElement | { ref: string }>;
}

export interface AxFixtureApplication {
  pid: number;
  name?: string;
  bundleId?: string;
  /** Default true; false: no running application answers for the pid. */
  running?: boolean;
  focusedElement?: string;
  focusedWindow?: string;
  root: AxFixtureElement;
  /**
   * Whether the application takes AXUIElementCopyMultipleAttributeValues (default true); false:
   * it answers kAXErrorNotImplemented; {error}: it answers that AXError.
   */
  batchedRequests?: boolean | { error: number };
  /**
   * A Chromium-like application (Chromium browsers, Electron applications): its elements whose
   * AXRole is "AXWebArea" answer no children until this many milliseconds after
   * "AXManualAccessibility" was first set true on its application element, which takes that
   * attribute and "AXEnhancedUserInterface". Omitted: a native application.
   */
  webContentDelayMs?: number;
}

export interface AxFixtureDesktop {
  /** Sets the accessibility permission when loaded; default true. */
  trusted?: boolean;
  focusedApplication: number | null;
  /** Defaults to the focused application's focusedElement. */
  systemWideFocusedElement?: string;
  applications: AxFixtureApplication[];
}

export interface AxRequest {
  call: string;
  /** 0 for the system-wide element. */
  pid: number;
  /** The fixture's id of the element, or null. */
  element: string | null;
  /** For a batched request, the names separated by commas. */
  attribute: string | null;
  /** The AXError answered. */
  result: number;
  /** The messaging timeout the request was made with, in seconds (6 unless a program set one). */
  timeout: number;
}

export interface AxWrite {
  pid: number;
  element: string | null;
  attribute: string;
  value: AxFixtureValue | null;
}

export const ax: {
  /** Replaces the accessibility desktop; throws TypeError/RangeError naming a fixture mistake. */
  load(desktop: AxFixtureDesktop): void;
  /**
   * The accessibility permission, setPermission('accessibility', on): without it every call but
   * AXUIElementCreateSystemWide answers kAXErrorAPIDisabled.
   */
  setTrusted(on: boolean): void;
  trusted(): boolean;
  /** Accessibility requests answered since reset(), in order. */
  requests(): AxRequest[];
  /** Attributes set since reset(), in order. */
  writes(): AxWrite[];
  /** Each accessibility request costs this long (0 to 10,000,000 µs). */
  setLatency(microseconds: number): void;
  /**
   * The application of pid stops answering, once it has answered afterRequests more requests
   * (default 0): every later request to it waits for its messaging timeout (as set on the element
   * object, or the process-wide one, 6 s by default), then answers kAXErrorCannotComplete.
   * on false: it answers again, and requests waiting for it go on at once. reset() ends every
   * hang; load() does not.
   */
  setHung(pid: number, on: boolean, options?: { afterRequests?: number }): void;
  /**
   * Requests since reset(), the time spent answering them (latency and hung waits included), and
   * the requests waiting for an answer that will not come (a hung application, this process
   * asked off its main thread, an answer longer than the timeout) right now, and the item latency.
   */
  stats(): {
    requests: number;
    answerNs: number;
    latencyUs: number;
    waiting: number;
    itemLatencyUs: number;
  };

  // --- answers that grow with their size ---
  /**
   * Every element of the arrays an answer carries costs this much more (0 to 10,000,000 µs; 0
   * after reset()). A round trip longer than the request's messaging timeout answers
   * kAXErrorCannotComplete once that timeout has passed.
   */
  setItemLatency(microseconds: number): void;
};

/**
 * An event the program posted (CGEventPost), as it reached the applications after the taps.
 * Fields that do not apply to the event's type are absent.
 */
export interface PostedEvent {
  /** The numeric CGEventType. */
  type: number;
  x: number;
  y: number;
  /** Mouse events: the button number (event field 3). */
  button?: number;
  /** Mouse events: kCGMouseEventClickState (event field 1); 0 unless set. */
  clickState?: number;
  /** A number, or a bigint when bits above 2^53 are set. */
  flags: number | bigint;
  /** Key down, key up and flags-changed events: the virtual key code (event field 9). */
  keycode?: number;
  /** Key down and key up events: true for key down. */
  keyDown?: boolean;
  /** The event's Unicode string, unchanged (unpaired surrogates kept), when one was set. */
  text?: string;
  /** Scroll-wheel events: wheel 1 (vertical) and wheel 2 (horizontal). */
  wheel1?: number;
  wheel2?: number;
  /** Present (true) when the process had no permission to post: the event reached nothing. */
  dropped?: true;
}

/**
 * Posted events that reached the applications since reset() or clearPosted(), and those dropped
 * for want of permission, oldest first: all of them, or the most recent ones when
 * setPostedLimit() set a limit.
 */
export function posted(): PostedEvent[];
/** Number of those events since reset() or clearPosted(). */
export function postedCount(): number;
export function clearPosted(): void;
/** Keep only the most recent n posted events (0: all, the default after reset()). */
export function setPostedLimit(n: number): void;
/**
 * Makes event creation answer NULL: 0 never, 1 always, n every n-th Create call counted from
 * this call. reset() turns it off.
 */
export function failEventCreation(n: number): void;

/** The identifiers of the keyboard layouts (text input sources) the desktop has, U.S. first. */
export type KeyboardLayoutId =
  | 'com.apple.keylayout.US'
  | 'com.apple.keylayout.French'
  | 'com.apple.keylayout.German'
  | 'com.apple.keylayout.Dvorak'
  | 'com.apple.keylayout.DVORAK-QWERTYCMD';
export const keyboardLayouts: readonly KeyboardLayoutId[];
/**
 * Selects the keyboard layout the user types with, as switching input sources does: the next
 * TISCopyCurrent...InputSource answers it. Key codes stay positions: `hid.keyDown` is unaffected.
 * A TypeError for a non-string, a RangeError for a layout the desktop does not have.
 */
export function setKeyboardLayout(id: KeyboardLayoutId): void;
/** The selected layout ("com.apple.keylayout.US" after `reset()`). */
export function keyboardLayout(): KeyboardLayoutId;

// --- the test kit: the desktop in an application's words (kit.js) ---

/** postKey's key names (U.S. key positions), matched in any case. */
export type KitKeyName =
  | 'return' | 'enter' | 'tab' | 'space' | 'delete' | 'backspace' | 'forwarddelete'
  | 'escape' | 'esc' | 'home' | 'end' | 'pageup' | 'pagedown'
  | 'left' | 'leftarrow' | 'right' | 'rightarrow' | 'up' | 'uparrow' | 'down' | 'downarrow'
  | 'f1' | 'f2' | 'f3' | 'f4' | 'f5' | 'f6' | 'f7' | 'f8' | 'f9' | 'f10' | 'f11' | 'f12'
  | 'a' | 'b' | 'c' | 'd' | 'e' | 'f' | 'g' | 'h' | 'i' | 'j' | 'k' | 'l' | 'm'
  | 'n' | 'o' | 'p' | 'q' | 'r' | 's' | 't' | 'u' | 'v' | 'w' | 'x' | 'y' | 'z'
  | '0' | '1' | '2' | '3' | '4' | '5' | '6' | '7' | '8' | '9'
  | 'slash' | '/' | 'period' | '.' | 'comma' | ',' | 'minus' | '-' | 'equal' | '='
  | 'semicolon' | ';' | 'quote' | "'" | 'backslash' | '\\' | 'grave' | '`'
  | 'leftbracket' | '[' | 'rightbracket' | ']';

/** postKey's modifier names; the bare name is the left key. */
export type KitModifierName = 'cmd' | 'command' | 'meta' | 'shift' | 'ctrl' | 'control' | 'alt'
  | 'option';

/**
 * A key by name: the tap's 'fn' and 'rightCommand', a modifier with or without its side
 * ('rightShift', 'leftCmd', 'shift'), 'capsLock', or one of postKey's key names; in any case.
 */
export type KitKey =
  | 'fn' | 'capsLock' | KitKeyName | KitModifierName
  | `left${Capitalize<KitModifierName>}` | `right${Capitalize<KitModifierName>}`;

/** One key, or a chord of keys joined by '+' ('cmd+shift+z'); checked when called. */
export type KitKeys = KitKey | (string & {});

/**
 * The user's keyboard. Every call checks every name and the keys' state first (a RangeError for
 * an unknown name or one named twice, an Error for a key already down or not down) and then
 * sends; it answers true when every event it sent reached the applications, false when a tap
 * removed one.
 */
export const keyboard: {
  /** Presses and holds the keys, in the order written. */
  hold(keys: KitKeys): boolean;
  /** Releases held keys, in the order written. */
  release(keys: KitKeys): boolean;
  /** Holds the keys in the order written, then releases them in reverse: a chord. */
  press(keys: KitKeys): boolean;
};

/**
 * A mouse button as the input bridge numbers it: 1 (or 'left'), 2 ('right'), 3 ('middle'), 4 and
 * 5 the side buttons, up to 32.
 */
export type KitMouseButton = 'left' | 'right' | 'middle' | number;

/**
 * The user's mouse; its events carry the modifiers held on the keyboard. Each call answers true
 * when its events reached the applications, false when a tap removed one (a swallowed button).
 * TypeError or RangeError for a button that is none of the above.
 */
export const mouse: {
  press(button: KitMouseButton): boolean;
  release(button: KitMouseButton): boolean;
  click(button: KitMouseButton): boolean;
};

/** The focused text field of loadApp. */
export interface KitTextField {
  /** Default 'AXTextField'. */
  role?: 'AXTextField' | 'AXTextArea' | 'AXComboBox';
  title?: string;
  value?: string;
  description?: string;
}

export interface KitAppOptions {
  /** The application's name (default 'Application'). */
  name?: string;
  /** Default 'com.example.' and the name's letters and digits in lower case. */
  bundleId?: string;
  /** Default 1000. */
  pid?: number;
  /** The window's title (default the name). */
  window?: string;
  /** The focused text field: its title, or its details; null for nothing focused. */
  field?: string | KitTextField | null;
}

export interface KitApp {
  readonly pid: number;
  readonly name: string;
  readonly bundleId: string;
}

/**
 * Replaces the accessibility desktop with one focused application, a window and in it the
 * focused text field. The accessibility permission stays as it is. TypeError or RangeError
 * naming the option that is wrong.
 */
export function loadApp(options?: KitAppOptions): KitApp;

/**
 * The text of the posted key events that reached the applications (postType's), in order since
 * reset() or clearPosted().
 */
export function typed(): string;

/**
 * The keys posted without text that reached the applications (postKey's), in order since
 * reset() or clearPosted(): each as modifiers and key name joined by '+', the modifiers in the
 * order cmd, ctrl, alt, shift, fn and the key under the first of postKey's names for it
 * ('cmd+shift+z', 'alt+delete', 'return'). Arrow, function and navigation keys carry Fn of their
 * own, so 'fn' never shows on them. Keys are named by position: under another layout than the
 * U.S. one a character's key reads as the U.S. character of its position.
 */
export function shortcuts(): string[];

/** Resolves once an event tap is installed and enabled; rejects after timeoutMs (default 5000). */
export function waitForTap(options?: { timeoutMs?: number }): Promise<void>;

/**
 * Resolves once the records the tap made of every event sent so far have reached the callback
 * given to start().
 */
export function recordsDelivered(): Promise<void>;

/** What resetAll needs of the input bridge module. */
export interface KitResettableAddon {
  start(callback: (record: unknown) => void): unknown;
  stop(): unknown;
  setSuppress(button: number, on: boolean): unknown;
}

/**
 * For an afterEach: stops the addon's tap, clears its suppression mask, lets it read the
 * modifier state afresh (a short start and stop on a clean desktop, so a key a test left held
 * reaches no later test), and resets the desktop. TypeError when bridge is not the module.
 */
export function resetAll(bridge: KitResettableAddon): void;
