// CoreFoundation mach ports: here only as the handle of an event tap.
#ifndef DESKTOP_SIM_CFMACHPORT_H_
#define DESKTOP_SIM_CFMACHPORT_H_

#include <CoreFoundation/CFRunLoop.h>

CF_EXTERN_C_BEGIN

typedef struct __CFMachPort* CFMachPortRef;

CF_EXPORT CFTypeID CFMachPortGetTypeID(void);
CF_EXPORT CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef allocator,
                                                           CFMachPortRef port, CFIndex order);
CF_EXPORT void CFMachPortInvalidate(CFMachPortRef port);
CF_EXPORT Boolean CFMachPortIsValid(CFMachPortRef port);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_CFMACHPORT_H_
