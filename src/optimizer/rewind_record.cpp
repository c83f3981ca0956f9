#include "optimizer/rewind_record.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "geometry/random.h"
#include "optimizer/evolution.h"

namespace reflector {

namespace {

// Bit for bit, so that NaN coordinates compare equal to themselves.
bool SameVertices(const std::vector<Point2>& a, const std::vector<Point2>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Point2)) == 0);
}

}  // namespace

PopulationSnapshot PopulationSnapshot::Of(const Population& population, std::uint32_t generation,
                                          std::uint32_t generatorState) {
  PopulationSnapshot snapshot;
  snapshot.generation = generation;
  snapshot.generatorState = generatorState;
  for (std::size_t i = 0; i < population.candidates.size() && i < kPopulationSize; ++i) {
    const std::vector<Point2>& vertices = population.candidates[i].vertices;
    std::size_t list = 0;
    while (list < snapshot.vertexLists.size() && !SameVertices(snapshot.vertexLists[list], vertices)) {
      ++list;
    }
    if (list == snapshot.vertexLists.size()) snapshot.vertexLists.push_back(vertices);
    snapshot.listOf[i] = static_cast<std::uint8_t>(list);
  }
  return snapshot;
}

std::vector<Point2> Replay(const RewindReplay& replay) {
  Population population;
  population.candidates.resize(kPopulationSize);
  for (std::size_t i = 0; i < kPopulationSize; ++i) {
    population.candidates[i].vertices = replay.from.vertexLists[replay.from.listOf[i]];
  }
  RandomGenerator generator{replay.from.generatorState};
  std::vector<std::vector<Point2>> jittered(kPopulationSize);
  for (const Survivors& step : replay.steps) {
    MutatePopulation(population, generator);
    for (std::size_t i = 0; i < kPopulationSize; ++i) {
      jittered[i].swap(population.candidates[i].vertices);
    }
    for (std::size_t i = 0; i < kPopulationSize; ++i) {
      population.candidates[i].vertices = jittered[step.from[i]];
    }
  }
  return std::move(population.candidates[replay.best].vertices);
}

void RewindRecord::Start(const Population& population, std::uint32_t completed,
                         std::uint32_t generatorState) {
  const bool leadsHere = !snapshots_.empty() &&
                         firstGeneration_ + steps_.size() == std::size_t{completed} + 1;
  if (leadsHere) return;
  Clear();
  if (population.candidates.size() != kPopulationSize) return;
  firstGeneration_ = completed + 1;
  snapshots_.push_back(PopulationSnapshot::Of(population, completed, generatorState));
}

void RewindRecord::Record(const Population& population, const Survivors& survivors,
                          std::uint32_t completed, std::uint32_t generatorState) {
  // A record that does not lead here (never started, or a population that is
  // not ten) stays as it is: what it holds is still right.
  if (snapshots_.empty() || firstGeneration_ + steps_.size() != completed) return;
  steps_.push_back(survivors);
  if (completed % interval_ == 0) {
    snapshots_.push_back(PopulationSnapshot::Of(population, completed, generatorState));
  }
}

void RewindRecord::Clear() {
  steps_.clear();
  snapshots_.clear();
  firstGeneration_ = 1;
}

std::optional<RewindReplay> RewindRecord::ReplayTo(std::uint32_t generation) const {
  if (snapshots_.empty() || generation < firstGeneration_ ||
      generation - firstGeneration_ >= steps_.size()) {
    return std::nullopt;
  }
  // The last snapshot taken at or before that generation.
  const auto after = std::upper_bound(
      snapshots_.begin(), snapshots_.end(), generation,
      [](std::uint32_t g, const PopulationSnapshot& snapshot) { return g < snapshot.generation; });
  const PopulationSnapshot& from = *(after - 1);
  RewindReplay replay;
  replay.from = from;
  // Steps from the snapshot's generation + 1 to the one asked for.
  const auto first = steps_.begin() + (from.generation + 1 - firstGeneration_);
  const auto last = steps_.begin() + (generation + 1 - firstGeneration_);
  replay.steps.assign(first, last);
  replay.best = steps_[generation - firstGeneration_].best;
  return replay;
}

std::size_t RewindRecord::Bytes() const {
  std::size_t bytes = steps_.size() * sizeof(Survivors);
  for (const PopulationSnapshot& snapshot : snapshots_) {
    bytes += sizeof(PopulationSnapshot);
    for (const auto& list : snapshot.vertexLists) bytes += list.size() * sizeof(Point2);
  }
  return bytes;
}

}  // namespace reflector
