// A strict consumer of the test kit's typings, as an application's own tests use them. Checked by
// `tsc --noEmit --strict -p test/types` in the test command, never run.
import * as bridge from 'input-bridge';
import {
  hid,
  keyboard,
  loadApp,
  mouse,
  recordsDelivered,
  reset,
  resetAll,
  shortcuts,
  typed,
  waitForTap,
} from 'input-bridge/desktop-sim';
import type { KitApp, KitAppOptions, KitKey, KitMouseButton } from 'input-bridge/desktop-sim';

async function pushToTalkTest(): Promise<void> {
  reset();
  const app: KitApp = loadApp({ name: 'Notes', window: 'Shopping list', field: 'Body' });
  const pid: number = app.pid;
  bridge.setSuppress(5, true);
  bridge.start(() => {});
  await waitForTap();
  await waitForTap({ timeoutMs: 100 });

  const held: boolean = keyboard.hold('fn');
  keyboard.release('fn');
  keyboard.press('rightCommand');
  keyboard.press('cmd+shift+z');  // a chord is any string, checked when called
  const swallowed: boolean = !mouse.press(5);
  mouse.release(5);
  mouse.click('left');
  mouse.click(4);
  await recordsDelivered();

  const text: string = typed();
  const keys: string[] = shortcuts();
  const codes: number[] = hid.keysDown();
  resetAll(bridge);
  void [pid, held, swallowed, text, keys, codes];
}

// The named unions complete in editors and take the sides of every modifier.
const names: KitKey[] = ['fn', 'rightCommand', 'leftCommand', 'rightCmd', 'leftShift', 'rightAlt',
                         'rightOption', 'rightControl', 'capsLock', 'return', ';', 'f12'];
const buttons: KitMouseButton[] = ['left', 'right', 'middle', 4, 5];

// Every form of the field, and nothing focused.
const apps: KitAppOptions[] = [
  {},
  { name: 'Notes', bundleId: 'org.example.notes', pid: 77 },
  { field: null },
  { field: { role: 'AXTextArea', title: 'Message', value: 'Hi', description: 'To' } },
];
void [names, buttons, apps, pushToTalkTest];

function mistakes(app: KitApp): void {
  // @ts-expect-error: the answer is read-only
  app.pid = 3;
  // @ts-expect-error: resetAll needs the addon's module
  resetAll({});
  // @ts-expect-error: a button is a name or a number
  mouse.press(true);
  // @ts-expect-error: key names are strings
  keyboard.press(63);
  // @ts-expect-error: a text field's role only
  loadApp({ field: { role: 'AXButton' } });
  // @ts-expect-error: no such option
  loadApp({ nmae: 'Notes' });
  // @ts-expect-error: typed() is the text, not a list
  const list: string[] = typed();
  void list;
}
void mistakes;
