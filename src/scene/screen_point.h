#pragma once

#include <climits>

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

// Truncates toward zero, as drawing does. A coordinate no int can hold (or
// NaN, which a degenerate beam can produce) becomes INT_MIN, as the processor's
// own truncating conversion gives, instead of undefined behaviour.
inline int ToPixel(double value) {
  // The range test is false for NaN too.
  if (value > static_cast<double>(INT_MIN) - 1.0 && value < static_cast<double>(INT_MAX) + 1.0) {
    return static_cast<int>(value);
  }
  return INT_MIN;
}

inline ScreenPoint ToScreenPoint(Point2 p) { return {ToPixel(p.x), ToPixel(p.y)}; }

}  // namespace reflector
