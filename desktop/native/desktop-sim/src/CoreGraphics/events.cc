// Synthetic events: creating mouse, keyboard and scroll-wheel events, their Unicode strings,
// and posting them into the event stream, where they pass the taps like hardware input and are
// then recorded as received by the applications.
#include "world/internal.h"

#include <cstdarg>

namespace desktop_sim {
namespace {

constexpr uint32_t kMaxWheels = 3;
// The third wheel's delta field; the first two are kCGScrollWheelEventDeltaAxis1 and 2.
constexpr uint32_t kDeltaAxis3Field = 13;
constexpr int64_t kMaxMouseButton = 31;
constexpr CGEventFlags kKeyboardCreationFlags = kCGEventFlagMaskNonCoalesced;

bool IsMouseType(CGEventType type) {
  switch (type) {
    case kCGEventLeftMouseDown:
    case kCGEventLeftMouseUp:
    case kCGEventRightMouseDown:
    case kCGEventRightMouseUp:
    case kCGEventMouseMoved:
    case kCGEventLeftMouseDragged:
    case kCGEventRightMouseDragged:
    case kCGEventOtherMouseDown:
    case kCGEventOtherMouseUp:
    case kCGEventOtherMouseDragged:
      return true;
    default:
      return false;
  }
}

// Lock held. The desktop has no event sources; code that makes one elsewhere passes a pointer
// this desktop never handed out. An event created with no source takes its modifier flags from
// the combined session state: on macOS the modifier state of the system's keyboard and of every
// other source is combined into synthetic events by default, so a key the user holds shows in
// the flags of an event the program makes, until the program sets the flags itself.
void CheckNoSource(CGEventSourceRef source, const char* function) {
  if (source != nullptr) {
    RecordMisuse(Misuse::kBadArgument, function,
                 "event source %p: event sources are not modelled, pass NULL",
                 static_cast<void*>(source));
  }
}

// Lock held. The failure switch: true when this Create call is to answer NULL.
bool CreationFails() {
  State& s = S();
  s.event_create_calls++;
  return s.fail_event_every != 0 && s.event_create_calls % s.fail_event_every == 0;
}

// A system-owned copy of a posted event: taps and applications see the window server's event,
// never the program's own object, which the program may change and post again.
__CGEvent* SystemCopy(const __CGEvent* original) {
  __CGEvent* copy = NewEvent(original->event_type, false);
  copy->flags = original->flags;
  copy->location = original->location;
  copy->timestamp = original->timestamp;
  copy->field_count = original->field_count;
  for (int i = 0; i < original->field_count; ++i) copy->fields[i] = original->fields[i];
  if (original->more_fields != nullptr) {
    copy->more_fields = new std::vector<FieldSlot>(*original->more_fields);
  }
  if (original->unicode != nullptr) copy->unicode = new std::u16string(*original->unicode);
  return copy;
}

void RecordPostedEvent(__CGEvent* event, CGEventTapLocation location, bool dropped) {
  State& s = S();
  PostedEntry entry;
  desktop_sim_posted_event& r = entry.record;
  r.type = event->event_type;
  r.location = location;
  r.x = event->location.x;
  r.y = event->location.y;
  r.button = GetField(event, kCGMouseEventButtonNumber);
  r.click_state = GetField(event, kCGMouseEventClickState);
  r.flags = event->flags;
  r.keycode = GetField(event, kCGKeyboardEventKeycode);
  r.key_down = event->event_type == kCGEventKeyDown;
  r.has_text = event->unicode != nullptr;
  r.text_length = event->unicode != nullptr ? event->unicode->size() : 0;
  r.wheel1 = GetField(event, kCGScrollWheelEventDeltaAxis1);
  r.wheel2 = GetField(event, kCGScrollWheelEventDeltaAxis2);
  r.dropped = dropped;
  if (event->unicode != nullptr) entry.text = *event->unicode;
  s.posted.push_back(std::move(entry));
  if (s.posted_limit != 0 && s.posted.size() > s.posted_limit) s.posted.pop_front();
  s.posted_count++;
}

}  // namespace
}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::Misuse;
using desktop_sim::RecordMisuse;
using desktop_sim::S;
using desktop_sim::UseAs;

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton) {
  Lock lock(S().mu);
  desktop_sim::CheckNoSource(source, "CGEventCreateMouseEvent");
  if (!desktop_sim::IsMouseType(mouseType) ||
      static_cast<int64_t>(mouseButton) > desktop_sim::kMaxMouseButton) {
    RecordMisuse(Misuse::kBadArgument, "CGEventCreateMouseEvent",
                 "type %u is no mouse event type, or button %u is above 31",
                 static_cast<unsigned>(mouseType), static_cast<unsigned>(mouseButton));
    return nullptr;
  }
  if (desktop_sim::CreationFails()) return nullptr;
  __CGEvent* event = desktop_sim::NewEvent(mouseType, true);
  event->flags = desktop_sim::KeyboardModifierFlags();  // the combined session state, as below
  event->location = mouseCursorPosition;
  desktop_sim::SetField(event, kCGMouseEventButtonNumber, mouseButton);
  return event;
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
  Lock lock(S().mu);
  desktop_sim::CheckNoSource(source, "CGEventCreateKeyboardEvent");
  if (desktop_sim::CreationFails()) return nullptr;
  __CGEvent* event = desktop_sim::NewEvent(keyDown ? kCGEventKeyDown : kCGEventKeyUp, true);
  // Never zero, so that code which keeps, replaces or adds to the creation flags can be told
  // apart by what the applications receive; the key's own bits as a Mac sets them (the Fn bit
  // on arrow, function and navigation keys, the numeric-pad bit on arrows and the keypad); and
  // with no source the event starts from the combined session state, so the modifiers the user
  // holds now ride along unless the program sets the flags itself.
  event->flags = desktop_sim::kKeyboardCreationFlags | desktop_sim::KeyOwnFlags(virtualKey) |
                 desktop_sim::KeyboardModifierFlags();
  desktop_sim::SetField(event, kCGKeyboardEventKeycode, virtualKey);
  return event;
}

CGEventRef CGEventCreateScrollWheelEvent(CGEventSourceRef source, CGScrollEventUnit units,
                                         uint32_t wheelCount, int32_t wheel1, ...) {
  // The unnamed wheel values arrive promoted to int, whatever the caller wrote.
  int32_t wheels[desktop_sim::kMaxWheels] = {wheel1, 0, 0};
  va_list args;
  va_start(args, wheel1);
  for (uint32_t i = 1; i < wheelCount && i < desktop_sim::kMaxWheels; ++i) {
    wheels[i] = va_arg(args, int);
  }
  va_end(args);

  Lock lock(S().mu);
  desktop_sim::CheckNoSource(source, "CGEventCreateScrollWheelEvent");
  if (wheelCount < 1 || wheelCount > desktop_sim::kMaxWheels || units > kCGScrollEventUnitLine) {
    RecordMisuse(Misuse::kBadArgument, "CGEventCreateScrollWheelEvent",
                 "wheel count %u (1 to 3) or units %u out of range", wheelCount,
                 static_cast<unsigned>(units));
    return nullptr;
  }
  if (desktop_sim::CreationFails()) return nullptr;
  __CGEvent* event = desktop_sim::NewEvent(kCGEventScrollWheel, true);
  event->flags = desktop_sim::KeyboardModifierFlags();
  desktop_sim::SetField(event, kCGScrollWheelEventDeltaAxis1, wheels[0]);
  desktop_sim::SetField(event, kCGScrollWheelEventDeltaAxis2, wheels[1]);
  if (wheelCount == desktop_sim::kMaxWheels) {
    desktop_sim::SetField(event, desktop_sim::kDeltaAxis3Field, wheels[2]);
  }
  desktop_sim::SetField(event, kCGScrollWheelEventIsContinuous,
                        units == kCGScrollEventUnitPixel ? 1 : 0);
  return event;
}

void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount stringLength,
                                     const UniChar* unicodeString) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventKeyboardSetUnicodeString");
  if (e == nullptr) return;
  if (unicodeString == nullptr && stringLength > 0) {
    RecordMisuse(Misuse::kNullArgument, "CGEventKeyboardSetUnicodeString",
                 "NULL string of length %lu", stringLength);
    return;
  }
  const auto* units = reinterpret_cast<const char16_t*>(unicodeString);
  if (e->unicode == nullptr) {
    e->unicode = new std::u16string(units, units + stringLength);
  } else {
    e->unicode->assign(units, units + stringLength);
  }
}

void CGEventKeyboardGetUnicodeString(CGEventRef event, UniCharCount maxStringLength,
                                     UniCharCount* actualStringLength, UniChar* unicodeString) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventKeyboardGetUnicodeString");
  const std::u16string* text = e != nullptr ? e->unicode : nullptr;
  const UniCharCount length = text != nullptr ? text->size() : 0;
  const UniCharCount copied = length < maxStringLength ? length : maxStringLength;
  if (copied > 0 && unicodeString != nullptr) {
    for (UniCharCount i = 0; i < copied; ++i) unicodeString[i] = (*text)[i];
  }
  if (actualStringLength != nullptr) *actualStringLength = copied;
}

// Synchronous: the event has passed every tap (each bounded by the tap timeout) and reached the
// applications, been removed, or been dropped for want of permission, when this returns. The
// program keeps its reference.
void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
  Lock lock(S().mu);
  auto* e = UseAs<__CGEvent>(event, desktop_sim::kEventTypeId, "CGEventPost");
  if (e == nullptr) return;
  if (tap > kCGAnnotatedSessionEventTap) {
    RecordMisuse(Misuse::kBadArgument, "CGEventPost", "tap location %u out of range",
                 static_cast<unsigned>(tap));
    return;
  }
  if (!desktop_sim::PostEventAccess()) {
    // Without the permission to post, macOS drops the event without a word: it reaches no tap
    // and no application. The log keeps it, marked, so a test can see what was lost.
    desktop_sim::RecordPostedEvent(e, tap, true);
    return;
  }
  std::vector<__CGEvent*> owned{desktop_sim::SystemCopy(e)};
  const std::vector<__CGEvent*> flow = desktop_sim::PassThroughTaps(lock, owned, tap, &owned);
  for (__CGEvent* delivered : flow) {
    desktop_sim::RecordAppEvent(delivered);
    desktop_sim::RecordPostedEvent(delivered, tap, false);
  }
  for (__CGEvent* held : owned) desktop_sim::DropSystemRef(held, "posted event delivered");
}
