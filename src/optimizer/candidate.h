#pragma once

#include <vector>

#include "geometry/point2.h"
#include "tracing/ray_record.h"

namespace reflector {

// One variant of the reflector, with the outcome of its last evaluation.
// A value type: copies own their own vertices, records and paths.
struct Candidate {
  std::vector<Point2> vertices;       // as many as the snapshot's, always
  // One per beam ray after an evaluation. The best's are always its own; a
  // copy made by SelectSurvivors keeps those of its former self until it is
  // traced again.
  std::vector<RayRecord> rayRecords;
  double score = 0.0;                 // lower is better; 0 before the first evaluation
};

}  // namespace reflector
