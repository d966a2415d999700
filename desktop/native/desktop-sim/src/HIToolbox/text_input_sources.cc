// Text input sources: one per keyboard layout of keyboard_layouts.cc, the selected one, and the
// calls that read them. As on macOS the TIS calls belong to the main thread; a call from any
// other thread still answers but is recorded as misuse, since current macOS traps there.
#include <HIToolbox/HIToolbox.h>

#include <vector>

#include "world/keyboard_layouts.h"
#include "world/values.h"

// A text input source. The system holds each one for the life of the process, as the text input
// system keeps its sources; a Copy call adds a program reference, which the program gives back
// with CFRelease. Its properties are held by the source and lent out.
struct __TISInputSource : desktop_sim::Object {
  size_t layout;
  __CFString* id;
  __CFString* name;
  __CFData* layout_data;
};

namespace desktop_sim {
namespace {

struct InputSources {
  std::vector<__TISInputSource*> sources;  // one per layout, made on first use
  size_t selected = kUsLayout;
};

// Lock held.
InputSources& Tis() {
  static auto* state = new InputSources();
  return *state;
}

// A string the system holds (a source's property).
__CFString* SystemString(const char* utf8) {
  __CFString* string = MakeString(Utf16FromUtf8(utf8));
  TakeOverProgramRef(string);
  return string;
}

// Lock held.
void MakeSources() {
  InputSources& tis = Tis();
  if (!tis.sources.empty()) return;
  for (size_t layout = 0; layout < KeyboardLayoutCount(); ++layout) {
    auto* source = new __TISInputSource();
    InitObject(source, kTisTypeId, false);
    source->layout = layout;
    source->id = SystemString(KeyboardLayoutId(layout));
    source->name = SystemString(KeyboardLayoutName(layout));
    const std::vector<uint8_t> uchr = BuildUchr(layout);
    source->layout_data = NewData(uchr.data(), uchr.size(), false);
    tis.sources.push_back(source);
  }
}

// Lock held. Records a call off the main thread; the call still answers.
void CheckMainThread(const char* function) {
  if (OnMainThread()) return;
  RecordMisuse(Misuse::kWrongThread, function,
               "called off the main thread: the Text Input Sources API is main-thread only "
               "(current macOS traps in dispatch_assert_queue)");
}

TISInputSourceRef CopySelected(const char* function) {
  Lock lock(S().mu);
  CheckMainThread(function);
  MakeSources();
  __TISInputSource* source = Tis().sources[Tis().selected];
  AddProgramRef(source);
  return source;
}

bool SameText(const __CFString* string, const __CFString* other) {
  return string->length == other->length &&
         std::equal(string->units, string->units + string->length, other->units);
}

}  // namespace

void ResetKeyboardLayouts() {
  Tis().selected = kUsLayout;
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::S;

const CFStringRef kTISPropertyInputSourceID = CFSTR("TISPropertyInputSourceID");
const CFStringRef kTISPropertyLocalizedName = CFSTR("TISPropertyLocalizedName");
const CFStringRef kTISPropertyUnicodeKeyLayoutData = CFSTR("TISPropertyUnicodeKeyLayoutData");

CFTypeID TISInputSourceGetTypeID(void) {
  return desktop_sim::kTisTypeId;
}

TISInputSourceRef TISCopyCurrentKeyboardInputSource(void) {
  return desktop_sim::CopySelected("TISCopyCurrentKeyboardInputSource");
}

TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void) {
  return desktop_sim::CopySelected("TISCopyCurrentKeyboardLayoutInputSource");
}

TISInputSourceRef TISCopyCurrentASCIICapableKeyboardInputSource(void) {
  return desktop_sim::CopySelected("TISCopyCurrentASCIICapableKeyboardInputSource");
}

TISInputSourceRef TISCopyCurrentASCIICapableKeyboardLayoutInputSource(void) {
  return desktop_sim::CopySelected("TISCopyCurrentASCIICapableKeyboardLayoutInputSource");
}

void* TISGetInputSourceProperty(TISInputSourceRef inputSource, CFStringRef propertyKey) {
  Lock lock(S().mu);
  desktop_sim::CheckMainThread("TISGetInputSourceProperty");
  auto* source = desktop_sim::UseAs<__TISInputSource>(inputSource, desktop_sim::kTisTypeId,
                                                      "TISGetInputSourceProperty");
  if (source == nullptr) return nullptr;
  struct Property {
    CFStringRef key;
    void* value;
  };
  const Property properties[] = {
      {kTISPropertyInputSourceID, source->id},
      {kTISPropertyLocalizedName, source->name},
      {kTISPropertyUnicodeKeyLayoutData, source->layout_data},
  };
  // The constants (what callers pass) are known strings; any other string names a key by its
  // content.
  for (const Property& property : properties) {
    if (propertyKey == property.key) return property.value;
  }
  auto* key = desktop_sim::UseAs<__CFString>(propertyKey, desktop_sim::kStringTypeId,
                                             "TISGetInputSourceProperty");
  if (key == nullptr) return nullptr;
  for (const Property& property : properties) {
    if (desktop_sim::SameText(key, property.key)) return property.value;
  }
  return nullptr;  // a property these sources do not have
}

UInt8 LMGetKbdType(void) {
  return 40;  // gestaltThirdPartyANSIKbd
}

bool desktop_sim_set_keyboard_layout(const char* id) {
  if (id == nullptr) return false;
  Lock lock(S().mu);
  const size_t layout = desktop_sim::KeyboardLayoutNamed(id);
  if (layout == desktop_sim::KeyboardLayoutCount()) return false;
  desktop_sim::Tis().selected = layout;
  return true;
}

const char* desktop_sim_keyboard_layout(void) {
  Lock lock(S().mu);
  return desktop_sim::KeyboardLayoutId(desktop_sim::Tis().selected);
}

size_t desktop_sim_keyboard_layout_count(void) {
  return desktop_sim::KeyboardLayoutCount();
}

const char* desktop_sim_keyboard_layout_id(size_t index) {
  return index < desktop_sim::KeyboardLayoutCount() ? desktop_sim::KeyboardLayoutId(index)
                                                    : nullptr;
}
