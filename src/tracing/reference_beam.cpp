#include "tracing/reference_beam.h"

#include "geometry/distance.h"
#include "geometry/intersect_lines.h"
#include "geometry/reflect_ray.h"
#include "tracing/beam.h"

namespace reflector {

namespace {

// The ray from start through direction, reflected at each nearest hit until
// it meets nothing or its path holds limit + 2 points.
std::vector<Point2> ReferencePath(std::span<const Point2> vertices, Point2 start,
                                  Point2 direction) {
  std::vector<Point2> path{start};
  Point2 current = start;
  int skip = -1;
  for (;;) {
    bool found = false;
    int best = -1;
    Point2 bestPoint;
    double bestDistance = 0.0;
    for (int k = 0; k + 1 < static_cast<int>(vertices.size()); ++k) {
      if (k == skip) continue;
      Point2 meeting;
      bool inside = false;
      IntersectLines(vertices[k], vertices[k + 1], current, direction, &meeting, &inside,
                     nullptr);
      if (!inside) continue;
      const double d = Distance(current, meeting);
      if (!found || d <= bestDistance) {  // the later of equally near segments
        found = true;
        best = k;
        bestPoint = meeting;
        bestDistance = d;
      }
    }
    if (!found) {
      path.push_back(direction);
      return path;
    }
    Point2 reflected;
    ReflectRay(vertices[best], vertices[best + 1], current, bestPoint, &reflected);
    path.push_back(bestPoint);
    if (path.size() >= kBeamReflectionLimit + 2) return path;
    current = bestPoint;
    direction = reflected;
    skip = best;
  }
}

}  // namespace

ReferenceBeam EvaluateBeamReference(std::span<const Point2> vertices, Point2 source, Point2 aim,
                                    Point2 target) {
  ReferenceBeam beam;
  for (int i = 0; i < kBeamRayCount; ++i) {
    const double offset = (static_cast<double>(i) - kBeamCentralRay) * kBeamSpacing;
    RayRecord record;
    for (Point2 p : ReferencePath(vertices, {source.x, source.y + offset}, {aim.x, aim.y + offset})) {
      record.path.push_back(p);
    }
    const std::size_t n = record.path.size();
    if (n >= 3) {
      record.hitFlag = 1;
      record.cost = DistanceToLine(target, record.path[n - 1], record.path[n - 2]);
      if (n >= 4) record.cost += kMultipleReflectionPenalty;
    }
    beam.rayRecords.push_back(record);
  }
  for (const RayRecord& record : beam.rayRecords) {
    beam.score += record.hitFlag ? record.cost : kMissCost;
  }
  return beam;
}

}  // namespace reflector
