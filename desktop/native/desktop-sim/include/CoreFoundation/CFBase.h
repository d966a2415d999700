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

// In C++ a named CF_ENUM is a distinct enum type with a fixed underlying type, while CF_OPTIONS
// is a plain integer typedef with anonymous constants. Code that passes an int where the enum is
// expected must not compile here either. The dummy int keeps "typedef CF_ENUM(...)" well formed.
#ifdef __cplusplus
#define CF_ENUM(_type, _name) \
  int __CF_ENUM_##_name;      \
  enum _name : _type
#define CF_OPTIONS(_type, _name) \
  _type _name;                   \
  enum : _type
#else
#define CF_ENUM(_type, _name) \
  _type _name;                \
  enum _name
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
