#pragma once

#include <span>
#include <vector>

#include "geometry/point2.h"

namespace reflector {

// Follows the ray from start through direction across the polyline, reflecting
// at each nearest hit, and appends its course to path: the start, every hit
// point, and the far point it escapes toward when it meets nothing more. It
// stops at a path of limit + 2 points, so a path holds 2 to limit + 2 points.
// Only the segment met on the step before is skipped on the next step.
void TracePath(std::span<const Point2> vertices, int limit, Point2 start, Point2 direction,
               std::vector<Point2>& path);

}  // namespace reflector
