// Object layouts of arrays, numbers, accessibility values and elements, shared by values.cc
// (their CoreFoundation calls) and the accessibility desktop that hands them out
// (world/applications.cc, HIServices/AXUIElement.cc).
#ifndef DESKTOP_SIM_VALUES_H_
#define DESKTOP_SIM_VALUES_H_

#include "world/internal.h"

#include <memory>
#include <utility>
#include <vector>

namespace desktop_sim {
struct AxWorld;
}  // namespace desktop_sim

struct __CFArray : desktop_sim::Object {
  std::vector<desktop_sim::Object*> items;  // each held by the array (a system reference)
  bool holds_items = true;  // false for an array created without callbacks: items not retained
};

// An immutable dictionary. With the CF-type callbacks its keys and values are CF objects it
// holds (a system reference each, immortal constants aside) and keys compare with CFEqual;
// without callbacks they are plain pointers compared by identity.
struct __CFDictionary : desktop_sim::Object {
  bool cf_keys;
  bool cf_values;
  std::vector<std::pair<const void*, const void*>> entries;
};

// Immutable bytes. Their address stays put for the object's life (CFDataGetBytePtr hands it
// out), so the vector is never resized after creation.
struct __CFData : desktop_sim::Object {
  std::vector<UInt8> bytes;
};

struct __CFNumber : desktop_sim::Object {
  CFNumberType number_type;
  bool is_float;
  int64_t integer;  // the value of an integer type
  double real;      // the value of a floating-point type
};

struct __AXValue : desktop_sim::Object {
  AXValueType value_type;
  union {
    CGPoint point;
    CGSize size;
    CGRect rect;
    CFRange range;
    AXError error;
  } data;
};

// A reference to one element of one accessibility desktop. Every copy hands out a new object,
// as the platform does; CFEqual and CFHash compare the element, not the object. An element of a
// desktop that was replaced (load, reset) answers kAXErrorInvalidUIElement.
struct __AXUIElement : desktop_sim::Object {
  std::shared_ptr<desktop_sim::AxWorld> world;
  int32_t node;  // index into world->nodes; 0 is the system-wide element
  pid_t pid;     // for an application made from a pid that runs nothing: that pid, node -1
  float messaging_timeout = 0;  // seconds; 0: the process-wide timeout applies
};

namespace desktop_sim {

// Program-owned (program_owned) or held by a container (the system) otherwise.
__CFArray* NewArray(bool program_owned);
// Puts a value the program was just handed (a Copy result) into array, which takes it over: the
// array holds it from now on and the program does not.
void AdoptIntoArray(__CFArray* array, CFTypeRef value);
__CFNumber* NewNumber(CFNumberType type, bool is_float, int64_t integer, double real);
__AXValue* NewAxValue(AXValueType type, const void* data);
__AXUIElement* NewElement(std::shared_ptr<AxWorld> world, int32_t node, pid_t pid,
                          bool program_owned);
bool IsFloatNumberType(CFNumberType type);
// A data object holding a copy of the bytes, program-owned or held by the system.
__CFData* NewData(const UInt8* bytes, size_t length, bool program_owned);
// What freeing a data object gives up: its bytes stop being a known layout address (data.cc).
void FreeDataPayload(__CFData* data);
// Gives up the keys and values a dictionary holds (dictionary.cc).
void FreeDictionaryPayload(__CFDictionary* dictionary);

}  // namespace desktop_sim

#endif  // DESKTOP_SIM_VALUES_H_
