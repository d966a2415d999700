// AXUIElement: the accessibility requests a program makes of the desktop's applications
// (world/applications.cc), each a round trip with its latency, its messaging timeout and the
// answers of applications that hang, and the log of every request and attribute write.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "world/accessibility.h"

namespace desktop_sim {

namespace {

std::string Utf8Of(const std::u16string& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// A resolved element argument: the node it names in the current desktop, or why it names none.
struct Target {
  AXError error;
  __AXUIElement* element;
  const AxNode* node;
};

void Log(const char* call, const Target& target, const std::string& attribute, AXError result,
         float timeout) {
  AxState& ax = Ax();
  ax.request_count++;
  const pid_t pid = target.element ? target.element->pid : 0;
  const std::string& element = target.node ? target.node->id : std::string();
  ax.requests.push_back(AxRequestEntry{call, pid, element, attribute, result, timeout});
}

// Checks the arguments every element call shares. Lock held.
Target Resolve(AXUIElementRef ref, const char* call) {
  Target target{kAXErrorSuccess, nullptr, nullptr};
  if (ref == nullptr) {
    RecordMisuse(Misuse::kNullArgument, call, "NULL element");
    target.error = kAXErrorIllegalArgument;
    return target;
  }
  target.element = UseAs<__AXUIElement>(ref, kAxElementTypeId, call);
  if (target.element == nullptr) {
    target.error = kAXErrorIllegalArgument;
    return target;
  }
  if (!Granted(DESKTOP_SIM_PERMISSION_ACCESSIBILITY)) {
    target.error = kAXErrorAPIDisabled;
    return target;
  }
  if (target.element->world != Ax().world || target.element->node < 0) {
    target.error = kAXErrorInvalidUIElement;
    return target;
  }
  target.node = &target.element->world->nodes[target.element->node];
  return target;
}

std::string AttributeName(CFStringRef attribute, const char* call, bool* ok) {
  auto* string = UseAs<__CFString>(attribute, kStringTypeId, call);
  *ok = string != nullptr;
  return string ? Utf8Of(Utf16Of(string)) : std::string();
}

bool IsSettable(const AxNode& node, const std::string& name) {
  for (const std::string& settable : node.settable) {
    if (settable == name) return true;
  }
  return false;
}

Object* NewElementFor(const std::shared_ptr<AxWorld>& world, int32_t node, bool program_owned) {
  return NewElement(world, node, world->nodes[node].pid, program_owned);
}

bool HasRole(const AxNode& node, const char16_t* role) {
  const StoredValue* stored = FindAttribute(node, "AXRole");
  return stored != nullptr && stored->kind == StoredKind::kString && stored->text == role;
}

// The application whose root node is, when that application is Chromium-like.
AxApp* ChromiumLikeRoot(AxWorld& world, int32_t node) {
  if (node <= kSystemWideNode) return nullptr;
  AxApp* app = AppOf(world, world.nodes[node].pid);
  return app != nullptr && app->root == node && app->web_content_delay_ms >= 0 ? app : nullptr;
}

// The two switches Chromium-based applications take on their application element.
bool IsWebContentSwitch(const std::string& name) {
  return name == "AXManualAccessibility" || name == "AXEnhancedUserInterface";
}

// The children a node shows now: none for a web area of a Chromium-like application before its
// web content's tree is built, which happens only after "AXManualAccessibility" was set.
const std::vector<int32_t>& VisibleChildren(const AxWorld& world, const AxNode& node) {
  static const std::vector<int32_t> kNone;
  const AxApp* app = AppOf(world, node.pid);
  if (app == nullptr || app->web_content_delay_ms < 0 || !HasRole(node, u"AXWebArea")) {
    return node.children;
  }
  const bool built = app->manual_accessibility_set &&
                     Clock::now() >= app->manual_accessibility_at +
                                         std::chrono::milliseconds(app->web_content_delay_ms);
  return built ? node.children : kNone;
}

// The array behind an attribute, for the calls that count it or read part of it: only
// "AXChildren" is an array here. Lock held.
AXError ArrayAttribute(const AxWorld& world, const AxNode& node, const std::string& name,
                       const std::vector<int32_t>** items) {
  const StoredValue* stored = FindAttribute(node, name);
  if (stored == nullptr) return kAXErrorAttributeUnsupported;
  if (stored->kind == StoredKind::kError) return static_cast<AXError>(stored->error);
  if (stored->kind == StoredKind::kNull) return kAXErrorNoValue;
  if (stored->kind != StoredKind::kChildren) return kAXErrorIllegalArgument;  // not an array
  *items = &VisibleChildren(world, node);
  return kAXErrorSuccess;
}

// The CF object a copy hands out for value; nullptr for kNull. *items (when given) grows by the
// elements of an array handed out. Lock held.
CFTypeRef MakeValue(const std::shared_ptr<AxWorld>& world, const AxNode& node,
                    const StoredValue& value, size_t* items = nullptr) {
  switch (value.kind) {
    case StoredKind::kString:
      return MakeString(value.text);
    case StoredKind::kBoolean: {
      // The platform's two constants, as there; the ledger still counts the copy.
      CFBooleanRef boolean = value.boolean ? kCFBooleanTrue : kCFBooleanFalse;
      CountAcquired(static_cast<Object*>(const_cast<__CFBoolean*>(boolean)));
      return boolean;
    }
    case StoredKind::kNumber: {
      const auto type = static_cast<CFNumberType>(value.number_type);
      const bool is_float = IsFloatNumberType(type);
      return NewNumber(type, is_float, is_float ? 0 : static_cast<int64_t>(value.number),
                       is_float ? value.number : 0);
    }
    case StoredKind::kPoint: {
      const CGPoint point = CGPointMake(value.pair[0], value.pair[1]);
      return NewAxValue(kAXValueTypeCGPoint, &point);
    }
    case StoredKind::kSize: {
      const CGSize size = CGSizeMake(value.pair[0], value.pair[1]);
      return NewAxValue(kAXValueTypeCGSize, &size);
    }
    case StoredKind::kOther: {
      const CFRange range = CFRangeMake(0, 0);
      return NewAxValue(kAXValueTypeCFRange, &range);
    }
    case StoredKind::kElement:
      return NewElementFor(world, value.element, true);
    case StoredKind::kChildren: {
      const std::vector<int32_t>& children = VisibleChildren(*world, node);
      __CFArray* array = NewArray(true);
      array->items.reserve(children.size());
      for (int32_t child : children) array->items.push_back(NewElementFor(world, child, false));
      if (items != nullptr) *items += children.size();
      return array;
    }
    case StoredKind::kError:
    case StoredKind::kNull:
      break;
  }
  return nullptr;
}

StoredValue StoredOf(CFTypeRef value) {
  StoredValue stored;
  if (value == nullptr) return stored;
  stored.kind = StoredKind::kOther;
  Object* object = Use(value, 0, "AXUIElementSetAttributeValue");
  if (object == nullptr) return stored;
  switch (object->type) {
    case kBooleanTypeId:
      stored.kind = StoredKind::kBoolean;
      stored.boolean = static_cast<__CFBoolean*>(object)->value;
      break;
    case kStringTypeId:
      stored.kind = StoredKind::kString;
      stored.text = Utf16Of(static_cast<__CFString*>(object));
      break;
    case kNumberTypeId: {
      auto* number = static_cast<__CFNumber*>(object);
      stored.kind = StoredKind::kNumber;
      stored.number_type = number->number_type;
      stored.number = number->is_float ? number->real : static_cast<double>(number->integer);
      break;
    }
    case kAxValueTypeId: {
      auto* ax_value = static_cast<__AXValue*>(object);
      if (ax_value->value_type == kAXValueTypeCGPoint) {
        stored.kind = StoredKind::kPoint;
        stored.pair[0] = ax_value->data.point.x;
        stored.pair[1] = ax_value->data.point.y;
      } else if (ax_value->value_type == kAXValueTypeCGSize) {
        stored.kind = StoredKind::kSize;
        stored.pair[0] = ax_value->data.size.width;
        stored.pair[1] = ax_value->data.size.height;
      }
      break;
    }
    default:
      break;
  }
  return stored;
}

// The cost of a round trip, paid outside the lock, then the time accounted. Short costs are
// spun for their precision; a long one (a large answer) is slept.
void Answer(Clock::time_point started, uint64_t cost_us) {
  if (cost_us > 0) {
    const Clock::time_point until = started + std::chrono::microseconds(cost_us);
    if (cost_us < 2000) {
      while (Clock::now() < until) {
      }
    } else {
      std::this_thread::sleep_until(until);
    }
  }
  const auto spent =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started).count();
  Lock lock(S().mu);
  Ax().answer_ns += static_cast<uint64_t>(spent);
}

// The timeout a request through this element object waits: its own, or the process-wide one.
// A system-wide element object never has one of its own: setting one on it sets the process's.
float MessagingTimeoutOf(const __AXUIElement* element) {
  if (element != nullptr && element->messaging_timeout > 0) return element->messaging_timeout;
  return Ax().messaging_timeout;
}

HungApp* HungEntry(pid_t pid) {
  for (HungApp& hung : Ax().hung) {
    if (hung.pid == pid) return &hung;
  }
  return nullptr;
}

bool IsFocusAttribute(const std::string& name) {
  return name == "AXFocusedApplication" || name == "AXFocusedUIElement";
}

// The application a request goes to: the element's own, except for the system-wide element's
// focus attributes, which the system asks the focused application for (0: nobody is asked).
pid_t AnsweringPid(const Target& target, const std::string& name) {
  if (target.element->node != kSystemWideNode) return target.element->pid;
  return IsFocusAttribute(name) ? target.element->world->focused_pid : 0;
}

// Lock held. Waits until deadline or until the hung applications change (a hang ended, a
// reset); true when the deadline came.
bool WaitUntil(Lock& lock, Clock::time_point deadline) {
  AxState& ax = Ax();
  const uint64_t generation = ax.hang_generation;
  ax.waiting++;
  const bool woken =
      ax.hang_cv.wait_until(lock, deadline, [&] { return ax.hang_generation != generation; });
  ax.waiting--;
  return !woken;
}

Clock::time_point DeadlineAfter(float timeout) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(static_cast<double>(timeout)));
}

// Lock held. Whether a request goes unanswered for its whole messaging timeout (true: the caller
// answers kAXErrorCannotComplete): its application is hung, or it is this process, asked from a
// thread other than its main thread. A process answers requests to its own elements on the
// calling thread, so AppKit would run off its main thread there: the desktop logs the misuse and
// answers as a deadlock that the timeout ends. Woken early by a change of the hung applications,
// the request resolves its element again and looks once more, so one that outlives a reset
// answers as an element of a replaced desktop does.
bool GoesUnanswered(Lock& lock, const char* call, AXUIElementRef ref, const std::string& name,
                    Target* target, float timeout) {
  const Clock::time_point deadline = DeadlineAfter(timeout);
  for (;;) {
    const pid_t pid = AnsweringPid(*target, name);
    if (pid == 0) return false;
    if (pid == getpid() && !OnMainThread()) {
      RecordMisuse(Misuse::kWrongThread, call,
                   "a request to this process's own element (pid %d) off its main thread",
                   static_cast<int>(pid));
      WaitUntil(lock, deadline);
      return true;
    }
    HungApp* hung = HungEntry(pid);
    if (hung == nullptr) return false;
    if (hung->answers_left > 0) {
      hung->answers_left--;
      return false;
    }
    if (WaitUntil(lock, deadline)) return true;
    *target = Resolve(ref, call);
    if (target->error != kAXErrorSuccess) return false;
  }
}

// The names of a batched request, when attributes is an array of strings. Lock held.
std::vector<std::string> AttributeNames(CFArrayRef attributes, const char* call, bool* ok) {
  std::vector<std::string> names;
  auto* array = UseAs<__CFArray>(attributes, kArrayTypeId, call);
  *ok = array != nullptr;
  if (array == nullptr) return names;
  for (Object* item : array->items) {
    auto* string = UseAs<__CFString>(item, kStringTypeId, call);
    if (string == nullptr) {
      *ok = false;
      return {};
    }
    names.push_back(Utf8Of(Utf16Of(string)));
  }
  return names;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) {
    if (!joined.empty()) joined += ",";
    joined += name;
  }
  return joined;
}

// Which requests go to the application: all but those answered in the caller's process.
enum class Route { kApplication, kLocal };

// What a call's answer handed out, for the cost of carrying it back and for taking it back when
// it comes too late.
struct Reply {
  size_t items = 0;                 // elements of the arrays the answer hands out
  std::function<void()> take_back;  // gives up what the answer handed out; null: nothing
};

// A value an answer handed out and the caller will never see. Lock held.
void TakeBack(CFTypeRef* out, const char* call) {
  if (*out == nullptr) return;
  auto* object = static_cast<Object*>(const_cast<void*>(*out));
  if (object->immortal) {
    CountGivenUp(object);
  } else {
    DropProgramRef(object, call);
  }
  *out = nullptr;
}

// What every accessibility request shares. Under the desktop's lock: the element is resolved,
// the attribute's name read (read_name answers "" for calls without one) and the out pointer
// checked, each failure answering as the system does; then a request that goes unanswered (a
// hung application, this process asked off its main thread) waits for its messaging timeout;
// only then does the call's own answer run. An answer whose round trip (the latency, and the
// item latency for every element of the arrays it carries) takes longer than the timeout comes
// too late: the caller waits the timeout and gets kAXErrorCannotComplete. The request is logged
// with its result, and the cost is paid after the lock is given up, so a slow request never
// holds up another thread's.
template <typename NameFn, typename AnswerFn>
AXError Request(const char* call, AXUIElementRef element, NameFn read_name, const void* out,
                const char* outName, Route route, AnswerFn answer) {
  const Clock::time_point started = Clock::now();
  AXError result = kAXErrorSuccess;
  uint64_t cost_us = 0;
  {
    Lock lock(S().mu);
    Target target = Resolve(element, call);
    bool named = true;
    const std::string name = read_name(call, &named);
    if (out == nullptr) {
      RecordMisuse(Misuse::kNullArgument, call, "NULL %s", outName);
      if (target.error == kAXErrorSuccess) target.error = kAXErrorIllegalArgument;
    }
    if (!named && target.error == kAXErrorSuccess) target.error = kAXErrorIllegalArgument;
    const float timeout = MessagingTimeoutOf(target.element);
    bool waited_out = false;
    if (target.error == kAXErrorSuccess && route == Route::kApplication &&
        GoesUnanswered(lock, call, element, name, &target, timeout)) {
      target.error = kAXErrorCannotComplete;
      waited_out = true;
    }
    result = target.error;
    Reply reply;
    if (result == kAXErrorSuccess) {
      result = answer(static_cast<const Target&>(target), name, reply);
    }
    if (!waited_out) {
      const AxState& ax = Ax();
      cost_us = ax.latency_us + static_cast<uint64_t>(reply.items) * ax.item_latency_us;
      const double timeout_us = static_cast<double>(timeout) * 1e6;
      if (route == Route::kApplication && static_cast<double>(cost_us) > timeout_us) {
        if (reply.take_back) reply.take_back();
        result = kAXErrorCannotComplete;
        WaitUntil(lock, DeadlineAfter(timeout));
        cost_us = 0;
      }
    }
    Log(call, target, name, result, timeout);
  }
  Answer(started, cost_us);
  return result;
}

auto NoName() {
  return [](const char*, bool*) { return std::string(); };
}

auto OneName(CFStringRef attribute) {
  return [attribute](const char* call, bool* ok) { return AttributeName(attribute, call, ok); };
}

}  // namespace

}  // namespace desktop_sim

using desktop_sim::Ax;
using desktop_sim::Clock;
using desktop_sim::Lock;
using desktop_sim::Misuse;
using desktop_sim::RecordMisuse;
using desktop_sim::S;

CFTypeID AXUIElementGetTypeID(void) {
  return desktop_sim::kAxElementTypeId;
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
  Lock lock(S().mu);
  return desktop_sim::NewElement(Ax().world, desktop_sim::kSystemWideNode, 0, true);
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  Lock lock(S().mu);
  const desktop_sim::AxApp* app = desktop_sim::AppOf(*Ax().world, pid);
  return desktop_sim::NewElement(Ax().world, app ? app->root : -1, pid, true);
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
  const char* call = "AXUIElementCopyAttributeValue";
  return desktop_sim::Request(
      call, element, desktop_sim::OneName(attribute), value, "value pointer",
      desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string& name, desktop_sim::Reply& reply) {
        const desktop_sim::StoredValue* stored = desktop_sim::FindAttribute(*target.node, name);
        if (stored == nullptr) return kAXErrorAttributeUnsupported;
        if (stored->kind == desktop_sim::StoredKind::kError) {
          return static_cast<AXError>(stored->error);
        }
        *value = desktop_sim::MakeValue(target.element->world, *target.node, *stored, &reply.items);
        reply.take_back = [value, call] { desktop_sim::TakeBack(value, call); };
        return kAXErrorSuccess;
      });
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
  return desktop_sim::Request(
      "AXUIElementSetAttributeValue", element, desktop_sim::OneName(attribute), value, "value",
      desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string& name, desktop_sim::Reply&) {
        const desktop_sim::StoredValue written = desktop_sim::StoredOf(value);
        Ax().writes.push_back(
            desktop_sim::AxWriteEntry{target.element->pid, target.node->id, name, written});
        desktop_sim::AxWorld& world = *target.element->world;
        desktop_sim::AxApp* chromium = desktop_sim::ChromiumLikeRoot(world, target.element->node);
        const bool web_switch = chromium != nullptr && desktop_sim::IsWebContentSwitch(name);
        if (!web_switch && !desktop_sim::IsSettable(*target.node, name)) {
          return kAXErrorAttributeUnsupported;
        }
        // The application takes the value: later copies read it.
        world.nodes[target.element->node].attributes.emplace_back(name, written);
        if (web_switch && name == "AXManualAccessibility" && !chromium->manual_accessibility_set &&
            written.kind == desktop_sim::StoredKind::kBoolean && written.boolean) {
          chromium->manual_accessibility_set = true;
          chromium->manual_accessibility_at = Clock::now();
        }
        return kAXErrorSuccess;
      });
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable) {
  return desktop_sim::Request(
      "AXUIElementIsAttributeSettable", element, desktop_sim::OneName(attribute), settable,
      "flag pointer", desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string& name, desktop_sim::Reply&) {
        if (desktop_sim::IsSettable(*target.node, name)) {
          *settable = true;
        } else if (desktop_sim::FindAttribute(*target.node, name) != nullptr) {
          *settable = false;
        } else {
          return kAXErrorAttributeUnsupported;
        }
        return kAXErrorSuccess;
      });
}

AXError AXUIElementCopyActionNames(AXUIElementRef element, CFArrayRef* names) {
  const char* call = "AXUIElementCopyActionNames";
  return desktop_sim::Request(
      call, element, desktop_sim::NoName(), names, "names pointer",
      desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string&, desktop_sim::Reply& reply) {
        if (target.node->actions_error != 0)
          return static_cast<AXError>(target.node->actions_error);
        __CFArray* array = desktop_sim::NewArray(true);
        for (const std::u16string& action : target.node->actions) {
          __CFString* string = desktop_sim::MakeString(action);
          desktop_sim::TakeOverProgramRef(string);  // the array's, not the caller's
          array->items.push_back(string);
        }
        *names = array;
        reply.take_back = [names, call] {
          desktop_sim::TakeBack(reinterpret_cast<CFTypeRef*>(names), call);
        };
        return kAXErrorSuccess;
      });
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
  return desktop_sim::Request(
      "AXUIElementGetPid", element, desktop_sim::NoName(), pid, "pid pointer",
      desktop_sim::Route::kLocal,
      [&](const desktop_sim::Target& target, const std::string&, desktop_sim::Reply&) {
        if (target.element->node == desktop_sim::kSystemWideNode) return kAXErrorIllegalArgument;
        *pid = target.element->pid;
        return kAXErrorSuccess;
      });
}

AXError AXUIElementGetAttributeValueCount(AXUIElementRef element, CFStringRef attribute,
                                          CFIndex* count) {
  return desktop_sim::Request(
      "AXUIElementGetAttributeValueCount", element, desktop_sim::OneName(attribute), count,
      "count pointer", desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string& name, desktop_sim::Reply&) {
        const std::vector<int32_t>* children = nullptr;
        const AXError error =
            desktop_sim::ArrayAttribute(*target.element->world, *target.node, name, &children);
        if (error != kAXErrorSuccess) return error;
        *count = static_cast<CFIndex>(children->size());
        return kAXErrorSuccess;
      });
}

AXError AXUIElementCopyAttributeValues(AXUIElementRef element, CFStringRef attribute, CFIndex index,
                                       CFIndex maxValues, CFArrayRef* values) {
  const char* call = "AXUIElementCopyAttributeValues";
  return desktop_sim::Request(
      call, element, desktop_sim::OneName(attribute), values, "values pointer",
      desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string& name, desktop_sim::Reply& reply) {
        const std::vector<int32_t>* children = nullptr;
        const std::shared_ptr<desktop_sim::AxWorld>& world = target.element->world;
        const AXError error = desktop_sim::ArrayAttribute(*world, *target.node, name, &children);
        if (error != kAXErrorSuccess) return error;
        const auto count = static_cast<CFIndex>(children->size());
        // The header: outside the array's range, or not a positive number of values.
        if (index < 0 || index > count || maxValues <= 0) return kAXErrorIllegalArgument;
        const CFIndex end = index + std::min(maxValues, count - index);
        __CFArray* array = desktop_sim::NewArray(true);
        for (CFIndex i = index; i < end; ++i) {
          array->items.push_back(
              desktop_sim::NewElementFor(world, (*children)[static_cast<size_t>(i)], false));
        }
        reply.items = array->items.size();
        *values = array;
        reply.take_back = [values, call] {
          desktop_sim::TakeBack(reinterpret_cast<CFTypeRef*>(values), call);
        };
        return kAXErrorSuccess;
      });
}

AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element, CFArrayRef attributes,
                                               AXCopyMultipleAttributeOptions options,
                                               CFArrayRef* values) {
  const char* call = "AXUIElementCopyMultipleAttributeValues";
  std::vector<std::string> names;
  return desktop_sim::Request(
      call, element,
      [&](const char* name_call, bool* ok) {
        names = desktop_sim::AttributeNames(attributes, name_call, ok);
        return desktop_sim::Joined(names);
      },
      values, "values pointer", desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string&, desktop_sim::Reply& reply) {
        const desktop_sim::AxApp* app =
            desktop_sim::AppOf(*target.element->world, target.element->pid);
        if (app != nullptr && app->batch_error != kAXErrorSuccess) return app->batch_error;
        if ((options & ~static_cast<AXCopyMultipleAttributeOptions>(
                           kAXCopyMultipleAttributeOptionStopOnError)) != 0) {
          RecordMisuse(Misuse::kBadArgument, call, "unknown options 0x%x",
                       static_cast<unsigned>(options));
          return kAXErrorIllegalArgument;
        }
        const bool stop_on_error = (options & kAXCopyMultipleAttributeOptionStopOnError) != 0;
        __CFArray* array = desktop_sim::NewArray(true);
        for (const std::string& name : names) {
          const desktop_sim::StoredValue* stored = desktop_sim::FindAttribute(*target.node, name);
          AXError error = kAXErrorSuccess;
          if (stored == nullptr) {
            error = kAXErrorAttributeUnsupported;
          } else if (stored->kind == desktop_sim::StoredKind::kError) {
            error = static_cast<AXError>(stored->error);
          }
          if (error != kAXErrorSuccess && stop_on_error) {
            desktop_sim::DropProgramRef(array, call);  // and with it what it holds so far
            return error;
          }
          // An attribute that failed stands as an AXValue holding its error; one without a
          // value as kCFNull.
          CFTypeRef value = nullptr;
          if (error != kAXErrorSuccess) {
            value = desktop_sim::NewAxValue(kAXValueTypeAXError, &error);
          } else if (stored->kind == desktop_sim::StoredKind::kNull) {
            value = kCFNull;
          } else {
            value =
                desktop_sim::MakeValue(target.element->world, *target.node, *stored, &reply.items);
          }
          desktop_sim::AdoptIntoArray(array, value);
        }
        *values = array;
        reply.take_back = [values, call] {
          desktop_sim::TakeBack(reinterpret_cast<CFTypeRef*>(values), call);
        };
        return kAXErrorSuccess;
      });
}

// Answered in the caller's process: no request, no latency, and no hang.
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds) {
  const char* call = "AXUIElementSetMessagingTimeout";
  Lock lock(S().mu);
  if (element == nullptr) {
    RecordMisuse(Misuse::kNullArgument, call, "NULL element");
    return kAXErrorIllegalArgument;
  }
  auto* target = desktop_sim::UseAs<__AXUIElement>(element, desktop_sim::kAxElementTypeId, call);
  if (target == nullptr) return kAXErrorIllegalArgument;
  if (!(timeoutInSeconds >= 0)) return kAXErrorIllegalArgument;  // negative, or not a number
  if (target->node == desktop_sim::kSystemWideNode) {
    Ax().messaging_timeout =
        timeoutInSeconds == 0 ? desktop_sim::kDefaultMessagingTimeout : timeoutInSeconds;
  } else {
    target->messaging_timeout = timeoutInSeconds;
  }
  return kAXErrorSuccess;
}
