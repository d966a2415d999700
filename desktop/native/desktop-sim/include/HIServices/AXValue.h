// Accessibility values wrapping geometry structures.
#ifndef DESKTOP_SIM_AXVALUE_H_
#define DESKTOP_SIM_AXVALUE_H_

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef CF_ENUM(UInt32, AXValueType) {
  kAXValueTypeIllegal = 0,
  kAXValueTypeCGPoint = 1,
  kAXValueTypeCGSize = 2,
  kAXValueTypeCGRect = 3,
  kAXValueTypeCFRange = 4,
  kAXValueTypeAXError = 5,
};

// The names before the enumerators were renamed: plain integers, so in C++ they need a cast to
// be passed as an AXValueType, exactly as with the platform's headers.
static const UInt32 kAXValueCGPointType = kAXValueTypeCGPoint;
static const UInt32 kAXValueCGSizeType = kAXValueTypeCGSize;
static const UInt32 kAXValueCGRectType = kAXValueTypeCGRect;
static const UInt32 kAXValueCFRangeType = kAXValueTypeCFRange;
static const UInt32 kAXValueAXErrorType = kAXValueTypeAXError;
static const UInt32 kAXValueIllegalType = kAXValueTypeIllegal;

typedef const struct __AXValue* AXValueRef;

CF_EXPORT CFTypeID AXValueGetTypeID(void);
CF_EXPORT AXValueRef AXValueCreate(AXValueType theType, const void* valuePtr);
CF_EXPORT AXValueType AXValueGetType(AXValueRef value);
// Copies the wrapped structure when the value holds theType; false (and nothing written)
// otherwise.
CF_EXPORT Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_AXVALUE_H_
