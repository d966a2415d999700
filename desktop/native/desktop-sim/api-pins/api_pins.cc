// Compile-time pins of the types, constants and signatures that the input bridge relies on.
// It includes only the public umbrella headers, so the same file compiles against the macOS SDK
// and against desktop-sim: a stand-in that drifts from the platform breaks its own build.
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {

template <typename A, typename B>
constexpr bool kSame = std::is_same<A, B>::value;

template <typename E, typename U>
constexpr bool EnumOver() {
  if constexpr (std::is_enum<E>::value) {
    return std::is_same<std::underlying_type_t<E>, U>::value;
  } else {
    return false;
  }
}

// Scalar and reference types.
static_assert(kSame<Boolean, unsigned char>, "Boolean is unsigned char, not bool");
static_assert(kSame<UInt8, unsigned char>);
static_assert(kSame<SInt8, signed char>);
static_assert(kSame<UInt16, unsigned short>);
static_assert(kSame<SInt16, short>);
static_assert(kSame<UInt32, unsigned int>);
static_assert(kSame<SInt32, int>);
static_assert(kSame<UInt64, unsigned long long>);
static_assert(kSame<SInt64, long long>);
static_assert(kSame<UniChar, unsigned short>);
static_assert(kSame<UniCharCount, unsigned long>);
static_assert(kSame<CFIndex, long>);
static_assert(kSame<CFTypeID, unsigned long>);
static_assert(kSame<CFOptionFlags, unsigned long>);
static_assert(kSame<CFHashCode, unsigned long>);
static_assert(kSame<CFStringEncoding, UInt32>);
static_assert(kSame<CFTimeInterval, double>);
static_assert(kSame<CFAbsoluteTime, double>);
static_assert(kSame<CGFloat, double>);
static_assert(kSame<CFTypeRef, const void*>);
static_assert(kSame<CFStringRef, const struct __CFString*>);
static_assert(kSame<CFMutableStringRef, struct __CFString*>);
static_assert(kSame<CFAllocatorRef, const struct __CFAllocator*>);
static_assert(kSame<CFBooleanRef, const struct __CFBoolean*>);
static_assert(kSame<CFNumberRef, const struct __CFNumber*>);
static_assert(kSame<CFArrayRef, const struct __CFArray*>);
static_assert(kSame<CFMutableArrayRef, struct __CFArray*>);
static_assert(kSame<AXUIElementRef, const struct __AXUIElement*>);
static_assert(kSame<AXValueRef, const struct __AXValue*>);
static_assert(kSame<CFNullRef, const struct __CFNull*>);
static_assert(kSame<AXCopyMultipleAttributeOptions, UInt32>,
              "AXCopyMultipleAttributeOptions is CF_OPTIONS: a plain UInt32");
static_assert(kSame<CFArrayRetainCallBack, const void* (*)(CFAllocatorRef, const void*)>);
static_assert(kSame<CFArrayReleaseCallBack, void (*)(CFAllocatorRef, const void*)>);
static_assert(kSame<CFArrayCopyDescriptionCallBack, CFStringRef (*)(const void*)>);
static_assert(kSame<CFArrayEqualCallBack, Boolean (*)(const void*, const void*)>);
static_assert(kSame<decltype(CFArrayCallBacks::version), CFIndex>);
static_assert(offsetof(CFArrayCallBacks, retain) == sizeof(CFIndex) &&
                  offsetof(CFArrayCallBacks, equal) == sizeof(CFIndex) + 3 * sizeof(void*) &&
                  sizeof(CFArrayCallBacks) == sizeof(CFIndex) + 4 * sizeof(void*),
              "CFArrayCallBacks: version, retain, release, copyDescription, equal");
static_assert(kSame<pid_t, int>);
static_assert(kSame<CFRunLoopRef, struct __CFRunLoop*>);
static_assert(kSame<CFRunLoopSourceRef, struct __CFRunLoopSource*>);
static_assert(kSame<CFRunLoopMode, CFStringRef>);
static_assert(kSame<CFMachPortRef, struct __CFMachPort*>);
static_assert(kSame<CGEventRef, struct __CGEvent*>);
static_assert(kSame<CGEventSourceRef, struct __CGEventSource*>);
static_assert(kSame<CGEventTapProxy, struct __CGEventTapProxy*>);
static_assert(kSame<CGEventMask, uint64_t>);
static_assert(kSame<CGEventFlags, uint64_t>);
static_assert(kSame<CGEventTimestamp, uint64_t>);
static_assert(kSame<CGEventSourceKeyboardType, uint32_t>);
static_assert(kSame<CGKeyCode, uint16_t>);
static_assert(kSame<CGCharCode, uint16_t>);
static_assert(kSame<CGButtonCount, uint32_t>);
static_assert(kSame<CGWheelCount, uint32_t>);
static_assert(kSame<decltype(CFRange::location), CFIndex>);
static_assert(kSame<decltype(CFRange::length), CFIndex>);
static_assert(kSame<decltype(CGPoint::x), CGFloat> && kSame<decltype(CGPoint::y), CGFloat>);
static_assert(kSame<decltype(CGSize::width), CGFloat>);
static_assert(kSame<decltype(CGRect::origin), CGPoint> && kSame<decltype(CGRect::size), CGSize>);
static_assert(
    kSame<CGEventTapCallBack, CGEventRef (*)(CGEventTapProxy, CGEventType, CGEventRef, void*)>);

// Named CF_ENUMs are enum types over these integers; CF_OPTIONS are plain integers.
static_assert(EnumOver<CFComparisonResult, CFIndex>());
static_assert(EnumOver<CFStringBuiltInEncodings, CFStringEncoding>());
static_assert(EnumOver<CFRunLoopRunResult, SInt32>());
static_assert(EnumOver<CGEventType, uint32_t>());
static_assert(EnumOver<CGEventField, uint32_t>());
static_assert(EnumOver<CGEventTapLocation, uint32_t>());
static_assert(EnumOver<CGEventTapPlacement, uint32_t>());
static_assert(EnumOver<CGEventTapOptions, uint32_t>());
static_assert(EnumOver<CGMouseButton, uint32_t>());
static_assert(EnumOver<CGScrollEventUnit, uint32_t>());
static_assert(EnumOver<CGEventMouseSubtype, uint32_t>());
static_assert(EnumOver<CGEventSourceStateID, int32_t>());
static_assert(EnumOver<CFNumberType, CFIndex>());
static_assert(EnumOver<AXError, SInt32>());
static_assert(EnumOver<AXValueType, UInt32>());
static_assert(!std::is_convertible<int, AXValueType>::value, "an int is no AXValueType");
static_assert(!std::is_convertible<UInt32, AXValueType>::value,
              "the legacy kAXValue*Type constants are plain integers, not AXValueType");
static_assert(kSame<decltype(kAXValueCGPointType), const UInt32>);
static_assert(kSame<decltype(kAXValueCGSizeType), const UInt32>);
static_assert(!std::is_enum<CGEventFlags>::value, "CGEventFlags is CF_OPTIONS: a plain integer");
static_assert(!std::is_convertible<int, CGEventField>::value, "an int is no CGEventField");
static_assert(!std::is_convertible<int, CGEventType>::value, "an int is no CGEventType");
static_assert(!std::is_convertible<bool*, Boolean*>::value, "bool* is no Boolean*");

// Constant values.
struct ValueRow {
  unsigned long long actual;
  unsigned long long expected;
};

constexpr ValueRow kValues[] = {
    // CGEventType
    {kCGEventNull, 0},
    {kCGEventLeftMouseDown, 1},
    {kCGEventLeftMouseUp, 2},
    {kCGEventRightMouseDown, 3},
    {kCGEventRightMouseUp, 4},
    {kCGEventMouseMoved, 5},
    {kCGEventLeftMouseDragged, 6},
    {kCGEventRightMouseDragged, 7},
    {kCGEventKeyDown, 10},
    {kCGEventKeyUp, 11},
    {kCGEventFlagsChanged, 12},
    {kCGEventScrollWheel, 22},
    {kCGEventTabletPointer, 23},
    {kCGEventTabletProximity, 24},
    {kCGEventOtherMouseDown, 25},
    {kCGEventOtherMouseUp, 26},
    {kCGEventOtherMouseDragged, 27},
    {kCGEventTapDisabledByTimeout, 0xFFFFFFFEu},
    {kCGEventTapDisabledByUserInput, 0xFFFFFFFFu},
    // CGEventFlags
    {kCGEventFlagMaskAlphaShift, 0x00010000},
    {kCGEventFlagMaskShift, 0x00020000},
    {kCGEventFlagMaskControl, 0x00040000},
    {kCGEventFlagMaskAlternate, 0x00080000},
    {kCGEventFlagMaskCommand, 0x00100000},
    {kCGEventFlagMaskNumericPad, 0x00200000},
    {kCGEventFlagMaskHelp, 0x00400000},
    {kCGEventFlagMaskSecondaryFn, 0x00800000},
    {kCGEventFlagMaskNonCoalesced, 0x00000100},
    // Device-dependent modifier bits (IOLLEvent.h, which CGEventTypes.h includes)
    {NX_DEVICELCTLKEYMASK, 0x00000001},
    {NX_DEVICELSHIFTKEYMASK, 0x00000002},
    {NX_DEVICERSHIFTKEYMASK, 0x00000004},
    {NX_DEVICELCMDKEYMASK, 0x00000008},
    {NX_DEVICERCMDKEYMASK, 0x00000010},
    {NX_DEVICELALTKEYMASK, 0x00000020},
    {NX_DEVICERALTKEYMASK, 0x00000040},
    {NX_DEVICERCTLKEYMASK, 0x00002000},
    // CGEventField
    {kCGMouseEventNumber, 0},
    {kCGMouseEventClickState, 1},
    {kCGMouseEventPressure, 2},
    {kCGMouseEventButtonNumber, 3},
    {kCGMouseEventDeltaX, 4},
    {kCGMouseEventDeltaY, 5},
    {kCGMouseEventSubtype, 7},
    {kCGKeyboardEventAutorepeat, 8},
    {kCGKeyboardEventKeycode, 9},
    {kCGKeyboardEventKeyboardType, 10},
    {kCGScrollWheelEventDeltaAxis1, 11},
    {kCGScrollWheelEventDeltaAxis2, 12},
    {kCGScrollWheelEventInstantMouser, 14},
    {kCGEventTargetUnixProcessID, 40},
    {kCGEventSourceUnixProcessID, 41},
    {kCGEventSourceUserData, 42},
    {kCGEventSourceStateID, 45},
    {kCGScrollWheelEventIsContinuous, 88},
    {kCGScrollWheelEventFixedPtDeltaAxis1, 93},
    {kCGScrollWheelEventFixedPtDeltaAxis2, 94},
    {kCGScrollWheelEventPointDeltaAxis1, 96},
    {kCGScrollWheelEventPointDeltaAxis2, 97},
    {kCGScrollWheelEventScrollPhase, 99},
    {kCGScrollWheelEventMomentumPhase, 123},
    // Tap location, placement, options
    {kCGHIDEventTap, 0},
    {kCGSessionEventTap, 1},
    {kCGAnnotatedSessionEventTap, 2},
    {kCGHeadInsertEventTap, 0},
    {kCGTailAppendEventTap, 1},
    {kCGEventTapOptionDefault, 0},
    {kCGEventTapOptionListenOnly, 1},
    // Mouse buttons, scroll units, mouse subtypes
    {kCGMouseButtonLeft, 0},
    {kCGMouseButtonRight, 1},
    {kCGMouseButtonCenter, 2},
    {kCGScrollEventUnitPixel, 0},
    {kCGScrollEventUnitLine, 1},
    {kCGEventMouseSubtypeDefault, 0},
    {kCGEventMouseSubtypeTabletPoint, 1},
    {kCGEventMouseSubtypeTabletProximity, 2},
    // Run loop results
    {kCFRunLoopRunFinished, 1},
    {kCFRunLoopRunStopped, 2},
    {kCFRunLoopRunTimedOut, 3},
    {kCFRunLoopRunHandledSource, 4},
    // String encodings
    {kCFStringEncodingMacRoman, 0},
    {kCFStringEncodingISOLatin1, 0x0201},
    {kCFStringEncodingASCII, 0x0600},
    {kCFStringEncodingUnicode, 0x0100},
    {kCFStringEncodingUTF8, 0x08000100},
    {kCFStringEncodingUTF16, 0x0100},
    {kCFStringEncodingUTF16BE, 0x10000100},
    {kCFStringEncodingUTF16LE, 0x14000100},
    {kCFStringEncodingUTF32, 0x0c000100},
    {kCFStringEncodingInvalidId, 0xffffffffu},
    // CFNumberType
    {kCFNumberSInt8Type, 1},
    {kCFNumberSInt16Type, 2},
    {kCFNumberSInt32Type, 3},
    {kCFNumberSInt64Type, 4},
    {kCFNumberFloat32Type, 5},
    {kCFNumberFloat64Type, 6},
    {kCFNumberCharType, 7},
    {kCFNumberShortType, 8},
    {kCFNumberIntType, 9},
    {kCFNumberLongType, 10},
    {kCFNumberLongLongType, 11},
    {kCFNumberFloatType, 12},
    {kCFNumberDoubleType, 13},
    {kCFNumberCFIndexType, 14},
    {kCFNumberNSIntegerType, 15},
    {kCFNumberCGFloatType, 16},
    {kCFNumberMaxType, 16},
    // AXValueType, and the legacy names
    {kAXValueTypeIllegal, 0},
    {kAXValueTypeCGPoint, 1},
    {kAXValueTypeCGSize, 2},
    {kAXValueTypeCGRect, 3},
    {kAXValueTypeCFRange, 4},
    {kAXValueTypeAXError, 5},
    {kAXValueCGPointType, 1},
    {kAXValueCGSizeType, 2},
    {kAXValueCGRectType, 3},
    {kAXValueCFRangeType, 4},
    {kAXValueAXErrorType, 5},
    {kAXValueIllegalType, 0},
    // AXCopyMultipleAttributeOptions
    {kAXCopyMultipleAttributeOptionStopOnError, 1},
    // Event masks
    {CGEventMaskBit(kCGEventFlagsChanged) | CGEventMaskBit(kCGEventOtherMouseDown) |
         CGEventMaskBit(kCGEventOtherMouseUp),
     0x6001000},
    {kCGEventMaskForAllEvents, ~0ull},
    {kCGAnyInputEventType, 0xFFFFFFFFu},
};

constexpr bool AllValuesMatch() {
  for (const ValueRow& row : kValues) {
    if (row.actual != row.expected) return false;
  }
  return true;
}
static_assert(AllValuesMatch(), "a constant differs from its platform value");

// Signed values, kept apart from the unsigned table.
static_assert(kCGEventSourceStatePrivate == -1);
static_assert(kCGEventSourceStateCombinedSessionState == 0);
static_assert(kCGEventSourceStateHIDSystemState == 1);
static_assert(kCFCompareLessThan == -1 && kCFCompareEqualTo == 0 && kCFCompareGreaterThan == 1);
static_assert(kCFNotFound == -1);
static_assert(kAXErrorSuccess == 0);
static_assert(kAXErrorFailure == -25200);
static_assert(kAXErrorIllegalArgument == -25201);
static_assert(kAXErrorInvalidUIElement == -25202);
static_assert(kAXErrorInvalidUIElementObserver == -25203);
static_assert(kAXErrorCannotComplete == -25204);
static_assert(kAXErrorAttributeUnsupported == -25205);
static_assert(kAXErrorActionUnsupported == -25206);
static_assert(kAXErrorNotificationUnsupported == -25207);
static_assert(kAXErrorNotImplemented == -25208);
static_assert(kAXErrorNotificationAlreadyRegistered == -25209);
static_assert(kAXErrorNotificationNotRegistered == -25210);
static_assert(kAXErrorAPIDisabled == -25211);
static_assert(kAXErrorNoValue == -25212);
static_assert(kAXErrorParameterizedAttributeUnsupported == -25213);
static_assert(kAXErrorNotEnoughPrecision == -25214);

// Signatures (decltype of the function's address pins parameter types and constness).
static_assert(kSame<decltype(&CFGetTypeID), CFTypeID (*)(CFTypeRef)>);
static_assert(kSame<decltype(&CFRetain), CFTypeRef (*)(CFTypeRef)>);
static_assert(kSame<decltype(&CFRelease), void (*)(CFTypeRef)>);
static_assert(kSame<decltype(&CFEqual), Boolean (*)(CFTypeRef, CFTypeRef)>);
static_assert(kSame<decltype(&CFHash), CFHashCode (*)(CFTypeRef)>);
static_assert(kSame<decltype(&CFNumberGetTypeID), CFTypeID (*)()>);
static_assert(
    kSame<decltype(&CFNumberCreate), CFNumberRef (*)(CFAllocatorRef, CFNumberType, const void*)>);
static_assert(kSame<decltype(&CFNumberGetType), CFNumberType (*)(CFNumberRef)>);
static_assert(kSame<decltype(&CFNumberGetByteSize), CFIndex (*)(CFNumberRef)>);
static_assert(kSame<decltype(&CFNumberIsFloatType), Boolean (*)(CFNumberRef)>);
static_assert(kSame<decltype(&CFNumberGetValue), Boolean (*)(CFNumberRef, CFNumberType, void*)>);
static_assert(kSame<decltype(&CFArrayGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&CFArrayGetCount), CFIndex (*)(CFArrayRef)>);
static_assert(kSame<decltype(&CFArrayGetValueAtIndex), const void* (*)(CFArrayRef, CFIndex)>);
static_assert(kSame<decltype(&CFArrayGetValues), void (*)(CFArrayRef, CFRange, const void**)>);
static_assert(kSame<decltype(&AXUIElementGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&AXIsProcessTrusted), Boolean (*)()>);
static_assert(kSame<decltype(&AXUIElementCreateSystemWide), AXUIElementRef (*)()>);
static_assert(kSame<decltype(&AXUIElementCreateApplication), AXUIElementRef (*)(pid_t)>);
static_assert(kSame<decltype(&AXUIElementCopyAttributeValue),
                    AXError (*)(AXUIElementRef, CFStringRef, CFTypeRef*)>);
static_assert(kSame<decltype(&AXUIElementGetAttributeValueCount),
                    AXError (*)(AXUIElementRef, CFStringRef, CFIndex*)>);
static_assert(kSame<decltype(&AXUIElementCopyAttributeValues),
                    AXError (*)(AXUIElementRef, CFStringRef, CFIndex, CFIndex, CFArrayRef*)>);
static_assert(kSame<decltype(&AXUIElementSetAttributeValue),
                    AXError (*)(AXUIElementRef, CFStringRef, CFTypeRef)>);
static_assert(kSame<decltype(&AXUIElementIsAttributeSettable),
                    AXError (*)(AXUIElementRef, CFStringRef, Boolean*)>);
static_assert(
    kSame<decltype(&AXUIElementCopyActionNames), AXError (*)(AXUIElementRef, CFArrayRef*)>);
static_assert(kSame<decltype(&AXUIElementGetPid), AXError (*)(AXUIElementRef, pid_t*)>);
static_assert(
    kSame<decltype(&AXUIElementCopyMultipleAttributeValues),
          AXError (*)(AXUIElementRef, CFArrayRef, AXCopyMultipleAttributeOptions, CFArrayRef*)>);
static_assert(kSame<decltype(&AXUIElementSetMessagingTimeout), AXError (*)(AXUIElementRef, float)>);
static_assert(kSame<decltype(&CFNullGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(kCFNull), const CFNullRef>);
static_assert(kSame<decltype(&CFArrayCreate), CFArrayRef (*)(CFAllocatorRef, const void**, CFIndex,
                                                             const CFArrayCallBacks*)>);
static_assert(kSame<decltype(kCFTypeArrayCallBacks), const CFArrayCallBacks>);
static_assert(kSame<decltype(&AXValueGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&AXValueCreate), AXValueRef (*)(AXValueType, const void*)>);
static_assert(kSame<decltype(&AXValueGetType), AXValueType (*)(AXValueRef)>);
static_assert(kSame<decltype(&AXValueGetValue), Boolean (*)(AXValueRef, AXValueType, void*)>);
static_assert(kSame<decltype(kCFAllocatorDefault), const CFAllocatorRef>);
static_assert(kSame<decltype(kCFBooleanTrue), const CFBooleanRef>);
static_assert(kSame<decltype(kCFBooleanFalse), const CFBooleanRef>);
static_assert(kSame<decltype(&CFBooleanGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&CFBooleanGetValue), Boolean (*)(CFBooleanRef)>);
static_assert(kSame<decltype(&CFRangeMake), CFRange (*)(CFIndex, CFIndex)>);
static_assert(kSame<decltype(&CFStringGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&__CFStringMakeConstantString), CFStringRef (*)(const char*)>);
static_assert(kSame<decltype(CFSTR("pin")), CFStringRef>);
static_assert(kSame<decltype(&CFStringCreateWithCString),
                    CFStringRef (*)(CFAllocatorRef, const char*, CFStringEncoding)>);
static_assert(
    kSame<decltype(&CFStringCreateWithBytes),
          CFStringRef (*)(CFAllocatorRef, const UInt8*, CFIndex, CFStringEncoding, Boolean)>);
static_assert(kSame<decltype(&CFStringGetLength), CFIndex (*)(CFStringRef)>);
static_assert(
    kSame<decltype(&CFStringGetMaximumSizeForEncoding), CFIndex (*)(CFIndex, CFStringEncoding)>);
static_assert(
    kSame<decltype(&CFStringGetBytes), CFIndex (*)(CFStringRef, CFRange, CFStringEncoding, UInt8,
                                                   Boolean, UInt8*, CFIndex, CFIndex*)>);
static_assert(kSame<decltype(&CFStringGetCString),
                    Boolean (*)(CFStringRef, char*, CFIndex, CFStringEncoding)>);
static_assert(
    kSame<decltype(&CFStringGetCStringPtr), const char* (*)(CFStringRef, CFStringEncoding)>);
static_assert(kSame<decltype(kCFRunLoopDefaultMode), const CFRunLoopMode>);
static_assert(kSame<decltype(kCFRunLoopCommonModes), const CFRunLoopMode>);
static_assert(kSame<decltype(&CFRunLoopGetCurrent), CFRunLoopRef (*)()>);
static_assert(kSame<decltype(&CFRunLoopRun), void (*)()>);
static_assert(kSame<decltype(&CFRunLoopRunInMode),
                    CFRunLoopRunResult (*)(CFRunLoopMode, CFTimeInterval, Boolean)>);
static_assert(kSame<decltype(&CFRunLoopStop), void (*)(CFRunLoopRef)>);
static_assert(kSame<decltype(&CFRunLoopWakeUp), void (*)(CFRunLoopRef)>);
static_assert(kSame<decltype(&CFRunLoopAddSource),
                    void (*)(CFRunLoopRef, CFRunLoopSourceRef, CFRunLoopMode)>);
static_assert(kSame<decltype(&CFRunLoopRemoveSource),
                    void (*)(CFRunLoopRef, CFRunLoopSourceRef, CFRunLoopMode)>);
static_assert(kSame<decltype(&CFRunLoopContainsSource),
                    Boolean (*)(CFRunLoopRef, CFRunLoopSourceRef, CFRunLoopMode)>);
static_assert(kSame<decltype(&CFRunLoopSourceInvalidate), void (*)(CFRunLoopSourceRef)>);
static_assert(kSame<decltype(&CFRunLoopSourceCreate),
                    CFRunLoopSourceRef (*)(CFAllocatorRef, CFIndex, CFRunLoopSourceContext*)>);
static_assert(kSame<decltype(&CFRunLoopSourceSignal), void (*)(CFRunLoopSourceRef)>);
// The version-0 context: its fields in the SDK's order, with the SDK's types.
static_assert(kSame<decltype(CFRunLoopSourceContext::version), CFIndex>);
static_assert(kSame<decltype(CFRunLoopSourceContext::info), void*>);
static_assert(kSame<decltype(CFRunLoopSourceContext::retain), const void* (*)(const void*)>);
static_assert(kSame<decltype(CFRunLoopSourceContext::release), void (*)(const void*)>);
static_assert(
    kSame<decltype(CFRunLoopSourceContext::copyDescription), CFStringRef (*)(const void*)>);
static_assert(
    kSame<decltype(CFRunLoopSourceContext::equal), Boolean (*)(const void*, const void*)>);
static_assert(kSame<decltype(CFRunLoopSourceContext::hash), CFHashCode (*)(const void*)>);
static_assert(kSame<decltype(CFRunLoopSourceContext::schedule),
                    void (*)(void*, CFRunLoopRef, CFRunLoopMode)>);
static_assert(
    kSame<decltype(CFRunLoopSourceContext::cancel), void (*)(void*, CFRunLoopRef, CFRunLoopMode)>);
static_assert(kSame<decltype(CFRunLoopSourceContext::perform), void (*)(void*)>);
static_assert(offsetof(CFRunLoopSourceContext, info) == sizeof(CFIndex));
static_assert(offsetof(CFRunLoopSourceContext, perform) == sizeof(CFIndex) + 8 * sizeof(void*));
static_assert(sizeof(CFRunLoopSourceContext) == sizeof(CFIndex) + 9 * sizeof(void*));
static_assert(kSame<decltype(&CFMachPortCreateRunLoopSource),
                    CFRunLoopSourceRef (*)(CFAllocatorRef, CFMachPortRef, CFIndex)>);
static_assert(kSame<decltype(&CFMachPortInvalidate), void (*)(CFMachPortRef)>);
static_assert(kSame<decltype(&CFMachPortIsValid), Boolean (*)(CFMachPortRef)>);
static_assert(kSame<decltype(CGPointZero), const CGPoint>);
static_assert(kSame<decltype(CGSizeZero), const CGSize>);
static_assert(kSame<decltype(CGRectZero), const CGRect>);
static_assert(kSame<decltype(&CGPointMake), CGPoint (*)(CGFloat, CGFloat)>);
static_assert(kSame<decltype(&CGSizeMake), CGSize (*)(CGFloat, CGFloat)>);
static_assert(kSame<decltype(&CGRectMake), CGRect (*)(CGFloat, CGFloat, CGFloat, CGFloat)>);
static_assert(kSame<decltype(CGPointEqualToPoint(CGPointZero, CGPointZero)), bool>);
static_assert(kSame<decltype(&CGEventTapCreate),
                    CFMachPortRef (*)(CGEventTapLocation, CGEventTapPlacement, CGEventTapOptions,
                                      CGEventMask, CGEventTapCallBack, void*)>);
static_assert(kSame<decltype(&CGEventTapEnable), void (*)(CFMachPortRef, bool)>);
static_assert(kSame<decltype(&CGEventTapIsEnabled), bool (*)(CFMachPortRef)>);
static_assert(kSame<decltype(&CGEventGetType), CGEventType (*)(CGEventRef)>);
static_assert(kSame<decltype(&CGEventGetFlags), CGEventFlags (*)(CGEventRef)>);
static_assert(kSame<decltype(&CGEventSetFlags), void (*)(CGEventRef, CGEventFlags)>);
static_assert(kSame<decltype(&CGEventGetIntegerValueField), int64_t (*)(CGEventRef, CGEventField)>);
static_assert(
    kSame<decltype(&CGEventSetIntegerValueField), void (*)(CGEventRef, CGEventField, int64_t)>);
static_assert(kSame<decltype(&CGEventGetLocation), CGPoint (*)(CGEventRef)>);
static_assert(kSame<decltype(&CGEventSetLocation), void (*)(CGEventRef, CGPoint)>);
static_assert(kSame<decltype(&CGEventGetTimestamp), CGEventTimestamp (*)(CGEventRef)>);
static_assert(kSame<decltype(&CGEventCreateMouseEvent),
                    CGEventRef (*)(CGEventSourceRef, CGEventType, CGPoint, CGMouseButton)>);
static_assert(kSame<decltype(&CGEventCreateKeyboardEvent),
                    CGEventRef (*)(CGEventSourceRef, CGKeyCode, bool)>);
static_assert(kSame<decltype(&CGEventCreateScrollWheelEvent),
                    CGEventRef (*)(CGEventSourceRef, CGScrollEventUnit, uint32_t, int32_t, ...)>,
              "CGEventCreateScrollWheelEvent is variadic");
static_assert(kSame<decltype(&CGEventKeyboardSetUnicodeString),
                    void (*)(CGEventRef, UniCharCount, const UniChar*)>);
static_assert(kSame<decltype(&CGEventKeyboardGetUnicodeString),
                    void (*)(CGEventRef, UniCharCount, UniCharCount*, UniChar*)>);
static_assert(kSame<decltype(&CGEventPost), void (*)(CGEventTapLocation, CGEventRef)>);
static_assert(kSame<decltype(&CGEventSourceFlagsState), CGEventFlags (*)(CGEventSourceStateID)>);

// Permissions: the preflight and request calls answer C99 bool, the accessibility trust check
// Boolean; the prompt option is a non-const global, as in the SDK.
static_assert(kSame<decltype(&CGPreflightListenEventAccess), bool (*)()>);
static_assert(kSame<decltype(&CGRequestListenEventAccess), bool (*)()>);
static_assert(kSame<decltype(&CGPreflightPostEventAccess), bool (*)()>);
static_assert(kSame<decltype(&CGRequestPostEventAccess), bool (*)()>);
static_assert(kSame<decltype(&AXIsProcessTrustedWithOptions), Boolean (*)(CFDictionaryRef)>);
static_assert(kSame<decltype(kAXTrustedCheckOptionPrompt), CFStringRef>,
              "kAXTrustedCheckOptionPrompt is a CFStringRef variable, not a const one");

// The options dictionary.
static_assert(kSame<CFDictionaryRef, const struct __CFDictionary*>);
static_assert(kSame<CFMutableDictionaryRef, struct __CFDictionary*>);
static_assert(kSame<decltype(kCFTypeDictionaryKeyCallBacks), const CFDictionaryKeyCallBacks>);
static_assert(kSame<decltype(kCFTypeDictionaryValueCallBacks), const CFDictionaryValueCallBacks>);
static_assert(kSame<decltype(CFDictionaryKeyCallBacks::version), CFIndex>);
static_assert(kSame<decltype(CFDictionaryKeyCallBacks::retain), CFDictionaryRetainCallBack>);
static_assert(kSame<decltype(CFDictionaryKeyCallBacks::release), CFDictionaryReleaseCallBack>);
static_assert(kSame<decltype(CFDictionaryKeyCallBacks::copyDescription),
                    CFDictionaryCopyDescriptionCallBack>);
static_assert(kSame<decltype(CFDictionaryKeyCallBacks::equal), CFDictionaryEqualCallBack>);
static_assert(kSame<decltype(CFDictionaryKeyCallBacks::hash), CFDictionaryHashCallBack>);
static_assert(kSame<decltype(CFDictionaryValueCallBacks::equal), CFDictionaryEqualCallBack>);
static_assert(sizeof(CFDictionaryKeyCallBacks) == 6 * sizeof(void*));
static_assert(sizeof(CFDictionaryValueCallBacks) == 5 * sizeof(void*));
static_assert(kSame<CFDictionaryRetainCallBack, const void* (*)(CFAllocatorRef, const void*)>);
static_assert(kSame<CFDictionaryReleaseCallBack, void (*)(CFAllocatorRef, const void*)>);
static_assert(kSame<CFDictionaryCopyDescriptionCallBack, CFStringRef (*)(const void*)>);
static_assert(kSame<CFDictionaryEqualCallBack, Boolean (*)(const void*, const void*)>);
static_assert(kSame<CFDictionaryHashCallBack, CFHashCode (*)(const void*)>);
static_assert(kSame<decltype(&CFDictionaryGetTypeID), CFTypeID (*)()>);
static_assert(
    kSame<decltype(&CFDictionaryCreate),
          CFDictionaryRef (*)(CFAllocatorRef, const void**, const void**, CFIndex,
                              const CFDictionaryKeyCallBacks*, const CFDictionaryValueCallBacks*)>);
static_assert(kSame<decltype(&CFDictionaryGetCount), CFIndex (*)(CFDictionaryRef)>);
static_assert(
    kSame<decltype(&CFDictionaryGetValue), const void* (*)(CFDictionaryRef, const void*)>);

// ---------------------------------------------------------------------------------------------
// Enum membership, sizes, conversions and the signatures not pinned above, header by header. A
// constant in the wrong enum still has the right value, but converts differently: passing it
// where the platform's enum is expected would compile here and fail on a Mac, or the reverse.

template <typename E, typename... Constants>
constexpr bool AllOf(Constants...) {
  return (std::is_same<E, Constants>::value && ...);
}

// CFBase.h: the one-argument CF_ENUM and CF_OPTIONS, as the platform's headers use them. (The
// two-argument CF_ENUM is every named enum above. Outside a system header the platform's C++
// form of it is an error for clang, -Welaborated-enum-base, so it is not repeated here.)
CF_ENUM(CFIndex){kPinAnonymousConstant = 7};
typedef CF_OPTIONS(UInt32, PinOptions) { kPinOptionLow = 1u << 0, kPinOptionHigh = 1u << 31 };
static_assert(std::is_enum<decltype(kPinAnonymousConstant)>::value);
static_assert(EnumOver<decltype(kPinAnonymousConstant), CFIndex>());
static_assert(kSame<PinOptions, UInt32>, "CF_OPTIONS names a plain integer");
static_assert(kSame<decltype(kPinOptionLow | kPinOptionHigh), UInt32>);
static_assert(kSame<decltype(&CFGetRetainCount), CFIndex (*)(CFTypeRef)>);
static_assert(sizeof(CFRange) == 2 * sizeof(CFIndex) && sizeof(CFRange) == 16);
static_assert(AllOf<CFComparisonResult>(kCFCompareLessThan, kCFCompareEqualTo,
                                        kCFCompareGreaterThan));

// CFNumber.h
static_assert(AllOf<CFNumberType>(kCFNumberSInt8Type, kCFNumberSInt16Type, kCFNumberSInt32Type,
                                  kCFNumberSInt64Type, kCFNumberFloat32Type, kCFNumberFloat64Type,
                                  kCFNumberCharType, kCFNumberShortType, kCFNumberIntType,
                                  kCFNumberLongType, kCFNumberLongLongType, kCFNumberFloatType,
                                  kCFNumberDoubleType, kCFNumberCFIndexType, kCFNumberNSIntegerType,
                                  kCFNumberCGFloatType, kCFNumberMaxType));
static_assert(!std::is_convertible<int, CFNumberType>::value, "an int is no CFNumberType");
static_assert(!std::is_convertible<CFIndex, CFNumberType>::value);

// CFRunLoop.h
static_assert(AllOf<CFRunLoopRunResult>(kCFRunLoopRunFinished, kCFRunLoopRunStopped,
                                        kCFRunLoopRunTimedOut, kCFRunLoopRunHandledSource));
static_assert(kSame<decltype(&CFRunLoopGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&CFRunLoopSourceGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&CFRunLoopSourceIsValid), Boolean (*)(CFRunLoopSourceRef)>);

// CFMachPort.h
static_assert(kSame<decltype(&CFMachPortGetTypeID), CFTypeID (*)()>);

// CFString.h
static_assert(AllOf<CFStringBuiltInEncodings>(kCFStringEncodingUTF8, kCFStringEncodingASCII,
                                              kCFStringEncodingUTF16));
static_assert(kSame<decltype(&CFStringCreateCopy), CFStringRef (*)(CFAllocatorRef, CFStringRef)>);

// CGGeometry.h
static_assert(sizeof(CGPoint) == 2 * sizeof(CGFloat) && sizeof(CGPoint) == 16);
static_assert(sizeof(CGSize) == 2 * sizeof(CGFloat) && sizeof(CGSize) == 16);
static_assert(sizeof(CGRect) == sizeof(CGPoint) + sizeof(CGSize));
static_assert(kSame<decltype(&CGPointEqualToPoint), bool (*)(CGPoint, CGPoint)>);
static_assert(kSame<decltype(&CGSizeEqualToSize), bool (*)(CGSize, CGSize)>);

// CGEventTypes.h
static_assert(AllOf<CGEventType>(kCGEventLeftMouseDown, kCGEventLeftMouseUp, kCGEventRightMouseDown,
                                 kCGEventRightMouseUp, kCGEventMouseMoved, kCGEventKeyDown,
                                 kCGEventKeyUp, kCGEventFlagsChanged, kCGEventOtherMouseDown,
                                 kCGEventOtherMouseUp, kCGEventTapDisabledByTimeout,
                                 kCGEventTapDisabledByUserInput),
              "the tap-disabled notifications are event types");
static_assert(AllOf<CGEventField>(kCGKeyboardEventKeycode, kCGMouseEventButtonNumber,
                                  kCGMouseEventClickState));
static_assert(AllOf<CGEventTapLocation>(kCGHIDEventTap, kCGSessionEventTap,
                                        kCGAnnotatedSessionEventTap));
static_assert(AllOf<CGEventTapPlacement>(kCGHeadInsertEventTap, kCGTailAppendEventTap));
static_assert(AllOf<CGEventTapOptions>(kCGEventTapOptionDefault, kCGEventTapOptionListenOnly));
static_assert(AllOf<CGMouseButton>(kCGMouseButtonLeft, kCGMouseButtonRight, kCGMouseButtonCenter));
static_assert(AllOf<CGScrollEventUnit>(kCGScrollEventUnitPixel, kCGScrollEventUnitLine));
static_assert(!std::is_convertible<int, CGMouseButton>::value, "an int is no CGMouseButton");
static_assert(!std::is_convertible<int, CGEventTapLocation>::value);
// The flag masks are anonymous constants over the 64-bit CGEventFlags: they combine, and store,
// as uint64_t without a cast.
static_assert(EnumOver<decltype(kCGEventFlagMaskCommand), uint64_t>());
static_assert(
    kSame<decltype(kCGEventFlagMaskShift | kCGEventFlagMaskControl | kCGEventFlagMaskAlternate |
                   kCGEventFlagMaskCommand | kCGEventFlagMaskSecondaryFn),
          uint64_t>);
static_assert(kSame<decltype(kCGEventFlagMaskCommand | CGEventFlags{0}), CGEventFlags>);
static_assert(kSame<decltype(CGEventMaskBit(kCGEventFlagsChanged)), CGEventMask>);

// CGEvent.h
static_assert(kSame<decltype(&CGEventGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&CGEventSetType), void (*)(CGEventRef, CGEventType)>);

// AXError.h
static_assert(AllOf<AXError>(kAXErrorSuccess, kAXErrorFailure, kAXErrorCannotComplete,
                             kAXErrorNoValue, kAXErrorAPIDisabled));
static_assert(sizeof(AXError) == 4);
static_assert(!std::is_convertible<int, AXError>::value, "an int is no AXError");

// AXValue.h
static_assert(AllOf<AXValueType>(kAXValueTypeCGPoint, kAXValueTypeCGSize, kAXValueTypeAXError,
                                 kAXValueTypeIllegal));

// Keyboard layouts: CFData (CFData.h), the text input sources (HIToolbox's TextInputSources.h),
// the Carbon modifier bits and the keyboard type (HIToolbox's Events.h), key translation
// (CarbonCore's UnicodeUtilities.h and MacErrors.h, MacTypes.h).
static_assert(kSame<CFDataRef, const struct __CFData*>);
static_assert(kSame<CFMutableDataRef, struct __CFData*>);
static_assert(kSame<decltype(&CFDataGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&CFDataCreate), CFDataRef (*)(CFAllocatorRef, const UInt8*, CFIndex)>);
static_assert(kSame<decltype(&CFDataGetLength), CFIndex (*)(CFDataRef)>);
static_assert(kSame<decltype(&CFDataGetBytePtr), const UInt8* (*)(CFDataRef)>);
static_assert(kSame<decltype(&CFRunLoopGetMain), CFRunLoopRef (*)()>);

static_assert(kSame<TISInputSourceRef, struct __TISInputSource*>);
static_assert(kSame<decltype(&TISInputSourceGetTypeID), CFTypeID (*)()>);
static_assert(kSame<decltype(&TISCopyCurrentKeyboardInputSource), TISInputSourceRef (*)()>);
static_assert(kSame<decltype(&TISCopyCurrentKeyboardLayoutInputSource), TISInputSourceRef (*)()>);
static_assert(
    kSame<decltype(&TISCopyCurrentASCIICapableKeyboardInputSource), TISInputSourceRef (*)()>);
static_assert(
    kSame<decltype(&TISCopyCurrentASCIICapableKeyboardLayoutInputSource), TISInputSourceRef (*)()>);
static_assert(
    kSame<decltype(&TISGetInputSourceProperty), void* (*)(TISInputSourceRef, CFStringRef)>);
static_assert(kSame<decltype(kTISPropertyInputSourceID), const CFStringRef>);
static_assert(kSame<decltype(kTISPropertyLocalizedName), const CFStringRef>);
static_assert(kSame<decltype(kTISPropertyUnicodeKeyLayoutData), const CFStringRef>);

static_assert(kSame<EventModifiers, UInt16>);
static_assert(kSame<decltype(&LMGetKbdType), UInt8 (*)()>);
// Anonymous enums of non-negative constants: unsigned int on both compilers.
static_assert(EnumOver<decltype(cmdKey), unsigned int>());
static_assert(EnumOver<decltype(cmdKeyBit), unsigned int>());
static_assert(cmdKeyBit == 8 && shiftKeyBit == 9 && alphaLockBit == 10 && optionKeyBit == 11 &&
              controlKeyBit == 12 && rightShiftKeyBit == 13 && rightOptionKeyBit == 14 &&
              rightControlKeyBit == 15 && activeFlagBit == 0 && btnStateBit == 7);
static_assert(cmdKey == 0x100 && shiftKey == 0x200 && alphaLock == 0x400 && optionKey == 0x800 &&
              controlKey == 0x1000 && rightShiftKey == 0x2000 && rightOptionKey == 0x4000 &&
              rightControlKey == 0x8000 && activeFlag == 1 && btnState == 0x80);

static_assert(kSame<OSStatus, SInt32>);
static_assert(kSame<OptionBits, UInt32>);
static_assert(noErr == 0 && paramErr == -50 && kUCOutputBufferTooSmall == -25340);
static_assert(std::is_signed<std::underlying_type_t<decltype(paramErr)>>::value);
static_assert(kSame<UCKeyOutput, UInt16> && kSame<UCKeyCharSeq, UInt16>);
static_assert(EnumOver<decltype(kUCKeyActionDown), unsigned int>());
static_assert(EnumOver<decltype(kUCKeyTranslateNoDeadKeysMask), unsigned int>());
static_assert(kUCKeyActionDown == 0 && kUCKeyActionUp == 1 && kUCKeyActionAutoKey == 2 &&
              kUCKeyActionDisplay == 3);
static_assert(kUCKeyTranslateNoDeadKeysBit == 0 && kUCKeyTranslateNoDeadKeysMask == 1,
              "the option is the mask; the bit's number is 0, which is no option");
static_assert(kUCKeyOutputStateIndexMask == 0x4000 && kUCKeyOutputSequenceIndexMask == 0x8000 &&
              kUCKeyOutputTestForIndexMask == 0xC000 && kUCKeyOutputGetIndexMask == 0x3FFF);
static_assert(kUCKeyStateEntryTerminalFormat == 1 && kUCKeyStateEntryRangeFormat == 2);
static_assert(kUCKeyLayoutHeaderFormat == 0x1002 && kUCKeyLayoutFeatureInfoFormat == 0x2001 &&
              kUCKeyModifiersToTableNumFormat == 0x3001 && kUCKeyToCharTableIndexFormat == 0x4001 &&
              kUCKeyStateRecordsIndexFormat == 0x5001 && kUCKeyStateTerminatorsFormat == 0x6001 &&
              kUCKeySequenceDataIndexFormat == 0x7001);
// The resource's records, as a 'uchr' lays them out: packed to two bytes.
static_assert(alignof(UCKeyboardLayout) == 2 && alignof(UCKeyStateRecord) == 2);
static_assert(sizeof(UCKeyboardTypeHeader) == 28);
static_assert(offsetof(UCKeyboardLayout, keyboardTypeCount) == 8 &&
              offsetof(UCKeyboardLayout, keyboardTypeList) == 12 && sizeof(UCKeyboardLayout) == 40);
static_assert(sizeof(UCKeyLayoutFeatureInfo) == 8);
static_assert(offsetof(UCKeyModifiersToTableNum, tableNum) == 8 &&
              sizeof(UCKeyModifiersToTableNum) == 10);
static_assert(offsetof(UCKeyToCharTableIndex, keyToCharTableOffsets) == 8 &&
              sizeof(UCKeyToCharTableIndex) == 12);
static_assert(offsetof(UCKeyStateRecordsIndex, keyStateRecordOffsets) == 4 &&
              sizeof(UCKeyStateRecordsIndex) == 8);
static_assert(offsetof(UCKeyStateTerminators, keyStateTerminators) == 4 &&
              sizeof(UCKeyStateTerminators) == 6);
static_assert(sizeof(UCKeySequenceDataIndex) == 6);
static_assert(offsetof(UCKeyStateRecord, stateEntryData) == 8 && sizeof(UCKeyStateRecord) == 12);
static_assert(sizeof(UCKeyStateEntryTerminal) == 4 && sizeof(UCKeyStateEntryRange) == 8);
static_assert(kSame<decltype(&UCKeyTranslate),
                    OSStatus (*)(const UCKeyboardLayout*, UInt16, UInt16, UInt32, UInt32,
                                 OptionBits, UInt32*, UniCharCount, UniCharCount*, UniChar*)>);

}  // namespace
