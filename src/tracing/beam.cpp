#include "tracing/beam.h"

#include <utility>

#include "geometry/distance.h"
#include "tracing/trace_path.h"

namespace reflector {

bool EvaluateBeam(std::span<const Point2> vertices, Point2 source, Point2 aim, Point2 target,
                  const std::atomic<bool>& stopRequested, std::vector<RayRecord>& rayRecords,
                  double& score) {
  rayRecords.clear();
  score = 0;

  for (int i = 0; i < kBeamRayCount; ++i) {
    if (stopRequested.load()) return false;

    const double offset = (static_cast<double>(i) - kBeamCentralRay) * kBeamSpacing;
    const Point2 start{source.x, source.y + offset};
    const Point2 rayAim{aim.x, aim.y + offset};

    RayRecord record;
    // One allocation for the longest possible path, instead of regrowing it.
    record.path.reserve(kBeamReflectionLimit + 2);
    TracePath(vertices, kBeamReflectionLimit, start, rayAim, record.path);
    const std::size_t n = record.path.size();
    if (n >= 3) {
      record.hitFlag = 1;
      // The line of the last leg, last point first: coincident points then
      // measure the distance to the last point.
      record.cost = DistanceToLine(target, record.path[n - 1], record.path[n - 2]);
      if (n >= 4) record.cost += kMultipleReflectionPenalty;
    }
    rayRecords.push_back(std::move(record));
  }

  score = 0;
  for (const RayRecord& record : rayRecords) {
    score += record.hitFlag ? record.cost : kMissCost;
  }
  return true;
}

}  // namespace reflector
