// Umbrella header of the simulated CoreServices: CoreFoundation and CarbonCore.
#ifndef DESKTOP_SIM_CORESERVICES_H_
#define DESKTOP_SIM_CORESERVICES_H_

#include <CoreFoundation/CoreFoundation.h>
#include <CarbonCore/CarbonCore.h>

#endif  // DESKTOP_SIM_CORESERVICES_H_
