#include "tracing/beam_tracer.h"

#include "geometry/distance.h"
#include "geometry/reflect_ray.h"

namespace reflector {

namespace {

// Each ray's vertical offset from the central ray, (i - 75) * 2: whole
// numbers, exact in a double however they are computed.
constexpr std::array<double, kBeamRayCount> kRayOffsets = [] {
  std::array<double, kBeamRayCount> offsets{};
  for (int i = 0; i < kBeamRayCount; ++i) {
    offsets[i] = (static_cast<double>(i) - kBeamCentralRay) * kBeamSpacing;
  }
  return offsets;
}();

}  // namespace

bool BeamTracer::FourLanesAvailable() {
  static const bool available = __builtin_cpu_supports("avx");
  return available;
}

BeamTracer::BeamTracer() : BeamTracer(FourLanesAvailable() ? Width::kFourLanes : Width::kTwoLanes) {}

BeamTracer::BeamTracer(Width chosen)
    : width(chosen == Width::kFourLanes && FourLanesAvailable() ? chosen : Width::kTwoLanes),
      lanes(width == Width::kFourLanes ? 4 : 2) {}

bool BeamTracer::Evaluate(std::span<const Point2> vertices, Point2 source, Point2 aim,
                          Point2 target, const std::atomic<bool>& stopRequested,
                          std::vector<RayRecord>& rayRecords, double& score) {
  score = 0;
  if (stopRequested.load()) {
    rayRecords.clear();
    return false;
  }
  MakeSegmentLines(vertices, segments);
  stepSegments.clear();
  for (std::size_t k = 0; k < segments.size(); ++k) {
    const SegmentLine& s = segments[k];
    stepSegments.push_back(
        {s.slope, s.intercept, s.av, s.bv, s.a.x, static_cast<double>(k), s.vertical, s.useX});
  }
  rayRecords.resize(kBeamRayCount);

  for (int i = 0; i < kBeamRayCount; ++i) {
    const double offset = kRayOffsets[i];
    rayOfSlot[i] = i;
    cx[i] = source.x;
    cy[i] = source.y + offset;
    dx[i] = aim.x;
    dy[i] = aim.y + offset;
    skipped[i] = -1;
    RayPath& path = rayRecords[i].path;
    path.clear();
    path.push_back({cx[i], cy[i]});
  }

  int activeCount = kBeamRayCount;
  while (activeCount > 0) {
    if (stopRequested.load()) {
      rayRecords.clear();
      return false;
    }
    // The last batch is padded with copies of the last ray, whose results
    // are never read.
    const int padded = (activeCount + lanes - 1) / lanes * lanes;
    for (int slot = activeCount; slot < padded; ++slot) {
      cx[slot] = cx[activeCount - 1];
      cy[slot] = cy[activeCount - 1];
      dx[slot] = dx[activeCount - 1];
      dy[slot] = dy[activeCount - 1];
      skipped[slot] = skipped[activeCount - 1];
    }
    const StepBatch batch{cx.data(),   cy.data(),   dx.data(),         dy.data(), skipped.data(),
                          padded,      hitX.data(), hitY.data(),       hitSegment.data()};
    const int segmentCount = static_cast<int>(stepSegments.size());
    if (width == Width::kFourLanes) {
      StepFourLanes(stepSegments.data(), segmentCount, batch);
    } else {
      StepTwoLanes(stepSegments.data(), segmentCount, batch);
    }
    activeCount = Advance(activeCount, rayRecords);
  }

  // Costs and their sum in ray order, as EvaluateBeam adds them. The line
  // of the last leg is taken last point first: coincident points then
  // measure the distance to the last point.
  const int padded = (kBeamRayCount + lanes - 1) / lanes * lanes;
  const CostBatch costs{lastX.data(),     lastY.data(), previousX.data(),
                        previousY.data(), padded,       distance.data()};
  if (width == Width::kFourLanes) {
    DistancesFourLanes(target.x, target.y, costs);
  } else {
    DistancesTwoLanes(target.x, target.y, costs);
  }
  // Summed in a local: through the reference, every addition would wait for
  // a store and a load besides the addition before it.
  double sum = 0;
  for (int ray = 0; ray < kBeamRayCount; ++ray) {
    RayRecord& record = rayRecords[ray];
    const std::size_t n = record.path.size();
    if (n >= 3) {
      double cost = distance[ray];
      if (n >= 4) cost += kMultipleReflectionPenalty;
      record.hitFlag = 1;
      record.cost = cost;
      sum += cost;
    } else {
      record.hitFlag = 0;
      record.cost = 0.0;
      sum += kMissCost;
    }
  }
  score = sum;
  return true;
}

int BeamTracer::Advance(int activeCount, std::vector<RayRecord>& rayRecords) {
  int stillActive = 0;
  for (int slot = 0; slot < activeCount; ++slot) {
    const int ray = rayOfSlot[slot];
    RayPath& path = rayRecords[ray].path;
    const int best = static_cast<int>(hitSegment[slot]);
    if (best < 0) {
      path.push_back({dx[slot], dy[slot]});
      Finished(ray, {dx[slot], dy[slot]}, {cx[slot], cy[slot]});
      continue;
    }
    const Point2 hit{hitX[slot], hitY[slot]};
    path.push_back(hit);
    // A full path needs no further direction.
    if (path.size() >= static_cast<std::size_t>(kBeamReflectionLimit) + 2) {
      Finished(ray, hit, {cx[slot], cy[slot]});
      continue;
    }
    const SegmentLine& mirror = segments[best];
    const Point2 direction = ReflectRayWith(
        mirror.a, mirror.b, mirror.slope, {cx[slot], cy[slot]}, hit, [this](double x) { return atan(x); },
        [this](double x) { return tan(x); });
    // Packed down: stillActive <= slot, and this slot has been read.
    rayOfSlot[stillActive] = ray;
    cx[stillActive] = hit.x;
    cy[stillActive] = hit.y;
    dx[stillActive] = direction.x;
    dy[stillActive] = direction.y;
    skipped[stillActive] = best;
    ++stillActive;
  }
  return stillActive;
}

}  // namespace reflector
