// The keyboard: the keys held down, and the events a Mac keyboard produces as they go down and
// up. A modifier key gives a flags-changed event carrying its key code; any other key a key-down
// or key-up event. Every event carries the flags of all modifiers then held: the
// device-independent mask of each, the device-dependent bit of the physical key, and the
// non-coalesced bit. The same flags are the combined session state that events created with no
// source start from (events.cc).
#include <algorithm>

#include "internal.h"

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

const ModifierKey* ModifierFor(uint16_t keycode) {
  for (const ModifierKey& key : kModifierKeys) {
    if (key.keycode == keycode) return &key;
  }
  return nullptr;
}

bool IsDown(const State& s, uint16_t keycode) {
  return std::find(s.keys_down.begin(), s.keys_down.end(), keycode) != s.keys_down.end();
}

}  // namespace

CGEventFlags KeyboardModifierFlags() {
  const State& s = S();
  CGEventFlags flags = 0;
  if (s.caps_lock) flags |= kCGEventFlagMaskAlphaShift;
  for (uint16_t keycode : s.keys_down) {
    const ModifierKey* key = ModifierFor(keycode);
    if (key != nullptr && !key->lock) flags |= key->independent | key->device;
  }
  return flags;
}

void ResetKeyboard() {
  S().keys_down.clear();
  S().caps_lock = false;
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
    event.type =
        modifier != nullptr ? kCGEventFlagsChanged : (down ? kCGEventKeyDown : kCGEventKeyUp);
    event.keycode = keycode;
    event.flags = desktop_sim::KeyboardModifierFlags() | kCGEventFlagMaskNonCoalesced;
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
