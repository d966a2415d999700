// The object ledger: registration, retain and release, the quarantine that turns use after free
// into a recorded misuse, and the misuse log itself.
#include "world/internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace desktop_sim {

__CFAllocator g_default_allocator = {{kAllocatorTypeId, true, false, 0, 0, nullptr}};
__CFBoolean g_true = {{kBooleanTypeId, true, false, 0, 0, nullptr}, true};
__CFBoolean g_false = {{kBooleanTypeId, true, false, 0, 0, nullptr}, false};
__CFNull g_null = {{kNullTypeId, true, false, 0, 0, nullptr}};
__CFString g_default_mode = {
    {kStringTypeId, true, false, 0, 0, nullptr}, u"kCFRunLoopDefaultMode", 21, false};
__CFString g_common_modes = {
    {kStringTypeId, true, false, 0, 0, nullptr}, u"kCFRunLoopCommonModes", 21, false};
__CFString g_trusted_check_prompt = {
    {kStringTypeId, true, false, 0, 0, nullptr}, u"AXTrustedCheckOptionPrompt", 26, false};

namespace {

struct TypeNameRow {
  CFTypeID type;
  const char* name;
};

constexpr TypeNameRow kTypeNames[] = {
    {kAllocatorTypeId, "CFAllocator"}, {kStringTypeId, "CFString"},
    {kBooleanTypeId, "CFBoolean"},     {kMachPortTypeId, "CFMachPort"},
    {kRunLoopTypeId, "CFRunLoop"},     {kRunLoopSourceTypeId, "CFRunLoopSource"},
    {kEventTypeId, "CGEvent"},         {kArrayTypeId, "CFArray"},
    {kNumberTypeId, "CFNumber"},       {kAxElementTypeId, "AXUIElement"},
    {kAxValueTypeId, "AXValue"},       {kDictionaryTypeId, "CFDictionary"},
    {kNullTypeId, "CFNull"},           {kDataTypeId, "CFData"},
    {kTisTypeId, "TISInputSource"},
};

bool EnvFlag(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

void DestroyObject(Object* object) {
  switch (object->type) {
    case kStringTypeId:
      delete static_cast<__CFString*>(object);
      break;
    case kRunLoopTypeId:
      delete static_cast<__CFRunLoop*>(object);
      break;
    case kRunLoopSourceTypeId:
      delete static_cast<__CFRunLoopSource*>(object);
      break;
    case kMachPortTypeId:
      delete static_cast<__CFMachPort*>(object);
      break;
    case kEventTypeId:
      delete static_cast<__CGEvent*>(object);
      break;
    default:
      DestroyValueObject(object);  // arrays, numbers, accessibility objects; statics stay
      break;
  }
}

// Releases what the object holds, then keeps its memory as a tombstone for a while so that a
// later call with the same pointer is recognised as use after free and its address is not
// handed to a new object meanwhile.
void Free(Object* object, const char* function, bool by_program) {
  switch (object->type) {
    case kRunLoopTypeId:
      TeardownRunLoop(static_cast<__CFRunLoop*>(object));
      break;
    case kRunLoopSourceTypeId:
      TeardownSource(static_cast<__CFRunLoopSource*>(object));
      break;
    case kMachPortTypeId:
      TeardownPort(static_cast<__CFMachPort*>(object));
      break;
    case kEventTypeId:
      FreeEventPayload(static_cast<__CGEvent*>(object));
      break;
    case kStringTypeId: {
      auto* string = static_cast<__CFString*>(object);
      if (string->owns_units) delete[] string->units;
      string->units = nullptr;
      string->length = 0;
      break;
    }
    default:
      FreeValuePayload(object);
      break;
  }
  State& s = S();
  object->freed = true;
  object->freed_by = function;
  s.live_objects--;
  const bool system_event = object->type == kEventTypeId && !by_program;
  std::deque<Object*>& pool = system_event ? s.event_quarantine : s.quarantine;
  const size_t bound = system_event ? kQuarantineSystemEvents : kQuarantineObjects;
  pool.push_back(object);
  while (pool.size() > bound) {
    Object* oldest = pool.front();
    pool.pop_front();
    s.objects.erase(oldest);
    DestroyObject(oldest);
  }
}

void MaybeFree(Object* object, const char* function, bool by_program) {
  if (object->program_refs == 0 && object->system_refs == 0) Free(object, function, by_program);
}

const char* MisuseKindHint(Misuse kind) {
  switch (kind) {
    case Misuse::kOverRelease:
      return "a borrowed reference (CFRunLoopGetCurrent, an event handed to a tap callback) is "
             "not the caller's to release";
    default:
      return nullptr;
  }
}

}  // namespace

State::State() {
  quiet = EnvFlag("DESKTOP_SIM_QUIET");
  abort_on_misuse = EnvFlag("DESKTOP_SIM_ABORT_ON_MISUSE");
  objects.reserve(4096);
  for (Object* immortal :
       std::initializer_list<Object*>{&g_default_allocator, &g_true, &g_false, &g_null,
                                      &g_default_mode, &g_common_modes, &g_trusted_check_prompt}) {
    objects.emplace(immortal, immortal);
  }
  constant_strings.emplace("kCFRunLoopDefaultMode", &g_default_mode);
  constant_strings.emplace("kCFRunLoopCommonModes", &g_common_modes);
  constant_strings.emplace("AXTrustedCheckOptionPrompt", &g_trusted_check_prompt);
}

State& S() {
  static State* state = new State();
  return *state;
}

const char* TypeName(CFTypeID type) {
  for (const TypeNameRow& row : kTypeNames) {
    if (row.type == type) return row.name;
  }
  return "unknown type";
}

void RecordMisuse(Misuse kind, const char* function, const char* format, ...) {
  State& s = S();
  char detail[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(detail, sizeof detail, format, args);
  va_end(args);
  std::string text = std::string(function) + ": " + detail;
  s.misuse_total++;
  s.misuse_log.push_back(text);
  while (s.misuse_log.size() > kMisuseLogEntries) s.misuse_log.pop_front();
  bool& printed = s.misuse_printed[static_cast<int>(kind)];
  if (!s.quiet && !printed) {
    const char* hint = MisuseKindHint(kind);
    std::fprintf(stderr, "desktop-sim: misuse: %s%s%s\n", text.c_str(), hint ? "; " : "",
                 hint ? hint : "");
    if (!s.misuse_explained) {
      std::fprintf(stderr,
                   "desktop-sim: (each kind of misuse is printed once; all are counted and "
                   "logged; DESKTOP_SIM_ABORT_ON_MISUSE=1 aborts at the first, "
                   "DESKTOP_SIM_QUIET=1 prints none)\n");
      s.misuse_explained = true;
    }
  }
  printed = true;
  if (s.abort_on_misuse) {
    std::fprintf(stderr, "desktop-sim: aborting at misuse: %s\n", text.c_str());
    std::abort();
  }
}

Object* Use(const void* ref, CFTypeID expected, const char* function) {
  State& s = S();
  if (ref == nullptr) {
    RecordMisuse(Misuse::kNullArgument, function, "NULL passed where a %s is required",
                 expected ? TypeName(expected) : "CF object");
    return nullptr;
  }
  auto found = s.objects.find(ref);
  if (found == s.objects.end()) {
    RecordMisuse(Misuse::kUnknownObject, function,
                 "%p is no object of this desktop (never made by it, or freed so long ago "
                 "that it left the quarantine)",
                 ref);
    return nullptr;
  }
  Object* object = found->second;
  if (object->freed) {
    RecordMisuse(Misuse::kUseAfterFree, function, "%p (%s) was freed by %s", ref,
                 TypeName(object->type), object->freed_by);
    return nullptr;
  }
  if (expected != 0 && object->type != expected) {
    RecordMisuse(Misuse::kWrongType, function, "%p is a %s, not a %s", ref, TypeName(object->type),
                 TypeName(expected));
    return nullptr;
  }
  return object;
}

void Register(Object* object) {
  State& s = S();
  s.objects[object] = object;
  s.live_objects++;
}

void CountAcquired(Object* object) {
  State& s = S();
  if (object->epoch != s.epoch) {
    object->epoch = s.epoch;
    object->epoch_refs = 0;
  }
  object->epoch_refs++;
  s.live_refs++;
}

// A reference given up counts against those taken since the reset, if any are left; giving up
// one taken before the reset does not move the ledger.
void CountGivenUp(Object* object) {
  State& s = S();
  if (object->epoch == s.epoch && object->epoch_refs > 0) {
    object->epoch_refs--;
    s.live_refs--;
  }
}

void InitObject(Object* object, CFTypeID type, bool program_owned) {
  object->type = type;
  object->immortal = false;
  object->freed = false;
  object->program_refs = program_owned ? 1 : 0;
  object->system_refs = program_owned ? 0 : 1;
  object->freed_by = nullptr;
  object->epoch = 0;
  object->epoch_refs = 0;
  if (program_owned) CountAcquired(object);
  Register(object);
}

void AddProgramRef(Object* object) {
  if (object->immortal) return;
  object->program_refs++;
  CountAcquired(object);
}

void TakeOverProgramRef(Object* object) {
  object->program_refs--;
  object->system_refs++;
  CountGivenUp(object);
}

void DropSystemRef(Object* object, const char* function) {
  object->system_refs--;
  MaybeFree(object, function, false);
}

void DropProgramRef(Object* object, const char* function) {
  object->program_refs--;
  CountGivenUp(object);
  MaybeFree(object, function, true);
}

bool ObjectsEqual(const Object* a, const Object* b) {
  if (a == b) return true;
  if (a->type != b->type) return false;
  if (a->type != kStringTypeId) return ValuesEqual(a, b);
  auto* sa = static_cast<const __CFString*>(a);
  auto* sb = static_cast<const __CFString*>(b);
  return sa->length == sb->length &&
         std::memcmp(sa->units, sb->units, sizeof(char16_t) * sa->length) == 0;
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::Misuse;
using desktop_sim::Object;
using desktop_sim::RecordMisuse;
using desktop_sim::S;

const CFAllocatorRef kCFAllocatorDefault = &desktop_sim::g_default_allocator;
const CFBooleanRef kCFBooleanTrue = &desktop_sim::g_true;
const CFBooleanRef kCFBooleanFalse = &desktop_sim::g_false;
const CFNullRef kCFNull = &desktop_sim::g_null;

CFTypeRef CFRetain(CFTypeRef cf) {
  Lock lock(S().mu);
  if (cf == nullptr) {
    RecordMisuse(Misuse::kRetainNull, "CFRetain", "NULL passed");
    return nullptr;
  }
  auto found = S().objects.find(cf);
  if (found != S().objects.end() && found->second->freed) {
    RecordMisuse(Misuse::kRetainFreed, "CFRetain", "%p (%s) was already freed by %s", cf,
                 desktop_sim::TypeName(found->second->type), found->second->freed_by);
    return cf;
  }
  Object* object = desktop_sim::Use(cf, 0, "CFRetain");
  if (object != nullptr) desktop_sim::AddProgramRef(object);
  return cf;
}

void CFRelease(CFTypeRef cf) {
  Lock lock(S().mu);
  if (cf == nullptr) {
    RecordMisuse(Misuse::kReleaseNull, "CFRelease", "NULL passed (CFRelease requires an object)");
    return;
  }
  auto found = S().objects.find(cf);
  if (found != S().objects.end() && found->second->freed) {
    RecordMisuse(Misuse::kReleaseFreed, "CFRelease", "%p (%s) was already freed by %s", cf,
                 desktop_sim::TypeName(found->second->type), found->second->freed_by);
    return;
  }
  Object* object = desktop_sim::Use(cf, 0, "CFRelease");
  if (object == nullptr) return;
  if (object->immortal) {
    desktop_sim::CountGivenUp(object);  // a constant handed out by a Copy call, if any
    return;
  }
  if (object->program_refs == 0) {
    // Freeing it would pull it from under the system (a thread still runs that loop).
    RecordMisuse(Misuse::kOverRelease, "CFRelease",
                 "over-release of %p (%s): the program holds no reference to it", cf,
                 desktop_sim::TypeName(object->type));
    return;
  }
  desktop_sim::DropProgramRef(object, "CFRelease");
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
  Lock lock(S().mu);
  Object* object = desktop_sim::Use(cf, 0, "CFGetTypeID");
  return object ? object->type : 0;
}

CFIndex CFGetRetainCount(CFTypeRef cf) {
  Lock lock(S().mu);
  Object* object = desktop_sim::Use(cf, 0, "CFGetRetainCount");
  if (object == nullptr) return 0;
  if (object->immortal) return INT32_MAX;
  return static_cast<CFIndex>(object->program_refs + object->system_refs);
}

Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
  Lock lock(S().mu);
  Object* a = desktop_sim::Use(cf1, 0, "CFEqual");
  Object* b = desktop_sim::Use(cf2, 0, "CFEqual");
  if (a == nullptr || b == nullptr) return false;
  return desktop_sim::ObjectsEqual(a, b);
}

CFHashCode CFHash(CFTypeRef cf) {
  Lock lock(S().mu);
  Object* object = desktop_sim::Use(cf, 0, "CFHash");
  if (object == nullptr) return 0;
  if (object->type == desktop_sim::kStringTypeId) {
    auto* string = static_cast<__CFString*>(object);
    CFHashCode hash = 1469598103934665603ull;  // FNV-1a over the UTF-16 units
    for (CFIndex i = 0; i < string->length; ++i)
      hash = (hash ^ string->units[i]) * 1099511628211ull;
    return hash;
  }
  return desktop_sim::ValueHash(object);
}

CFTypeID CFNullGetTypeID(void) {
  return desktop_sim::kNullTypeId;
}

CFTypeID CFBooleanGetTypeID(void) {
  return desktop_sim::kBooleanTypeId;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
  Lock lock(S().mu);
  auto* object =
      desktop_sim::UseAs<__CFBoolean>(boolean, desktop_sim::kBooleanTypeId, "CFBooleanGetValue");
  return object != nullptr && object->value;
}
