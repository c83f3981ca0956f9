#include "tracing/find_nearest_hit.h"

#include "geometry/distance.h"
#include "geometry/intersect_lines.h"
#include "geometry/reflect_ray.h"

namespace reflector {

void FindNearestHit(std::span<const Point2> vertices, int skipSegment, Point2 rayPoint,
                    Point2 directionPoint, Point2* hitPoint, Point2* newDirectionPoint,
                    bool* hitFlag, int* hitSegment) {
  bool found = false;
  int bestSegment = -1;
  Point2 bestPoint;
  double bestDistance = 0.0;

  const int segmentCount = static_cast<int>(vertices.size()) - 1;
  for (int k = 0; k < segmentCount; ++k) {
    if (k == skipSegment) continue;
    Point2 meeting;
    bool inside = false;
    IntersectLines(vertices[k], vertices[k + 1], rayPoint, directionPoint, &meeting, &inside,
                   nullptr);
    if (!inside) continue;
    const double d = Distance(rayPoint, meeting);
    // <=, not <: a later segment at the same distance takes over.
    if (!found || d <= bestDistance) {
      found = true;
      bestSegment = k;
      bestPoint = meeting;
      bestDistance = d;
    }
  }

  Point2 reflected;
  if (found) {
    ReflectRay(vertices[bestSegment], vertices[bestSegment + 1], rayPoint, bestPoint, &reflected);
  }

  if (hitFlag) *hitFlag = found;
  if (!found) return;
  if (hitPoint) *hitPoint = bestPoint;
  if (newDirectionPoint) *newDirectionPoint = reflected;
  if (hitSegment) *hitSegment = bestSegment;
}

}  // namespace reflector
