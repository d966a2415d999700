// Quartz event services: event taps and event fields.
#ifndef DESKTOP_SIM_CGEVENT_H_
#define DESKTOP_SIM_CGEVENT_H_

#include <CoreFoundation/CFMachPort.h>
#include <CoreGraphics/CGBase.h>
#include <CoreGraphics/CGEventTypes.h>
#include <CoreGraphics/CGGeometry.h>

CG_EXTERN_C_BEGIN

CG_EXTERN CFTypeID CGEventGetTypeID(void);

CG_EXTERN CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place,
                                         CGEventTapOptions options, CGEventMask eventsOfInterest,
                                         CGEventTapCallBack callback, void* userInfo);
CG_EXTERN void CGEventTapEnable(CFMachPortRef tap, bool enable);
CG_EXTERN bool CGEventTapIsEnabled(CFMachPortRef tap);

CG_EXTERN CGEventType CGEventGetType(CGEventRef event);
CG_EXTERN void CGEventSetType(CGEventRef event, CGEventType type);
CG_EXTERN CGEventFlags CGEventGetFlags(CGEventRef event);
CG_EXTERN void CGEventSetFlags(CGEventRef event, CGEventFlags flags);
CG_EXTERN int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field);
CG_EXTERN void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value);
CG_EXTERN CGPoint CGEventGetLocation(CGEventRef event);
CG_EXTERN void CGEventSetLocation(CGEventRef event, CGPoint location);
CG_EXTERN CGEventTimestamp CGEventGetTimestamp(CGEventRef event);

CG_EXTERN_C_END

#endif  // DESKTOP_SIM_CGEVENT_H_
