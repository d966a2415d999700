// Umbrella header of the simulated HIServices: the accessibility API.
#ifndef DESKTOP_SIM_HISERVICES_H_
#define DESKTOP_SIM_HISERVICES_H_

#include <HIServices/AXError.h>
#include <HIServices/AXValue.h>
#include <HIServices/AXUIElement.h>

#endif  // DESKTOP_SIM_HISERVICES_H_
