// CoreFoundation time types (the run loop takes its timeouts in these).
#ifndef DESKTOP_SIM_CFDATE_H_
#define DESKTOP_SIM_CFDATE_H_

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef double CFTimeInterval;
typedef CFTimeInterval CFAbsoluteTime;

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_CFDATE_H_
