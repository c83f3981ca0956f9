#include "geometry/reflect_ray.h"

#include <cmath>

#include "geometry/slope.h"

namespace reflector {

namespace {

constexpr double kHalfPi = 1.5707963267948966;

}  // namespace

void ReflectRay(Point2 a, Point2 b, Point2 s, Point2 h, Point2* reflected) {
  Point2 result;

  if (a.x != b.x && s.x != h.x) {
    // Turn the ray's angle by twice the angle between ray and mirror:
    // tan(angle between) = (mm - mr) / (mm mr + 1). A perpendicular ray makes the
    // denominator zero; atan(inf) = pi/2 then sends it back along itself.
    const double mr = Slope(s, h);
    const double mm = Slope(a, b);
    const double t = (mm - mr) / (mm * mr + 1);
    const double m = std::tan(std::atan(mr) + 2 * std::atan(t));
    const double c = h.y - m * h.x;
    // Meet the reflected line with the mirror-parallel line through S.
    result.x = ((s.y - mm * s.x) - c) / (m - mm);
    result.y = result.x * m + c;
  } else if (s.x == h.x) {
    if (a.y == b.y) {
      // Vertical ray on a horizontal (or single-point) mirror: straight back.
      result = s;
    } else if (a.x != b.x) {
      const double mm = Slope(a, b);
      const double m = std::tan(2 * (std::atan(mm) + kHalfPi) + kHalfPi);
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
    const double m = std::tan(std::atan(mr) + 2 * (kHalfPi - std::atan(mr)));
    result.x = s.x;
    result.y = (h.y - m * h.x) + m * s.x;
  }

  if (reflected) *reflected = result;
}

}  // namespace reflector
