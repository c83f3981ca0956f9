#pragma once

#include <cstdint>
#include <vector>

#include "optimizer/population.h"
#include "optimizer/run_record.h"
#include "other_optimizers/other_optimizer_session.h"

namespace reflector {

// What the window shows of another optimiser's run, read from its session
// when a frame is set up: the best mirror so far, its rays traced again, as
// the one candidate of a population, and the rows as a run's history (row k
// is scorings 10k - 9 to 10k, as a generation of the built-in scheme scores
// ten), so that the frame and the plot draw it as they draw a run of the
// built-in scheme. UI thread only.
struct OtherRunView {
  Population population;  // empty until the first scoring is published
  RunRecord record;       // history, completedGenerations (rows) and bestEver
  OtherRunProgress progress;

  // Takes what the session has published since the last call.
  void Refresh(OtherOptimizerSession& session);
};

// The row a scoring falls in, from 1.
inline std::uint32_t RowOfScoring(std::uint64_t scoring) {
  return static_cast<std::uint32_t>((scoring + ScoringLedger::kScoringsPerRow - 1) / ScoringLedger::kScoringsPerRow);
}

}  // namespace reflector
