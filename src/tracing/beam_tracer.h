#pragma once

#include <emmintrin.h>

#include <array>
#include <atomic>
#include <cmath>
#include <span>
#include <vector>

#include "geometry/exact_memo.h"
#include "geometry/point2.h"
#include "tracing/beam.h"
#include "tracing/prepared_lines.h"
#include "tracing/ray_record.h"

namespace reflector {

inline double Atan(double x) { return std::atan(x); }
inline double Tan(double x) { return std::tan(x); }

// EvaluateBeam with the same bits, for a caller that scores reflector after
// reflector. The segments' lines are prepared once per reflector; all rays
// still travelling take their next step together, two to a vector, each
// lane testing the segments in index order exactly as FindNearestHit does;
// atan and tan are remembered by argument; the records' storage is kept from
// one call to the next. Every double operation that reaches a result is one
// EvaluateBeam performs, on the same operands, in the same order.
//
//   BeamTracer tracer;  // one per thread, reused
//   tracer.Evaluate(candidate.vertices, source, aim, target, stop, candidate.rayRecords, score);
//
// Thread safety: none; each thread keeps its own.
class BeamTracer {
 public:
  // As EvaluateBeam, except when stopped: stopRequested is read before every
  // step of the beam, and once it is seen set the call returns false with no
  // records and a score of 0.
  bool Evaluate(std::span<const Point2> vertices, Point2 source, Point2 aim, Point2 target,
                const std::atomic<bool>& stopRequested, std::vector<RayRecord>& rayRecords,
                double& score);

  // Two doubles in one SSE2 register (every x86-64 processor has SSE2); a
  // comparison gives a mask of the same type, all ones where true.
  using Lanes = __m128d;
  static constexpr int kLanes = 2;
  static constexpr int kBatches = (kBeamRayCount + kLanes - 1) / kLanes;

 private:
  // One step for the rays in active[0..activeCount): finds each one's nearest hit.
  void Step(int activeCount);
  // Moves ray `ray` on after its step: records the hit (or the escape) and
  // reflects; false when its path is complete.
  bool Advance(int ray, int slot, std::vector<Point2>& path);

  // A segment's values, each in both lanes, for the vector step.
  struct SegmentLanes {
    Lanes slope, intercept, av, bv, ax, index;
  };

  std::vector<SegmentLine> segments;
  std::vector<SegmentLanes> segmentLanes;
  ExactMemo<Atan> atan;
  ExactMemo<Tan> tan;

  // Each ray's state between steps, by ray index.
  std::array<Point2, kBeamRayCount> current{};
  std::array<Point2, kBeamRayCount> direction{};
  std::array<int, kBeamRayCount> skip{};
  std::array<int, kBeamRayCount> active{};  // the rays still travelling

  // The step's inputs and outputs, by slot (position in active), lane-wise.
  alignas(16) std::array<double, kBatches * kLanes> cx{}, cy{}, dx{}, dy{}, skipped{};
  alignas(16) std::array<double, kBatches * kLanes> hitX{}, hitY{}, hitSegment{};  // -1: none
};

}  // namespace reflector
