// Type declarations for the input_bridge addon.

/** A change of the Fn key or of the right Command key. */
export interface ModifierRecord {
  event: 'fn' | 'rightCommand';
  phase: 'down' | 'up';
}

/** A press or release of mouse button 4 or 5 (the system's buttons 3 and 4, counted from 1). */
export interface ButtonRecord {
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

export type TapRecord = ModifierRecord | ButtonRecord | StartFailedRecord;

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

/** True from a successful start until stop, also after the system refused the tap. */
export function isRunning(): boolean;

export type MouseButtonName = 'left' | 'right' | 'middle';

/**
 * Moves the pointer to (x, y) with the button, then clicks it `clickCount` times (converted to a
 * 32-bit integer and held to 1..3; default 1): a down and an up event per click, click states
 * 1, 2, 3. `button` is matched whole and case-sensitively: "right", "middle", and anything else
 * (or a non-string) is the left button. Throws TypeError "postClick(x, y, button?, clickCount?)"
 * when x or y is not a number.
 */
export function postClick(x: number, y: number, button?: MouseButtonName | string, clickCount?: number): true;

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

/**
 * Presses and releases a named key ("return", "pagedown", "f5", "a", ";", ...; ASCII letters in
 * any case) with the modifiers as flags of both events (names in any case; other elements are
 * skipped). False, posting nothing, when the key name is unknown. Throws TypeError
 * "postKey(key, modifiers?)" when key is not a string, and passes on an error thrown while a
 * modifier is read (nothing is posted then).
 */
export function postKey(key: string, modifiers?: Array<ModifierName | string>): boolean;

/**
 * Types text as key-down/key-up pairs carrying at most 16 UTF-16 units each; a surrogate pair
 * is never split between two pairs. Throws TypeError "postType(text)".
 */
export function postType(text: string): true;

/**
 * Read with Has/Get (inherited properties count) and converted to signed 32-bit integers. A
 * present option that is no number (undefined included) makes axDump throw.
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

export interface AxDumpResult {
  /** Node records keyed by decimal node id. */
  nodes: Record<string, AxNode>;
  /** The dump text, the error text, or "". */
  text: string;
  focusedNodeId: number | null;
  /** Present on success only. */
  bundleId?: string;
  appName?: string;
  windowTitle?: string;
  pid?: number;
}

/**
 * Snapshot of the accessibility tree of the application that has the keyboard focus. Without
 * permission or a focused application: nodes {}, the "ax-error code=..." text and a null
 * focusedNodeId, and no other key.
 */
export function axDump(options?: AxDumpOptions): AxDumpResult;

export interface AxFocusedElement {
  role: string;
  title: string;
  description: string;
  value: string;
}

/** The focused UI element's role, title, description and value; null or {} when not found. */
export function axFocused(): AxFocusedElement | Record<string, never> | null;

/** Asks the focused application to expose its web content to accessibility clients. */
export function axEnableWebContent(): boolean;
