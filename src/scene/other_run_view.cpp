#include "scene/other_run_view.h"

#include <atomic>

#include "tracing/beam.h"

namespace reflector {

void OtherRunView::Refresh(OtherOptimizerSession& session) {
  std::vector<EvaluationRow> rows;
  const std::uint64_t shownBest = progress.hasBest ? progress.bestAt : 0;
  progress = session.Progress(rows);
  for (const EvaluationRow& row : rows) record.history.push_back(row.scores);
  record.completedGenerations = static_cast<std::uint32_t>(record.history.size());
  record.startState = session.seed();
  if (!progress.hasBest || progress.bestAt == shownBest) return;
  // A new best: traced again here, exactly as the ledger traced it.
  const SceneSnapshot& scene = session.snapshot();
  population.candidates.resize(1);
  Candidate& shown = population.candidates[0];
  shown.vertices = progress.bestMirror;
  const std::atomic<bool> neverStop{false};
  EvaluateBeam(shown.vertices, scene.source, scene.aim, scene.target, neverStop, shown.rayRecords, shown.score);
  population.bestIndex = 0;
  record.bestEver = BestEver{progress.bestScore, RowOfScoring(progress.bestAt), progress.bestMirror};
}

}  // namespace reflector
