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

bool BeamTracer::Available(Width width) {
  static const bool avx = __builtin_cpu_supports("avx");
  static const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
  switch (width) {
    case Width::kTwoLanes: return true;
    case Width::kFourLanes: return avx;
    case Width::kEightLanes: return avx512;
  }
  return false;
}

namespace {

BeamTracer::Width WidestUpTo(BeamTracer::Width wanted) {
  using Width = BeamTracer::Width;
  if (wanted == Width::kEightLanes && BeamTracer::Available(Width::kEightLanes)) return wanted;
  if (wanted != Width::kTwoLanes && BeamTracer::Available(Width::kFourLanes)) {
    return Width::kFourLanes;
  }
  return Width::kTwoLanes;
}

const LaneFunctions& FunctionsOf(BeamTracer::Width width) {
  switch (width) {
    case BeamTracer::Width::kEightLanes: return kEightLaneFunctions;
    case BeamTracer::Width::kFourLanes: return kFourLaneFunctions;
    case BeamTracer::Width::kTwoLanes: break;
  }
  return kTwoLaneFunctions;
}

}  // namespace

BeamTracer::BeamTracer() : BeamTracer(Width::kEightLanes) {}

BeamTracer::BeamTracer(Width wanted)
    : width(WidestUpTo(wanted)), lanesOf(&FunctionsOf(width)), lanes(lanesOf->lanes) {}

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
    rayRecords[i].path.ExtendTo(1, {cx[i], cy[i]});
  }

  int activeCount = kBeamRayCount;
  std::size_t pathLength = 1;  // of every ray still travelling
  while (activeCount > 0) {
    if (stopRequested.load()) {
      rayRecords.clear();
      return false;
    }
    const int padded = Padded(activeCount);
    PadWithLast(activeCount, padded, cx, cy, dx, dy, skipped);
    const StepBatch batch{cx.data(),   cy.data(),   dx.data(),         dy.data(), skipped.data(),
                          padded,      hitX.data(), hitY.data(),       hitSegment.data()};
    lanesOf->step(stepSegments.data(), static_cast<int>(stepSegments.size()), batch);
    activeCount = Advance(activeCount, pathLength, rayRecords);
    ++pathLength;
  }

  // Costs and their sum in ray order, as EvaluateBeam adds them. The line
  // of the last leg is taken last point first: coincident points then
  // measure the distance to the last point.
  const int padded = Padded(kBeamRayCount);
  const CostBatch costs{lastX.data(),     lastY.data(), previousX.data(),
                        previousY.data(), padded,       distance.data()};
  lanesOf->distances(target.x, target.y, costs);
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

int BeamTracer::Advance(int activeCount, std::size_t pathLength,
                        std::vector<RayRecord>& rayRecords) {
  // Each ray's hit (or escape) goes on its path; rays that end here leave
  // their last two points, and the others line up for reflection. A full
  // path needs no further direction.
  const std::size_t length = pathLength + 1;
  const bool full = length >= static_cast<std::size_t>(kBeamReflectionLimit) + 2;
  int reflecting = 0;
  for (int slot = 0; slot < activeCount; ++slot) {
    const int ray = rayOfSlot[slot];
    RayPath& path = rayRecords[ray].path;
    const int best = static_cast<int>(hitSegment[slot]);
    if (best < 0) {
      path.ExtendTo(length, {dx[slot], dy[slot]});
      Finished(ray, {dx[slot], dy[slot]}, {cx[slot], cy[slot]});
      continue;
    }
    const Point2 hit{hitX[slot], hitY[slot]};
    path.ExtendTo(length, hit);
    if (full) {
      Finished(ray, hit, {cx[slot], cy[slot]});
      continue;
    }
    const int r = reflecting++;
    reflectRay[r] = ray;
    reflectSegment[r] = best;
    startX[r] = cx[slot];
    startY[r] = cy[slot];
    reflectHitX[r] = hit.x;
    reflectHitY[r] = hit.y;
    mirrorSlope[r] = segments[best].slope;
  }
  if (reflecting == 0) return 0;

  // The common case, a ray and a mirror neither of them vertical, in lanes
  // for the arithmetic before atan and after tan; every lane computes it, and
  // the rays of the other cases are then reflected one by one.
  const int padded = Padded(reflecting);
  PadWithLast(reflecting, padded, startX, startY, reflectHitX, reflectHitY, mirrorSlope);
  const ReflectBatch batch{startX.data(),      startY.data(),      reflectHitX.data(),
                           reflectHitY.data(), mirrorSlope.data(), padded};
  lanesOf->reflectionAngles(batch, rayAngle.data(), turnAngle.data());
  // tan(atan(mr) + 2 atan(t)), as ReflectRayWith takes it. The padding's
  // slopes come out unread.
  for (int r = 0; r < reflecting; ++r) {
    reflectedSlope[r] = tan(atan(rayAngle[r]) + 2 * atan(turnAngle[r]));
  }
  lanesOf->reflectedPoints(batch, reflectedSlope.data(), dx.data(), dy.data());
  // Packed down: slot r takes the r-th reflecting ray.
  for (int r = 0; r < reflecting; ++r) {
    const int best = reflectSegment[r];
    const SegmentLine& mirror = segments[best];
    if (mirror.a.x == mirror.b.x || startX[r] == reflectHitX[r]) {
      const Point2 direction = ReflectRayWith(
          mirror.a, mirror.b, mirror.slope, {startX[r], startY[r]},
          {reflectHitX[r], reflectHitY[r]}, [this](double x) { return atan(x); },
          [this](double x) { return tan(x); });
      dx[r] = direction.x;
      dy[r] = direction.y;
    }
    rayOfSlot[r] = reflectRay[r];
    cx[r] = reflectHitX[r];
    cy[r] = reflectHitY[r];
    skipped[r] = best;
  }
  return reflecting;
}

}  // namespace reflector
