// Umbrella header of the simulated CoreGraphics (geometry and Quartz event services).
#ifndef DESKTOP_SIM_COREGRAPHICS_H_
#define DESKTOP_SIM_COREGRAPHICS_H_

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CGBase.h>
#include <CoreGraphics/CGGeometry.h>
#include <CoreGraphics/CGRemoteOperation.h>
#include <CoreGraphics/CGEventTypes.h>
#include <CoreGraphics/CGEvent.h>
#include <CoreGraphics/CGEventSource.h>

#endif  // DESKTOP_SIM_COREGRAPHICS_H_
