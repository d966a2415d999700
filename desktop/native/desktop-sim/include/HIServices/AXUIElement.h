// Accessibility elements: the system-wide element, applications and their UI elements.
#ifndef DESKTOP_SIM_AXUIELEMENT_H_
#define DESKTOP_SIM_AXUIELEMENT_H_

#include <sys/types.h>

#include <CoreFoundation/CFArray.h>
#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFDictionary.h>
#include <HIServices/AXError.h>

CF_EXTERN_C_BEGIN

typedef const struct __AXUIElement* AXUIElementRef;

CF_EXPORT CFTypeID AXUIElementGetTypeID(void);
CF_EXPORT Boolean AXIsProcessTrusted(void);
// options: NULL, or a dictionary whose kAXTrustedCheckOptionPrompt is kCFBooleanTrue to have the
// system ask the user when the process is not trusted. The prompt does not change the result.
CF_EXPORT Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options);
// Not const, as in the SDK.
CF_EXPORT CFStringRef kAXTrustedCheckOptionPrompt;
CF_EXPORT AXUIElementRef AXUIElementCreateSystemWide(void);
CF_EXPORT AXUIElementRef AXUIElementCreateApplication(pid_t pid);
CF_EXPORT AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                                CFTypeRef* value);
CF_EXPORT AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                               CFTypeRef value);
CF_EXPORT AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                                 Boolean* settable);
CF_EXPORT AXError AXUIElementCopyActionNames(AXUIElementRef element, CFArrayRef* names);
CF_EXPORT AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_AXUIELEMENT_H_
