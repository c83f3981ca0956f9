#include "other_optimizers/scoring_ledger.h"

#include <atomic>
#include <cmath>

namespace reflector {

ScoringLedger::ScoringLedger(SceneSnapshot snapshot, std::uint64_t budget)
    : snapshot_(std::move(snapshot)), budget_(budget) {
  vertices_.resize(snapshot_.vertices.size());
}

double ScoringLedger::Score(const std::vector<double>& coordinates) {
  if (spent_ >= budget_) throw BudgetSpent();
  for (std::size_t i = 0; i < vertices_.size() && 2 * i + 1 < coordinates.size(); ++i) {
    vertices_[i] = {coordinates[2 * i], coordinates[2 * i + 1]};
  }
  static const std::atomic<bool> kNeverStop{false};
  double score = 0.0;
  tracer_.Evaluate(vertices_, snapshot_.source, snapshot_.aim, snapshot_.target, kNeverStop, rays_, score);
  if (spent_++ == 0) firstScore_ = score;
  // Strictly better only: the earliest of equal scores stays, as the
  // built-in scheme keeps its best ever.
  if (score < bestScore_) {
    bestScore_ = score;
    bestAt_ = spent_;
    bestMirror_ = vertices_;
  }
  // The mean in the order the scorings came, as the built-in rows sum.
  if (blockCount_ == 0) {
    blockBest_ = blockWorst_ = score;
    blockSum_ = 0.0;
  }
  blockBest_ = std::fmin(blockBest_, score);
  blockWorst_ = std::fmax(blockWorst_, score);
  blockSum_ += score;
  if (++blockCount_ == kScoringsPerRow) CloseBlock();
  if (watcher_) watcher_(*this);
  return score;
}

void ScoringLedger::CloseBlock() {
  if (blockCount_ == 0) return;
  EvaluationRow row;
  row.evaluations = spent_;
  row.scores.best = blockBest_;
  row.scores.mean = blockSum_ / static_cast<double>(blockCount_);
  row.scores.worst = blockWorst_;
  row.scores.bestEver = bestScore_;
  rows_.push_back(row);
  blockCount_ = 0;
}

void ScoringLedger::Finish() { CloseBlock(); }

}  // namespace reflector
