// Type declarations for the input_bridge addon.
//
// A tap record is told apart by `'button' in record` or by its `event` key alone (the button
// record has none: `record.event === undefined`); a successful dump from a failed one by
// `pid !== undefined`, and axFocused's element from its empty object by `role !== undefined`.
//
// TypeScript keeps a member that declares a key, even as absent (`key?: undefined`), on the true
// side of `in`, and refuses to read a key one member does not declare. So a key is declared as
// absent only where reading it on every result is the usual idiom: `event` on the button record
// (`switch (record.event)`), the success keys on a failed dump (`dump.pid ?? 0`) and the four keys
// on axFocused's empty object (`axFocused()?.role`). `button` is declared on the button record
// alone, so that `'button' in record` narrows. Absent keys are `undefined`, not `never`: under
// exactOptionalPropertyTypes, TypeScript before 5.5 finds no exhaustive `switch` over a `never`
// key.

/**
 * A name the function knows, offered by editors' completion, or any other string (which the
 * function handles as its documentation says).
 */
type OrAnyString<Known extends string> = Known | (string & {});

/**
 * A change of the Fn (Globe) key, taken from that key's own events, or of the right Command key.
 * Changes made while the tap was not there are reported as soon as it is back (a Fn press the
 * system's state cannot prove is not: see the README).
 */
export interface ModifierRecord {
  event: 'fn' | 'rightCommand';
  phase: 'down' | 'up';
}

/** A press or release of mouse button 4 or 5 (the system's buttons 3 and 4, counted from 1). */
export interface ButtonRecord {
  /**
   * Absent: button records are the ones without an event name. Declared, so that `event` reads
   * (and `switch` works) on every record.
   */
  event?: undefined;
  button: 4 | 5;
  phase: 'down' | 'up';
  /** True when the event was swallowed and never reached the applications. */
  suppressed: boolean;
}

/** Sent once when the operating system refuses the event tap (no permission). */
export interface StartFailedRecord {
  event: 'start_failed';
  reason: 'tap_create_returned_null';
}

/**
 * Sent once each time the permission the tap needs is withdrawn while it runs (noticed within a
 * quarter of a second, whatever the preflight checks say); the tap is removed, and the tap
 * thread waits for the grant to return. `isRunning()` stays true until `stop()`.
 */
export interface TapDisabledRecord {
  event: 'tap_disabled';
  reason: 'permission_revoked';
}

/** Sent once when the grant is back after a `tap_disabled`: the tap is installed again. */
export interface TapEnabledRecord {
  event: 'tap_enabled';
  reason: 'permission_granted';
}

export type TapRecord =
  | ModifierRecord
  | ButtonRecord
  | StartFailedRecord
  | TapDisabledRecord
  | TapEnabledRecord;

/**
 * Installs the global event tap on its own thread; records reach `callback` on the script
 * thread. Returns true (also when the tap already runs: the running tap keeps its callback).
 * Throws TypeError "start(callback) requires a function" when not running and no function is
 * given. While the tap runs it keeps the host's event loop alive, like a listening socket.
 */
export function start(callback: (record: TapRecord) => void): true;

/** Ends the tap; records already queued still arrive afterwards. False when it was not running. */
export function stop(): boolean;

/**
 * Swallows (or stops swallowing) the events of one mouse button, numbered as in ButtonRecord.
 * Returns the new suppression mask (bit n = button n). Throws TypeError
 * "setSuppress(button: number, on: boolean)" or RangeError "button out of range" (1..31).
 */
export function setSuppress(button: number, on: boolean): number;

/**
 * True from a successful start until stop, in every state: with the tap installed, after the
 * system refused it, and while the tap thread waits for a withdrawn grant.
 */
export function isRunning(): boolean;

// Every posted event carries exactly the modifiers its call names (postKey's, none for the
// others), whatever keys the user holds, and keeps the bits the platform gives it (on arrow,
// function and navigation keys their own Fn and numeric-pad bits).

export type MouseButtonName = 'left' | 'right' | 'middle';

/**
 * Moves the pointer to (x, y) with the button, then clicks it `clickCount` times (converted to a
 * 32-bit integer and held to 1..3; default 1): a down and an up event per click, click states
 * 1, 2, 3. `button` is matched whole and case-sensitively: "right", "middle", and anything else
 * (or a non-string) is the left button. Throws TypeError "postClick(x, y, button?, clickCount?)"
 * when x or y is not a number.
 */
export function postClick(
  x: number,
  y: number,
  button?: OrAnyString<MouseButtonName>,
  clickCount?: number,
): true;

/** Moves the pointer to (x, y), never as a drag. Throws TypeError "postMove(x, y)". */
export function postMove(x: number, y: number): true;

/**
 * One scroll-wheel event in pixels: dx and dy are converted to signed 32-bit integers; wheel 1
 * (vertical) gets -dy, saturated to 2147483647 for dy = -2147483648, and wheel 2 (horizontal)
 * gets dx. Throws TypeError "postScroll(dx, dy)".
 */
export function postScroll(dx: number, dy: number): true;

export type ModifierName =
  | 'cmd' | 'command' | 'meta'
  | 'shift'
  | 'ctrl' | 'control'
  | 'alt' | 'option'
  | 'fn';

/** The key names of postKey's table (ASCII letters also match in upper case). */
export type KeyName =
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

/**
 * Presses and releases a named key ("return", "pagedown", "f5", "a", ";", ...; ASCII letters in
 * any case) with the modifiers as flags of both events (names in any case; other elements are
 * skipped). A name that stands for a character posts the key that gives it on the current
 * keyboard layout (in the Command layer with "cmd"), with Shift or, without "cmd", Option added
 * when the layout needs them; a character no key gives posts its U.S. position. Keys of a
 * worker's script thread follow the layout the main thread read last. False, posting nothing,
 * when the key name is unknown. Throws TypeError "postKey(key, modifiers?)" when key is not a
 * string, and passes on an error thrown while a modifier is read (nothing is posted then).
 */
export function postKey(
  key: OrAnyString<KeyName>,
  modifiers?: ReadonlyArray<OrAnyString<ModifierName>>,
): boolean;

/**
 * Types text as key-down/key-up pairs carrying at most 16 UTF-16 units each; a surrogate pair
 * is never split between two pairs. Throws TypeError "postType(text)".
 */
export function postType(text: string): true;

/**
 * Read with Has/Get (inherited properties count); the limits are converted to signed 32-bit
 * integers. A present option that is no number (undefined included) makes axDump throw.
 */
export interface AxDumpOptions {
  /** Deepest depth still rendered; the application is depth 0. Default 16. */
  maxDepth?: number;
  /** Children visited per element. Default 60. */
  maxChildrenPerNode?: number;
  /** Total number of rendered elements. Default 1500. */
  maxNodes?: number;
  /** Byte limit of each clipped text. Default 140. */
  textTruncate?: number;
  /**
   * The time the application is given for the whole call, in milliseconds (default 3000); each
   * request waits at most 0.5 s of it. Infinity, and anything above 2147483647 (about 24.8 days),
   * takes 2147483647. NaN, zero and negative values throw RangeError "timeoutMs must be a
   * positive number of milliseconds" (axDumpAsync rejects with it) and nothing is asked.
   */
  timeoutMs?: number;
}

export interface AxNode {
  role: string;
  axRole: string;
  title: string;
  description: string;
  value: string;
  x: number;
  y: number;
  w: number;
  h: number;
  depth: number;
}

/**
 * A dump of the focused application. Called on another thread than the host's main one (a
 * worker's own call) while the host's own window is in front: the host's header, the line
 * "… (the host's own window is in front: its elements are read on its main thread only)", no
 * node, and windowTitle "" (nothing of the host is read off its main thread).
 */
export interface AxDumpSuccess {
  /** Node records keyed by decimal node id (`nodes[focusedNodeId]` is the focused one). */
  nodes: Record<string, AxNode>;
  /**
   * The dump text. A walk that stopped early ends with "… (application not responding, walk
   * stopped at M)" or "… (time budget of N ms spent, walk stopped at M)" (N: timeoutMs, M: the
   * nodes rendered); web content that was still being built shows as "… (web content still
   * loading)" under its web area.
   */
  text: string;
  /** Id of the focused element's node; null when the focused element was not rendered. */
  focusedNodeId: number | null;
  bundleId: string;
  appName: string;
  windowTitle: string;
  pid: number;
}

/**
 * No dump: no permission, no focused application, a focused application that does not answer,
 * or no system-wide element.
 */
export interface AxDumpFailure {
  /** Always empty. */
  nodes: Record<string, AxNode>;
  /**
   * "ax-error code=N (Accessibility permission likely not granted to this build)\n",
   * "ax-error code=-25204 (the focused application is not responding)\n", or "".
   */
  text: string;
  focusedNodeId: null;
  bundleId?: undefined;
  appName?: undefined;
  windowTitle?: undefined;
  pid?: undefined;
}

/**
 * Tell the two apart with `result.pid !== undefined`. `'pid' in result` is true for a success
 * alone at run time, but narrows only its false side (to AxDumpFailure): the failure declares
 * `pid` absent, so that `result.pid` reads on both.
 */
export type AxDumpResult = AxDumpSuccess | AxDumpFailure;

/**
 * Snapshot of the accessibility tree of the application that has the keyboard focus. Without
 * permission or a focused application: nodes {}, the "ax-error code=..." text and a null
 * focusedNodeId, and no other key.
 */
export function axDump(options?: AxDumpOptions): AxDumpResult;

/**
 * What axDump(options) returns, computed on a worker thread so the script thread stays free.
 * Calls run one at a time; bad options reject with the error axDump would throw. With the
 * host's own window in front, a call made on the main thread is dumped there (its elements can
 * be read on the main thread only); one made on another thread gets axDump's answer there.
 */
export function axDumpAsync(options?: AxDumpOptions): Promise<AxDumpResult>;

export interface AxFocusedElement {
  role: string;
  title: string;
  description: string;
  value: string;
}

/**
 * Nothing focused, or no permission: an object without keys. They are declared absent so that
 * `axFocused()?.role` reads on every result; `role !== undefined` tells the two objects apart
 * (`'role' in result` narrows only its false side, to this one).
 */
export interface AxNoFocusedElement {
  role?: undefined;
  title?: undefined;
  description?: undefined;
  value?: undefined;
}

/**
 * The focused UI element's role, title, description and value; an empty object when nothing
 * is focused, without permission, when the focused application does not answer within 0.5 s, or
 * on another thread than the main one while the host's own window is in front
 * (`result.role === undefined` tells); null when the system-wide element cannot be created.
 */
export function axFocused(): AxFocusedElement | AxNoFocusedElement | null;

/**
 * Asks the focused application to expose its web content to accessibility clients; false when
 * there was none to ask (also when it did not answer within 0.5 s, and on another thread than
 * the main one while the host's own window is in front).
 */
export function axEnableWebContent(): boolean;

/** What the process may do now, from the system's own preflight checks; prompts for nothing. */
export interface Permissions {
  /** Accessibility: the snapshot functions and an active event tap. */
  accessibility: boolean;
  /** Input Monitoring: listening to other applications' input. */
  inputMonitoring: boolean;
  /** Posting synthetic events; without it the system drops them silently. */
  postEvents: boolean;
}

/** The three permission checks, none of which asks the user. */
export function permissions(): Permissions;

/**
 * Whether the process has the accessibility permission; when it has not, the system shows its
 * prompt that sends the user to the setting. The grant goes to the host application.
 */
export function requestAccessibility(): boolean;
