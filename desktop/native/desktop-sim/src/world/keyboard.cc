// The keyboard: the keys held down, and the events a Mac keyboard produces as they go down and
// up. A modifier key gives a flags-changed event carrying its key code; any other key a key-down
// or key-up event. Every event carries the keyboard's flag state: the device-independent mask of
// each modifier held, the device-dependent bit of the physical key, the bits that held (or, with
// the Fn latch, released) arrow, function and navigation keys add, and the non-coalesced bit. The
// same state is the combined session state that events created with no source start from
// (events.cc), and what CGEventSourceFlagsState answers.
#include <algorithm>

#include "world/internal.h"

namespace desktop_sim {
namespace {

// Caps Lock is a lock rather than a held key: each press turns it on or off, and its mask
// stays with the lock, not with the key.
struct ModifierKey {
  uint16_t keycode;
  CGEventFlags independent;
  CGEventFlags device;
  bool lock;
};

// Virtual key codes of HIToolbox's Events.h; bits of CGEventTypes.h and IOLLEvent.h.
constexpr ModifierKey kModifierKeys[] = {
    {56, kCGEventFlagMaskShift, NX_DEVICELSHIFTKEYMASK, false},    // left Shift
    {60, kCGEventFlagMaskShift, NX_DEVICERSHIFTKEYMASK, false},    // right Shift
    {59, kCGEventFlagMaskControl, NX_DEVICELCTLKEYMASK, false},    // left Control
    {62, kCGEventFlagMaskControl, NX_DEVICERCTLKEYMASK, false},    // right Control
    {58, kCGEventFlagMaskAlternate, NX_DEVICELALTKEYMASK, false},  // left Option
    {61, kCGEventFlagMaskAlternate, NX_DEVICERALTKEYMASK, false},  // right Option
    {55, kCGEventFlagMaskCommand, NX_DEVICELCMDKEYMASK, false},    // left Command
    {54, kCGEventFlagMaskCommand, NX_DEVICERCMDKEYMASK, false},    // right Command
    {63, kCGEventFlagMaskSecondaryFn, 0, false},                   // Fn
    {57, kCGEventFlagMaskAlphaShift, 0, true},                     // Caps Lock
};

constexpr uint16_t kFnKeyCode = 63;
constexpr CGEventFlags kFn = kCGEventFlagMaskSecondaryFn;
constexpr CGEventFlags kNumericPad = kCGEventFlagMaskNumericPad;

// The bits a Mac adds to the events of keys that are not modifiers, by key code: measured on the
// events CGEventCreateKeyboardEvent makes (the table of enigo-rs/enigo pull request 329) and on a
// keyboard's own (Karabiner's event viewer: an arrow's key-down carries NumPad and Fn).
struct KeyFlagsRange {
  uint16_t first;
  uint16_t last;
  CGEventFlags flags;
};

constexpr KeyFlagsRange kKeyOwnFlags[] = {
    {64, 64, kFn},                           // F17
    {65, 65, kNumericPad},                   // keypad decimal
    {67, 67, kNumericPad},                   // keypad multiply
    {69, 69, kNumericPad},                   // keypad plus
    {71, 71, kFn},                           // keypad clear
    {75, 76, kNumericPad},                   // keypad divide, enter
    {78, 78, kNumericPad},                   // keypad minus
    {79, 80, kFn},                           // F18, F19
    {81, 89, kNumericPad},                   // keypad equals, 0 to 7
    {91, 92, kNumericPad},                   // keypad 8, 9
    {96, 101, kFn},                          // F5, F6, F7, F3, F8, F9
    {103, 103, kFn},                         // F11
    {105, 107, kFn},                         // F13, F16, F14
    {109, 109, kFn},                         // F10
    {111, 111, kFn},                         // F12
    {113, 113, kFn},                         // F15
    {114, 114, kFn | kCGEventFlagMaskHelp},  // Help
    {115, 122, kFn},                         // Home, Page Up, Forward Delete, F4, End, F2,
                                             // Page Down, F1
    {123, 126, kFn | kNumericPad},           // the arrows
    {129, 131, kFn},                         // volume, mute, Launchpad keys
    {144, 145, kFn},                         // brightness keys
    {160, 160, kFn},                         // Mission Control
    {176, 178, kFn},                         // further system keys
};

bool IsArrow(uint16_t keycode) {
  return keycode >= 123 && keycode <= 126;
}

const ModifierKey* ModifierFor(uint16_t keycode) {
  for (const ModifierKey& key : kModifierKeys) {
    if (key.keycode == keycode) return &key;
  }
  return nullptr;
}

bool IsDown(const State& s, uint16_t keycode) {
  return std::find(s.keys_down.begin(), s.keys_down.end(), keycode) != s.keys_down.end();
}

// The flags of one key-down or key-up event of a key that is no modifier. A keyboard's arrow
// key-up carries Fn but not NumPad (Karabiner-archived issue 472).
CGEventFlags KeyEventOwnFlags(uint16_t keycode, bool down) {
  const CGEventFlags own = KeyOwnFlags(keycode);
  return down || !IsArrow(keycode) ? own : own & ~kNumericPad;
}

// With the latch on, a released key leaves its Fn bit (an arrow its numeric-pad bit too) in the
// flag state, as measured with CGEventSourceFlagsState (Kieirra/murmure issue 398: 0xa00100 after
// a Down arrow's release). Fn's own release latches the bit unless the bits were latched already
// when it went down: that press and release clears them.
void Latch(State& s, uint16_t keycode) {
  if (keycode == kFnKeyCode) {
    s.latched = s.latched_at_fn_press ? 0 : (s.latched | kFn);
    return;
  }
  const CGEventFlags own = KeyOwnFlags(keycode);
  if ((own & kFn) != 0) s.latched |= own & (kFn | kNumericPad);
}

}  // namespace

CGEventFlags KeyOwnFlags(CGKeyCode keycode) {
  for (const KeyFlagsRange& range : kKeyOwnFlags) {
    if (keycode >= range.first && keycode <= range.last) return range.flags;
  }
  return 0;
}

CGEventFlags KeyboardModifierFlags() {
  const State& s = S();
  CGEventFlags flags = s.latched;
  if (s.caps_lock) flags |= kCGEventFlagMaskAlphaShift;
  for (uint16_t keycode : s.keys_down) {
    const ModifierKey* key = ModifierFor(keycode);
    if (key == nullptr) {
      flags |= KeyOwnFlags(keycode);
    } else if (!key->lock) {
      flags |= key->independent | key->device;
    }
  }
  return flags;
}

void ResetKeyboard() {
  State& s = S();
  s.keys_down.clear();
  s.caps_lock = false;
  s.fn_latch = false;
  s.latched = 0;
  s.latched_at_fn_press = false;
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::S;

int desktop_sim_hid_key(uint16_t keycode, bool down) {
  desktop_sim_event event{};
  {
    Lock lock(S().mu);
    desktop_sim::State& s = S();
    if (desktop_sim::IsDown(s, keycode) == down) {
      return down ? DESKTOP_SIM_KEY_ALREADY_DOWN : DESKTOP_SIM_KEY_NOT_DOWN;
    }
    if (down) {
      s.keys_down.push_back(keycode);
    } else {
      s.keys_down.erase(std::find(s.keys_down.begin(), s.keys_down.end(), keycode));
    }
    const desktop_sim::ModifierKey* modifier = desktop_sim::ModifierFor(keycode);
    if (modifier != nullptr && modifier->lock && down) s.caps_lock = !s.caps_lock;
    const bool fn_key = keycode == desktop_sim::kFnKeyCode;
    if (fn_key && down) s.latched_at_fn_press = (s.latched & desktop_sim::kFn) != 0;
    event.type =
        modifier != nullptr ? kCGEventFlagsChanged : (down ? kCGEventKeyDown : kCGEventKeyUp);
    event.keycode = keycode;
    CGEventFlags flags = desktop_sim::KeyboardModifierFlags() | kCGEventFlagMaskNonCoalesced;
    if (modifier == nullptr) flags |= desktop_sim::KeyEventOwnFlags(keycode, down);
    // The Globe key's release carries no Fn bit whatever else sets it (saurabhav88/EnviousWispr
    // issue 1987: flagsChanged keyCode=63 raw=0x100 on release).
    if (fn_key && !down) flags &= ~desktop_sim::kFn;
    event.flags = flags;
    if (!down && s.fn_latch) desktop_sim::Latch(s, keycode);
  }
  // The same road as any hardware event, so whatever holds back or removes a sent event holds
  // back or removes this one; the key's state has changed either way, as a real key's would.
  return desktop_sim_hid_send(&event) ? DESKTOP_SIM_KEY_REACHED : DESKTOP_SIM_KEY_REMOVED;
}

size_t desktop_sim_keys_down(uint16_t* out, size_t capacity) {
  Lock lock(S().mu);
  const std::vector<uint16_t>& held = S().keys_down;
  for (size_t i = 0; i < held.size() && i < capacity && out != nullptr; ++i) out[i] = held[i];
  return held.size();
}

uint64_t desktop_sim_keyboard_flags(void) {
  Lock lock(S().mu);
  return desktop_sim::KeyboardModifierFlags();
}

void desktop_sim_set_fn_latch(bool on) {
  Lock lock(S().mu);
  desktop_sim::State& s = S();
  s.fn_latch = on;
  if (!on) {
    s.latched = 0;
    s.latched_at_fn_press = false;
  }
}

bool desktop_sim_fn_latch(void) {
  Lock lock(S().mu);
  return S().fn_latch;
}

// The HID system's state table and the session's are one here: no other source posts modifier
// state to this desktop, and posted events change no state.
CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID) {
  Lock lock(S().mu);
  if (stateID != kCGEventSourceStateHIDSystemState &&
      stateID != kCGEventSourceStateCombinedSessionState) {
    desktop_sim::RecordMisuse(desktop_sim::Misuse::kBadArgument, "CGEventSourceFlagsState",
                              "state %d: only the HID system's and the combined session's tables "
                              "exist here (a private state belongs to an event source, which this "
                              "desktop does not model)",
                              static_cast<int>(stateID));
    return 0;
  }
  return desktop_sim::KeyboardModifierFlags() | kCGEventFlagMaskNonCoalesced;
}
