// CoreFoundation booleans (numbers come with the accessibility layer).
#ifndef DESKTOP_SIM_CFNUMBER_H_
#define DESKTOP_SIM_CFNUMBER_H_

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef const struct __CFBoolean* CFBooleanRef;

CF_EXPORT const CFBooleanRef kCFBooleanTrue;
CF_EXPORT const CFBooleanRef kCFBooleanFalse;

CF_EXPORT CFTypeID CFBooleanGetTypeID(void);
CF_EXPORT Boolean CFBooleanGetValue(CFBooleanRef boolean);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_CFNUMBER_H_
