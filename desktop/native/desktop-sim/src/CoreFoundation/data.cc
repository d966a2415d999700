// CFData: immutable byte buffers, and the registry of their byte addresses that UCKeyTranslate
// consults to bound its reads of a layout the desktop knows.
#include "world/values.h"

#include <cstring>
#include <unordered_map>

namespace desktop_sim {
namespace {

// Byte address to length of every live data object. Lock held.
std::unordered_map<const void*, CFIndex>& DataRanges() {
  static auto* ranges = new std::unordered_map<const void*, CFIndex>();
  return *ranges;
}

}  // namespace

__CFData* NewData(const UInt8* bytes, size_t length, bool program_owned) {
  auto* data = new __CFData();
  // Never empty, so that every data object has an address of its own to hand out.
  data->bytes.reserve(length > 0 ? length : 1);
  if (length > 0) data->bytes.assign(bytes, bytes + length);
  InitObject(data, kDataTypeId, program_owned);
  DataRanges()[data->bytes.data()] = static_cast<CFIndex>(length);
  return data;
}

void FreeDataPayload(__CFData* data) {
  DataRanges().erase(data->bytes.data());
}

CFIndex DataLengthAt(const void* bytes) {
  auto found = DataRanges().find(bytes);
  return found == DataRanges().end() ? -1 : found->second;
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::Misuse;
using desktop_sim::RecordMisuse;
using desktop_sim::S;
using desktop_sim::UseAs;

CFTypeID CFDataGetTypeID(void) {
  return desktop_sim::kDataTypeId;
}

CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length) {
  (void)allocator;
  Lock lock(S().mu);
  if (length < 0 || (bytes == nullptr && length > 0)) {
    RecordMisuse(Misuse::kBadArgument, "CFDataCreate", "%ld bytes at %p", static_cast<long>(length),
                 static_cast<const void*>(bytes));
    return nullptr;
  }
  return desktop_sim::NewData(bytes, static_cast<size_t>(length), true);
}

CFIndex CFDataGetLength(CFDataRef theData) {
  Lock lock(S().mu);
  auto* data = UseAs<__CFData>(theData, desktop_sim::kDataTypeId, "CFDataGetLength");
  return data != nullptr ? static_cast<CFIndex>(data->bytes.size()) : 0;
}

const UInt8* CFDataGetBytePtr(CFDataRef theData) {
  Lock lock(S().mu);
  auto* data = UseAs<__CFData>(theData, desktop_sim::kDataTypeId, "CFDataGetBytePtr");
  return data != nullptr ? data->bytes.data() : nullptr;
}
