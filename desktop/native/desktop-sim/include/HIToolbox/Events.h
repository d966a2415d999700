// HIToolbox's event modifier bits and the keyboard type.
#ifndef DESKTOP_SIM_HITOOLBOX_EVENTS_H_
#define DESKTOP_SIM_HITOOLBOX_EVENTS_H_

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef UInt16 EventModifiers;

enum {
  activeFlagBit = 0,
  btnStateBit = 7,
  cmdKeyBit = 8,
  shiftKeyBit = 9,
  alphaLockBit = 10,
  optionKeyBit = 11,
  controlKeyBit = 12,
  rightShiftKeyBit = 13,
  rightOptionKeyBit = 14,
  rightControlKeyBit = 15,
};

enum {
  activeFlag = 1 << activeFlagBit,
  btnState = 1 << btnStateBit,
  cmdKey = 1 << cmdKeyBit,
  shiftKey = 1 << shiftKeyBit,
  alphaLock = 1 << alphaLockBit,
  optionKey = 1 << optionKeyBit,
  controlKey = 1 << controlKeyBit,
  rightShiftKey = 1 << rightShiftKeyBit,
  rightOptionKey = 1 << rightOptionKeyBit,
  rightControlKey = 1 << rightControlKeyBit,
};

// The physical keyboard's type, for UCKeyTranslate. The simulated keyboard is a third-party
// ANSI one (40, Gestalt.h's gestaltThirdPartyANSIKbd).
CF_EXPORT UInt8 LMGetKbdType(void);

CF_EXTERN_C_END

#endif  // DESKTOP_SIM_HITOOLBOX_EVENTS_H_
