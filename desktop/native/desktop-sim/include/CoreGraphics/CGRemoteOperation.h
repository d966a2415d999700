// CoreGraphics input scalar types.
#ifndef DESKTOP_SIM_CGREMOTEOPERATION_H_
#define DESKTOP_SIM_CGREMOTEOPERATION_H_

#include <CoreGraphics/CGBase.h>

CG_EXTERN_C_BEGIN

typedef uint16_t CGKeyCode;
typedef uint16_t CGCharCode;
typedef uint32_t CGButtonCount;
typedef uint32_t CGWheelCount;

CG_EXTERN_C_END

#endif  // DESKTOP_SIM_CGREMOTEOPERATION_H_
