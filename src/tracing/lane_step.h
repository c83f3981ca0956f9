#pragma once

// The beam tracer's segment test for a batch of rays at once, written once
// for any vector width. Each file that includes this defines the width's
// operations (a struct like TwoLanes in beam_tracer_sse2.cpp) in an unnamed
// namespace and instantiates StepLanes with them; the four-lane file is
// built for AVX, so this header uses no standard library code, which could
// otherwise be compiled there for AVX and shared with code that must run
// anywhere.
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

template <typename V>
inline void StepLanes(const StepSegment* segments, int segmentCount, const StepBatch& batch) {
  using T = typename V::Type;
  const T allOnes = V::AllOnes();
  for (int b = 0; b < batch.count; b += V::kLanes) {
    const T c_x = V::Load(batch.cx + b), c_y = V::Load(batch.cy + b);
    const T d_x = V::Load(batch.dx + b), d_y = V::Load(batch.dy + b);
    const T skip_k = V::Load(batch.skipped + b);
    // The ray's line as IntersectLines forms it: slope, intercept, and which
    // axis the ahead test compares. Vertical lanes get values never used.
    const T rayVertical = V::Eq(c_x, d_x);
    const bool anyVertical = V::Any(rayVertical);
    const T slope = V::Div(V::Sub(c_y, d_y), V::Sub(c_x, d_x));
    const T intercept = V::Sub(d_y, V::Mul(slope, d_x));
    const T useX = V::Lt(V::Abs(V::Sub(c_y, d_y)), V::Abs(V::Sub(c_x, d_x)));
    const T cv = V::Select(useX, c_x, c_y);
    const T towardLower = V::Gt(cv, V::Select(useX, d_x, d_y));

    T found = V::Zero();
    T bestSegment = V::Set(-1.0);
    T bestX = V::Zero(), bestY = V::Zero(), bestDistance = V::Zero();
    for (int k = 0; k < segmentCount; ++k) {
      const StepSegment& s = segments[k];
      // IntersectLines' meeting point and inside flag, lane by lane.
      T mx, my, meets;
      if (!s.vertical) {
        const T sSlope = V::Set(s.slope), sIntercept = V::Set(s.intercept);
        const T gx = V::Div(V::Sub(intercept, sIntercept), V::Sub(sSlope, slope));
        const T gy = V::Add(V::Mul(gx, sSlope), sIntercept);
        meets = V::Neq(slope, sSlope);  // true for NaN, as !(==)
        if (anyVertical) {
          const T vy = V::Add(sIntercept, V::Mul(sSlope, c_x));
          mx = V::Select(rayVertical, c_x, gx);
          my = V::Select(rayVertical, vy, gy);
          meets = V::Or(meets, rayVertical);
        } else {
          mx = gx;
          my = gy;
        }
      } else {
        mx = V::Set(s.ax);
        my = V::Add(intercept, V::Mul(slope, mx));
        meets = V::AndNot(rayVertical, allOnes);
      }
      // (hv <= av) == (hv > bv), and (rv >= cv) != (cv > dv), as IntersectLines
      // writes them, so that a NaN goes the same way.
      const T hv = s.useX ? mx : my;
      const T outside = V::Xor(V::Le(hv, V::Set(s.av)), V::Gt(hv, V::Set(s.bv)));
      const T rv = V::Select(useX, mx, my);
      const T ahead = V::Xor(V::Ge(rv, cv), towardLower);
      T inside = V::AndNot(outside, V::And(meets, ahead));
      if (!V::Any(inside)) continue;
      const T index = V::Set(s.index);
      inside = V::AndNot(V::Eq(skip_k, index), inside);
      if (!V::Any(inside)) continue;

      const T ey = V::Sub(c_y, my);
      const T ex = V::Sub(c_x, mx);
      const T d = V::Sqrt(V::Add(V::Mul(ey, ey), V::Mul(ex, ex)));
      // <=, not <: a later segment at the same distance takes over.
      const T take = V::And(inside, V::Or(V::AndNot(found, allOnes), V::Le(d, bestDistance)));
      found = V::Or(found, take);
      bestSegment = V::Select(take, index, bestSegment);
      bestX = V::Select(take, mx, bestX);
      bestY = V::Select(take, my, bestY);
      bestDistance = V::Select(take, d, bestDistance);
    }
    V::Store(batch.hitX + b, bestX);
    V::Store(batch.hitY + b, bestY);
    V::Store(batch.hitSegment + b, bestSegment);
  }
}

// The two widths, each in its own file.
void StepTwoLanes(const StepSegment* segments, int segmentCount, const StepBatch& batch);
void StepFourLanes(const StepSegment* segments, int segmentCount, const StepBatch& batch);

}  // namespace reflector
