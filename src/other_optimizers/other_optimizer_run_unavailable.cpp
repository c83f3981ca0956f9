#include "other_optimizers/other_optimizer_run.h"

namespace reflector {

bool OtherOptimizersAvailable() { return false; }

std::string OtherOptimizersUnavailableReason() {
  return "this build has no other optimisers (built without libpagmo-dev)";
}

bool RunOtherOptimizer(const SceneSnapshot& scene, const std::string& name, std::uint32_t seed,
                       std::uint64_t evaluations, double radius, OtherRunResult& result,
                       std::string& error) {
  return RunOtherOptimizer(scene, name, seed, evaluations, radius, result, error, nullptr);
}

bool RunOtherOptimizer(const SceneSnapshot&, const std::string& name, std::uint32_t, std::uint64_t, double,
                       OtherRunResult&, std::string& error, const std::function<void(const ScoringLedger&)>&) {
  error = name + ": " + OtherOptimizersUnavailableReason();
  return false;
}

}  // namespace reflector
