#include "geometry/intersect_lines.h"

#include <cmath>

#include "geometry/slope.h"

namespace reflector {

namespace {

// The axis to test along is x when the pair spans more in x than in y, and y
// otherwise (equal extents, including coincident points, choose y).
bool UseXAxis(Point2 p, Point2 q) { return std::fabs(p.y - q.y) < std::fabs(p.x - q.x); }

// The end with the larger coordinate belongs to the segment, the other does not:
// min(a, b) < h <= max(a, b).
bool OnSegment(Point2 h, Point2 a, Point2 b) {
  const bool x = UseXAxis(a, b);
  const double hv = x ? h.x : h.y;
  const double av = x ? a.x : a.y;
  const double bv = x ? b.x : b.y;
  return (hv <= av) == (hv > bv);
}

// Towards larger coordinates the start itself is on the ray; towards smaller
// ones it is not.
bool AheadOfRay(Point2 h, Point2 c, Point2 d) {
  const bool x = UseXAxis(c, d);
  const double hv = x ? h.x : h.y;
  const double cv = x ? c.x : c.y;
  const double dv = x ? d.x : d.y;
  return (hv >= cv) != (cv > dv);
}

}  // namespace

void IntersectLines(Point2 a, Point2 b, Point2 c, Point2 d, Point2* hit, bool* inside,
                    bool* parallel) {
  Point2 meeting;
  bool meets = true;

  if (a.x != b.x && c.x != d.x) {
    // y = m1 x + c1 and y = m2 x + c2 meet at x = (c2 - c1) / (m1 - m2).
    const double m1 = Slope(a, b);
    const double c1 = b.y - m1 * b.x;
    const double m2 = Slope(c, d);
    if (m1 == m2) {
      meets = false;
    } else {
      const double c2 = d.y - m2 * d.x;
      meeting.x = (c2 - c1) / (m1 - m2);
      meeting.y = meeting.x * m1 + c1;
    }
  } else if (a.x == b.x && c.x == d.x) {
    meets = false;
  } else if (a.x == b.x) {
    const double m2 = Slope(c, d);
    meeting.x = a.x;
    meeting.y = (d.y - m2 * d.x) + m2 * a.x;
  } else {
    const double m1 = Slope(a, b);
    meeting.x = c.x;
    meeting.y = (b.y - m1 * b.x) + m1 * c.x;
  }

  if (!meets) {
    if (inside) *inside = false;
    if (parallel) *parallel = true;
    return;
  }
  const bool isInside = OnSegment(meeting, a, b) && AheadOfRay(meeting, c, d);
  if (hit) *hit = meeting;
  if (inside) *inside = isInside;
  if (parallel) *parallel = false;
}

}  // namespace reflector
