// Event source state tables: the flags the HID system's and the session's tables hold now.
#ifndef DESKTOP_SIM_CGEVENTSOURCE_H_
#define DESKTOP_SIM_CGEVENTSOURCE_H_

#include <CoreGraphics/CGBase.h>
#include <CoreGraphics/CGEventTypes.h>

CG_EXTERN_C_BEGIN

// kCGEventSourceStateHIDSystemState or kCGEventSourceStateCombinedSessionState; a private state
// is misuse (event sources are not modelled) and answers 0.
CG_EXTERN CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID);

CG_EXTERN_C_END

#endif  // DESKTOP_SIM_CGEVENTSOURCE_H_
