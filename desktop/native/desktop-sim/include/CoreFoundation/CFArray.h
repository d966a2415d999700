// CoreFoundation arrays, read access only: the simulated system makes the arrays it hands out.
#ifndef DESKTOP_SIM_CFARRAY_H_
#define DESKTOP_SIM_CFARRAY_H_

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef const struct __CFArray* CFArrayRef;
typedef struct __CFArray* CFMutableArrayRef;

CF_EXPORT CFTypeID CFArrayGetTypeID(void);
CF_EXPORT CFIndex CFArrayGetCount(CFArrayRef theArray);
// Borrowed: the value stays the array's, and lives as long as the array.
CF_EXPORT const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_CFARRAY_H_
