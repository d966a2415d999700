// The accessibility desktop: applications with trees of elements and their attributes, the
// permission switch, the latency of a round trip to an application, and the log of requests
// and attribute writes. Also the running-application lookup by pid.
#include <desktop_sim/running_application.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "values.h"

namespace desktop_sim {

enum class StoredKind {
  kString = DESKTOP_SIM_AX_STRING,
  kBoolean = DESKTOP_SIM_AX_BOOLEAN,
  kNumber = DESKTOP_SIM_AX_NUMBER,
  kPoint = DESKTOP_SIM_AX_POINT,
  kSize = DESKTOP_SIM_AX_SIZE,
  kError = DESKTOP_SIM_AX_ERROR,
  kOther = DESKTOP_SIM_AX_OTHER,
  kNull = DESKTOP_SIM_AX_NULL,
  kElement,   // another element of the desktop (focus attributes)
  kChildren,  // the element's children, as an array of elements
};

// An attribute's value as the desktop keeps it; each copy makes a fresh CF object from it.
struct StoredValue {
  StoredKind kind = StoredKind::kNull;
  std::u16string text;
  bool boolean = false;
  int32_t number_type = kCFNumberSInt64Type;
  double number = 0;
  double pair[2] = {0, 0};
  int32_t error = 0;
  int32_t element = -1;
};

struct AxNode {
  std::string id;
  pid_t pid = 0;
  std::vector<std::pair<std::string, StoredValue>> attributes;
  std::vector<std::string> settable;
  std::vector<std::u16string> actions;
  int32_t actions_error = 0;
  std::vector<int32_t> children;
  bool has_children = false;
};

struct AxApp {
  pid_t pid;
  bool has_name;
  std::string name;
  bool has_bundle_id;
  std::string bundle_id;
  bool running;
  int32_t root;
  AXError batch_error = kAXErrorSuccess;  // what AXUIElementCopyMultipleAttributeValues answers
};

// Node 0 is the system-wide element; the fixture's elements follow from node 1.
struct AxWorld {
  std::vector<AxNode> nodes;
  std::vector<AxApp> apps;
};

struct AxRequestEntry {
  const char* call;
  pid_t pid;
  std::string element;
  std::string attribute;
  AXError result;
  float timeout;  // the messaging timeout the request was made with, in seconds
};

// An application that stopped answering, once it has answered answers_left more requests.
struct HungApp {
  pid_t pid;
  uint64_t answers_left;
};

// The system's messaging timeout until a program sets another (AXUIElement.h: 6 seconds).
constexpr float kDefaultMessagingTimeout = 6.0f;

struct AxWriteEntry {
  pid_t pid;
  std::string element;
  std::string attribute;
  StoredValue value;
};

struct AxState {
  std::shared_ptr<AxWorld> world;
  std::shared_ptr<AxWorld> building;
  uint32_t latency_us = 0;
  std::vector<AxRequestEntry> requests;
  std::vector<AxWriteEntry> writes;
  uint64_t request_count = 0;
  uint64_t answer_ns = 0;
  float messaging_timeout = kDefaultMessagingTimeout;  // process-wide
  std::vector<HungApp> hung;
  // Bumped by every change of the hung applications and by reset; requests waiting for a hung
  // application wake on hang_cv to look again, so a test that ends a hang never waits out a
  // timeout.
  uint64_t hang_generation = 0;
  uint64_t waiting = 0;  // requests waiting for a hung application now
  std::condition_variable hang_cv;
};

namespace {

constexpr int32_t kSystemWideNode = 0;

std::shared_ptr<AxWorld> EmptyWorld() {
  auto world = std::make_shared<AxWorld>();
  world->nodes.emplace_back();
  AxNode& system = world->nodes[0];
  StoredValue role;
  role.kind = StoredKind::kString;
  role.text = u"AXSystemWide";
  system.attributes.emplace_back("AXRole", role);
  // Nothing has the focus until a desktop says so (a later setting of a name wins).
  StoredValue none;
  none.kind = StoredKind::kError;
  none.error = kAXErrorNoValue;
  system.attributes.emplace_back("AXFocusedApplication", none);
  system.attributes.emplace_back("AXFocusedUIElement", none);
  return world;
}

// Guarded by S().mu, like everything else; leaked with the rest of the desktop.
AxState& Ax() {
  static AxState* state = [] {
    auto* s = new AxState();
    s->world = EmptyWorld();
    return s;
  }();
  return *state;
}

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

const AxApp* AppOf(const AxWorld& world, pid_t pid) {
  for (const AxApp& app : world.apps) {
    if (app.pid == pid) return &app;
  }
  return nullptr;
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

const StoredValue* FindAttribute(const AxNode& node, const std::string& name) {
  for (auto it = node.attributes.rbegin(); it != node.attributes.rend(); ++it) {
    if (it->first == name) return &it->second;
  }
  return nullptr;
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

// The CF object a copy hands out for value; nullptr for kNull. Lock held.
CFTypeRef MakeValue(const std::shared_ptr<AxWorld>& world, const AxNode& node,
                    const StoredValue& value) {
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
      __CFArray* array = NewArray(true);
      array->items.reserve(node.children.size());
      for (int32_t child : node.children)
        array->items.push_back(NewElementFor(world, child, false));
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

// The cost of the round trip, outside the lock, then the time accounted. A request that waited
// for a hung application has paid with its timeout instead.
void Answer(Clock::time_point started, bool pay_latency) {
  uint32_t latency_us;
  {
    Lock lock(S().mu);
    latency_us = pay_latency ? Ax().latency_us : 0;
  }
  if (latency_us > 0) {
    const Clock::time_point until = started + std::chrono::microseconds(latency_us);
    while (Clock::now() < until) {
    }
  }
  const auto spent =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - started).count();
  Lock lock(S().mu);
  Ax().answer_ns += static_cast<uint64_t>(spent);
}

// The timeout a request through this element object waits: its own, or the process-wide one.
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

// Lock held. Whether a request to a hung application runs out of time: it waits for the
// messaging timeout (true: the caller answers kAXErrorCannotComplete). Woken early by a change of
// the hung applications, it resolves its element again and looks once more, so a request that
// outlives a reset answers as an element of a replaced desktop does.
bool TimesOutHung(Lock& lock, const char* call, AXUIElementRef ref, Target* target, float timeout) {
  AxState& ax = Ax();
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(static_cast<double>(timeout)));
  for (;;) {
    HungApp* hung = HungEntry(target->element->pid);
    if (hung == nullptr) return false;
    if (hung->answers_left > 0) {
      hung->answers_left--;
      return false;
    }
    const uint64_t generation = ax.hang_generation;
    ax.waiting++;
    const bool woken =
        ax.hang_cv.wait_until(lock, deadline, [&] { return ax.hang_generation != generation; });
    ax.waiting--;
    if (!woken) return true;
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

// What every accessibility request shares. Under the desktop's lock: the element is resolved,
// the attribute's name read (read_name answers "" for calls without one) and the out pointer
// checked, each failure answering as the system does; then a hung application makes the request
// wait for its messaging timeout; only then does the call's own answer run. The request is
// logged with its result, and the latency is paid after the lock is given up, so a slow request
// never holds up another thread's.
template <typename NameFn, typename AnswerFn>
AXError Request(const char* call, AXUIElementRef element, NameFn read_name, const void* out,
                const char* outName, Route route, AnswerFn answer) {
  const Clock::time_point started = Clock::now();
  AXError result = kAXErrorSuccess;
  bool answered = true;
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
    if (target.error == kAXErrorSuccess && route == Route::kApplication &&
        TimesOutHung(lock, call, element, &target, timeout)) {
      target.error = kAXErrorCannotComplete;
      answered = false;
    }
    result = target.error;
    if (result == kAXErrorSuccess) result = answer(static_cast<const Target&>(target), name);
    Log(call, target, name, result, timeout);
  }
  Answer(started, answered);
  return result;
}

auto NoName() {
  return [](const char*, bool*) { return std::string(); };
}

auto OneName(CFStringRef attribute) {
  return [attribute](const char* call, bool* ok) { return AttributeName(attribute, call, ok); };
}

AxNode* BuildingNode(int32_t element) {
  AxState& ax = Ax();
  if (!ax.building || element < 0) return nullptr;
  const size_t index = static_cast<size_t>(element) + 1;
  return index < ax.building->nodes.size() ? &ax.building->nodes[index] : nullptr;
}

StoredValue StoredFromControl(const desktop_sim_ax_value& value) {
  StoredValue stored;
  stored.kind = static_cast<StoredKind>(value.kind);
  if (value.units != nullptr) {
    stored.text.assign(reinterpret_cast<const char16_t*>(value.units), value.length);
  }
  stored.boolean = value.boolean;
  stored.number_type = value.number_type;
  stored.number = value.number;
  stored.pair[0] = value.pair[0];
  stored.pair[1] = value.pair[1];
  stored.error = value.error;
  return stored;
}

desktop_sim_ax_value ControlFromStored(const StoredValue& stored) {
  desktop_sim_ax_value value{};
  value.kind = stored.kind == StoredKind::kElement || stored.kind == StoredKind::kChildren
                   ? DESKTOP_SIM_AX_OTHER
                   : static_cast<desktop_sim_ax_kind>(stored.kind);
  value.units = reinterpret_cast<const uint16_t*>(stored.text.data());
  value.length = stored.text.size();
  value.boolean = stored.boolean;
  value.number_type = stored.number_type;
  value.number = stored.number;
  value.pair[0] = stored.pair[0];
  value.pair[1] = stored.pair[1];
  value.error = stored.error;
  return value;
}

StoredValue ElementValue(int32_t node) {
  StoredValue stored;
  stored.kind = StoredKind::kElement;
  stored.element = node;
  return stored;
}

StoredValue NoValue() {
  StoredValue stored;
  stored.kind = StoredKind::kError;
  stored.error = kAXErrorNoValue;
  return stored;
}

// Adds name unless the fixture gave the attribute itself.
void AddDerived(AxNode* node, const char* name, const StoredValue& value) {
  if (FindAttribute(*node, name) == nullptr) node->attributes.emplace_back(name, value);
}

void MarkApplication(AxWorld* world, int32_t node, pid_t pid) {
  // Every element reachable from an application's root belongs to it (the first one to reach
  // it, when trees share elements). An explicit stack: fixtures may be deep or cyclic.
  std::vector<int32_t> pending{node};
  std::vector<bool> seen(world->nodes.size(), false);
  while (!pending.empty()) {
    const int32_t current = pending.back();
    pending.pop_back();
    if (seen[current]) continue;
    seen[current] = true;
    if (world->nodes[current].pid == 0) world->nodes[current].pid = pid;
    for (int32_t child : world->nodes[current].children) pending.push_back(child);
  }
}

}  // namespace

void ResetAccessibility() {
  AxState& ax = Ax();
  ax.world = EmptyWorld();
  ax.building.reset();
  ax.latency_us = 0;
  ax.requests.clear();
  ax.requests.shrink_to_fit();
  ax.writes.clear();
  ax.request_count = 0;
  ax.answer_ns = 0;
  ax.messaging_timeout = kDefaultMessagingTimeout;
  ax.hung.clear();
  ax.hang_generation++;
  ax.hang_cv.notify_all();
}

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
  return desktop_sim::Request(
      "AXUIElementCopyAttributeValue", element, desktop_sim::OneName(attribute), value,
      "value pointer", desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string& name) {
        const desktop_sim::StoredValue* stored = desktop_sim::FindAttribute(*target.node, name);
        if (stored == nullptr) return kAXErrorAttributeUnsupported;
        if (stored->kind == desktop_sim::StoredKind::kError) {
          return static_cast<AXError>(stored->error);
        }
        *value = desktop_sim::MakeValue(target.element->world, *target.node, *stored);
        return kAXErrorSuccess;
      });
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
  return desktop_sim::Request(
      "AXUIElementSetAttributeValue", element, desktop_sim::OneName(attribute), value, "value",
      desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string& name) {
        const desktop_sim::StoredValue written = desktop_sim::StoredOf(value);
        Ax().writes.push_back(
            desktop_sim::AxWriteEntry{target.element->pid, target.node->id, name, written});
        if (!desktop_sim::IsSettable(*target.node, name)) return kAXErrorAttributeUnsupported;
        // The application takes the value: later copies read it.
        auto* node = &target.element->world->nodes[target.element->node];
        node->attributes.emplace_back(name, written);
        return kAXErrorSuccess;
      });
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable) {
  return desktop_sim::Request(
      "AXUIElementIsAttributeSettable", element, desktop_sim::OneName(attribute), settable,
      "flag pointer", desktop_sim::Route::kApplication,
      [&](const desktop_sim::Target& target, const std::string& name) {
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
  return desktop_sim::Request(
      "AXUIElementCopyActionNames", element, desktop_sim::NoName(), names, "names pointer",
      desktop_sim::Route::kApplication, [&](const desktop_sim::Target& target, const std::string&) {
        if (target.node->actions_error != 0)
          return static_cast<AXError>(target.node->actions_error);
        __CFArray* array = desktop_sim::NewArray(true);
        for (const std::u16string& action : target.node->actions) {
          __CFString* string = desktop_sim::MakeString(action);
          desktop_sim::TakeOverProgramRef(string);  // the array's, not the caller's
          array->items.push_back(string);
        }
        *names = array;
        return kAXErrorSuccess;
      });
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
  return desktop_sim::Request("AXUIElementGetPid", element, desktop_sim::NoName(), pid,
                              "pid pointer", desktop_sim::Route::kLocal,
                              [&](const desktop_sim::Target& target, const std::string&) {
                                if (target.element->node == desktop_sim::kSystemWideNode)
                                  return kAXErrorIllegalArgument;
                                *pid = target.element->pid;
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
      [&](const desktop_sim::Target& target, const std::string&) {
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
            value = desktop_sim::MakeValue(target.element->world, *target.node, *stored);
          }
          desktop_sim::AdoptIntoArray(array, value);
        }
        *values = array;
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

// --- control surface ---

void desktop_sim_ax_begin(void) {
  Lock lock(S().mu);
  Ax().building = desktop_sim::EmptyWorld();
}

int32_t desktop_sim_ax_add_element(const char* id) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  if (!ax.building) ax.building = desktop_sim::EmptyWorld();
  ax.building->nodes.emplace_back();
  if (id != nullptr) ax.building->nodes.back().id = id;
  return static_cast<int32_t>(ax.building->nodes.size() - 2);
}

bool desktop_sim_ax_set_attribute(int32_t element, const char* name,
                                  const desktop_sim_ax_value* value) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr || name == nullptr || value == nullptr || value->kind < 0 ||
      value->kind > DESKTOP_SIM_AX_NULL) {
    return false;
  }
  node->attributes.emplace_back(name, desktop_sim::StoredFromControl(*value));
  return true;
}

bool desktop_sim_ax_add_settable(int32_t element, const char* name) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr || name == nullptr) return false;
  node->settable.emplace_back(name);
  return true;
}

bool desktop_sim_ax_add_action(int32_t element, const uint16_t* units, size_t length) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr || (units == nullptr && length > 0)) return false;
  node->actions.emplace_back(reinterpret_cast<const char16_t*>(units), length);
  return true;
}

bool desktop_sim_ax_set_actions_error(int32_t element, int32_t error) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr) return false;
  node->actions_error = error;
  return true;
}

bool desktop_sim_ax_add_child(int32_t element, int32_t child) {
  Lock lock(S().mu);
  desktop_sim::AxNode* node = desktop_sim::BuildingNode(element);
  if (node == nullptr || desktop_sim::BuildingNode(child) == nullptr) return false;
  node->children.push_back(child + 1);
  node->has_children = true;
  return true;
}

bool desktop_sim_ax_add_application(int32_t pid, const char* name, const char* bundle_id,
                                    bool running, int32_t root, int32_t focused_element,
                                    int32_t focused_window) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  desktop_sim::AxNode* root_node = desktop_sim::BuildingNode(root);
  if (root_node == nullptr || pid <= 0 || desktop_sim::AppOf(*ax.building, pid) != nullptr) {
    return false;
  }
  if ((focused_element >= 0 && desktop_sim::BuildingNode(focused_element) == nullptr) ||
      (focused_window >= 0 && desktop_sim::BuildingNode(focused_window) == nullptr)) {
    return false;
  }
  ax.building->apps.push_back(desktop_sim::AxApp{pid, name != nullptr, name ? name : "",
                                                 bundle_id != nullptr, bundle_id ? bundle_id : "",
                                                 running, root + 1});
  desktop_sim::AddDerived(root_node, "AXFocusedUIElement",
                          focused_element >= 0 ? desktop_sim::ElementValue(focused_element + 1)
                                               : desktop_sim::NoValue());
  desktop_sim::AddDerived(
      root_node, "AXFocusedWindow",
      focused_window >= 0 ? desktop_sim::ElementValue(focused_window + 1) : desktop_sim::NoValue());
  return true;
}

bool desktop_sim_ax_commit(bool trusted, int32_t focused_pid, int32_t system_focused) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  if (!ax.building) ax.building = desktop_sim::EmptyWorld();
  desktop_sim::AxWorld& world = *ax.building;
  if (system_focused >= 0 && desktop_sim::BuildingNode(system_focused) == nullptr) return false;
  const desktop_sim::AxApp* focused = nullptr;
  if (focused_pid >= 0) {
    focused = desktop_sim::AppOf(world, focused_pid);
    if (focused == nullptr) return false;
  }
  for (const desktop_sim::AxApp& app : world.apps)
    desktop_sim::MarkApplication(&world, app.root, app.pid);
  for (desktop_sim::AxNode& node : world.nodes) {
    if (node.has_children) {
      desktop_sim::StoredValue children;
      children.kind = desktop_sim::StoredKind::kChildren;
      desktop_sim::AddDerived(&node, "AXChildren", children);
    }
  }
  desktop_sim::AxNode& system = world.nodes[desktop_sim::kSystemWideNode];
  system.attributes.emplace_back(
      "AXFocusedApplication",
      focused ? desktop_sim::ElementValue(focused->root) : desktop_sim::NoValue());
  desktop_sim::StoredValue system_focus = desktop_sim::NoValue();
  if (system_focused >= 0) {
    system_focus = desktop_sim::ElementValue(system_focused + 1);
  } else if (focused != nullptr) {
    const desktop_sim::StoredValue* app_focus =
        desktop_sim::FindAttribute(world.nodes[focused->root], "AXFocusedUIElement");
    if (app_focus != nullptr) system_focus = *app_focus;
  }
  system.attributes.emplace_back("AXFocusedUIElement", system_focus);
  ax.world = std::move(ax.building);
  desktop_sim::SetGranted(DESKTOP_SIM_PERMISSION_ACCESSIBILITY, trusted);
  return true;
}

bool desktop_sim_ax_set_batch_error(int32_t pid, int32_t error) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  if (!ax.building) return false;
  for (desktop_sim::AxApp& app : ax.building->apps) {
    if (app.pid == pid) {
      app.batch_error = static_cast<AXError>(error);
      return true;
    }
  }
  return false;
}

void desktop_sim_ax_set_hung(int32_t pid, bool hung, uint64_t answers_first) {
  Lock lock(S().mu);
  desktop_sim::AxState& ax = Ax();
  auto& apps = ax.hung;
  apps.erase(std::remove_if(apps.begin(), apps.end(),
                            [pid](const desktop_sim::HungApp& app) { return app.pid == pid; }),
             apps.end());
  if (hung) apps.push_back(desktop_sim::HungApp{pid, answers_first});
  ax.hang_generation++;
  ax.hang_cv.notify_all();
}

void desktop_sim_ax_set_trusted(bool trusted) {
  desktop_sim_set_permission(DESKTOP_SIM_PERMISSION_ACCESSIBILITY, trusted);
}

bool desktop_sim_ax_trusted(void) {
  return desktop_sim_permission_granted(DESKTOP_SIM_PERMISSION_ACCESSIBILITY);
}

void desktop_sim_ax_set_latency_us(uint32_t microseconds) {
  Lock lock(S().mu);
  Ax().latency_us = microseconds;
}

namespace {

// Hands each entry of a log to the caller, from a copy taken under the lock so the callback may
// call back into the desktop; the record's pointers live until each returns.
template <typename Entry, typename Record, typename MakeRecord>
void ForEachLogged(std::vector<Entry> desktop_sim::AxState::*log,
                   void (*each)(void*, const Record*), void* context, MakeRecord make) {
  if (each == nullptr) return;
  std::vector<Entry> entries;
  {
    Lock lock(S().mu);
    entries = Ax().*log;
  }
  for (const Entry& entry : entries) {
    const Record record = make(entry);
    each(context, &record);
  }
}

}  // namespace

void desktop_sim_ax_requests(void (*each)(void*, const desktop_sim_ax_request*), void* context) {
  ForEachLogged(&desktop_sim::AxState::requests, each, context,
                [](const desktop_sim::AxRequestEntry& entry) {
                  return desktop_sim_ax_request{entry.call,
                                                entry.pid,
                                                entry.element.c_str(),
                                                entry.attribute.c_str(),
                                                entry.result,
                                                static_cast<double>(entry.timeout)};
                });
}

void desktop_sim_ax_writes(void (*each)(void*, const desktop_sim_ax_write*), void* context) {
  ForEachLogged(
      &desktop_sim::AxState::writes, each, context, [](const desktop_sim::AxWriteEntry& entry) {
        return desktop_sim_ax_write{entry.pid, entry.element.c_str(), entry.attribute.c_str(),
                                    desktop_sim::ControlFromStored(entry.value)};
      });
}

void desktop_sim_ax_stats_get(desktop_sim_ax_stats* out) {
  if (out == nullptr) return;
  Lock lock(S().mu);
  out->requests = Ax().request_count;
  out->answer_ns = Ax().answer_ns;
  out->latency_us = Ax().latency_us;
  out->waiting = Ax().waiting;
}

bool desktop_sim_running_application_property(pid_t pid, desktop_sim_app_property property,
                                              char* buffer, size_t capacity, size_t* length) {
  Lock lock(S().mu);
  const desktop_sim::AxApp* app = desktop_sim::AppOf(*Ax().world, pid);
  if (app == nullptr || !app->running) return false;
  const bool present =
      property == DESKTOP_SIM_APP_LOCALIZED_NAME ? app->has_name : app->has_bundle_id;
  if (!present) return false;
  const std::string& text = property == DESKTOP_SIM_APP_LOCALIZED_NAME ? app->name : app->bundle_id;
  if (length != nullptr) *length = text.size();
  if (buffer != nullptr) std::memcpy(buffer, text.data(), std::min(capacity, text.size()));
  return true;
}
