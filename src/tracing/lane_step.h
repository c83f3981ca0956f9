#pragma once

// The beam tracer's segment test for a batch of rays at once, written once
// for any vector width. Each file that includes this defines the width's
// operations (a struct like TwoLanes in beam_tracer_sse2.cpp) in an unnamed
// namespace and instantiates StepLanes with them; the four-lane file is
// built for AVX, so this header uses no standard library code, which could
// otherwise be compiled there for AVX and shared with code that must run
// anywhere.
//
// A width's operations: Type holds a double per lane and Mask a truth per
// lane (the same register type where a comparison gives all-ones lanes, a
// mask register where the width has those); comparisons give a Mask, and
// And, AndNot, Or and Xor combine Masks.
//
// Every lane computes what IntersectLines and Distance compute for its ray,
// the same double operations on the same operands in the same order, and
// keeps the nearest hit as FindNearestHit does: segments in index order, a
// later one at the same distance taking over.

namespace reflector {

// What the step needs of one mirror segment (see SegmentLine).
struct StepSegment {
  double slope;
  double intercept;
  double av;
  double bv;
  double ax;
  double index;  // the segment's index, as a double to compare in lanes
  bool vertical;
  bool useX;
};

// The rays taking a step, by slot, count a whole number of batches (the last
// padded with copies of a real ray): start, direction point and the segment
// each must skip (-1: none). Out: the nearest hit of each, segment -1 for none.
struct StepBatch {
  const double* cx;
  const double* cy;
  const double* dx;
  const double* dy;
  const double* skipped;
  int count;
  double* hitX;
  double* hitY;
  double* hitSegment;
};

// One batch's rays, lane by lane, as the segment test uses them.
template <typename V>
struct RayLanes {
  using T = typename V::Type;
  using M = typename V::Mask;
  T c_x, c_y, skip_k;
  M rayVertical;       // the lanes whose ray is vertical
  T slope, intercept;  // the ray's line as IntersectLines forms it
  M useX;              // which axis the ahead test compares, and how
  T cv;
  M towardLower;
};

// Axes the ahead test compares in a batch: the same one in every lane, or a mix.
enum class LaneAxes { kAllY, kAllX, kMixed };

// The nearest hit of each lane's ray over every segment. kVerticalLanes: some
// lane's ray is vertical; kAxes: the lanes' ahead-test axes. Both only
// spare work where they allow it; every lane computes the same either way.
template <typename V, bool kVerticalLanes, LaneAxes kAxes>
inline void NearestHits(const StepSegment* segments, int segmentCount, const RayLanes<V>& ray,
                        typename V::Type& bestX, typename V::Type& bestY,
                        typename V::Type& bestSegment) {
  using T = typename V::Type;
  using M = typename V::Mask;
  const M allLanes = V::AllLanes();
  M found = V::NoLanes();
  T bestSquare = V::Zero();  // of the nearest hit's distance
  for (int k = 0; k < segmentCount; ++k) {
    const StepSegment& s = segments[k];
    // IntersectLines' meeting point and inside flag, lane by lane.
    T mx, my;
    M meets;
    if (!s.vertical) {
      const T sSlope = V::Set(s.slope), sIntercept = V::Set(s.intercept);
      const T gx = V::Div(V::Sub(ray.intercept, sIntercept), V::Sub(sSlope, ray.slope));
      const T gy = V::Add(V::Mul(gx, sSlope), sIntercept);
      meets = V::Neq(ray.slope, sSlope);  // true for NaN, as !(==)
      if constexpr (kVerticalLanes) {
        const T vy = V::Add(sIntercept, V::Mul(sSlope, ray.c_x));
        mx = V::Select(ray.rayVertical, ray.c_x, gx);
        my = V::Select(ray.rayVertical, vy, gy);
        meets = V::Or(meets, ray.rayVertical);
      } else {
        mx = gx;
        my = gy;
      }
    } else {
      mx = V::Set(s.ax);
      my = V::Add(ray.intercept, V::Mul(ray.slope, mx));
      meets = V::AndNot(ray.rayVertical, allLanes);
    }
    // (hv <= av) == (hv > bv), and (rv >= cv) != (cv > dv), as IntersectLines
    // writes them, so that a NaN goes the same way.
    const T hv = s.useX ? mx : my;
    const M outside = V::Xor(V::Le(hv, V::Set(s.av)), V::Gt(hv, V::Set(s.bv)));
    T rv;
    if constexpr (kAxes == LaneAxes::kAllX) {
      rv = mx;
    } else if constexpr (kAxes == LaneAxes::kAllY) {
      rv = my;
    } else {
      rv = V::Select(ray.useX, mx, my);
    }
    const M ahead = V::Xor(V::Ge(rv, ray.cv), ray.towardLower);
    M inside = V::AndNot(outside, V::And(meets, ahead));
    if (!V::Any(inside)) continue;
    const T index = V::Set(s.index);
    inside = V::AndNot(V::Eq(ray.skip_k, index), inside);
    if (!V::Any(inside)) continue;

    // Distance's square, before its root. The root is monotonic, so the
    // roots compare as the squares do, except that two different squares
    // may have the same root: where the squares say farther, the roots
    // decide. A NaN compares false both ways, as its root does.
    const T ey = V::Sub(ray.c_y, my);
    const T ex = V::Sub(ray.c_x, mx);
    const T square = V::Add(V::Mul(ey, ey), V::Mul(ex, ex));
    // <=, not <: a later segment at the same distance takes over.
    M nearer = V::Or(V::AndNot(found, allLanes), V::Le(square, bestSquare));
    const M farther = V::And(V::And(inside, found), V::Gt(square, bestSquare));
    if (V::Any(farther)) {
      nearer = V::Or(nearer, V::And(farther, V::Eq(V::Sqrt(square), V::Sqrt(bestSquare))));
    }
    const M take = V::And(inside, nearer);
    found = V::Or(found, take);
    bestSegment = V::Select(take, index, bestSegment);
    bestX = V::Select(take, mx, bestX);
    bestY = V::Select(take, my, bestY);
    bestSquare = V::Select(take, square, bestSquare);
  }
}

template <typename V>
inline void StepLanes(const StepSegment* segments, int segmentCount, const StepBatch& batch) {
  using T = typename V::Type;
  for (int b = 0; b < batch.count; b += V::kLanes) {
    RayLanes<V> ray;
    ray.c_x = V::Load(batch.cx + b);
    ray.c_y = V::Load(batch.cy + b);
    const T d_x = V::Load(batch.dx + b), d_y = V::Load(batch.dy + b);
    ray.skip_k = V::Load(batch.skipped + b);
    // Vertical lanes get a slope and intercept never used.
    ray.rayVertical = V::Eq(ray.c_x, d_x);
    ray.slope = V::Div(V::Sub(ray.c_y, d_y), V::Sub(ray.c_x, d_x));
    ray.intercept = V::Sub(d_y, V::Mul(ray.slope, d_x));
    ray.useX = V::Lt(V::Abs(V::Sub(ray.c_y, d_y)), V::Abs(V::Sub(ray.c_x, d_x)));
    ray.cv = V::Select(ray.useX, ray.c_x, ray.c_y);
    ray.towardLower = V::Gt(ray.cv, V::Select(ray.useX, d_x, d_y));

    T bestX = V::Zero(), bestY = V::Zero(), bestSegment = V::Set(-1.0);
    const bool verticalLanes = V::Any(ray.rayVertical);
    const bool anyX = V::Any(ray.useX);
    const bool allX = V::All(ray.useX);
    if (verticalLanes) {
      NearestHits<V, true, LaneAxes::kMixed>(segments, segmentCount, ray, bestX, bestY, bestSegment);
    } else if (allX) {
      NearestHits<V, false, LaneAxes::kAllX>(segments, segmentCount, ray, bestX, bestY, bestSegment);
    } else if (!anyX) {
      NearestHits<V, false, LaneAxes::kAllY>(segments, segmentCount, ray, bestX, bestY, bestSegment);
    } else {
      NearestHits<V, false, LaneAxes::kMixed>(segments, segmentCount, ray, bestX, bestY,
                                              bestSegment);
    }
    V::Store(batch.hitX + b, bestX);
    V::Store(batch.hitY + b, bestY);
    V::Store(batch.hitSegment + b, bestSegment);
  }
}

// The finished rays' last two points, by slot, count a whole number of
// batches. Out: DistanceToLine(target, last, previous) of each.
struct CostBatch {
  const double* lastX;
  const double* lastY;
  const double* previousX;
  const double* previousY;
  int count;
  double* distance;
};

// DistanceToLine lane by lane: the distance to the line, and to the last point
// in the lanes whose two points coincide.
template <typename V>
inline void DistanceLanes(double targetX, double targetY, const CostBatch& batch) {
  using T = typename V::Type;
  const T px = V::Set(targetX), py = V::Set(targetY), zero = V::Zero();
  for (int b = 0; b < batch.count; b += V::kLanes) {
    const T l1x = V::Load(batch.lastX + b), l1y = V::Load(batch.lastY + b);
    const T dx = V::Sub(V::Load(batch.previousX + b), l1x);
    const T dy = V::Sub(V::Load(batch.previousY + b), l1y);
    const typename V::Mask coincident = V::And(V::Eq(dy, zero), V::Eq(dx, zero));
    const T cross = V::Add(V::Sub(V::Mul(dy, px), V::Mul(dx, py)),
                           V::Sub(V::Mul(dx, l1y), V::Mul(dy, l1x)));
    T distance = V::Div(V::Abs(cross), V::Sqrt(V::Add(V::Mul(dx, dx), V::Mul(dy, dy))));
    if (V::Any(coincident)) {  // rare: a ray's last leg of no length
      const T ey = V::Sub(py, l1y), ex = V::Sub(px, l1x);
      distance = V::Select(coincident, V::Sqrt(V::Add(V::Mul(ey, ey), V::Mul(ex, ex))), distance);
    }
    V::Store(batch.distance + b, distance);
  }
}

// Reflections, by slot, count a whole number of batches: the ray's start S,
// its hit H, and the mirror's slope (see ReflectRayWith's first case, the one
// for a ray and a mirror that are neither of them vertical). The arithmetic
// before atan and after tan runs in lanes; the caller looks up atan and tan
// in between and handles the other cases itself.
struct ReflectBatch {
  const double* sx;
  const double* sy;
  const double* hx;
  const double* hy;
  const double* mirrorSlope;
  int count;
};

// Out: mr = Slope(S, H) and t = (mm - mr) / (mm mr + 1) of each.
template <typename V>
inline void ReflectionAngles(const ReflectBatch& batch, double* mr, double* t) {
  using T = typename V::Type;
  const T one = V::Set(1.0);
  for (int b = 0; b < batch.count; b += V::kLanes) {
    const T sx = V::Load(batch.sx + b), sy = V::Load(batch.sy + b);
    const T hx = V::Load(batch.hx + b), hy = V::Load(batch.hy + b);
    const T mm = V::Load(batch.mirrorSlope + b);
    const T r = V::Div(V::Sub(sy, hy), V::Sub(sx, hx));
    V::Store(mr + b, r);
    V::Store(t + b, V::Div(V::Sub(mm, r), V::Add(V::Mul(mm, r), one)));
  }
}

// In: m = tan(atan(mr) + 2 atan(t)) of each. Out: the reflected ray's second
// point, c = H.y - m H.x, x = ((S.y - mm S.x) - c) / (m - mm), y = x m + c.
template <typename V>
inline void ReflectedPoints(const ReflectBatch& batch, const double* m, double* outX,
                            double* outY) {
  using T = typename V::Type;
  for (int b = 0; b < batch.count; b += V::kLanes) {
    const T sx = V::Load(batch.sx + b), sy = V::Load(batch.sy + b);
    const T hx = V::Load(batch.hx + b), hy = V::Load(batch.hy + b);
    const T mm = V::Load(batch.mirrorSlope + b);
    const T reflected = V::Load(m + b);
    const T c = V::Sub(hy, V::Mul(reflected, hx));
    const T x = V::Div(V::Sub(V::Sub(sy, V::Mul(mm, sx)), c), V::Sub(reflected, mm));
    V::Store(outX + b, x);
    V::Store(outY + b, V::Add(V::Mul(x, reflected), c));
  }
}

// The two widths, each in its own file.
// The widths, each in its own file, as one table of entry points.
struct LaneFunctions {
  int lanes;
  void (*step)(const StepSegment* segments, int segmentCount, const StepBatch& batch);
  void (*distances)(double targetX, double targetY, const CostBatch& batch);
  void (*reflectionAngles)(const ReflectBatch& batch, double* mr, double* t);
  void (*reflectedPoints)(const ReflectBatch& batch, const double* m, double* outX,
                          double* outY);
};
extern const LaneFunctions kTwoLaneFunctions;   // SSE2: every x86-64 processor
extern const LaneFunctions kFourLaneFunctions;  // AVX
extern const LaneFunctions kEightLaneFunctions; // AVX-512 F and DQ

// The same four entry points for a width V, for its file to fill the table with.
template <typename V>
struct LaneEntries {
  static void Step(const StepSegment* segments, int segmentCount, const StepBatch& batch) {
    StepLanes<V>(segments, segmentCount, batch);
  }
  static void Distances(double targetX, double targetY, const CostBatch& batch) {
    DistanceLanes<V>(targetX, targetY, batch);
  }
  static void Angles(const ReflectBatch& batch, double* mr, double* t) {
    ReflectionAngles<V>(batch, mr, t);
  }
  static void Points(const ReflectBatch& batch, const double* m, double* outX, double* outY) {
    ReflectedPoints<V>(batch, m, outX, outY);
  }
  static constexpr LaneFunctions kTable{V::kLanes, &Step, &Distances, &Angles, &Points};
};

}  // namespace reflector
