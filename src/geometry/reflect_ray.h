#pragma once

#include "geometry/point2.h"

namespace reflector {

// A second point of the ray that leaves hit point H after the ray from S is
// reflected on the mirror through A and B: S mirrored across the mirror's
// normal at H. Written to *reflected only when it is not null.
void ReflectRay(Point2 a, Point2 b, Point2 s, Point2 h, Point2* reflected);

}  // namespace reflector
