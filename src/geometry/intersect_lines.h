#pragma once

#include "geometry/point2.h"

namespace reflector {

// Meets the line through segment AB with the ray that starts at C and heads
// through D. Every output is optional (nullptr) and written only at the end:
//   hit      - the meeting point of the two lines, when they meet at all (even
//              if it lies off the segment or behind the ray's start);
//   inside   - the meeting point lies on the segment and on the ray;
//   parallel - the lines do not meet (equal slopes, or both vertical).
// Lines are in slope-intercept form, with exact tests for vertical lines.
void IntersectLines(Point2 a, Point2 b, Point2 c, Point2 d, Point2* hit, bool* inside,
                    bool* parallel);

}  // namespace reflector
