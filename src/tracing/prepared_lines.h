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
  lines.clear();
  for (std::size_t k = 0; k + 1 < vertices.size(); ++k) {
    lines.push_back(MakeSegmentLine(vertices[k], vertices[k + 1]));
  }
}

// What the segment test needs of the ray for one step, from its point c
// through d: again IntersectLines' own expressions.
struct RayLine {
  Point2 c;
  Point2 d;
  double slope = 0.0;       // Slope(c, d); 0 and unread when vertical
  double intercept = 0.0;   // d.y - slope d.x; 0 and unread when vertical
  double cv = 0.0;          // c's coordinate along the ahead test's axis
  bool vertical = false;    // c.x == d.x
  bool useX = false;        // the ahead test compares x (else y)
  bool towardLower = false; // c's coordinate is above d's along that axis
};

inline RayLine MakeRayLine(Point2 c, Point2 d) {
  RayLine line;
  line.c = c;
  line.d = d;
  line.vertical = c.x == d.x;
  if (!line.vertical) {
    line.slope = Slope(c, d);
    line.intercept = d.y - line.slope * d.x;
  }
  line.useX = std::fabs(c.y - d.y) < std::fabs(c.x - d.x);
  line.cv = line.useX ? c.x : c.y;
  const double dv = line.useX ? d.x : d.y;
  line.towardLower = line.cv > dv;
  return line;
}

// IntersectLines(segment.a, segment.b, ray.c, ray.d) for the inside flag and
// the meeting point: true, with *meeting set, exactly when it reports inside.
inline bool MeetInside(const SegmentLine& segment, const RayLine& ray, Point2* meeting) {
  Point2 m;
  if (!segment.vertical && !ray.vertical) {
    if (segment.slope == ray.slope) return false;
    m.x = (ray.intercept - segment.intercept) / (segment.slope - ray.slope);
    m.y = m.x * segment.slope + segment.intercept;
  } else if (segment.vertical && ray.vertical) {
    return false;
  } else if (segment.vertical) {
    m.x = segment.a.x;
    m.y = ray.intercept + ray.slope * segment.a.x;
  } else {
    m.x = ray.c.x;
    m.y = segment.intercept + segment.slope * ray.c.x;
  }
  // The comparisons as written in IntersectLines, so that a NaN goes the same way.
  const double hv = segment.useX ? m.x : m.y;
  if ((hv <= segment.av) != (hv > segment.bv)) return false;
  const double rv = ray.useX ? m.x : m.y;
  if ((rv >= ray.cv) == ray.towardLower) return false;
  *meeting = m;
  return true;
}

}  // namespace reflector
