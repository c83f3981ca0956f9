#include "other_optimizers/other_optimizer_run.h"

namespace reflector {

bool RunOtherOptimizer(const SceneSnapshot&, const std::string& name, std::uint32_t, std::uint64_t, double,
                       OtherRunResult&, std::string& error) {
  error = name + ": this build has no other optimisers (built without libpagmo-dev)";
  return false;
}

}  // namespace reflector
