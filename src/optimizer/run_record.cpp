#include "optimizer/run_record.h"

#include <cmath>

namespace reflector {

std::optional<double> BestScore(const Population& population) {
  if (population.bestIndex < 0 ||
      population.bestIndex >= static_cast<int>(population.candidates.size())) {
    return std::nullopt;
  }
  return population.candidates[static_cast<std::size_t>(population.bestIndex)].score;
}

std::optional<std::vector<Point2>> RunRecord::BestMirrorAfter(std::uint32_t generation) const {
  if (!keepRewind) return std::nullopt;
  std::optional<RewindReplay> replay = rewind.ReplayTo(generation);
  if (!replay) return std::nullopt;
  return Replay(*replay);
}

GenerationScores RecordGeneration(const Population& population, std::uint32_t generation,
                                  std::optional<BestEver>& bestEver) {
  GenerationScores row;
  const Candidate& best = population.candidates[static_cast<std::size_t>(population.bestIndex)];
  row.best = best.score;
  double sum = 0.0;
  double worst = population.candidates.front().score;
  for (const Candidate& candidate : population.candidates) {
    sum += candidate.score;
    if (candidate.score > worst || (std::isnan(candidate.score) && !std::isnan(worst))) {
      worst = candidate.score;
    }
  }
  row.mean = sum / static_cast<double>(population.candidates.size());
  row.worst = worst;

  // A NaN never becomes the best ever while a number has been seen.
  const bool better = !bestEver || best.score < bestEver->score ||
                      (std::isnan(bestEver->score) && !std::isnan(best.score));
  if (better) bestEver = BestEver{best.score, generation, best.vertices};
  row.bestEver = bestEver->score;
  return row;
}

}  // namespace reflector
