// RunOtherOptimizer in the program: the module that has the library is
// loaded the first time it is needed (see other_optimizer_module.h).
#include <string>

#include "modules/program_module.h"
#include "other_optimizers/other_optimizer_module.h"
#include "other_optimizers/other_optimizer_run.h"

namespace reflector {

namespace {

struct LoadedModule {
  OtherOptimizerEntry entry = nullptr;
  std::string error;  // why there is none
};

LoadedModule Load() {
  ProgramModule module(kOtherOptimizerModule);
  LoadedModule loaded;
  loaded.entry = reinterpret_cast<OtherOptimizerEntry>(module.Symbol(kOtherOptimizerEntry));
  if (!loaded.entry) loaded.error = module.Error();
  return loaded;
}

const LoadedModule& Module() {
  static const LoadedModule module = Load();  // once, whichever thread asks first
  return module;
}

}  // namespace

bool OtherOptimizersAvailable() { return Module().entry != nullptr; }

std::string OtherOptimizersUnavailableReason() {
  return "the other optimisers cannot be loaded: " + Module().error;
}

bool RunOtherOptimizer(const SceneSnapshot& scene, const std::string& name, std::uint32_t seed,
                       std::uint64_t evaluations, double radius, OtherRunResult& result,
                       std::string& error) {
  return RunOtherOptimizer(scene, name, seed, evaluations, radius, result, error, nullptr);
}

bool RunOtherOptimizer(const SceneSnapshot& scene, const std::string& name, std::uint32_t seed,
                       std::uint64_t evaluations, double radius, OtherRunResult& result,
                       std::string& error, const std::function<void(const ScoringLedger&)>& watcher) {
  const LoadedModule& module = Module();
  if (!module.entry) {
    error = name + ": " + OtherOptimizersUnavailableReason();
    return false;
  }
  return module.entry(scene, name, seed, evaluations, radius, result, error, watcher);
}

}  // namespace reflector
