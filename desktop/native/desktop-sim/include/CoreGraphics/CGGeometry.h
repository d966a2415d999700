// CoreGraphics geometry: points, sizes, rectangles.
#ifndef DESKTOP_SIM_CGGEOMETRY_H_
#define DESKTOP_SIM_CGGEOMETRY_H_

#include <CoreGraphics/CGBase.h>

CG_EXTERN_C_BEGIN

struct CGPoint {
  CGFloat x;
  CGFloat y;
};
typedef struct CGPoint CGPoint;

struct CGSize {
  CGFloat width;
  CGFloat height;
};
typedef struct CGSize CGSize;

struct CGRect {
  CGPoint origin;
  CGSize size;
};
typedef struct CGRect CGRect;

// Extern data, as on macOS, not compile-time constants.
CG_EXTERN const CGPoint CGPointZero;
CG_EXTERN const CGSize CGSizeZero;
CG_EXTERN const CGRect CGRectZero;

CG_INLINE CGPoint CGPointMake(CGFloat x, CGFloat y) {
  CGPoint p;
  p.x = x;
  p.y = y;
  return p;
}

CG_INLINE CGSize CGSizeMake(CGFloat width, CGFloat height) {
  CGSize s;
  s.width = width;
  s.height = height;
  return s;
}

CG_INLINE CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height) {
  CGRect r;
  r.origin.x = x;
  r.origin.y = y;
  r.size.width = width;
  r.size.height = height;
  return r;
}

CG_INLINE bool __CGPointEqualToPoint(CGPoint point1, CGPoint point2) {
  return point1.x == point2.x && point1.y == point2.y;
}
#define CGPointEqualToPoint __CGPointEqualToPoint

CG_INLINE bool __CGSizeEqualToSize(CGSize size1, CGSize size2) {
  return size1.width == size2.width && size1.height == size2.height;
}
#define CGSizeEqualToSize __CGSizeEqualToSize

CG_EXTERN_C_END

#endif  // DESKTOP_SIM_CGGEOMETRY_H_
