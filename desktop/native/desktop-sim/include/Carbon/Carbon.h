// Umbrella header of the simulated Carbon: CoreServices, ApplicationServices and HIToolbox.
#ifndef DESKTOP_SIM_CARBON_H_
#define DESKTOP_SIM_CARBON_H_

#include <CoreServices/CoreServices.h>
#include <ApplicationServices/ApplicationServices.h>
#include <HIToolbox/HIToolbox.h>

#endif  // DESKTOP_SIM_CARBON_H_
