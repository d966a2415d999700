// Quartz event services: event taps, event fields, and creating and posting events.
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

CG_EXTERN CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                             CGPoint mouseCursorPosition,
                                             CGMouseButton mouseButton);
CG_EXTERN CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey,
                                                bool keyDown);
// Variadic, as on macOS: wheelCount (1 to 3) wheel values, vertical first, then horizontal.
CG_EXTERN CGEventRef CGEventCreateScrollWheelEvent(CGEventSourceRef source, CGScrollEventUnit units,
                                                   uint32_t wheelCount, int32_t wheel1, ...);
CG_EXTERN void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount stringLength,
                                               const UniChar* unicodeString);
CG_EXTERN void CGEventKeyboardGetUnicodeString(CGEventRef event, UniCharCount maxStringLength,
                                               UniCharCount* actualStringLength,
                                               UniChar* unicodeString);
CG_EXTERN void CGEventPost(CGEventTapLocation tap, CGEventRef event);

// Permissions (macOS 10.15 and later). Listening: Input Monitoring. Synthesizing: posting events
// and active taps, granted with Accessibility. A request may show the system's prompt, which
// answers later; its result is the access the process has now.
CG_EXTERN bool CGPreflightListenEventAccess(void);
CG_EXTERN bool CGRequestListenEventAccess(void);
CG_EXTERN bool CGPreflightPostEventAccess(void);
CG_EXTERN bool CGRequestPostEventAccess(void);

CG_EXTERN_C_END

#endif  // DESKTOP_SIM_CGEVENT_H_
