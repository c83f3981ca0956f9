#include "tracing/beam.h"

#include "geometry/distance.h"
#include "tracing/trace_path.h"

namespace reflector {

bool EvaluateBeam(std::span<const Point2> vertices, Point2 source, Point2 aim, Point2 target,
                  const std::atomic<bool>& stopRequested, std::vector<RayRecord>& rayRecords,
                  double& score) {
  // The last evaluation's records are overwritten in place, keeping their
  // paths' storage: the same values as clearing and rebuilding them, without
  // an allocation per ray. Whatever is not overwritten is dropped.
  const std::size_t previous = rayRecords.size();
  score = 0;

  for (int i = 0; i < kBeamRayCount; ++i) {
    const auto index = static_cast<std::size_t>(i);
    if (stopRequested.load()) {
      rayRecords.resize(index);  // only the rays traced so far
      return false;
    }

    const double offset = (static_cast<double>(i) - kBeamCentralRay) * kBeamSpacing;
    const Point2 start{source.x, source.y + offset};
    const Point2 rayAim{aim.x, aim.y + offset};

    RayRecord& record = index < previous ? rayRecords[index] : rayRecords.emplace_back();
    record.hitFlag = 0;
    record.cost = 0.0;
    record.path.clear();
    // Room for the longest possible path, so it never regrows.
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
  }
  rayRecords.resize(kBeamRayCount);

  score = 0;
  for (const RayRecord& record : rayRecords) {
    score += record.hitFlag ? record.cost : kMissCost;
  }
  return true;
}

}  // namespace reflector
