#pragma once

#include "geometry/point2.h"

namespace reflector {

// A point in integer window pixels: the user's polyline and everything drawn.
struct ScreenPoint {
  int x = 0;
  int y = 0;

  friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

// Exact: every int is a double.
inline Point2 ToPoint2(ScreenPoint p) { return {static_cast<double>(p.x), static_cast<double>(p.y)}; }

// Truncates each coordinate toward zero, as drawing does.
inline ScreenPoint ToScreenPoint(Point2 p) { return {static_cast<int>(p.x), static_cast<int>(p.y)}; }

}  // namespace reflector
