// CFArray, CFNumber and AXValue, and the parts of the object model that arrays, numbers and
// accessibility elements add: what freeing them gives up, and their value equality.
#include "world/values.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace desktop_sim {
namespace {

struct NumberLayout {
  bool valid;
  bool is_float;
  int size;  // bytes behind the value pointer
};

NumberLayout LayoutOf(CFNumberType type) {
  switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
      return {true, false, 1};
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
      return {true, false, 2};
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
      return {true, false, 4};
    case kCFNumberSInt64Type:
    case kCFNumberLongType:
    case kCFNumberLongLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
      return {true, false, 8};
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
      return {true, true, 4};
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
      return {true, true, 8};
  }
  return {false, false, 0};
}

int64_t ReadInteger(const void* p, int size) {
  switch (size) {
    case 1:
      return *static_cast<const int8_t*>(p);
    case 2:
      return *static_cast<const int16_t*>(p);
    case 4:
      return *static_cast<const int32_t*>(p);
    default:
      return *static_cast<const int64_t*>(p);
  }
}

// Writes value into an integer of size bytes; false when it does not fit exactly.
bool WriteInteger(long double value, int size, void* p) {
  const int bits = 8 * size;
  const long double low = -std::ldexp(1.0L, bits - 1);
  const long double high = std::ldexp(1.0L, bits - 1) - 1;
  bool exact = std::trunc(value) == value && value >= low && value <= high;
  if (std::isnan(value)) value = 0;
  if (value < low) value = low;
  if (value > high) value = high;
  const int64_t v = static_cast<int64_t>(value);
  switch (size) {
    case 1:
      *static_cast<int8_t*>(p) = static_cast<int8_t>(v);
      break;
    case 2:
      *static_cast<int16_t*>(p) = static_cast<int16_t>(v);
      break;
    case 4:
      *static_cast<int32_t*>(p) = static_cast<int32_t>(v);
      break;
    default:
      *static_cast<int64_t*>(p) = v;
      break;
  }
  return exact;
}

size_t AxValueSize(AXValueType type) {
  switch (type) {
    case kAXValueTypeCGPoint:
      return sizeof(CGPoint);
    case kAXValueTypeCGSize:
      return sizeof(CGSize);
    case kAXValueTypeCGRect:
      return sizeof(CGRect);
    case kAXValueTypeCFRange:
      return sizeof(CFRange);
    case kAXValueTypeAXError:
      return sizeof(AXError);
    case kAXValueTypeIllegal:
      break;
  }
  return 0;
}

long double NumberAsLongDouble(const __CFNumber* n) {
  return n->is_float ? static_cast<long double>(n->real) : static_cast<long double>(n->integer);
}

}  // namespace

bool IsFloatNumberType(CFNumberType type) {
  return LayoutOf(type).is_float;
}

__CFArray* NewArray(bool program_owned) {
  auto* array = new __CFArray();
  InitObject(array, kArrayTypeId, program_owned);
  return array;
}

void AdoptIntoArray(__CFArray* array, CFTypeRef value) {
  auto* object = static_cast<Object*>(const_cast<void*>(value));
  if (object->immortal) {
    CountGivenUp(object);  // a constant (a boolean, kCFNull) is held without references
  } else {
    TakeOverProgramRef(object);
  }
  array->items.push_back(object);
}

__CFNumber* NewNumber(CFNumberType type, bool is_float, int64_t integer, double real) {
  auto* number = new __CFNumber();
  number->number_type = type;
  number->is_float = is_float;
  number->integer = integer;
  number->real = real;
  InitObject(number, kNumberTypeId, true);
  return number;
}

__AXValue* NewAxValue(AXValueType type, const void* data) {
  auto* value = new __AXValue();
  value->value_type = type;
  std::memset(&value->data, 0, sizeof value->data);
  std::memcpy(&value->data, data, AxValueSize(type));
  InitObject(value, kAxValueTypeId, true);
  return value;
}

__AXUIElement* NewElement(std::shared_ptr<AxWorld> world, int32_t node, pid_t pid,
                          bool program_owned) {
  auto* element = new __AXUIElement();
  element->world = std::move(world);
  element->node = node;
  element->pid = pid;
  InitObject(element, kAxElementTypeId, program_owned);
  return element;
}

void FreeValuePayload(Object* object) {
  switch (object->type) {
    case kArrayTypeId: {
      auto* array = static_cast<__CFArray*>(object);
      std::vector<Object*> items;
      items.swap(array->items);
      if (!array->holds_items) break;
      for (Object* item : items) {
        if (!item->immortal) DropSystemRef(item, "CFRelease (of the array holding it)");
      }
      break;
    }
    case kAxElementTypeId:
      static_cast<__AXUIElement*>(object)->world.reset();
      break;
    case kDictionaryTypeId:
      FreeDictionaryPayload(static_cast<__CFDictionary*>(object));
      break;
    case kDataTypeId:
      FreeDataPayload(static_cast<__CFData*>(object));
      break;
    default:
      break;
  }
}

void DestroyValueObject(Object* object) {
  switch (object->type) {
    case kArrayTypeId:
      delete static_cast<__CFArray*>(object);
      break;
    case kDictionaryTypeId:
      delete static_cast<__CFDictionary*>(object);
      break;
    case kNumberTypeId:
      delete static_cast<__CFNumber*>(object);
      break;
    case kAxValueTypeId:
      delete static_cast<__AXValue*>(object);
      break;
    case kAxElementTypeId:
      delete static_cast<__AXUIElement*>(object);
      break;
    case kDataTypeId:
      delete static_cast<__CFData*>(object);
      break;
    default:
      break;  // the remaining types exist only as immortal statics, or live for the process
  }
}

bool ValuesEqual(const Object* a, const Object* b) {
  switch (a->type) {
    case kNumberTypeId:
      return NumberAsLongDouble(static_cast<const __CFNumber*>(a)) ==
             NumberAsLongDouble(static_cast<const __CFNumber*>(b));
    case kAxValueTypeId: {
      auto* va = static_cast<const __AXValue*>(a);
      auto* vb = static_cast<const __AXValue*>(b);
      return va->value_type == vb->value_type &&
             std::memcmp(&va->data, &vb->data, AxValueSize(va->value_type)) == 0;
    }
    case kAxElementTypeId: {
      auto* ea = static_cast<const __AXUIElement*>(a);
      auto* eb = static_cast<const __AXUIElement*>(b);
      return ea->world == eb->world && ea->node == eb->node && ea->pid == eb->pid;
    }
    case kDataTypeId:
      return static_cast<const __CFData*>(a)->bytes == static_cast<const __CFData*>(b)->bytes;
    default:
      return false;
  }
}

CFHashCode ValueHash(const Object* object) {
  switch (object->type) {
    case kNumberTypeId:
      return std::hash<long double>()(NumberAsLongDouble(static_cast<const __CFNumber*>(object)));
    case kAxElementTypeId: {
      auto* element = static_cast<const __AXUIElement*>(object);
      return std::hash<const void*>()(element->world.get()) * 31 +
             static_cast<CFHashCode>(element->node) * 7919 + static_cast<CFHashCode>(element->pid);
    }
    case kDataTypeId: {
      CFHashCode hash = 1469598103934665603ull;  // FNV-1a over the bytes
      for (UInt8 byte : static_cast<const __CFData*>(object)->bytes) {
        hash = (hash ^ byte) * 1099511628211ull;
      }
      return hash;
    }
    default:
      return std::hash<const void*>()(object);
  }
}

}  // namespace desktop_sim

using desktop_sim::Lock;
using desktop_sim::Misuse;
using desktop_sim::RecordMisuse;
using desktop_sim::S;

CFTypeID CFArrayGetTypeID(void) {
  return desktop_sim::kArrayTypeId;
}

namespace {

// Stand for CFRetain, CFRelease, CFCopyDescription and CFEqual in kCFTypeArrayCallBacks: the
// simulated arrays recognise those callbacks and hold their values themselves, so these only
// give the structure the identity the platform's has (it is not all NULL).
const void* TypeArrayRetain(CFAllocatorRef, const void* value) {
  return value;
}
void TypeArrayRelease(CFAllocatorRef, const void*) {}
CFStringRef TypeArrayCopyDescription(const void*) {
  return nullptr;
}
Boolean TypeArrayEqual(const void* a, const void* b) {
  return a == b;
}

}  // namespace

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, TypeArrayRetain, TypeArrayRelease,
                                                TypeArrayCopyDescription, TypeArrayEqual};

namespace {

bool SameCallBacks(const CFArrayCallBacks& a, const CFArrayCallBacks& b) {
  return a.version == b.version && a.retain == b.retain && a.release == b.release &&
         a.copyDescription == b.copyDescription && a.equal == b.equal;
}

}  // namespace

// The array holds its values with kCFTypeArrayCallBacks (or a copy of them) and leaves them
// alone with NULL callbacks or all-NULL ones; callbacks of the program's own are not run here,
// so they are misuse.
CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void** values, CFIndex numValues,
                         const CFArrayCallBacks* callBacks) {
  (void)allocator;
  Lock lock(S().mu);
  if (numValues < 0 || (numValues > 0 && values == nullptr)) {
    RecordMisuse(Misuse::kBadArgument, "CFArrayCreate", "%ld values at %p",
                 static_cast<long>(numValues), static_cast<const void*>(values));
    return nullptr;
  }
  const CFArrayCallBacks kNone = {0, nullptr, nullptr, nullptr, nullptr};
  const bool holds = callBacks != nullptr && !SameCallBacks(*callBacks, kNone);
  if (holds && !SameCallBacks(*callBacks, kCFTypeArrayCallBacks)) {
    RecordMisuse(Misuse::kBadArgument, "CFArrayCreate",
                 "callbacks other than kCFTypeArrayCallBacks or NULL");
    return nullptr;
  }
  std::vector<desktop_sim::Object*> items;
  items.reserve(static_cast<size_t>(numValues));
  for (CFIndex i = 0; i < numValues; ++i) {
    desktop_sim::Object* item = desktop_sim::Use(values[i], 0, "CFArrayCreate");
    if (item == nullptr) return nullptr;  // recorded; nothing was retained yet
    items.push_back(item);
  }
  __CFArray* array = desktop_sim::NewArray(true);
  array->holds_items = holds;
  for (desktop_sim::Object* item : items) {
    if (array->holds_items && !item->immortal) item->system_refs++;
    array->items.push_back(item);
  }
  return array;
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
  Lock lock(S().mu);
  auto* array =
      desktop_sim::UseAs<__CFArray>(theArray, desktop_sim::kArrayTypeId, "CFArrayGetCount");
  return array ? static_cast<CFIndex>(array->items.size()) : 0;
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
  Lock lock(S().mu);
  auto* array =
      desktop_sim::UseAs<__CFArray>(theArray, desktop_sim::kArrayTypeId, "CFArrayGetValueAtIndex");
  if (array == nullptr) return nullptr;
  if (idx < 0 || static_cast<size_t>(idx) >= array->items.size()) {
    RecordMisuse(Misuse::kBadArgument, "CFArrayGetValueAtIndex",
                 "index %ld outside an array of %zu", static_cast<long>(idx), array->items.size());
    return nullptr;
  }
  return array->items[idx];
}

void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void** values) {
  Lock lock(S().mu);
  auto* array =
      desktop_sim::UseAs<__CFArray>(theArray, desktop_sim::kArrayTypeId, "CFArrayGetValues");
  if (array == nullptr) return;
  const CFIndex count = static_cast<CFIndex>(array->items.size());
  if (range.location < 0 || range.length < 0 || range.location > count ||
      range.length > count - range.location || (range.length > 0 && values == nullptr)) {
    RecordMisuse(Misuse::kBadArgument, "CFArrayGetValues",
                 "range (%ld, %ld) outside an array of %ld, or no buffer",
                 static_cast<long>(range.location), static_cast<long>(range.length),
                 static_cast<long>(count));
    return;
  }
  for (CFIndex i = 0; i < range.length; ++i) values[i] = array->items[range.location + i];
}

CFTypeID CFNumberGetTypeID(void) {
  return desktop_sim::kNumberTypeId;
}

CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void* valuePtr) {
  (void)allocator;
  Lock lock(S().mu);
  const desktop_sim::NumberLayout layout = desktop_sim::LayoutOf(theType);
  if (!layout.valid || valuePtr == nullptr) {
    RecordMisuse(Misuse::kBadArgument, "CFNumberCreate", "type %ld, value at %p",
                 static_cast<long>(theType), valuePtr);
    return nullptr;
  }
  if (layout.is_float) {
    const double real = layout.size == 4 ? *static_cast<const float*>(valuePtr)
                                         : *static_cast<const double*>(valuePtr);
    return desktop_sim::NewNumber(theType, true, 0, real);
  }
  return desktop_sim::NewNumber(theType, false, desktop_sim::ReadInteger(valuePtr, layout.size), 0);
}

CFNumberType CFNumberGetType(CFNumberRef number) {
  Lock lock(S().mu);
  auto* n = desktop_sim::UseAs<__CFNumber>(number, desktop_sim::kNumberTypeId, "CFNumberGetType");
  return n ? n->number_type : static_cast<CFNumberType>(0);
}

CFIndex CFNumberGetByteSize(CFNumberRef number) {
  Lock lock(S().mu);
  auto* n =
      desktop_sim::UseAs<__CFNumber>(number, desktop_sim::kNumberTypeId, "CFNumberGetByteSize");
  if (n == nullptr) return 0;
  const desktop_sim::NumberLayout layout = desktop_sim::LayoutOf(n->number_type);
  return layout.valid ? layout.size : 8;
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
  Lock lock(S().mu);
  auto* n =
      desktop_sim::UseAs<__CFNumber>(number, desktop_sim::kNumberTypeId, "CFNumberIsFloatType");
  return n != nullptr && n->is_float;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  Lock lock(S().mu);
  auto* n = desktop_sim::UseAs<__CFNumber>(number, desktop_sim::kNumberTypeId, "CFNumberGetValue");
  if (n == nullptr) return false;
  const desktop_sim::NumberLayout layout = desktop_sim::LayoutOf(theType);
  if (!layout.valid || valuePtr == nullptr) {
    RecordMisuse(Misuse::kBadArgument, "CFNumberGetValue", "type %ld, target at %p",
                 static_cast<long>(theType), valuePtr);
    return false;
  }
  const long double value = desktop_sim::NumberAsLongDouble(n);
  if (!layout.is_float) return desktop_sim::WriteInteger(value, layout.size, valuePtr);
  if (layout.size == 4) {
    const float f = static_cast<float>(value);
    *static_cast<float*>(valuePtr) = f;
    return static_cast<long double>(f) == value || std::isnan(value);
  }
  const double d = static_cast<double>(value);
  *static_cast<double*>(valuePtr) = d;
  return static_cast<long double>(d) == value || std::isnan(value);
}

CFTypeID AXValueGetTypeID(void) {
  return desktop_sim::kAxValueTypeId;
}

AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr) {
  Lock lock(S().mu);
  if (desktop_sim::AxValueSize(theType) == 0 || valuePtr == nullptr) {
    RecordMisuse(Misuse::kBadArgument, "AXValueCreate", "type %u, value at %p",
                 static_cast<unsigned>(theType), valuePtr);
    return nullptr;
  }
  return desktop_sim::NewAxValue(theType, valuePtr);
}

AXValueType AXValueGetType(AXValueRef value) {
  Lock lock(S().mu);
  auto* v = desktop_sim::UseAs<__AXValue>(value, desktop_sim::kAxValueTypeId, "AXValueGetType");
  return v ? v->value_type : kAXValueTypeIllegal;
}

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr) {
  Lock lock(S().mu);
  auto* v = desktop_sim::UseAs<__AXValue>(value, desktop_sim::kAxValueTypeId, "AXValueGetValue");
  if (v == nullptr) return false;
  if (valuePtr == nullptr) {
    RecordMisuse(Misuse::kNullArgument, "AXValueGetValue", "NULL target");
    return false;
  }
  if (v->value_type != theType) return false;
  std::memcpy(valuePtr, &v->data, desktop_sim::AxValueSize(theType));
  return true;
}
