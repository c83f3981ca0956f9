#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "geometry/point2.h"
#include "optimizer/scene_snapshot.h"
#include "other_optimizers/algorithm_catalogue.h"
#include "other_optimizers/scoring_ledger.h"

namespace reflector {

// What one run of another optimiser leaves.
struct OtherRunResult {
  const AlgorithmEntry* algorithm = nullptr;
  std::uint32_t seed = 0;
  double radius = 0.0;
  std::uint64_t evaluations = 0;  // scorings spent (the budget, unless it stopped early)
  double startScore = 0.0;        // the starting mirror's, its first scoring
  double bestScore = 0.0;
  std::uint64_t bestAt = 0;  // the scoring that found the best
  std::vector<Point2> bestMirror;
  std::vector<EvaluationRow> rows;
  bool stopped = false;  // a watcher ended it before its budget
};

// The default box around the starting mirror, in scene pixels.
inline constexpr double kDefaultRadius = 50.0;
// The default budget of scorings.
inline constexpr std::uint64_t kDefaultEvaluations = 200000;

// Whether this build has the library and it can be loaded: without it every
// run fails, saying so; and why not, as a phrase ("this build has no ...").
bool OtherOptimizersAvailable();
std::string OtherOptimizersUnavailableReason();

// Runs the named library algorithm on the scene, from its mirror, within
// `evaluations` scorings, the library's generator seeded with seed. One
// thread; the same scene, name, seed, budget and radius give the same
// result bits, run after run. False with the reason for an unknown name,
// the built-in scheme's name, or a scene the library refuses.
bool RunOtherOptimizer(const SceneSnapshot& scene, const std::string& name, std::uint32_t seed,
                       std::uint64_t evaluations, double radius, OtherRunResult& result,
                       std::string& error);
// The same, watched: the ledger calls watcher after each scoring (see
// ScoringLedger::watcher_). A watcher's RunStopped ends the run early with
// what it has, stopped set; anything else it throws fails the run.
bool RunOtherOptimizer(const SceneSnapshot& scene, const std::string& name, std::uint32_t seed,
                       std::uint64_t evaluations, double radius, OtherRunResult& result,
                       std::string& error, const std::function<void(const ScoringLedger&)>& watcher);

}  // namespace reflector
