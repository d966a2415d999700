// Umbrella header of the simulated HIToolbox: modifier bits, the keyboard type and the text
// input sources.
#ifndef DESKTOP_SIM_HITOOLBOX_H_
#define DESKTOP_SIM_HITOOLBOX_H_

#include <ApplicationServices/ApplicationServices.h>
#include <HIToolbox/Events.h>
#include <HIToolbox/TextInputSources.h>

#endif  // DESKTOP_SIM_HITOOLBOX_H_
