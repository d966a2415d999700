// Text input sources: the keyboard layout in use and its properties. Main thread only, as on
// macOS: a call from any other thread is recorded as misuse.
#ifndef DESKTOP_SIM_TEXTINPUTSOURCES_H_
#define DESKTOP_SIM_TEXTINPUTSOURCES_H_

#include <CoreServices/CoreServices.h>

CF_EXTERN_C_BEGIN

typedef struct __TISInputSource* TISInputSourceRef;

CF_EXPORT CFTypeID TISInputSourceGetTypeID(void);

// Property keys: a CFString (the source's reverse-DNS identifier, such as
// "com.apple.keylayout.US"), a CFString (its name for people) and a CFData holding its 'uchr'
// layout (native-endian, for UCKeyTranslate).
CF_EXPORT const CFStringRef kTISPropertyInputSourceID;
CF_EXPORT const CFStringRef kTISPropertyLocalizedName;
CF_EXPORT const CFStringRef kTISPropertyUnicodeKeyLayoutData;

// Borrowed (the "Get" rule): the value belongs to the input source. NULL for a property the
// source does not have.
CF_EXPORT void* TISGetInputSourceProperty(TISInputSourceRef inputSource, CFStringRef propertyKey);

// Each answers a reference the caller owns. The simulated desktop has keyboard layouts only (no
// input methods), all ASCII-capable, so all four answer the selected layout.
CF_EXPORT TISInputSourceRef TISCopyCurrentKeyboardInputSource(void);
CF_EXPORT TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void);
CF_EXPORT TISInputSourceRef TISCopyCurrentASCIICapableKeyboardInputSource(void);
CF_EXPORT TISInputSourceRef TISCopyCurrentASCIICapableKeyboardLayoutInputSource(void);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_TEXTINPUTSOURCES_H_
