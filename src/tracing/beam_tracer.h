#pragma once

#include <array>
#include <atomic>
#include <cmath>
#include <span>
#include <vector>

#include "geometry/exact_memo.h"
#include "geometry/point2.h"
#include "tracing/beam.h"
#include "tracing/lane_step.h"
#include "tracing/prepared_lines.h"
#include "tracing/ray_record.h"

namespace reflector {

inline double Atan(double x) { return std::atan(x); }
inline double Tan(double x) { return std::tan(x); }

// EvaluateBeam with the same bits, for a caller that scores reflector after
// reflector. The segments' lines are prepared once per reflector; all rays
// still travelling take their next step together, eight to a vector where the
// processor has AVX-512, four where it has AVX and two elsewhere, each lane
// testing the segments in
// index order exactly as FindNearestHit does; atan and tan are remembered by
// argument; the records' storage is kept from one call to the next. Every
// double operation that reaches a result is one EvaluateBeam performs, on the
// same operands, in the same order.
//
//   BeamTracer tracer;  // one per thread, reused
//   tracer.Evaluate(candidate.vertices, source, aim, target, stop, candidate.rayRecords, score);
//
// Thread safety: none; each thread keeps its own.
class BeamTracer {
 public:
  // How many rays a vector holds.
  enum class Width { kTwoLanes, kFourLanes, kEightLanes };

  // The widest this processor runs.
  BeamTracer();
  // A given width, for tests that check each; one the processor cannot run
  // gives the widest it can.
  explicit BeamTracer(Width width);

  // Whether this processor runs a width.
  static bool Available(Width width);
  Width RunningWidth() const { return width; }

  // As EvaluateBeam, except when stopped: stopRequested is read before every
  // step of the beam, and once it is seen set the call returns false with no
  // records and a score of 0.
  bool Evaluate(std::span<const Point2> vertices, Point2 source, Point2 aim, Point2 target,
                const std::atomic<bool>& stopRequested, std::vector<RayRecord>& rayRecords,
                double& score);

 private:
  static constexpr int kMaxLanes = 8;
  static constexpr int kSlots = (kBeamRayCount + kMaxLanes - 1) / kMaxLanes * kMaxLanes;

  // Moves every ray on after its step: records its hit (or its escape),
  // reflects it, and packs the rays still travelling into the first slots.
  // Returns how many there are. A finished ray leaves its last two points.
  // Every ray still travelling has pathLength points before the step.
  int Advance(int activeCount, std::size_t pathLength, std::vector<RayRecord>& rayRecords);

  // count rounded up to whole batches.
  int Padded(int count) const { return (count + lanes - 1) / lanes * lanes; }

  // The last batch is padded with copies of its last real entry (count >= 1),
  // so that every lane computes on real values; the padding's results are
  // never read.
  template <typename... Arrays>
  static void PadWithLast(int count, int padded, Arrays&... arrays) {
    for (int slot = count; slot < padded; ++slot) ((arrays[slot] = arrays[count - 1]), ...);
  }

  void Finished(int ray, Point2 last, Point2 previous) {
    lastX[ray] = last.x;
    lastY[ray] = last.y;
    previousX[ray] = previous.x;
    previousY[ray] = previous.y;
  }

  Width width;
  const LaneFunctions* lanesOf;  // the width's entry points
  int lanes;
  std::vector<SegmentLine> segments;
  std::vector<StepSegment> stepSegments;
  ExactMemo<Atan> atan;
  ExactMemo<Tan> tan;

  // The rays still travelling, by slot: which ray, its start, its direction
  // point and the segment it must skip (-1: none); then the step's results.
  std::array<int, kSlots> rayOfSlot{};
  alignas(64) std::array<double, kSlots> cx{}, cy{}, dx{}, dy{}, skipped{};
  alignas(64) std::array<double, kSlots> hitX{}, hitY{}, hitSegment{};  // -1: none
  // Each ray's last two points once it has finished, by ray, and the target's
  // distance to their line.
  alignas(64) std::array<double, kSlots> lastX{}, lastY{}, previousX{}, previousY{}, distance{};
  // The rays being reflected after a step, by their order among those: ray,
  // mirror segment, start, hit and mirror slope; then the two angles' tangents
  // (ray and turn) and the reflected ray's slope.
  std::array<int, kSlots> reflectRay{}, reflectSegment{};
  alignas(64) std::array<double, kSlots> startX{}, startY{}, reflectHitX{}, reflectHitY{},
      mirrorSlope{};
  alignas(64) std::array<double, kSlots> rayAngle{}, turnAngle{}, reflectedSlope{};
};

}  // namespace reflector
