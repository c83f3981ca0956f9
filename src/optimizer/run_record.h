#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "geometry/point2.h"
#include "optimizer/population.h"
#include "optimizer/rewind_record.h"

namespace reflector {

// The best candidate ever scored in a run. Every generation jitters the best
// candidate too, so the population's best can get worse; this cannot.
struct BestEver {
  double score = 0.0;
  std::uint32_t generation = 0;  // 1-based: the generation that scored it
  std::vector<Point2> vertices;

  friend bool operator==(const BestEver&, const BestEver&) = default;
};

// The population's scores after one generation's selection.
struct GenerationScores {
  double best = 0.0;   // the score of bestIndex
  double mean = 0.0;   // the sum of the ten scores in index order, divided by ten
  double worst = 0.0;  // the highest score (a NaN counts as the worst)
  double bestEver = 0.0;

  friend bool operator==(const GenerationScores&, const GenerationScores&) = default;
};

// Where a run stands: how far it has gone, the best ever seen, and the scores
// of the generations recorded (row k after generation firstGeneration + k).
// With keepRewind, the rewind record lets any of those generations' best be
// shown again.
struct RunRecord {
  // The generator's state when the run's first generation began: with it, the
  // scene reproduces the run. Unknown until the worker's turn to draw comes.
  std::optional<std::uint32_t> startState;
  // The generator's state after the last completed generation (at the start
  // when none is): with the population, where the run can be continued from
  // even while a later generation is under way.
  std::optional<std::uint32_t> boundaryState;
  std::uint32_t completedGenerations = 0;
  std::optional<BestEver> bestEver;  // none before the first generation
  std::uint32_t firstGeneration = 1;
  std::vector<GenerationScores> history;
  bool keepRewind = false;
  RewindRecord rewind;

  // The best mirror after the given generation, rebuilt from the rewind
  // record, if it holds that generation.
  std::optional<std::vector<Point2>> BestMirrorAfter(std::uint32_t generation) const;
};

// The score of the best candidate, or nothing before the first selection.
std::optional<double> BestScore(const Population& population);

// After a generation's selection: updates the best ever (strictly better
// only, so the earliest of equal scores stays) and returns the row to record.
GenerationScores RecordGeneration(const Population& population, std::uint32_t generation,
                                  std::optional<BestEver>& bestEver);

}  // namespace reflector
