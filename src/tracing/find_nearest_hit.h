#pragma once

#include <span>

#include "geometry/point2.h"

namespace reflector {

// One step of a ray through an open polyline: finds the nearest segment that
// the ray from rayPoint through directionPoint meets (segment k joins vertex k
// and k + 1; skipSegment is not tested, -1 tests all) and reflects the ray there.
// Among equally near segments the highest index wins.
//
// hitFlag, when given, is always written. hitPoint, newDirectionPoint and
// hitSegment are written only on a hit. All outputs are written after the
// work is done, so they may alias the caller's own inputs.
void FindNearestHit(std::span<const Point2> vertices, int skipSegment, Point2 rayPoint,
                    Point2 directionPoint, Point2* hitPoint, Point2* newDirectionPoint,
                    bool* hitFlag, int* hitSegment);

}  // namespace reflector
