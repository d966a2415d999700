// Umbrella header of the simulated CoreFoundation.
#ifndef DESKTOP_SIM_COREFOUNDATION_H_
#define DESKTOP_SIM_COREFOUNDATION_H_

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFDate.h>
#include <CoreFoundation/CFString.h>
#include <CoreFoundation/CFNumber.h>
#include <CoreFoundation/CFArray.h>
#include <CoreFoundation/CFData.h>
#include <CoreFoundation/CFDictionary.h>
#include <CoreFoundation/CFRunLoop.h>
#include <CoreFoundation/CFMachPort.h>

#endif  // DESKTOP_SIM_COREFOUNDATION_H_
