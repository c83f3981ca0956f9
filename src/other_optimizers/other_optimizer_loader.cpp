// RunOtherOptimizer in the program: the module that has the library is
// loaded the first time it is needed (see other_optimizer_module.h).
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "other_optimizers/other_optimizer_module.h"
#include "other_optimizers/other_optimizer_run.h"

namespace reflector {

namespace {

struct LoadedModule {
  OtherOptimizerEntry entry = nullptr;
  std::string error;  // why there is none
};

std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string program(path, static_cast<std::size_t>(length));
  const std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? "." : program.substr(0, slash);
}

LoadedModule Load() {
  LoadedModule module;
  const std::string path =
      ProgramFolder() + "/" + kOtherOptimizerModuleFolder + "/" + kOtherOptimizerModule;
  // Kept for the rest of the process: runs may be under way on any thread.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    module.error = reason ? reason : path + ": cannot be loaded";
    return module;
  }
  module.entry = reinterpret_cast<OtherOptimizerEntry>(dlsym(handle, kOtherOptimizerEntry));
  if (!module.entry) module.error = path + ": has no " + kOtherOptimizerEntry;
  return module;
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
