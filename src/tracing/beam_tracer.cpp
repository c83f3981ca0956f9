#include "tracing/beam_tracer.h"

#include "geometry/distance.h"
#include "geometry/reflect_ray.h"

namespace reflector {

namespace {

using Lanes = BeamTracer::Lanes;

// m ? a : b, lane by lane, for a mask m of all ones or all zeros per lane.
inline Lanes Select(Lanes m, Lanes a, Lanes b) {
  return _mm_or_pd(_mm_and_pd(m, a), _mm_andnot_pd(m, b));
}

inline Lanes Abs(Lanes v) {
  return _mm_and_pd(v, _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFFLL)));
}

inline bool Any(Lanes m) { return _mm_movemask_pd(m) != 0; }

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
  segmentLanes.clear();
  for (std::size_t k = 0; k < segments.size(); ++k) {
    const SegmentLine& s = segments[k];
    segmentLanes.push_back({_mm_set1_pd(s.slope), _mm_set1_pd(s.intercept), _mm_set1_pd(s.av),
                            _mm_set1_pd(s.bv), _mm_set1_pd(s.a.x),
                            _mm_set1_pd(static_cast<double>(k))});
  }
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
    cx[slot] = current[ray].x;
    cy[slot] = current[ray].y;
    dx[slot] = direction[ray].x;
    dy[slot] = direction[ray].y;
    skipped[slot] = skip[ray];
  }

  const int segmentCount = static_cast<int>(segments.size());
  const Lanes allOnes = _mm_castsi128_pd(_mm_set1_epi64x(-1));
  for (int b = 0; b < batches * kLanes; b += kLanes) {
    const Lanes c_x = _mm_load_pd(&cx[b]), c_y = _mm_load_pd(&cy[b]);
    const Lanes d_x = _mm_load_pd(&dx[b]), d_y = _mm_load_pd(&dy[b]);
    const Lanes skip_k = _mm_load_pd(&skipped[b]);
    // The ray's line as IntersectLines forms it: slope, intercept, and which
    // axis the ahead test compares. Vertical lanes get values never used.
    const Lanes rayVertical = _mm_cmpeq_pd(c_x, d_x);
    const bool anyVertical = Any(rayVertical);
    const Lanes slope = _mm_div_pd(_mm_sub_pd(c_y, d_y), _mm_sub_pd(c_x, d_x));
    const Lanes intercept = _mm_sub_pd(d_y, _mm_mul_pd(slope, d_x));
    const Lanes useX = _mm_cmplt_pd(Abs(_mm_sub_pd(c_y, d_y)), Abs(_mm_sub_pd(c_x, d_x)));
    const Lanes cv = Select(useX, c_x, c_y);
    const Lanes towardLower = _mm_cmpgt_pd(cv, Select(useX, d_x, d_y));

    Lanes found = _mm_setzero_pd();
    Lanes bestSegment = _mm_set1_pd(-1.0);
    Lanes bestX = _mm_setzero_pd(), bestY = _mm_setzero_pd(), bestDistance = _mm_setzero_pd();
    for (int k = 0; k < segmentCount; ++k) {
      const SegmentLine& s = segments[k];
      const SegmentLanes& sl = segmentLanes[k];
      // IntersectLines' meeting point and inside flag, lane by lane.
      Lanes mx, my, meets;
      if (!s.vertical) {
        const Lanes gx = _mm_div_pd(_mm_sub_pd(intercept, sl.intercept), _mm_sub_pd(sl.slope, slope));
        const Lanes gy = _mm_add_pd(_mm_mul_pd(gx, sl.slope), sl.intercept);
        meets = _mm_cmpneq_pd(slope, sl.slope);  // true for NaN, as !(==)
        if (anyVertical) {
          const Lanes vy = _mm_add_pd(sl.intercept, _mm_mul_pd(sl.slope, c_x));
          mx = Select(rayVertical, c_x, gx);
          my = Select(rayVertical, vy, gy);
          meets = _mm_or_pd(meets, rayVertical);
        } else {
          mx = gx;
          my = gy;
        }
      } else {
        mx = sl.ax;
        my = _mm_add_pd(intercept, _mm_mul_pd(slope, sl.ax));
        meets = _mm_andnot_pd(rayVertical, allOnes);
      }
      // (hv <= av) == (hv > bv), and (rv >= cv) != (cv > dv), as IntersectLines
      // writes them, so that a NaN goes the same way.
      const Lanes hv = s.useX ? mx : my;
      const Lanes outside = _mm_xor_pd(_mm_cmple_pd(hv, sl.av), _mm_cmpgt_pd(hv, sl.bv));
      const Lanes rv = Select(useX, mx, my);
      const Lanes ahead = _mm_xor_pd(_mm_cmpge_pd(rv, cv), towardLower);
      Lanes inside = _mm_andnot_pd(outside, _mm_and_pd(meets, ahead));
      inside = _mm_andnot_pd(_mm_cmpeq_pd(skip_k, sl.index), inside);
      if (!Any(inside)) continue;

      const Lanes ey = _mm_sub_pd(c_y, my);
      const Lanes ex = _mm_sub_pd(c_x, mx);
      const Lanes d = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(ey, ey), _mm_mul_pd(ex, ex)));
      // <=, not <: a later segment at the same distance takes over.
      const Lanes take =
          _mm_and_pd(inside, _mm_or_pd(_mm_andnot_pd(found, allOnes), _mm_cmple_pd(d, bestDistance)));
      found = _mm_or_pd(found, take);
      bestSegment = Select(take, sl.index, bestSegment);
      bestX = Select(take, mx, bestX);
      bestY = Select(take, my, bestY);
      bestDistance = Select(take, d, bestDistance);
    }
    _mm_store_pd(&hitX[b], bestX);
    _mm_store_pd(&hitY[b], bestY);
    _mm_store_pd(&hitSegment[b], bestSegment);
  }
}

bool BeamTracer::Advance(int ray, int slot, std::vector<Point2>& path) {
  const int best = static_cast<int>(hitSegment[slot]);
  if (best < 0) {
    path.push_back(direction[ray]);
    return false;
  }
  const Point2 hit{hitX[slot], hitY[slot]};
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
