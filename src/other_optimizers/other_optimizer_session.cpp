#include "other_optimizers/other_optimizer_session.h"

#include <utility>

namespace reflector {

OtherOptimizerSession::OtherOptimizerSession(const SceneSnapshot& snapshot, std::string algorithm,
                                             std::uint32_t seed, std::uint64_t evaluations, double radius)
    : snapshot_(snapshot), algorithm_(std::move(algorithm)), seed_(seed) {
  progress_.budget = evaluations;
  thread_ = std::thread([this, evaluations, radius] { Run(evaluations, radius); });
}

OtherOptimizerSession::~OtherOptimizerSession() {
  RequestStop();
  thread_.join();
}

void OtherOptimizerSession::RequestStop() {
  {
    // Under the lock, so that a run about to wait sees it.
    const std::lock_guard<std::mutex> hold(mutex_);
    stop_.store(true);
  }
  resumed_.notify_all();
}

void OtherOptimizerSession::SetPaused(bool paused) {
  {
    const std::lock_guard<std::mutex> hold(mutex_);
    holdRun_ = paused;
  }
  resumed_.notify_all();
}

OtherRunProgress OtherOptimizerSession::Progress(std::vector<EvaluationRow>& newRows) {
  const std::lock_guard<std::mutex> hold(mutex_);
  newRows.insert(newRows.end(), unreadRows_.begin(), unreadRows_.end());
  unreadRows_.clear();
  return progress_;
}

void OtherOptimizerSession::Run(std::uint64_t evaluations, double radius) {
  OtherRunResult result;
  std::string error;
  const bool ran = RunOtherOptimizer(snapshot_, algorithm_, seed_, evaluations, radius, result, error,
                                     [this](const ScoringLedger& ledger) { Watch(ledger); });
  const std::lock_guard<std::mutex> hold(mutex_);
  if (ran) {
    // The last part row, which only the finished ledger closes.
    for (std::size_t i = publishedRows_; i < result.rows.size(); ++i) unreadRows_.push_back(result.rows[i]);
    publishedRows_ = result.rows.size();
    progress_.evaluations = result.evaluations;
    if (result.evaluations > 0) {
      progress_.hasStart = progress_.hasBest = true;
      progress_.startScore = result.startScore;
      progress_.bestScore = result.bestScore;
      progress_.bestAt = result.bestAt;
      progress_.bestMirror = std::move(result.bestMirror);
    }
  } else {
    progress_.error = std::move(error);
  }
  progress_.done = true;
  done_.store(true);
}

void OtherOptimizerSession::Watch(const ScoringLedger& ledger) {
  if (stop_.load()) throw RunStopped();
  const bool rowClosed = ledger.spent() % ScoringLedger::kScoringsPerRow == 0;
  if (rowClosed || ledger.spent() == 1) Publish(ledger, ledger.rows());
  std::unique_lock<std::mutex> hold(mutex_);
  if (!holdRun_) return;
  resumed_.wait(hold, [this] { return !holdRun_ || stop_.load(); });
  if (stop_.load()) throw RunStopped();
}

void OtherOptimizerSession::Publish(const ScoringLedger& ledger, const std::vector<EvaluationRow>& rows) {
  const std::lock_guard<std::mutex> hold(mutex_);
  for (std::size_t i = publishedRows_; i < rows.size(); ++i) unreadRows_.push_back(rows[i]);
  publishedRows_ = rows.size();
  progress_.evaluations = ledger.spent();
  progress_.hasStart = true;
  progress_.startScore = ledger.firstScore();
  if (ledger.HasBest() && (!progress_.hasBest || ledger.bestAt() != progress_.bestAt)) {
    progress_.hasBest = true;
    progress_.bestScore = ledger.bestScore();
    progress_.bestAt = ledger.bestAt();
    progress_.bestMirror = ledger.bestMirror();
  }
}

}  // namespace reflector
