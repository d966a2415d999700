// Umbrella header of the simulated ApplicationServices: CoreServices (CoreFoundation and key
// translation), CoreGraphics and the accessibility API (HIServices).
#ifndef DESKTOP_SIM_APPLICATIONSERVICES_H_
#define DESKTOP_SIM_APPLICATIONSERVICES_H_

#include <CoreFoundation/CoreFoundation.h>
#include <CoreServices/CoreServices.h>
#include <CoreGraphics/CoreGraphics.h>
#include <HIServices/HIServices.h>

#endif  // DESKTOP_SIM_APPLICATIONSERVICES_H_
