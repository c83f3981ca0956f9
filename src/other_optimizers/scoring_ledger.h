#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "geometry/point2.h"
#include "optimizer/run_record.h"
#include "optimizer/scene_snapshot.h"
#include "tracing/beam_tracer.h"

namespace reflector {

// Thrown by a scoring asked for past the budget: it ends the algorithm's
// evolution wherever it is.
class BudgetSpent : public std::runtime_error {
 public:
  BudgetSpent() : std::runtime_error("the evaluation budget is spent") {}
};

// Thrown by a watcher (ScoringLedger::watcher_) to end a run early: the
// run stops wherever it is, keeping what it has found.
class RunStopped : public std::runtime_error {
 public:
  RunStopped() : std::runtime_error("the run was stopped") {}
};

// One row per block of kScoringsPerRow scorings, as a generation of the
// built-in scheme scores ten candidates: the block's best, mean and worst,
// and the best so far.
struct EvaluationRow {
  std::uint64_t evaluations = 0;  // scorings up to the end of the block
  GenerationScores scores;
};

// Every scoring another optimiser asks for, on one scene and within one
// budget: the beam traced exactly as the built-in scheme traces a candidate,
// so a mirror scores the same bits whichever algorithm proposes it. Keeps the
// best mirror seen and the rows of the run's history. Not thread-safe: each
// run has its own, and its algorithm runs on one thread.
class ScoringLedger {
 public:
  static constexpr std::uint64_t kScoringsPerRow = 10;

  ScoringLedger(SceneSnapshot snapshot, std::uint64_t budget);

  // The score of the mirror whose coordinates are x (x0, y0, x1, y1, ...);
  // throws BudgetSpent once budget scorings have been made.
  double Score(const std::vector<double>& coordinates);

  std::uint64_t spent() const { return spent_; }
  // The first scoring's score: the starting mirror's.
  double firstScore() const { return firstScore_; }
  std::uint64_t budget() const { return budget_; }
  const SceneSnapshot& snapshot() const { return snapshot_; }
  // The best mirror scored (the first of equal scores), its score and the
  // scoring that found it; none before the first scoring.
  bool HasBest() const { return spent_ > 0 && bestScore_ < std::numeric_limits<double>::infinity(); }
  double bestScore() const { return bestScore_; }
  std::uint64_t bestAt() const { return bestAt_; }
  const std::vector<Point2>& bestMirror() const { return bestMirror_; }
  // The rows of full blocks, and of the last part block once Finish is called.
  const std::vector<EvaluationRow>& rows() const { return rows_; }
  void Finish();

  // When set, called on the run's thread after each scoring, the ledger up
  // to date with it: it may copy what another thread shows, wait, or throw
  // RunStopped. It changes no score: a watched run has the bits of one not.
  std::function<void(const ScoringLedger&)> watcher_;

 private:
  void CloseBlock();

  SceneSnapshot snapshot_;
  std::uint64_t budget_;
  std::uint64_t spent_ = 0;
  BeamTracer tracer_;
  std::vector<Point2> vertices_;
  std::vector<RayRecord> rays_;
  double firstScore_ = 0.0;
  double bestScore_ = std::numeric_limits<double>::infinity();
  std::uint64_t bestAt_ = 0;
  std::vector<Point2> bestMirror_;
  // The block under way.
  std::uint64_t blockCount_ = 0;
  double blockBest_ = 0.0;
  double blockWorst_ = 0.0;
  double blockSum_ = 0.0;
  std::vector<EvaluationRow> rows_;
};

}  // namespace reflector
