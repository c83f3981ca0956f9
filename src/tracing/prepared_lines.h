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

// Written in place, every field of every line, without branches: a line
// built on the stack and copied stalls on its own stores, and the divisions
// of neighbouring segments can then overlap. A vertical segment's slope is
// still divided out (an infinity or NaN, quietly) and not kept.
inline void SetSegmentLine(SegmentLine& line, Point2 a, Point2 b) {
  const bool vertical = a.x == b.x;
  const double slope = Slope(a, b);
  const bool useX = std::fabs(a.y - b.y) < std::fabs(a.x - b.x);
  line.a = a;
  line.b = b;
  line.slope = vertical ? 0.0 : slope;
  line.intercept = vertical ? 0.0 : b.y - slope * b.x;
  line.av = useX ? a.x : a.y;
  line.bv = useX ? b.x : b.y;
  line.vertical = vertical;
  line.useX = useX;
}

// One line per segment of the polyline, in order; lines keeps its storage.
inline void MakeSegmentLines(std::span<const Point2> vertices, std::vector<SegmentLine>& lines) {
  lines.resize(vertices.size() < 2 ? 0 : vertices.size() - 1);
  for (std::size_t k = 0; k < lines.size(); ++k) SetSegmentLine(lines[k], vertices[k], vertices[k + 1]);
}

}  // namespace reflector
