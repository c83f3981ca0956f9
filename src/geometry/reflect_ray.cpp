#include "geometry/reflect_ray.h"

namespace reflector {

void ReflectRay(Point2 a, Point2 b, Point2 s, Point2 h, Point2* reflected) {
  const Point2 result = ReflectRayWith(
      a, b, s, h, [](double x) { return std::atan(x); }, [](double x) { return std::tan(x); });
  if (reflected) *reflected = result;
}

}  // namespace reflector
