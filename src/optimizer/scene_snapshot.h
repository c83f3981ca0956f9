#pragma once

#include <vector>

#include "geometry/point2.h"

namespace reflector {

// The scene as one optimiser sees it, frozen when the optimiser is created.
struct SceneSnapshot {
  std::vector<Point2> vertices;  // the user's polyline in drawing order; may be empty
  Point2 source;                 // where the beam leaves from
  Point2 aim;                    // where the beam's central ray is aimed
  Point2 target;                 // the point the reflected rays should pass
};

}  // namespace reflector
