#pragma once

namespace reflector {

// A point or vector in window pixel units; y grows downward.
struct Point2 {
  double x = 0.0;
  double y = 0.0;

  friend bool operator==(const Point2&, const Point2&) = default;
};

}  // namespace reflector
