#pragma once

#include <cmath>

#include "geometry/point2.h"
#include "geometry/slope.h"

namespace reflector {

// A second point of the ray that leaves hit point H after the ray from S is
// reflected on the mirror through A and B: S mirrored across the mirror's
// normal at H. Written to *reflected only when it is not null.
void ReflectRay(Point2 a, Point2 b, Point2 s, Point2 h, Point2* reflected);

// The same construction with atan and tan supplied by the caller, for callers
// that remember them (see ExactMemo), and the mirror's slope too: mirrorSlope
// must be Slope(a, b) when a.x != b.x (it is unread otherwise), as a caller
// that prepared the segment has it. ReflectRay is this with CorrectlyRoundedAtan
// and CorrectlyRoundedTan; given functions with the same results, the result has the same bits.
template <typename AtanFunction, typename TanFunction>
Point2 ReflectRayWith(Point2 a, Point2 b, double mirrorSlope, Point2 s, Point2 h,
                      AtanFunction&& atan, TanFunction&& tan) {
  constexpr double kHalfPi = 1.5707963267948966;
  Point2 result;

  if (a.x != b.x && s.x != h.x) {
    // Turn the ray's angle by twice the angle between ray and mirror:
    // tan(angle between) = (mm - mr) / (mm mr + 1). A perpendicular ray makes the
    // denominator zero; atan(inf) = pi/2 then sends it back along itself.
    const double mr = Slope(s, h);
    const double mm = mirrorSlope;
    const double t = (mm - mr) / (mm * mr + 1);
    const double m = tan(atan(mr) + 2 * atan(t));
    const double c = h.y - m * h.x;
    // Meet the reflected line with the mirror-parallel line through S.
    result.x = ((s.y - mm * s.x) - c) / (m - mm);
    result.y = result.x * m + c;
  } else if (s.x == h.x) {
    if (a.y == b.y) {
      // Vertical ray on a horizontal (or single-point) mirror: straight back.
      result = s;
    } else if (a.x != b.x) {
      const double mm = mirrorSlope;
      const double m = tan(2 * (atan(mm) + kHalfPi) + kHalfPi);
      const double c = h.y - m * h.x;
      result.x = ((s.y - mm * s.x) - c) / (m - mm);
      result.y = m * result.x + c;
    } else {
      // Vertical ray on a vertical mirror: the slopes are infinite and the
      // construction gives no finite point. The ray runs along the mirror's
      // line; send it back along itself, as the perpendicular case does.
      result = s;
    }
  } else {
    // Vertical (or single-point) mirror: the reflected slope is -mr.
    const double mr = Slope(s, h);
    const double m = tan(atan(mr) + 2 * (kHalfPi - atan(mr)));
    result.x = s.x;
    result.y = (h.y - m * h.x) + m * s.x;
  }
  return result;
}

}  // namespace reflector
