// Umbrella header of the simulated CarbonCore: key translation and its result codes.
#ifndef DESKTOP_SIM_CARBONCORE_H_
#define DESKTOP_SIM_CARBONCORE_H_

#include <CoreFoundation/CoreFoundation.h>
#include <MacTypes.h>
#include <CarbonCore/MacErrors.h>
#include <CarbonCore/UnicodeUtilities.h>

#endif  // DESKTOP_SIM_CARBONCORE_H_
