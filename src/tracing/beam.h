#pragma once

#include <atomic>
#include <span>
#include <vector>

#include "geometry/point2.h"
#include "tracing/ray_record.h"

namespace reflector {

// The fixed beam: 150 parallel rays, 2 pixels apart vertically, ray 75 unshifted.
inline constexpr int kBeamRayCount = 150;
inline constexpr int kBeamCentralRay = 75;
inline constexpr double kBeamSpacing = 2.0;
inline constexpr int kBeamReflectionLimit = 5;
static_assert(RayPath::kCapacity == kBeamReflectionLimit + 2, "a path holds every point a ray can have");
inline constexpr double kMultipleReflectionPenalty = 500.0;
inline constexpr double kMissCost = 1000.0;

// Scores a reflector against the beam from source toward aim: each ray is
// traced and recorded in rayRecords (replacing what was there), and score
// becomes the sum of the ray costs in ray order, lower being better. A hit ray
// costs the target's distance to the line of its last leg, plus 500 if it was
// reflected twice or more; a miss costs 1000.
//
// stopRequested is read afresh before every step of the beam (all rays take
// their steps together); when it is seen set the call returns false at once,
// with no records and a score of 0. BeamTracer does the work; keep one of
// those to score many reflectors.
bool EvaluateBeam(std::span<const Point2> vertices, Point2 source, Point2 aim, Point2 target,
                  const std::atomic<bool>& stopRequested, std::vector<RayRecord>& rayRecords,
                  double& score);

}  // namespace reflector
