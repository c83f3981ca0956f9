#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "geometry/point2.h"
#include "optimizer/scene_snapshot.h"
#include "other_optimizers/other_optimizer_run.h"

namespace reflector {

// What a watched run has reached, as its thread last published it.
struct OtherRunProgress {
  std::uint64_t evaluations = 0;  // scorings spent
  std::uint64_t budget = 0;
  bool hasStart = false;  // the starting mirror has been scored
  double startScore = 0.0;
  bool hasBest = false;
  double bestScore = 0.0;
  std::uint64_t bestAt = 0;  // the scoring that found it: a new one means a new mirror
  std::vector<Point2> bestMirror;
  bool done = false;   // the run has ended (its budget, a stop, or a failure)
  std::string error;   // why it failed, if it did
};

// One run of another optimiser on a thread of its own, for the window: the
// run is RunOtherOptimizer's, bit for bit, and its progress is published
// after every row (ten scorings) for another thread to read.
//
//   OtherOptimizerSession session(snapshot, "cmaes", seed, kDefaultEvaluations, kDefaultRadius);
//   std::vector<EvaluationRow> rows;
//   OtherRunProgress now = session.Progress(rows);  // rows gets the new ones
//
// Pausing holds the run between two scorings; stopping ends it at the next
// one, a pause included. The destructor stops and joins the thread, so the
// thread keeps its starter's priority: at the lowest, a restart on a busy
// machine could wait seconds for the scoring that sees the stop.
// Thread safety: construct, pause, stop, read and destroy on one thread.
class OtherOptimizerSession {
 public:
  // Starts the thread; throws std::system_error when none can be made.
  OtherOptimizerSession(const SceneSnapshot& snapshot, std::string algorithm, std::uint32_t seed,
                        std::uint64_t evaluations, double radius);
  ~OtherOptimizerSession();
  OtherOptimizerSession(const OtherOptimizerSession&) = delete;
  OtherOptimizerSession& operator=(const OtherOptimizerSession&) = delete;

  // Asks the run to end at its next scoring; returns at once.
  void RequestStop();
  void SetPaused(bool paused);
  bool Done() const { return done_.load(); }

  // The progress now; the rows published since the last call are moved to
  // the end of newRows.
  OtherRunProgress Progress(std::vector<EvaluationRow>& newRows);

  const SceneSnapshot& snapshot() const { return snapshot_; }
  const std::string& algorithm() const { return algorithm_; }
  std::uint32_t seed() const { return seed_; }

 private:
  void Run(std::uint64_t evaluations, double radius);
  // On the run's thread, after each scoring.
  void Watch(const ScoringLedger& ledger);
  void Publish(const ScoringLedger& ledger, const std::vector<EvaluationRow>& rows);

  const SceneSnapshot snapshot_;
  const std::string algorithm_;
  const std::uint32_t seed_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};

  std::mutex mutex_;
  std::condition_variable resumed_;
  bool holdRun_ = false;                      // guarded by mutex_
  OtherRunProgress progress_;                 // guarded by mutex_
  std::vector<EvaluationRow> unreadRows_;     // guarded by mutex_
  std::size_t publishedRows_ = 0;             // the run's own: rows handed over so far

  std::thread thread_;  // last: started once everything it uses is there
};

}  // namespace reflector
