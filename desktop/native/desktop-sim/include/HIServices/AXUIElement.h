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

typedef CF_OPTIONS(UInt32, AXCopyMultipleAttributeOptions) {
  kAXCopyMultipleAttributeOptionStopOnError = 0x1,
};

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
// The size of an array-valued attribute, and a range of its values (from index, at most
// maxValues of them; fewer when the array ends first): for long arrays, such as a table's rows.
CF_EXPORT AXError AXUIElementGetAttributeValueCount(AXUIElementRef element, CFStringRef attribute,
                                                    CFIndex* count);
CF_EXPORT AXError AXUIElementCopyAttributeValues(AXUIElementRef element, CFStringRef attribute,
                                                 CFIndex index, CFIndex maxValues,
                                                 CFArrayRef* values);
CF_EXPORT AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                               CFTypeRef value);
CF_EXPORT AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                                 Boolean* settable);
CF_EXPORT AXError AXUIElementCopyActionNames(AXUIElementRef element, CFArrayRef* names);
CF_EXPORT AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid);
// One round trip for several attributes. values receives an array with one entry per name: the
// value, kCFNull, or an AXValue of type kAXValueTypeAXError for an attribute that failed. With
// kAXCopyMultipleAttributeOptionStopOnError the call fails with the first entry's error instead.
CF_EXPORT AXError AXUIElementCopyMultipleAttributeValues(AXUIElementRef element,
                                                         CFArrayRef attributes,
                                                         AXCopyMultipleAttributeOptions options,
                                                         CFArrayRef* values);
// How long requests through this element object wait for the application (not other objects
// equal to it). On the system-wide element: the process-wide default; 0 restores 6 s there, and
// elsewhere makes the object use the process-wide value again. Negative: illegal argument.
CF_EXPORT AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_AXUIELEMENT_H_
