#pragma once

#include <cmath>

#include "geometry/point2.h"

namespace reflector {

// Euclidean distance between p and q.
inline double Distance(Point2 p, Point2 q) {
  return std::sqrt((p.y - q.y) * (p.y - q.y) + (p.x - q.x) * (p.x - q.x));
}

// Distance from p to the whole line through l1 and l2 (not the segment); the
// distance to l1 when the two line points coincide.
inline double DistanceToLine(Point2 p, Point2 l1, Point2 l2) {
  const double dx = l2.x - l1.x;
  const double dy = l2.y - l1.y;
  if (dy == 0 && dx == 0) return Distance(p, l1);
  // |dy px - dx py + (dx l1y - dy l1x)| / |l2 - l1|
  return std::fabs(dy * p.x - dx * p.y + (dx * l1.y - dy * l1.x)) / std::sqrt(dx * dx + dy * dy);
}

}  // namespace reflector
