// A strict consumer of the typings: every function and record as an application uses them.
// Checked by `tsc --noEmit --strict -p test/types` in the test command, never run.
import * as bridge from 'input-bridge';
import type {
  AxDumpFailure,
  AxDumpResult,
  AxDumpSuccess,
  AxFocusedElement,
  AxNoFocusedElement,
  AxNode,
  ButtonRecord,
  KeyName,
  ModifierName,
  ModifierRecord,
  Permissions,
  StartFailedRecord,
  TapDisabledRecord,
  TapEnabledRecord,
  TapRecord,
} from 'input-bridge';

// `exactly<A, B>(true)` compiles only when A and B are the same type: a narrowing that leaves a
// member too wide fails it, and so does one that narrows to never (which an assignment accepts).
type Same<A, B> =
  (<T>() => T extends A ? 1 : 2) extends (<T>() => T extends B ? 1 : 2) ? true : false;
function exactly<A, B>(same: Same<A, B>): void {
  void same;
}

// One check of `event` tells every record apart; the button record is the one without.
function describe(record: TapRecord): string {
  switch (record.event) {
    case undefined:
      exactly<typeof record, ButtonRecord>(true);
      return `button ${record.button} ${record.phase}${record.suppressed ? ' (swallowed)' : ''}`;
    case 'fn':
    case 'rightCommand':
      exactly<typeof record, ModifierRecord>(true);
      return `${record.event} ${record.phase}`;
    case 'start_failed':
      exactly<typeof record, StartFailedRecord>(true);
      return `refused: ${record.reason}`;
    case 'tap_disabled':
      exactly<typeof record, TapDisabledRecord>(true);
      return `disabled: ${record.reason}`;
    case 'tap_enabled':
      exactly<typeof record, TapEnabledRecord>(true);
      return `enabled again: ${record.reason}`;
    default: {
      const unreachable: never = record;
      return unreachable;
    }
  }
}

const started: true = bridge.start((record) => console.log(describe(record)));
const resumed: TapEnabledRecord = { event: 'tap_enabled', reason: 'permission_granted' };
console.log(describe(resumed));
const mask: number = bridge.setSuppress(5, true);
const running: boolean = bridge.isRunning();
const stopped: boolean = bridge.stop();

bridge.postMove(640, 360);
bridge.postClick(640, 360);
bridge.postClick(640, 360, 'right', 2);
bridge.postClick(640, 360, 'anything else is the left button');
bridge.postScroll(0, 3);
bridge.postType('Hello, wörld 👋');

// Modifier lists may be frozen or constant tuples; names outside the unions still type-check.
const shortcut = ['cmd', 'shift'] as const;
const frozen: readonly ModifierName[] = Object.freeze(['ctrl', 'alt'] as ModifierName[]);
const copied: boolean = bridge.postKey('c', shortcut);
bridge.postKey('f5', frozen);
bridge.postKey('Return', ['Command']);
const key: KeyName = 'pagedown';
bridge.postKey(key);

// The README's example: the focused node is an index into the nodes.
const dump: AxDumpResult = bridge.axDump({ maxNodes: 500, timeoutMs: 1500 });
console.log(dump.text);
if (dump.focusedNodeId !== null) {
  const focused: AxNode = dump.nodes[dump.focusedNodeId];
  console.log(focused.role, focused.x, focused.depth);
}
if (dump.pid !== undefined) {
  const where: string = `${dump.appName} ${dump.bundleId} ${dump.windowTitle} ${dump.pid}`;
  console.log(where);
} else {
  const none: null = dump.focusedNodeId;
  console.log(none, Object.keys(dump.nodes).length);
}
for (const [id, node] of Object.entries(dump.nodes)) console.log(id, node.title);

async function later(): Promise<number> {
  const result = await bridge.axDumpAsync({ maxDepth: 4 });
  return result.pid ?? -1;
}
void later();

const focus = bridge.axFocused();
if (focus !== null && focus.role !== undefined) {
  const element: AxFocusedElement = focus;
  console.log(element.title, element.description, element.value);
}
const webContent: boolean = bridge.axEnableWebContent();

const granted: Permissions = bridge.permissions();
if (!granted.accessibility) {
  const trusted: boolean = bridge.requestAccessibility();
  console.log(trusted);
}
console.log(granted.inputMonitoring, granted.postEvents);

console.log(started, mask, running, stopped, copied, webContent);

// What the typings must reject: each line fails to compile without its directive.
// @ts-expect-error the button record has no event name to compare with a string
const bogus: TapRecord = { event: 'button', button: 4, phase: 'down', suppressed: false };
// @ts-expect-error null is no index
console.log(dump.nodes[dump.focusedNodeId], bogus);
// @ts-expect-error a failed dump carries no pid
const failedPid: number = ({ nodes: {}, text: '', focusedNodeId: null } as AxDumpResult).pid;
console.log(failedPid);

// Each idiom an application writes to tell the tap records apart narrows to exactly the record.
type EventRecord = ModifierRecord | StartFailedRecord | TapDisabledRecord | TapEnabledRecord;
function byKey(record: TapRecord): void {
  if ('button' in record) {
    exactly<typeof record, ButtonRecord>(true);
    exactly<typeof record.button, 4 | 5>(true);
    exactly<typeof record.suppressed, boolean>(true);
  } else {
    exactly<typeof record, EventRecord>(true);
    exactly<typeof record.event, EventRecord['event']>(true);
    // @ts-expect-error only a button record says whether it was swallowed
    console.log(record.suppressed);
  }
  if (!('event' in record)) exactly<typeof record, ButtonRecord>(true);
}
function byEvent(record: TapRecord): void {
  if (record.event === 'fn') {
    exactly<typeof record, ModifierRecord>(true);
    exactly<typeof record.phase, 'down' | 'up'>(true);
    // @ts-expect-error a key record has no suppressed flag
    console.log(record.suppressed);
  } else if (record.event === 'start_failed') {
    exactly<typeof record.reason, 'tap_create_returned_null'>(true);
  } else if (record.event === undefined) {
    exactly<typeof record, ButtonRecord>(true);
  } else {
    exactly<typeof record, ModifierRecord | TapDisabledRecord | TapEnabledRecord>(true);
  }
}
function byButtonValue(record: TapRecord): void {
  // @ts-expect-error `button` is declared on button records alone (so that `in` narrows): ask
  // `'button' in record` or `record.event === undefined` first
  console.log(record.button !== undefined);
  if (record.event === undefined && record.button !== undefined) {
    exactly<typeof record.button, 4 | 5>(true);
  }
  if ('button' in record && record.button === 5) exactly<typeof record, ButtonRecord>(true);
}
bridge.start((record) => {
  byKey(record);
  byEvent(record);
  byButtonValue(record);
});

// The focused element: null, an empty object, or the four texts.
function focusedRole(): string | undefined {
  const focused = bridge.axFocused();
  exactly<typeof focused, AxFocusedElement | AxNoFocusedElement | null>(true);
  const role = focused?.role;
  exactly<typeof role, string | undefined>(true);
  if (focused?.role !== undefined) {
    exactly<typeof focused, AxFocusedElement>(true);
    exactly<typeof focused.value, string>(true);
  } else if (focused !== null) {
    exactly<typeof focused, AxNoFocusedElement>(true);
    exactly<typeof focused.title, undefined>(true);
  }
  if (focused !== null && !('role' in focused)) exactly<typeof focused, AxNoFocusedElement>(true);
  if (focused !== null && 'role' in focused) {
    // `in` keeps the empty object, which declares role absent so that `?.role` reads above.
    exactly<typeof focused, AxFocusedElement | AxNoFocusedElement>(true);
  }
  return role;
}
console.log(focusedRole());

// A dump with and without permission (or with nothing in front), as axDump and axDumpAsync
// answer it; a success with no focused element has a null focusedNodeId and still a pid.
async function dumpIdioms(): Promise<void> {
  for (const dumped of [bridge.axDump(), await bridge.axDumpAsync()]) {
    exactly<typeof dumped, AxDumpResult>(true);
    exactly<typeof dumped.focusedNodeId, number | null>(true);
    exactly<typeof dumped.pid, number | undefined>(true);
    if (dumped.pid !== undefined) {
      exactly<typeof dumped, AxDumpSuccess>(true);
      exactly<typeof dumped.appName, string>(true);
      exactly<typeof dumped.focusedNodeId, number | null>(true);
    } else {
      exactly<typeof dumped, AxDumpFailure>(true);
      exactly<typeof dumped.focusedNodeId, null>(true);
      exactly<typeof dumped.appName, undefined>(true);
    }
    if (!('pid' in dumped)) exactly<typeof dumped, AxDumpFailure>(true);
    if ('pid' in dumped) {
      // `in` keeps the failure, which declares pid absent so that `dump.pid` reads above.
      exactly<typeof dumped, AxDumpResult>(true);
    }
    if (dumped.focusedNodeId !== null) {
      exactly<typeof dumped, AxDumpSuccess>(true);
    }
  }
}
void dumpIdioms();
