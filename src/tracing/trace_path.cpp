#include "tracing/trace_path.h"

#include "tracing/find_nearest_hit.h"

namespace reflector {

void TracePath(std::span<const Point2> vertices, int limit, Point2 start, Point2 direction,
               std::vector<Point2>& path) {
  path.push_back(start);
  Point2 current = start;
  int skip = -1;
  const long long maxPoints = static_cast<long long>(limit) + 2;
  for (;;) {
    bool hit = false;
    FindNearestHit(vertices, skip, current, direction, &current, &direction, &hit, &skip);
    if (!hit) {
      path.push_back(direction);
      return;
    }
    path.push_back(current);
    if (static_cast<long long>(path.size()) >= maxPoints) return;
  }
}

}  // namespace reflector
