#pragma once

#include "geometry/point2.h"

namespace reflector {

// Slope of the line through p and q (p.x != q.x), always formed first minus
// second, above and below, so that every caller rounds the same way.
inline double Slope(Point2 p, Point2 q) { return (p.y - q.y) / (p.x - q.x); }

}  // namespace reflector
