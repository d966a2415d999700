// CoreFoundation arrays: immutable ones a program creates from CF objects, and read access to
// those and to the arrays the simulated system hands out.
#ifndef DESKTOP_SIM_CFARRAY_H_
#define DESKTOP_SIM_CFARRAY_H_

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef const struct __CFArray* CFArrayRef;
typedef struct __CFArray* CFMutableArrayRef;

typedef const void* (*CFArrayRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFArrayReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFArrayCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFArrayEqualCallBack)(const void* value1, const void* value2);
typedef struct {
  CFIndex version;
  CFArrayRetainCallBack retain;
  CFArrayReleaseCallBack release;
  CFArrayCopyDescriptionCallBack copyDescription;
  CFArrayEqualCallBack equal;
} CFArrayCallBacks;

// The callbacks for arrays of CF objects: the array retains its values and releases them with
// itself. The only callbacks the simulated arrays take, besides NULL (values not retained).
CF_EXPORT const CFArrayCallBacks kCFTypeArrayCallBacks;

CF_EXPORT CFTypeID CFArrayGetTypeID(void);
CF_EXPORT CFArrayRef CFArrayCreate(CFAllocatorRef allocator, const void** values, CFIndex numValues,
                                   const CFArrayCallBacks* callBacks);
CF_EXPORT CFIndex CFArrayGetCount(CFArrayRef theArray);
// Borrowed: the value stays the array's, and lives as long as the array.
CF_EXPORT const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);
// The values in range, borrowed like those of CFArrayGetValueAtIndex, into values.
CF_EXPORT void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void** values);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_CFARRAY_H_
