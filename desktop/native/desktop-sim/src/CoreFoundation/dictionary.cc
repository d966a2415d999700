// CFDictionary, immutable: what a caller needs to hand the system an options dictionary.
// The CF-type callbacks retain keys and values and compare keys with CFEqual; NULL callbacks
// keep plain pointers. Any other callbacks are code the simulation does not run, so they are
// refused loudly rather than half honoured.
#include "world/values.h"

namespace desktop_sim {
namespace {

// The stand-in's own callbacks are never called: the dictionary recognises these two
// structures by address and does the retaining and comparing itself, under the desktop's lock.
const void* RetainCallBack(CFAllocatorRef, const void* value) {
  return value;
}
void ReleaseCallBack(CFAllocatorRef, const void*) {}

// Lock held. The dictionary's hold on a live key or value, as the CF-type callbacks take it.
void Hold(const void* ref) {
  auto* object = static_cast<Object*>(const_cast<void*>(ref));
  if (!object->immortal) object->system_refs++;
}

void LetGo(const void* ref, const char* function) {
  auto* object = static_cast<Object*>(const_cast<void*>(ref));
  if (!object->immortal) DropSystemRef(object, function);
}

using Entry = std::pair<const void*, const void*>;

const Entry* FindEntry(const __CFDictionary* dictionary, const void* key) {
  const Object* wanted = nullptr;
  if (dictionary->cf_keys) {
    wanted = Use(key, 0, "CFDictionaryGetValue (key)");
    if (wanted == nullptr) return nullptr;
  }
  for (const Entry& entry : dictionary->entries) {
    if (entry.first == key) return &entry;
    if (wanted != nullptr && ObjectsEqual(static_cast<const Object*>(entry.first), wanted)) {
      return &entry;
    }
  }
  return nullptr;
}

}  // namespace

void FreeDictionaryPayload(__CFDictionary* dictionary) {
  std::vector<Entry> entries;
  entries.swap(dictionary->entries);
  for (const Entry& entry : entries) {
    if (dictionary->cf_keys) LetGo(entry.first, "CFRelease (of the dictionary holding it)");
    if (dictionary->cf_values) LetGo(entry.second, "CFRelease (of the dictionary holding it)");
  }
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::Misuse;
using desktop_sim::RecordMisuse;
using desktop_sim::S;

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0, desktop_sim::RetainCallBack, desktop_sim::ReleaseCallBack, nullptr, nullptr, nullptr};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {
    0, desktop_sim::RetainCallBack, desktop_sim::ReleaseCallBack, nullptr, nullptr};

CFTypeID CFDictionaryGetTypeID(void) {
  return desktop_sim::kDictionaryTypeId;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef /*allocator*/, const void** keys,
                                   const void** values, CFIndex numValues,
                                   const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
  Lock lock(S().mu);
  if ((keyCallBacks != nullptr && keyCallBacks != &kCFTypeDictionaryKeyCallBacks) ||
      (valueCallBacks != nullptr && valueCallBacks != &kCFTypeDictionaryValueCallBacks)) {
    RecordMisuse(Misuse::kBadArgument, "CFDictionaryCreate",
                 "callbacks other than kCFTypeDictionaryKeyCallBacks, "
                 "kCFTypeDictionaryValueCallBacks or NULL are not modelled");
    return nullptr;
  }
  if (numValues < 0 || (numValues > 0 && (keys == nullptr || values == nullptr))) {
    RecordMisuse(Misuse::kBadArgument, "CFDictionaryCreate", "%ld pairs from keys %p and values %p",
                 static_cast<long>(numValues), static_cast<const void*>(keys),
                 static_cast<const void*>(values));
    return nullptr;
  }
  const bool cf_keys = keyCallBacks != nullptr;
  const bool cf_values = valueCallBacks != nullptr;
  // Every key and value is checked before anything is retained, so a refusal holds nothing.
  for (CFIndex i = 0; i < numValues; ++i) {
    if ((cf_keys && desktop_sim::Use(keys[i], 0, "CFDictionaryCreate (key)") == nullptr) ||
        (cf_values && desktop_sim::Use(values[i], 0, "CFDictionaryCreate (value)") == nullptr)) {
      return nullptr;
    }
  }
  auto* dictionary = new __CFDictionary();
  dictionary->cf_keys = cf_keys;
  dictionary->cf_values = cf_values;
  desktop_sim::InitObject(dictionary, desktop_sim::kDictionaryTypeId, true);
  for (CFIndex i = 0; i < numValues; ++i) {
    // A repeated key keeps its first value, as CFDictionaryCreate does.
    if (desktop_sim::FindEntry(dictionary, keys[i]) != nullptr) continue;
    if (cf_keys) desktop_sim::Hold(keys[i]);
    if (cf_values) desktop_sim::Hold(values[i]);
    dictionary->entries.emplace_back(keys[i], values[i]);
  }
  return dictionary;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) {
  Lock lock(S().mu);
  auto* dictionary = desktop_sim::UseAs<__CFDictionary>(theDict, desktop_sim::kDictionaryTypeId,
                                                        "CFDictionaryGetCount");
  return dictionary ? static_cast<CFIndex>(dictionary->entries.size()) : 0;
}

const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key) {
  Lock lock(S().mu);
  auto* dictionary = desktop_sim::UseAs<__CFDictionary>(theDict, desktop_sim::kDictionaryTypeId,
                                                        "CFDictionaryGetValue");
  const desktop_sim::Entry* entry = dictionary ? desktop_sim::FindEntry(dictionary, key) : nullptr;
  return entry ? entry->second : nullptr;
}
