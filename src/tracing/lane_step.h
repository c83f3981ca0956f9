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

// A run of consecutive segments, for skipping the whole run when no ray of a
// batch can meet any of them. A segment counts a meeting only where the
// computed meeting point passes its inside test; that point lies within a
// few roundings of the segment's bounding box and of the ray's computed line
// (slope and intercept as the lanes hold them). So a ray whose line passes
// farther than a margin from the run's box meets none of the run's segments,
// and skipping the run changes nothing: the segments it holds would each be
// passed over. The margin is 2^-30 times the magnitudes involved, against
// roundings of 2^-53 times them. Runs whose numbers are too large or not
// finite for that bound are never skipped, and neither are lanes whose ray's
// line is too steep or not finite.
//
// The same margin bounds where a counted meeting point can lie: within slack
// of the run's box. So a run whose box lies wholly behind a ray's start holds
// no meeting ahead of it, and one whose box is farther than a ray's nearest
// meeting so far holds none as near (see NearestHitsByDistance).
//
// Runs are also grouped, two by two, into a tree: a group's box holds its
// members' boxes and its slacks are the largest of theirs, so whatever
// skips a group would skip each of its members.
struct StepChunk {
  double x0, x1, y0, y1;  // the bounding box of the run's segment ends
  double slack;           // 2^-30 (1 + X + Y + the largest |intercept| + the largest |slope| X)
  double slopeSlack;      // 2^-30 X: times the ray's |slope|
  int first;              // the run's first segment
  int count;
  bool cullable;          // its numbers are bounded as the margin needs
  int left = -1, right = -1;  // a group's two members; -1: a run
};

// A node of the tree rays walk alone: up to eight children, runs or other
// nodes, whose boxes (and slacks, see StepChunk) lie side by side so that a
// ray tests them all at once. A box holds its children's boxes, and its
// slacks are the largest of theirs. Places beyond count repeat the first
// child and are never read.
struct WideNode {
  static constexpr int kWays = 8;
  alignas(64) double x0[kWays], x1[kWays], y0[kWays], y1[kWays], slack[kWays], slopeSlack[kWays];
  int child[kWays];
  int count;
  bool ofRuns;  // the children are runs (by index), else nodes
};

// The runs' segments side by side, for testing one ray against several
// segments at once: run r's segments in places [r stride, r stride + count),
// in index order, the rest of its stride padding (copies of its first). A
// vertical segment's slope is NaN and its intercept its x (every run here is
// cullable, so no other slope is NaN); useX is 1 or 0. stride is a multiple
// of every width's lanes, and every array is aligned to 64 bytes.
struct RunLanes {
  const double* slope;
  const double* intercept;
  const double* av;
  const double* bv;
  const double* useX;
  const unsigned char* runHasVertical;  // by run
  int stride;
  const WideNode* nodes;
  int root;
};

// A mirror's runs, in index order, then their groups when every run is
// cullable (the last group holds them all); no runs at all: every segment is
// tested. With lanes, rays walk the runs one by one (see OneRayHit).
struct StepRuns {
  const StepChunk* chunks;
  int runCount;
  int nodeCount;  // runs and groups; 0: no groups, runs in index order only
  const RunLanes* lanes = nullptr;
};

// Bounds under which a run or a ray's line may be skipped by the test above.
inline constexpr double kCullRelative = 1.0 / 1073741824.0;  // 2^-30
inline constexpr double kCullMaxCoordinate = 1099511627776.0;  // 2^40
inline constexpr double kCullMaxSlope = 1048576.0;             // 2^20
inline constexpr double kCullMaxIntercept = 4611686018427387904.0;  // 2^62
// Where a ray may start for its runs to be taken nearest first.
inline constexpr double kOrderMaxStart = 1099511627776.0;  // 2^40
// A nearest meeting so far rules a run out only where its squared distance
// is below this share of the run's; and only where the run's is above
// kOrderTinySquare, so that no relative bound meets a subnormal.
inline constexpr double kOrderShare = 1.0 - 1.0 / 1048576.0;  // 1 - 2^-20
inline constexpr double kOrderTinySquare = 1e-250;

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
  // For skipping runs of segments: the part of the margin that comes from the
  // ray's line, and the lanes whose line is never used to skip (too steep,
  // or not finite; vertical lanes are tested on their x instead).
  T lineSlack, absSlope;
  M neverSkip;
  // For taking runs nearest first: what the ray's start adds to a run's
  // slack, 2^-30 (|c_x| + |c_y|), and the lanes whose numbers allow it.
  T startSlack;
  M orderable;
};

// Axes the ahead test compares in a batch: the same one in every lane, or a mix.
enum class LaneAxes { kAllY, kAllX, kMixed };

// A box, and the slacks of the segments it holds (see StepChunk), lane by
// lane: the same box in every lane for a batch of rays, or one box per lane
// for one ray against several.
template <typename V>
struct BoxLanes {
  typename V::Type x0, x1, y0, y1, slack, slopeSlack;
};

template <typename V>
inline BoxLanes<V> BoxOf(const StepChunk& chunk) {
  return {V::Set(chunk.x0), V::Set(chunk.x1), V::Set(chunk.y0),
          V::Set(chunk.y1), V::Set(chunk.slack), V::Set(chunk.slopeSlack)};
}

// The lanes whose ray's line can meet no segment of the box (see StepChunk).
template <typename V, bool kVerticalLanes>
inline typename V::Mask MissingLanes(const BoxLanes<V>& box, const RayLanes<V>& ray) {
  using T = typename V::Type;
  using M = typename V::Mask;
  const T margin = V::Add(V::Add(box.slack, V::Mul(box.slopeSlack, ray.absSlope)), ray.lineSlack);
  const T ya = V::Add(V::Mul(ray.slope, box.x0), ray.intercept);
  const T yb = V::Add(V::Mul(ray.slope, box.x1), ray.intercept);
  const M aLower = V::Lt(ya, yb);
  const T low = V::Sub(V::Select(aLower, ya, yb), margin);
  const T high = V::Add(V::Select(aLower, yb, ya), margin);
  // Written as a miss, so that a NaN anywhere counts as a possible meeting.
  M miss = V::Or(V::Lt(high, box.y0), V::Gt(low, box.y1));
  miss = V::AndNot(ray.neverSkip, miss);
  if constexpr (kVerticalLanes) {
    const M missX = V::Or(V::Lt(ray.c_x, V::Sub(box.x0, box.slack)),
                          V::Gt(ray.c_x, V::Add(box.x1, box.slack)));
    miss = V::Or(V::And(ray.rayVertical, missX), V::AndNot(ray.rayVertical, miss));
  }
  return miss;
}

// Whether some lane's ray may meet a segment of the run.
template <typename V, bool kVerticalLanes>
inline bool MayMeet(const StepChunk& chunk, const RayLanes<V>& ray) {
  return !V::All(MissingLanes<V, kVerticalLanes>(BoxOf<V>(chunk), ray));
}

// The lanes that may meet a segment of the box ahead of their start and at
// most as far as their nearest meeting so far (found lanes, bestSquare the
// square of its distance); square: the start's squared distance to the
// widened box. A counted meeting point lies within slack of the box; the box
// is widened by twice that, and by what the start's magnitude adds, so that
// the roundings of these few operations, far smaller, cannot narrow it below
// the first. The distance's square is then at most the share kOrderShare of
// any counted meeting's, whose root is therefore strictly farther.
template <typename V, bool kVerticalLanes, LaneAxes kAxes>
inline typename V::Mask MayHoldNearerLanes(const BoxLanes<V>& box, const RayLanes<V>& ray,
                                           typename V::Mask found, typename V::Type bestSquare,
                                           typename V::Type& square) {
  using T = typename V::Type;
  using M = typename V::Mask;
  const M miss = MissingLanes<V, kVerticalLanes>(box, ray);
  const T widen = V::Add(V::Add(box.slack, box.slack), ray.startSlack);
  const T x0 = V::Sub(box.x0, widen), x1 = V::Add(box.x1, widen);
  const T y0 = V::Sub(box.y0, widen), y1 = V::Add(box.y1, widen);
  // Behind: the ahead test compares the meeting point's x (or y) with the
  // start's, cv; moving toward lower values it must be below, else at or above.
  T low, high;
  if constexpr (kAxes == LaneAxes::kAllX) {
    low = x0;
    high = x1;
  } else if constexpr (kAxes == LaneAxes::kAllY) {
    low = y0;
    high = y1;
  } else {
    low = V::Select(ray.useX, x0, y0);
    high = V::Select(ray.useX, x1, y1);
  }
  const M behind = V::Or(V::And(ray.towardLower, V::Ge(low, ray.cv)),
                         V::AndNot(ray.towardLower, V::Lt(high, ray.cv)));
  // Farther: the start's distance to the widened box.
  const T zero = V::Zero();
  T dx = V::Sub(x0, ray.c_x);
  dx = V::Select(V::Gt(dx, zero), dx, zero);
  const T dxBeyond = V::Sub(ray.c_x, x1);
  dx = V::Select(V::Gt(dxBeyond, dx), dxBeyond, dx);
  T dy = V::Sub(y0, ray.c_y);
  dy = V::Select(V::Gt(dy, zero), dy, zero);
  const T dyBeyond = V::Sub(ray.c_y, y1);
  dy = V::Select(V::Gt(dyBeyond, dy), dyBeyond, dy);
  square = V::Add(V::Mul(dx, dx), V::Mul(dy, dy));
  const M farther = V::And(V::And(found, V::Gt(square, V::Set(kOrderTinySquare))),
                           V::Lt(bestSquare, V::Mul(square, V::Set(kOrderShare))));
  return V::AndNot(V::Or(V::Or(miss, behind), farther), V::AllLanes());
}

// Whether some lane may meet a segment of the run or group ahead of its
// start and at most as far as its nearest meeting so far.
template <typename V, bool kVerticalLanes, LaneAxes kAxes>
inline bool MayHoldNearer(const StepChunk& chunk, const RayLanes<V>& ray,
                          typename V::Mask found, typename V::Type bestSquare) {
  typename V::Type square;
  return V::Any(MayHoldNearerLanes<V, kVerticalLanes, kAxes>(BoxOf<V>(chunk), ray, found,
                                                             bestSquare, square));
}

// Whether a box whose widened square is square may still hold a meeting
// nearer than the best so far: MayHoldNearerLanes' farther test, for one ray.
inline bool MayStillHoldNearer(bool found, double bestSquare, double square) {
  return !(found && square > kOrderTinySquare && bestSquare < square * kOrderShare);
}

// The order segments are tested in: all in index order; runs in index
// order, less those no lane can meet; or runs and groups nearest first, less
// those no lane can meet nearer than it already has.
enum class SegmentOrder { kEverySegment, kRunsInOrder, kNearestFirst };

// The squared distance from (x, y) to a box: to order a group's two members.
inline double BoxSquare(const StepChunk& chunk, double x, double y) {
  const double dx = x < chunk.x0 ? chunk.x0 - x : (x > chunk.x1 ? x - chunk.x1 : 0.0);
  const double dy = y < chunk.y0 ? chunk.y0 - y : (y > chunk.y1 ? y - chunk.y1 : 0.0);
  return dx * dx + dy * dy;
}

// The nearest hit of each lane's ray over every segment. kVerticalLanes: some
// lane's ray is vertical; kAxes: the lanes' ahead-test axes. Both only
// spare work where they allow it; every lane computes the same either way.
//
// A full pass in index order keeps a later segment at the same distance, and
// compares distances by their roots (squares only to spare the root): so the
// hit it keeps is the one of least rounded root, and of these the last.
// Nearest first keeps that same one by comparing exactly that, whatever order
// the segments come in; it is used only where no counted meeting can have a
// distance that is not a number (every run cullable, every lane orderable).
template <typename V, bool kVerticalLanes, LaneAxes kAxes, SegmentOrder kOrder>
inline void NearestHits(const StepSegment* segments, int segmentCount, const StepRuns& runs,
                        double startX, double startY, const RayLanes<V>& ray,
                        typename V::Type& bestX, typename V::Type& bestY,
                        typename V::Type& bestSegment) {
  using T = typename V::Type;
  using M = typename V::Mask;
  const M allLanes = V::AllLanes();
  M found = V::NoLanes();
  T bestSquare = V::Zero();  // of the nearest hit's distance
  T bestRoot = V::Zero();    // its root, nearest first
  auto test = [&](int k) __attribute__((always_inline)) {
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
    if (!V::Any(inside)) return;
    const T index = V::Set(s.index);
    inside = V::AndNot(V::Eq(ray.skip_k, index), inside);
    if (!V::Any(inside)) return;

    // Distance's square, before its root. The root is monotonic, so the
    // roots compare as the squares do, except that two different squares
    // may have the same root: where the squares say farther, the roots
    // decide. A NaN compares false both ways, as its root does.
    const T ey = V::Sub(ray.c_y, my);
    const T ex = V::Sub(ray.c_x, mx);
    const T square = V::Add(V::Mul(ey, ey), V::Mul(ex, ex));
    M take;
    if constexpr (kOrder == SegmentOrder::kNearestFirst) {
      // A smaller root, or the same root and a later segment.
      const T root = V::Sqrt(square);
      const M nearer =
          V::Or(V::Lt(root, bestRoot), V::And(V::Eq(root, bestRoot), V::Gt(index, bestSegment)));
      take = V::And(inside, V::Or(V::AndNot(found, allLanes), nearer));
      bestRoot = V::Select(take, root, bestRoot);
    } else {
      // <=, not <: a later segment at the same distance takes over.
      M nearer = V::Or(V::AndNot(found, allLanes), V::Le(square, bestSquare));
      const M farther = V::And(V::And(inside, found), V::Gt(square, bestSquare));
      if (V::Any(farther)) {
        nearer = V::Or(nearer, V::And(farther, V::Eq(V::Sqrt(square), V::Sqrt(bestSquare))));
      }
      take = V::And(inside, nearer);
    }
    found = V::Or(found, take);
    bestSegment = V::Select(take, index, bestSegment);
    bestX = V::Select(take, mx, bestX);
    bestY = V::Select(take, my, bestY);
    bestSquare = V::Select(take, square, bestSquare);
  };
  if constexpr (kOrder == SegmentOrder::kEverySegment) {
    for (int k = 0; k < segmentCount; ++k) test(k);
  } else if constexpr (kOrder == SegmentOrder::kRunsInOrder) {
    // Runs in index order, and each run's segments in order: exactly the
    // segments a full pass tests, less runs no lane can meet.
    for (int c = 0; c < runs.runCount; ++c) {
      const StepChunk& chunk = runs.chunks[c];
      if (chunk.cullable && !MayMeet<V, kVerticalLanes>(chunk, ray)) continue;
      for (int k = chunk.first; k < chunk.first + chunk.count; ++k) test(k);
    }
  } else {
    // Depth first from the group of all runs, the member nearer the first
    // lane's start first; a run or group is passed over when no lane can
    // meet one of its segments ahead and at most as far as it already has.
    // Each level leaves at most one member waiting, so 64 places suffice.
    int waiting[64];
    int count = 0;
    waiting[count++] = runs.nodeCount - 1;
    while (count > 0) {
      const StepChunk& chunk = runs.chunks[waiting[--count]];
      if (!MayHoldNearer<V, kVerticalLanes, kAxes>(chunk, ray, found, bestSquare)) continue;
      if (chunk.left < 0) {
        for (int k = chunk.first; k < chunk.first + chunk.count; ++k) test(k);
        continue;
      }
      const bool leftFirst = BoxSquare(runs.chunks[chunk.left], startX, startY) <=
                             BoxSquare(runs.chunks[chunk.right], startX, startY);
      waiting[count++] = leftFirst ? chunk.right : chunk.left;
      waiting[count++] = leftFirst ? chunk.left : chunk.right;
    }
  }
}

// The rays' lines and tests, lane by lane, from their starts, direction
// points and skipped segments.
template <typename V, bool kRuns>
inline RayLanes<V> MakeRayLanes(typename V::Type c_x, typename V::Type c_y, typename V::Type d_x,
                                typename V::Type d_y, typename V::Type skip_k) {
  using T = typename V::Type;
  RayLanes<V> ray;
  ray.c_x = c_x;
  ray.c_y = c_y;
  ray.skip_k = skip_k;
  // Vertical lanes get a slope and intercept never used.
  ray.rayVertical = V::Eq(ray.c_x, d_x);
  ray.slope = V::Div(V::Sub(ray.c_y, d_y), V::Sub(ray.c_x, d_x));
  ray.intercept = V::Sub(d_y, V::Mul(ray.slope, d_x));
  ray.useX = V::Lt(V::Abs(V::Sub(ray.c_y, d_y)), V::Abs(V::Sub(ray.c_x, d_x)));
  ray.cv = V::Select(ray.useX, ray.c_x, ray.c_y);
  ray.towardLower = V::Gt(ray.cv, V::Select(ray.useX, d_x, d_y));
  if constexpr (kRuns) {
    ray.absSlope = V::Abs(ray.slope);
    const T absIntercept = V::Abs(ray.intercept);
    ray.lineSlack = V::Mul(V::Set(kCullRelative), absIntercept);
    // Not finite, or too large: the comparisons are false for NaN.
    const auto bounded = V::And(V::Le(ray.absSlope, V::Set(kCullMaxSlope)),
                                V::Le(absIntercept, V::Set(kCullMaxIntercept)));
    ray.neverSkip = V::AndNot(bounded, V::AllLanes());
    ray.startSlack = V::Mul(V::Set(kCullRelative), V::Add(V::Abs(ray.c_x), V::Abs(ray.c_y)));
    const auto startBounded = V::And(V::Le(V::Abs(ray.c_x), V::Set(kOrderMaxStart)),
                                     V::Le(V::Abs(ray.c_y), V::Set(kOrderMaxStart)));
    ray.orderable = V::And(startBounded, V::Or(ray.rayVertical, bounded));
  }
  return ray;
}

// The nearest hit of one ray, whose values fill every lane of ray, with the
// lanes over segments and boxes instead: an eight-way tree of the runs (see
// WideNode) walked nearest first for this ray alone, a node's boxes tested
// at once and a run's segments a vector at a time. On a large
// mirror a batch's rays lie apart, each meeting other segments, so that a
// walk shared by a batch tests many segments for one lane each; alone, a ray
// passes over all but the few runs near it.
//
// Each lane computes, for its segment, the operations NearestHits computes;
// the hit kept is the same: the least root, and of equal roots the later
// segment, an order that does not depend on which segments are tested
// together or when. Only where nearest first may be used (every run
// cullable, the ray orderable).
template <typename V, bool kRayVertical, bool kRayUseX>
inline void OneRayHit(const StepRuns& runs, const RayLanes<V>& ray, double& hitX, double& hitY,
                      double& hitSegment) {
  using T = typename V::Type;
  using M = typename V::Mask;
  const RunLanes& lanes = *runs.lanes;
  const M allLanes = V::AllLanes();
  const T zero = V::Zero(), one = V::Set(1.0);
  // Each lane keeps the best of the segments it has tested; the ray's hit is
  // the best of the lanes' at the end. Passing over a box needs only some
  // counted meeting that any meeting in the box would lose to: the least
  // square of the lanes' bests (unfound lanes hold infinity).
  const T infinity = V::Set(__builtin_inf());
  M laneFound = V::NoLanes();
  T laneRoot = zero, laneIndex = V::Set(-1.0), laneX = zero, laneY = zero, laneSquare = infinity;
  bool found = false;
  double bestSquare = 0.0;  // the least of laneSquare, once found
  alignas(64) double squares[V::kLanes];
  // Segment k of places at onwards is segment first + k; those from end on
  // are padding.
  alignas(64) static constexpr double kLaneOffsets[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  const T offsets = V::Load(kLaneOffsets);
  // The lanes whose segments the ray meets, ahead, counted; mx and my the
  // meeting points. No branch: a run's vectors are met one after another
  // while their divisions overlap.
  auto meet = [&](int at, double first, double end, bool anyVertical, T& mx, T& my)
                  __attribute__((always_inline)) {
    const T sSlope = V::Load(lanes.slope + at), sIntercept = V::Load(lanes.intercept + at);
    M meets;
    if constexpr (kRayVertical) {
      mx = ray.c_x;
      my = V::Add(sIntercept, V::Mul(sSlope, ray.c_x));
      meets = allLanes;
      if (anyVertical) meets = V::AndNot(V::Neq(sSlope, sSlope), allLanes);
    } else {
      mx = V::Div(V::Sub(ray.intercept, sIntercept), V::Sub(sSlope, ray.slope));
      my = V::Add(V::Mul(mx, sSlope), sIntercept);
      meets = V::Neq(ray.slope, sSlope);
      if (anyVertical) {
        // A vertical segment's slope is NaN, its intercept its x.
        const M vertical = V::Neq(sSlope, sSlope);
        const T vx = sIntercept;
        mx = V::Select(vertical, vx, mx);
        my = V::Select(vertical, V::Add(ray.intercept, V::Mul(ray.slope, vx)), my);
        meets = V::Or(meets, vertical);
      }
    }
    const T hv = V::Select(V::Gt(V::Load(lanes.useX + at), zero), mx, my);
    const M outside = V::Xor(V::Le(hv, V::Load(lanes.av + at)), V::Gt(hv, V::Load(lanes.bv + at)));
    const T rv = kRayUseX ? mx : my;
    const M ahead = V::Xor(V::Ge(rv, ray.cv), ray.towardLower);
    const M inside = V::AndNot(outside, V::And(meets, ahead));
    const T index = V::Add(V::Set(first), offsets);
    // Less the skipped segment and the padding.
    return V::And(V::AndNot(V::Eq(ray.skip_k, index), inside), V::Lt(index, V::Set(end)));
  };
  // Keeps, lane by lane, the nearer of the lane's best and the meeting.
  auto keep = [&](double first, M inside, T mx, T my) __attribute__((always_inline)) {
    const T index = V::Add(V::Set(first), offsets);
    const T ey = V::Sub(ray.c_y, my);
    const T ex = V::Sub(ray.c_x, mx);
    const T square = V::Add(V::Mul(ey, ey), V::Mul(ex, ex));
    const T root = V::Sqrt(square);
    const M nearer = V::Or(V::Lt(root, laneRoot),
                           V::And(V::Eq(root, laneRoot), V::Gt(index, laneIndex)));
    const M take = V::And(inside, V::Or(V::AndNot(laneFound, allLanes), nearer));
    if (!V::Any(take)) return;
    laneFound = V::Or(laneFound, take);
    laneRoot = V::Select(take, root, laneRoot);
    laneIndex = V::Select(take, index, laneIndex);
    laneX = V::Select(take, mx, laneX);
    laneY = V::Select(take, my, laneY);
    laneSquare = V::Select(take, square, laneSquare);
    found = true;
    if constexpr (requires { V::MinAcross(laneSquare); }) {
      bestSquare = V::MinAcross(laneSquare);
    } else {
      V::Store(squares, laneSquare);
      double least = squares[0];
      for (int l = 1; l < V::kLanes; ++l) least = squares[l] < least ? squares[l] : least;
      bestSquare = least;
    }
  };
  constexpr LaneAxes kAxes = kRayUseX ? LaneAxes::kAllX : LaneAxes::kAllY;
  // Depth first, each node's children nearest first; a child is passed over
  // when the ray cannot meet one of its segments ahead and at most as far as
  // it already has, tested when its node is and again when its turn comes.
  // Each level leaves at most seven children waiting.
  struct Waiting {
    int node;
    double square;
  };
  Waiting waiting[8 * 24];
  int count = 0;
  waiting[count++] = {lanes.root, 0.0};
  alignas(64) double childSquare[WideNode::kWays];
  int order[WideNode::kWays];
  while (count > 0) {
    const Waiting next = waiting[--count];
    if (!MayStillHoldNearer(found, bestSquare, next.square)) continue;
    const WideNode& node = lanes.nodes[next.node];
    const M foundLanes = found ? allLanes : V::NoLanes();
    const T best = V::Set(bestSquare);
    unsigned mayHold = 0;  // a bit per child
    for (int c = 0; c < WideNode::kWays; c += V::kLanes) {
      const BoxLanes<V> box{V::Load(node.x0 + c),    V::Load(node.x1 + c),
                            V::Load(node.y0 + c),    V::Load(node.y1 + c),
                            V::Load(node.slack + c), V::Load(node.slopeSlack + c)};
      T square;
      const M may = MayHoldNearerLanes<V, kRayVertical, kAxes>(box, ray, foundLanes, best, square);
      V::Store(childSquare + c, square);
      mayHold |= V::Bits(may) << c;
    }
    // The children to visit, nearest first.
    mayHold &= (1u << node.count) - 1;
    int kept = 0;
    for (; mayHold != 0; mayHold &= mayHold - 1) {
      const int c = __builtin_ctz(mayHold);
      int at = kept++;
      while (at > 0 && childSquare[order[at - 1]] > childSquare[c]) {
        order[at] = order[at - 1];
        --at;
      }
      order[at] = c;
    }
    if (node.ofRuns) {
      for (int i = 0; i < kept; ++i) {
        const int c = order[i];
        if (!MayStillHoldNearer(found, bestSquare, childSquare[c])) continue;
        const int run = node.child[c];
        const StepChunk& chunk = runs.chunks[run];
        const bool anyVertical = lanes.runHasVertical[run] != 0;
        // The run's places start at firstPlace; place firstPlace + i holds
        // segment chunk.first + i.
        const int firstPlace = run * lanes.stride;
        const int endPlace = firstPlace + chunk.count;
        const double end = chunk.first + chunk.count;
        // Up to four vectors met at once, then kept one by one.
        for (int at = firstPlace; at < endPlace; at += 4 * V::kLanes) {
          const int vectors = (endPlace - at + V::kLanes - 1) / V::kLanes;
          T mx[4], my[4];
          M inside[4];
          double segment[4];
          for (int v = 0; v < 4 && v < vectors; ++v) {
            segment[v] = chunk.first + (at + v * V::kLanes - firstPlace);
            inside[v] = meet(at + v * V::kLanes, segment[v], end, anyVertical, mx[v], my[v]);
          }
          for (int v = 0; v < 4 && v < vectors; ++v) {
            if (V::Any(inside[v])) keep(segment[v], inside[v], mx[v], my[v]);
          }
        }
      }
    } else {
      for (int i = kept - 1; i >= 0; --i) {
        waiting[count++] = {node.child[order[i]], childSquare[order[i]]};
      }
    }
  }
  // The lanes' bests, by the same order.
  alignas(64) double roots[V::kLanes], indices[V::kLanes], xs[V::kLanes], ys[V::kLanes],
      taken[V::kLanes];
  V::Store(roots, laneRoot);
  V::Store(indices, laneIndex);
  V::Store(xs, laneX);
  V::Store(ys, laneY);
  V::Store(taken, V::Select(laneFound, one, zero));
  int best = -1;
  for (int l = 0; l < V::kLanes; ++l) {
    if (taken[l] == 0.0) continue;
    if (best >= 0 && !(roots[l] < roots[best] || (roots[l] == roots[best] && indices[l] > indices[best]))) {
      continue;
    }
    best = l;
  }
  hitX = best >= 0 ? xs[best] : 0.0;
  hitY = best >= 0 ? ys[best] : 0.0;
  hitSegment = best >= 0 ? indices[best] : -1.0;
}

// False, with the batch's results unfinished, when some rays need the
// segments one by one (see NearestHits) and segments is null: a caller that
// walks rays alone makes them only then, and steps the batch again.
template <typename V, bool kRuns>
inline bool StepLanes(const StepSegment* segments, int segmentCount, const StepRuns& runs,
                      const StepBatch& batch) {
  using T = typename V::Type;
  for (int b = 0; b < batch.count; b += V::kLanes) {
    const RayLanes<V> ray =
        MakeRayLanes<V, kRuns>(V::Load(batch.cx + b), V::Load(batch.cy + b), V::Load(batch.dx + b),
                               V::Load(batch.dy + b), V::Load(batch.skipped + b));
    if constexpr (kRuns) {
      if (runs.lanes && runs.nodeCount > 0 && V::All(ray.orderable)) {
        // Ray by ray, lanes over segments.
        for (int i = b; i < b + V::kLanes; ++i) {
          const RayLanes<V> alone = MakeRayLanes<V, true>(
              V::Set(batch.cx[i]), V::Set(batch.cy[i]), V::Set(batch.dx[i]), V::Set(batch.dy[i]),
              V::Set(batch.skipped[i]));
          const bool vertical = V::Any(alone.rayVertical);
          const bool useX = V::Any(alone.useX);
          double& x = batch.hitX[i];
          double& y = batch.hitY[i];
          double& k = batch.hitSegment[i];
          if (vertical) {
            OneRayHit<V, true, false>(runs, alone, x, y, k);
          } else if (useX) {
            OneRayHit<V, false, true>(runs, alone, x, y, k);
          } else {
            OneRayHit<V, false, false>(runs, alone, x, y, k);
          }
        }
        continue;
      }
    }
    if (segments == nullptr && segmentCount > 0) return false;

    T bestX = V::Zero(), bestY = V::Zero(), bestSegment = V::Set(-1.0);
    const bool verticalLanes = V::Any(ray.rayVertical);
    const bool anyX = V::Any(ray.useX);
    const bool allX = V::All(ray.useX);
    const double startX = batch.cx[b], startY = batch.cy[b];
    const auto hits = [&]<bool kVertical, LaneAxes kAxes>() __attribute__((always_inline)) {
      if constexpr (!kRuns) {
        NearestHits<V, kVertical, kAxes, SegmentOrder::kEverySegment>(
            segments, segmentCount, runs, startX, startY, ray, bestX, bestY, bestSegment);
      } else if (runs.nodeCount > 0 && V::All(ray.orderable)) {
        NearestHits<V, kVertical, kAxes, SegmentOrder::kNearestFirst>(
            segments, segmentCount, runs, startX, startY, ray, bestX, bestY, bestSegment);
      } else {
        NearestHits<V, kVertical, kAxes, SegmentOrder::kRunsInOrder>(
            segments, segmentCount, runs, startX, startY, ray, bestX, bestY, bestSegment);
      }
    };
    if (verticalLanes) {
      hits.template operator()<true, LaneAxes::kMixed>();
    } else if (allX) {
      hits.template operator()<false, LaneAxes::kAllX>();
    } else if (!anyX) {
      hits.template operator()<false, LaneAxes::kAllY>();
    } else {
      hits.template operator()<false, LaneAxes::kMixed>();
    }
    V::Store(batch.hitX + b, bestX);
    V::Store(batch.hitY + b, bestY);
    V::Store(batch.hitSegment + b, bestSegment);
  }
  return true;
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
  bool (*step)(const StepSegment* segments, int segmentCount, const StepRuns& runs,
               const StepBatch& batch);
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
  static bool Step(const StepSegment* segments, int segmentCount, const StepRuns& runs,
                   const StepBatch& batch) {
    if (runs.runCount > 0) return StepLanes<V, true>(segments, segmentCount, runs, batch);
    return StepLanes<V, false>(segments, segmentCount, runs, batch);
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
