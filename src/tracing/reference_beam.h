#pragma once

#include <span>
#include <vector>

#include "geometry/point2.h"
#include "tracing/ray_record.h"

namespace reflector {

// The beam's score written the plain way: every ray gets a fresh path, every
// segment test starts from the raw points, nothing is kept from one call to
// the next. Slow on purpose; it is the yardstick the fast tracer is checked
// and timed against, bit for bit. The result is what EvaluateBeam gives when
// it is not stopped.
struct ReferenceBeam {
  std::vector<RayRecord> rayRecords;  // one per beam ray
  double score = 0.0;
};

ReferenceBeam EvaluateBeamReference(std::span<const Point2> vertices, Point2 source, Point2 aim,
                                    Point2 target);

}  // namespace reflector
