// CoreGraphics base: CGFloat and the export macro.
#ifndef DESKTOP_SIM_CGBASE_H_
#define DESKTOP_SIM_CGBASE_H_

#include <float.h>

#include <CoreFoundation/CFBase.h>

#define CG_EXTERN_C_BEGIN CF_EXTERN_C_BEGIN
#define CG_EXTERN_C_END CF_EXTERN_C_END
#define CG_EXTERN CF_EXPORT
#define CG_INLINE static inline

#define CGFLOAT_IS_DOUBLE 1
typedef double CGFloat;
#define CGFLOAT_MIN DBL_MIN
#define CGFLOAT_MAX DBL_MAX

#endif  // DESKTOP_SIM_CGBASE_H_
