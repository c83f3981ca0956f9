#pragma once

#include <cmath>
#include <span>
#include <vector>

#include "geometry/point2.h"
#include "geometry/slope.h"

namespace reflector {

// What the segment test needs of one mirror segment, worked out once per
// reflector instead of once per ray: the same expressions IntersectLines
// evaluates, so every value has the bits it would have there.
struct SegmentLine {
  Point2 a;                // the segment's first end (vertex k)
  Point2 b;                // its second end (vertex k + 1)
  double slope = 0.0;      // Slope(a, b); 0 and unread when vertical
  double intercept = 0.0;  // b.y - slope b.x; 0 and unread when vertical
  double av = 0.0;         // a's coordinate along the inside test's axis
  double bv = 0.0;         // b's coordinate along it
  bool vertical = false;   // a.x == b.x
  bool useX = false;       // the inside test compares x (else y)
};

inline SegmentLine MakeSegmentLine(Point2 a, Point2 b) {
  SegmentLine line;
  line.a = a;
  line.b = b;
  line.vertical = a.x == b.x;
  if (!line.vertical) {
    line.slope = Slope(a, b);
    line.intercept = b.y - line.slope * b.x;
  }
  line.useX = std::fabs(a.y - b.y) < std::fabs(a.x - b.x);
  line.av = line.useX ? a.x : a.y;
  line.bv = line.useX ? b.x : b.y;
  return line;
}

// One line per segment of the polyline, in order; lines keeps its storage.
inline void MakeSegmentLines(std::span<const Point2> vertices, std::vector<SegmentLine>& lines) {
  lines.resize(vertices.size() < 2 ? 0 : vertices.size() - 1);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    lines[k] = MakeSegmentLine(vertices[k], vertices[k + 1]);
  }
}

}  // namespace reflector
