#pragma once

#include <array>
#include <atomic>
#include <cmath>
#include <optional>
#include <span>
#include <vector>

#include "geometry/correctly_rounded.h"
#include "geometry/correctly_rounded_phases.h"
#include "geometry/exact_memo.h"
#include "geometry/exact_pair_memo.h"
#include "geometry/point2.h"
#include "tracing/beam.h"
#include "tracing/lane_step.h"
#include "tracing/prepared_lines.h"
#include "tracing/ray_record.h"

namespace reflector {

// The atan and tan a tracer reflects with. Runs use the program's own
// correctly rounded ones, which give the same bits on every machine; the
// benchmarks give the C library's to compare their cost.
struct SlopeFunctions {
  double (*atan)(double) = CorrectlyRoundedAtan;
  double (*tan)(double) = CorrectlyRoundedTan;
};

// tan(atan(mr) + 2 atan(t)), the reflected ray's slope in ReflectRayWith's
// common case, from the incoming ray's slope and the tangent of its angle
// with the mirror; atan and tan remembered by argument.
//
// A ray along the x axis (mr = ±0, most starting rays of a level beam) takes
// tan(0 + 2 atan(t)) = tan(2 atan(t)), which correctly_rounded has from one
// evaluation of atan where it can decide it: the same bits, at about half the
// cost of the two calls.
struct ReflectedSlope {
  explicit ReflectedSlope(SlopeFunctions functions = {})
      : atan(functions.atan),
        tan(functions.tan),
        correctlyRounded(functions.atan == CorrectlyRoundedAtan &&
                         functions.tan == CorrectlyRoundedTan) {}
  ExactMemo<> atan;
  ExactMemo<> tan;
  bool correctlyRounded;
  double operator()(double mr, double t) {
    if (mr == 0 && correctlyRounded) {
      if (const std::optional<double> slope = correctly_rounded::FastTanOfTwiceAtan(t)) {
        return *slope;
      }
    }
    // Below 2^-27 the correctly rounded atan of mr is mr itself: the rays
    // whose hit a rounding moved off the axis (a tiny mr of their own, never
    // seen again) would only fill the memo with it.
    const double atanMr = correctlyRounded && std::fabs(mr) < 0x1p-27 ? mr : atan(mr);
    return tan(atanMr + 2 * atan(t));
  }
};

// EvaluateBeam with the same bits, for a caller that scores reflector after
// reflector. The segments' lines are prepared once per reflector; all rays
// still travelling take their next step together, eight to a vector where the
// processor has AVX-512, four where it has AVX and two elsewhere, each lane
// keeping the hit FindNearestHit keeps (on large mirrors without testing
// every segment: see SetRuns); the
// beam's starting rays are kept from one call to the next while the source
// and aim stay; a reflected slope is remembered by its two arguments, and
// atan and tan by theirs; the records' storage is kept too. Every
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
  // A given width and atan and tan, for the benchmarks.
  BeamTracer(Width width, SlopeFunctions functions);

  // Segments are tested in runs of chunkSize, a run skipped when no ray of
  // a batch can meet it (see StepChunk), and the runs taken nearest first
  // where the numbers allow it (see NearestHits), for mirrors of at least
  // skipRunsFrom segments; chunkSize 0 tests every segment. The bits are the
  // same either way. The defaults are measured (bench/optimizer_bench
  // --sizes); tests set others.
  static constexpr int kChunkSize = 16;
  static constexpr int kSkipRunsFrom = 24;
  void SetRuns(int size, int from) {
    chunkSize = size;
    skipRunsFrom = from;
  }
  // From oneRayFrom segments, where runs are grouped, rays walk a tree of
  // the runs one by one, testing a run's segments side by side (see
  // OneRayHit); below it a batch of rays walks the groups together. The same
  // bits either way. Measured (optimizer_bench --loop lineN fast, from
  // generation 0): alone is a fifth slower at 1000 segments, as fast at
  // 1500, 8 % faster at 2000 and 13 % at 3000. A ray alone tests a run's
  // segments in vectors of eight, so its runs are longer (runSize: 32 took
  // 8 % off 10,000 segments against 16; 24 half that, 48 and 64 as 32).
  static constexpr int kOneRayFrom = 1500;
  static constexpr int kOneRayRunSize = 32;
  void SetOneRayFrom(int from, int runSize = kOneRayRunSize) {
    oneRayFrom = from;
    oneRayRunSize = runSize;
  }

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

  // A step of every ray in the batch, false when stopped part way. Over a
  // large mirror a step takes long (150 rays against 400,000 segments take a
  // fifth of a second), so it is taken in parts of about kTestsPerPart
  // segment tests, with the stop flag read between them.
  static constexpr int kTestsPerPart = 1 << 16;
  bool Step(const StepBatch& batch, int segmentCount, const std::atomic<bool>& stopRequested);
  void StepPart(const StepBatch& part, int segmentCount, const StepRuns& runs);

  // The beam's rays before their first step, by slot (slot i holds ray i),
  // padded with copies of the last ray up to kSlots; made again only when
  // the source or the aim changes.
  void StartBeam(Point2 source, Point2 aim);

  // Moves every ray on after its step: records its hit (or its escape),
  // reflects it, and packs the rays still travelling into the first slots of
  // rayOfSlot, cx, cy, dx, dy and skipped. Returns how many there are. A
  // finished ray leaves its last two points. Every ray still travelling has
  // pathLength points before the step; kFirst: this is the first step, the
  // rays are the starting ones, and each path is written from its start.
  // The step's rays may be those same arrays: a ray's slot only ever moves
  // down, to one already read.
  template <bool kFirst>
  int Advance(const StepBatch& step, const int* rayOf, int activeCount, std::size_t pathLength,
              std::vector<RayRecord>& rayRecords);

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
  // The segments as a batch of rays tests them, made where rays do not walk
  // alone, or when one of them cannot.
  std::vector<StepSegment> stepSegments;
  bool stepSegmentsMade = false;
  void MakeStepSegments();
  // The runs, then their groups (see StepRuns); none: every segment is tested.
  std::vector<StepChunk> chunks;
  int runCount = 0;
  int nodeCount = 0;
  int chunkSize = kChunkSize;
  int skipRunsFrom = kSkipRunsFrom;
  int oneRayFrom = kOneRayFrom;
  int oneRayRunSize = kOneRayRunSize;
  void MakeChunks();
  // The runs' segments side by side (see RunLanes), runSize to a run, when
  // rays walk alone.
  void MakeRunLanes(int runSize);
  std::vector<double> laneStorage;
  std::vector<unsigned char> runHasVertical;
  std::vector<WideNode> wideNodes;
  RunLanes runLanes{};
  bool useRunLanes = false;
  ExactPairMemo<ReflectedSlope> reflectedSlope;

  // The starting rays, for the source and aim they were made for.
  bool beamStarted = false;
  Point2 beamSource, beamAim;
  std::array<int, kSlots> startRay{};
  alignas(64) std::array<double, kSlots> startCx{}, startCy{}, startDx{}, startDy{},
      startSkipped{};

  // The rays still travelling, by slot: which ray, its start, its direction
  // point and the segment it must skip (-1: none); then the step's results.
  std::array<int, kSlots> rayOfSlot{};
  alignas(64) std::array<double, kSlots> cx{}, cy{}, dx{}, dy{}, skipped{};
  alignas(64) std::array<double, kSlots> hitX{}, hitY{}, hitSegment{};  // -1: none
  // Each ray's last two points once it has finished, by ray, and the target's
  // distance to their line.
  alignas(64) std::array<double, kSlots> lastX{}, lastY{}, previousX{}, previousY{}, distance{};
  // The rays being reflected after a step, by slot in the next step (their
  // hits are its starts, cx and cy): where each came from and the mirror's
  // slope; then the two angles' tangents (ray and turn) and the reflected
  // ray's slope. Reflections the lanes do not cover, with a vertical ray or
  // mirror, are listed by slot.
  alignas(64) std::array<double, kSlots> fromX{}, fromY{}, mirrorSlope{};
  alignas(64) std::array<double, kSlots> rayAngle{}, turnAngle{}, outgoingSlope{};
  std::array<int, kSlots> uncommon{};
};

}  // namespace reflector
