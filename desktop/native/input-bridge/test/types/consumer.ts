// A strict consumer of the typings: every function and record as an application uses them.
// Checked by `tsc --noEmit --strict -p test/types` in the test command, never run.
import * as bridge from 'input-bridge';
import type {
  AxDumpResult,
  AxFocusedElement,
  AxNode,
  KeyName,
  ModifierName,
  Permissions,
  TapEnabledRecord,
  TapRecord,
} from 'input-bridge';

// One check of `event` tells every record apart; the button record is the one without.
function describe(record: TapRecord): string {
  switch (record.event) {
    case undefined:
      return `button ${record.button} ${record.phase}${record.suppressed ? ' (swallowed)' : ''}`;
    case 'fn':
    case 'rightCommand':
      return `${record.event} ${record.phase}`;
    case 'start_failed':
      return `refused: ${record.reason}`;
    case 'tap_disabled':
      return `disabled: ${record.reason}`;
    case 'tap_enabled':
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
