// Umbrella header of the simulated ApplicationServices: CoreFoundation and CoreGraphics.
// The accessibility declarations (HIServices) join here when the simulated desktop models them.
#ifndef DESKTOP_SIM_APPLICATIONSERVICES_H_
#define DESKTOP_SIM_APPLICATIONSERVICES_H_

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

#endif  // DESKTOP_SIM_APPLICATIONSERVICES_H_
