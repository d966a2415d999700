// CoreFoundation base: scalar types, the enum macros and the polymorphic reference calls.
#ifndef DESKTOP_SIM_CFBASE_H_
#define DESKTOP_SIM_CFBASE_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include <MacTypes.h>

#ifdef __cplusplus
#define CF_EXTERN_C_BEGIN extern "C" {
#define CF_EXTERN_C_END }
#else
#define CF_EXTERN_C_BEGIN
#define CF_EXTERN_C_END
#endif

#define CF_EXPORT extern __attribute__((visibility("default")))
#define CF_INLINE static inline

// CF_ENUM takes one argument or two, as the platform's does. With two, written after typedef, it
// names an enum type: in C++ a distinct enum type with a fixed underlying type, so code that
// passes an int where the enum is expected does not compile here either. With one it declares
// anonymous constants over the integer type. CF_OPTIONS names a plain integer typedef, and its
// constants are an anonymous enum over that typedef.
//
// The platform's C++ form of the named enum opens with an opaque declaration that the typedef
// names ("enum N : T N;"); GCC rejects an enum base in that position, so here the typedef
// declares an unused integer instead. Either way the definition that follows gives the enum
// type its name.
#define DESKTOP_SIM_CF_ENUM_FORM(_1, _2, form, ...) form
#define CF_ENUM(...)                                                                           \
  DESKTOP_SIM_CF_ENUM_FORM(__VA_ARGS__, DESKTOP_SIM_CF_NAMED_ENUM, DESKTOP_SIM_CF_ANON_ENUM, ) \
  (__VA_ARGS__)
#ifdef __cplusplus
#define DESKTOP_SIM_CF_NAMED_ENUM(_type, _name) \
  _type __CF_ENUM_##_name;                      \
  enum _name : _type
#define DESKTOP_SIM_CF_ANON_ENUM(_type) enum : _type
#define CF_OPTIONS(_type, _name) \
  _type _name;                   \
  enum : _name
#else
#define DESKTOP_SIM_CF_NAMED_ENUM(_type, _name) \
  _type _name;                                  \
  enum _name
#define DESKTOP_SIM_CF_ANON_ENUM(_type) enum
#define CF_OPTIONS(_type, _name) \
  _type _name;                   \
  enum
#endif

CF_EXTERN_C_BEGIN

typedef signed long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFHashCode;

typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef struct __CFString* CFMutableStringRef;
typedef const struct __CFAllocator* CFAllocatorRef;

typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;

CF_INLINE CFRange CFRangeMake(CFIndex loc, CFIndex len) {
  CFRange range;
  range.location = loc;
  range.length = len;
  return range;
}

typedef CF_ENUM(CFIndex, CFComparisonResult) {
  kCFCompareLessThan = -1,
  kCFCompareEqualTo = 0,
  kCFCompareGreaterThan = 1,
};

static const CFIndex kCFNotFound = -1;

// An immortal allocator object: passing it or NULL selects the default allocator.
CF_EXPORT const CFAllocatorRef kCFAllocatorDefault;

// The null value: one immortal instance, which collections and accessibility answers use where
// a value has to stand but there is none.
typedef const struct __CFNull* CFNullRef;
CF_EXPORT CFTypeID CFNullGetTypeID(void);
CF_EXPORT const CFNullRef kCFNull;

CF_EXPORT CFTypeID CFGetTypeID(CFTypeRef cf);
CF_EXPORT CFTypeRef CFRetain(CFTypeRef cf);
CF_EXPORT void CFRelease(CFTypeRef cf);
CF_EXPORT Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
// Objects that CFEqual calls equal have the same hash.
CF_EXPORT CFHashCode CFHash(CFTypeRef cf);
CF_EXPORT CFIndex CFGetRetainCount(CFTypeRef cf);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_CFBASE_H_
