#include "other_optimizers/other_optimizer_run.h"

#include <pagmo/algorithm.hpp>
#include <pagmo/algorithms/cmaes.hpp>
#include <pagmo/algorithms/compass_search.hpp>
#include <pagmo/algorithms/de.hpp>
#include <pagmo/algorithms/pso.hpp>
#include <pagmo/algorithms/sade.hpp>
#include <pagmo/algorithms/sga.hpp>
#include <pagmo/algorithms/simulated_annealing.hpp>
#include <pagmo/algorithms/xnes.hpp>
#include <pagmo/population.hpp>
#include <pagmo/problem.hpp>
#include <pagmo/utils/generic.hpp>

#include <limits>
#include <memory>
#include <random>
#include <type_traits>

#include "other_optimizers/mirror_problem.h"
#include "other_optimizers/other_optimizer_module.h"

namespace reflector {

namespace {

// Enough generations that only the budget ends a run.
constexpr unsigned kManyGenerations = std::numeric_limits<unsigned>::max() / 2;

pagmo::algorithm MakeAlgorithm(const std::string& name, unsigned seed, std::uint64_t budget) {
  if (name == "cmaes") return pagmo::algorithm{pagmo::cmaes(kManyGenerations, -1, -1, -1, -1, 0.5, 1e-6, 1e-6, false, true, seed)};
  if (name == "xnes") return pagmo::algorithm{pagmo::xnes(kManyGenerations, -1, -1, -1, -1, 1e-6, 1e-6, false, true, seed)};
  if (name == "de") return pagmo::algorithm{pagmo::de(kManyGenerations, 0.8, 0.9, 2u, 1e-6, 1e-6, seed)};
  if (name == "sade") return pagmo::algorithm{pagmo::sade(kManyGenerations, 2u, 1u, 1e-6, 1e-6, false, seed)};
  if (name == "pso") return pagmo::algorithm{pagmo::pso(kManyGenerations, 0.7298, 2.05, 2.05, 0.5, 5u, 2u, 4u, false, seed)};
  if (name == "sga") {
    return pagmo::algorithm{pagmo::sga(kManyGenerations, 0.9, 1.0, 0.02, 1.0, 2u, "exponential", "polynomial",
                                       "tournament", seed)};
  }
  // Ten temperatures from 10 to 0.1, steps adjusted once at each, in bins
  // of 20 moves a coordinate; started again while the budget lasts.
  if (name == "sa") return pagmo::algorithm{pagmo::simulated_annealing(10.0, 0.1, 10u, 1u, 20u, 0.1, seed)};
  if (name == "compass") {
    const unsigned fevals = static_cast<unsigned>(std::min<std::uint64_t>(budget, kManyGenerations));
    return pagmo::algorithm{pagmo::compass_search(fevals, 0.1, 1e-6, 0.5)};
  }
  return pagmo::algorithm{};
}

}  // namespace

}  // namespace reflector

// The module's one entry (see other_optimizer_module.h): the program's
// RunOtherOptimizer, here where the library is.
extern "C" __attribute__((visibility("default"))) bool reflector_run_other_optimizer(
    const reflector::SceneSnapshot& scene, const std::string& name, std::uint32_t seed,
    std::uint64_t evaluations, double radius, reflector::OtherRunResult& result,
    std::string& error,
    const std::function<void(const reflector::ScoringLedger&)>& watcher) {
  using namespace reflector;
  const AlgorithmEntry* entry = FindAlgorithm(name);
  if (!entry || name == kBuiltInAlgorithm) {
    error = "no algorithm '" + name + "' here; 'reflector --list-algorithms' lists them";
    return false;
  }
  if (scene.vertices.size() < 2) {
    error = "a mirror needs at least two vertices for another algorithm";
    return false;
  }
  if (!(radius > 0.0) || !std::isfinite(radius)) {
    error = "the radius must be a positive number of pixels";
    return false;
  }
  auto ledger = std::make_shared<ScoringLedger>(scene, evaluations);
  ledger->watcher_ = watcher;
  bool stopped = false;
  try {
    const pagmo::problem problem{MirrorProblem(ledger, radius)};
    // The user's mirror first, then the rest drawn in the box by the
    // library's own generator from the seed.
    pagmo::detail::random_engine_type engine(seed);
    auto drawPopulation = [&](const std::vector<double>& first) {
      pagmo::population drawn{problem, 0u, seed};
      drawn.push_back(first);
      for (unsigned i = 1; i < entry->populationSize; ++i) {
        drawn.push_back(pagmo::random_decision_vector(problem, engine));
      }
      return drawn;
    };
    pagmo::population population = drawPopulation(CoordinatesOf(scene.vertices));
    pagmo::algorithm algorithm = MakeAlgorithm(name, seed, evaluations);
    if (algorithm.has_set_seed()) algorithm.set_seed(seed);
    // A method that has converged starts again from its best, with the rest
    // of its population drawn afresh, until the budget is spent; one that
    // scores nothing even then has stopped for good.
    bool restarted = false;
    for (;;) {
      const std::uint64_t before = ledger->spent();
      population = algorithm.evolve(population);
      if (ledger->spent() > before) {
        restarted = false;
        continue;
      }
      if (restarted) break;
      restarted = true;
      population = drawPopulation(population.champion_x());
    }
  } catch (const BudgetSpent&) {
    // The budget ends every run that does not stop by itself.
  } catch (const RunStopped&) {
    stopped = true;
  } catch (const std::exception& failure) {
    // The library's messages run over several lines: one line here.
    error = entry->name + ": " + failure.what();
    for (char& c : error) {
      if (c == '\n') c = ' ';
    }
    return false;
  }
  ledger->Finish();
  result.algorithm = entry;
  result.seed = seed;
  result.radius = radius;
  result.evaluations = ledger->spent();
  result.bestScore = ledger->bestScore();
  result.bestAt = ledger->bestAt();
  result.bestMirror = ledger->bestMirror();
  result.rows = ledger->rows();
  result.startScore = ledger->firstScore();
  result.stopped = stopped;
  return true;
}

static_assert(std::is_same_v<decltype(&reflector_run_other_optimizer), reflector::OtherOptimizerEntry>);
