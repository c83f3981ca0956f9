#include "tracing/beam_tracer.h"

#include "geometry/distance.h"
#include "geometry/reflect_ray.h"

namespace reflector {

namespace {

using Lanes = BeamTracer::Lanes;
using Mask = BeamTracer::Mask;

// Lane operations as plain bit logic, which every x86-64 vector unit has.
inline __attribute__((always_inline)) bool Any(Mask m) {
  return (m[0] | m[1]) != 0;
}

inline __attribute__((always_inline)) Mask Bits(Lanes v) { return reinterpret_cast<Mask>(v); }

// m ? a : b, lane by lane.
inline __attribute__((always_inline)) Lanes Select(Mask m, Lanes a, Lanes b) {
  return reinterpret_cast<Lanes>((m & Bits(a)) | (~m & Bits(b)));
}

inline __attribute__((always_inline)) Mask Select(Mask m, Mask a, Mask b) {
  return (m & a) | (~m & b);
}

inline __attribute__((always_inline)) Lanes Abs(Lanes v) {
  const Mask magnitude = (Mask){} + 0x7FFFFFFFFFFFFFFFLL;
  return reinterpret_cast<Lanes>(Bits(v) & magnitude);
}

}  // namespace

bool BeamTracer::Evaluate(std::span<const Point2> vertices, Point2 source, Point2 aim,
                          Point2 target, const std::atomic<bool>& stopRequested,
                          std::vector<RayRecord>& rayRecords, double& score) {
  score = 0;
  if (stopRequested.load()) {
    rayRecords.clear();
    return false;
  }
  MakeSegmentLines(vertices, segments);
  rayRecords.resize(kBeamRayCount);

  for (int i = 0; i < kBeamRayCount; ++i) {
    const double offset = (static_cast<double>(i) - kBeamCentralRay) * kBeamSpacing;
    current[i] = {source.x, source.y + offset};
    direction[i] = {aim.x, aim.y + offset};
    skip[i] = -1;
    active[i] = i;
    RayRecord& record = rayRecords[i];
    record.hitFlag = 0;
    record.cost = 0.0;
    record.path.clear();
    // Room for the longest possible path, so it never regrows.
    record.path.reserve(kBeamReflectionLimit + 2);
    record.path.push_back(current[i]);
  }

  int activeCount = kBeamRayCount;
  while (activeCount > 0) {
    if (stopRequested.load()) {
      rayRecords.clear();
      return false;
    }
    Step(activeCount);
    int stillActive = 0;
    for (int slot = 0; slot < activeCount; ++slot) {
      const int ray = active[slot];
      if (Advance(ray, slot, rayRecords[ray].path)) active[stillActive++] = ray;
    }
    activeCount = stillActive;
  }

  for (RayRecord& record : rayRecords) {
    const std::size_t n = record.path.size();
    if (n >= 3) {
      record.hitFlag = 1;
      // The line of the last leg, last point first: coincident points then
      // measure the distance to the last point.
      record.cost = DistanceToLine(target, record.path[n - 1], record.path[n - 2]);
      if (n >= 4) record.cost += kMultipleReflectionPenalty;
    }
  }
  for (const RayRecord& record : rayRecords) {
    score += record.hitFlag ? record.cost : kMissCost;
  }
  return true;
}

void BeamTracer::Step(int activeCount) {
  // Gather the rays into lanes; the last batch is padded with copies of the
  // last ray, whose results are never read.
  const int batches = (activeCount + kLanes - 1) / kLanes;
  for (int slot = 0; slot < batches * kLanes; ++slot) {
    const int ray = active[slot < activeCount ? slot : activeCount - 1];
    const int b = slot / kLanes;
    const int l = slot % kLanes;
    cx[b][l] = current[ray].x;
    cy[b][l] = current[ray].y;
    dx[b][l] = direction[ray].x;
    dy[b][l] = direction[ray].y;
    skipLanes[b][l] = skip[ray];
  }

  const int segmentCount = static_cast<int>(segments.size());
  for (int b = 0; b < batches; ++b) {
    const Lanes c_x = cx[b], c_y = cy[b], d_x = dx[b], d_y = dy[b];
    // The ray's line, as MakeRayLine: vertical lanes get values never used.
    const Mask rayVertical = c_x == d_x;
    const Lanes slope = (c_y - d_y) / (c_x - d_x);
    const Lanes intercept = d_y - slope * d_x;
    const Mask useX = Abs(c_y - d_y) < Abs(c_x - d_x);
    const Lanes cv = Select(useX, c_x, c_y);
    const Lanes dv = Select(useX, d_x, d_y);
    const Mask towardLower = cv > dv;
    const Lanes skipped = skipLanes[b];

    Mask found = (Mask){};
    Mask bestSegment = (Mask){} - 1;
    Lanes bestX = (Lanes){}, bestY = (Lanes){}, bestDistance = (Lanes){};
    for (int k = 0; k < segmentCount; ++k) {
      const SegmentLine& s = segments[k];
      // MeetInside, lane by lane.
      Lanes mx, my;
      Mask meets;
      if (!s.vertical) {
        const Lanes gx = (intercept - s.intercept) / (s.slope - slope);
        const Lanes gy = gx * s.slope + s.intercept;
        const Lanes vy = s.intercept + s.slope * c_x;
        mx = Select(rayVertical, c_x, gx);
        my = Select(rayVertical, vy, gy);
        meets = rayVertical | ~(slope == s.slope);  // NaN compares unequal, as !=
      } else {
        mx = (Lanes){} + s.a.x;
        my = intercept + slope * s.a.x;
        meets = ~rayVertical;
      }
      const Lanes hv = s.useX ? mx : my;
      const Mask onSegment = ~((hv <= s.av) ^ (hv > s.bv));
      const Lanes rv = Select(useX, mx, my);
      const Mask ahead = (rv >= cv) ^ towardLower;
      const Mask inside = meets & onSegment & ahead & ~(skipped == static_cast<double>(k));
      if (!Any(inside)) continue;

      const Lanes ey = c_y - my;
      const Lanes ex = c_x - mx;
      const Lanes squared = ey * ey + ex * ex;
      Lanes d;
      for (int l = 0; l < kLanes; ++l) d[l] = std::sqrt(squared[l]);
      // <=, not <: a later segment at the same distance takes over.
      const Mask take = inside & (~found | (d <= bestDistance));
      found |= take;
      bestSegment = Select(take, (Mask){} + k, bestSegment);
      bestX = Select(take, mx, bestX);
      bestY = Select(take, my, bestY);
      bestDistance = Select(take, d, bestDistance);
    }
    hitX[b] = bestX;
    hitY[b] = bestY;
    hitSegment[b] = bestSegment;
  }
}

bool BeamTracer::Advance(int ray, int slot, std::vector<Point2>& path) {
  const int b = slot / kLanes;
  const int l = slot % kLanes;
  const int best = static_cast<int>(hitSegment[b][l]);
  if (best < 0) {
    path.push_back(direction[ray]);
    return false;
  }
  const Point2 hit{hitX[b][l], hitY[b][l]};
  path.push_back(hit);
  // A full path needs no further direction.
  if (path.size() >= static_cast<std::size_t>(kBeamReflectionLimit) + 2) return false;
  const SegmentLine& mirror = segments[best];
  direction[ray] = ReflectRayWith(
      mirror.a, mirror.b, current[ray], hit, [this](double x) { return atan(x); },
      [this](double x) { return tan(x); });
  current[ray] = hit;
  skip[ray] = best;
  return true;
}

}  // namespace reflector
