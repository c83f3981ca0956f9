#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "geometry/point2.h"
#include "optimizer/population.h"
#include "optimizer/survivors.h"

namespace reflector {

// How many generations apart the rewind keeps whole populations. A past
// generation is rebuilt from the nearest one before it by redoing the
// jitters and copies of at most this many generations, without tracing a ray.
inline constexpr std::uint32_t kRewindSnapshotInterval = 1000;

// A population as it stood after some generation, with the generator's
// state then: where a replay starts. Candidates that are copies of one
// another (selection makes about half of them copies of the best) share one
// vertex list.
struct PopulationSnapshot {
  std::uint32_t generation = 0;  // completed generations when it was taken
  std::uint32_t generatorState = 0;
  std::vector<std::vector<Point2>> vertexLists;
  std::array<std::uint8_t, kPopulationSize> listOf{};  // candidate i's list

  // Snapshots of every candidate's vertices, each distinct list once.
  static PopulationSnapshot Of(const Population& population, std::uint32_t generation,
                               std::uint32_t generatorState);
};

// Everything a replay to one generation needs, copied out so that it can be
// done without holding whatever guards the record.
struct RewindReplay {
  PopulationSnapshot from;
  std::vector<Survivors> steps;  // the generations after from's, up to the one asked for
  std::uint8_t best = 0;         // the best candidate after that generation
};

// The best mirror after that generation, rebuilt with the run's own bits:
// the same jitters from the same generator state, the same copies.
std::vector<Point2> Replay(const RewindReplay& replay);

// What the window keeps of a run so that any past generation's best mirror
// can be shown again, in memory that grows by a few bytes a generation (what
// each selection did) plus one population every interval generations,
// instead of a whole mirror a generation.
//
//   RewindRecord rewind;
//   rewind.Start(population, 0, RandomState());      // before the first generation
//   rewind.Record(population, survivors, 1, RandomState());  // after each
//   std::optional<RewindReplay> replay = rewind.ReplayTo(g);
//   if (replay) std::vector<Point2> best = Replay(*replay);
//
// Thread safety: none; the optimiser keeps it under its lock.
class RewindRecord {
 public:
  RewindRecord() = default;
  explicit RewindRecord(std::uint32_t interval) : interval_(interval > 0 ? interval : 1) {}

  // Before the run's generations begin, after `completed` of them: takes the
  // first snapshot unless the record already leads up to that point (a paused
  // run continued), in which case it carries on.
  void Start(const Population& population, std::uint32_t completed, std::uint32_t generatorState);
  // After generation `completed`: notes what its selection did, and takes a
  // snapshot on every multiple of the interval.
  void Record(const Population& population, const Survivors& survivors, std::uint32_t completed,
              std::uint32_t generatorState);
  void Clear();

  // What a replay to that generation needs, or nothing when the record does
  // not hold it.
  std::optional<RewindReplay> ReplayTo(std::uint32_t generation) const;

  // The bytes held for vertices and rows (not counting the vectors' slack).
  std::size_t Bytes() const;
  std::uint32_t interval() const { return interval_; }
  std::size_t snapshotCount() const { return snapshots_.size(); }

 private:
  std::uint32_t interval_ = kRewindSnapshotInterval;
  std::uint32_t firstGeneration_ = 1;  // the generation of steps_[0]
  std::vector<Survivors> steps_;
  std::vector<PopulationSnapshot> snapshots_;  // by generation, ascending
};

}  // namespace reflector
