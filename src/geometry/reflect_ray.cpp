#include "geometry/reflect_ray.h"

#include "geometry/correctly_rounded.h"

namespace reflector {

void ReflectRay(Point2 a, Point2 b, Point2 s, Point2 h, Point2* reflected) {
  const double mirrorSlope = a.x != b.x ? Slope(a, b) : 0.0;
  const Point2 result = ReflectRayWith(
      a, b, mirrorSlope, s, h, CorrectlyRoundedAtan, CorrectlyRoundedTan);
  if (reflected) *reflected = result;
}

}  // namespace reflector
