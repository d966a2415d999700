// CoreFoundation data: immutable byte buffers. The simulated system hands out keyboard layout
// data this way; programs may make their own.
#ifndef DESKTOP_SIM_CFDATA_H_
#define DESKTOP_SIM_CFDATA_H_

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef const struct __CFData* CFDataRef;
typedef struct __CFData* CFMutableDataRef;

CF_EXPORT CFTypeID CFDataGetTypeID(void);
// Copies length bytes; NULL bytes with a length above 0, or a negative length, is misuse.
CF_EXPORT CFDataRef CFDataCreate(CFAllocatorRef allocator, const UInt8* bytes, CFIndex length);
CF_EXPORT CFIndex CFDataGetLength(CFDataRef theData);
// Points into the data object: valid while the object lives, never to be written through.
CF_EXPORT const UInt8* CFDataGetBytePtr(CFDataRef theData);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_CFDATA_H_
