#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "optimizer/scene_snapshot.h"
#include "other_optimizers/scoring_ledger.h"

namespace reflector {

struct OtherRunResult;

// The other optimisers live in a module of their own, loaded the first time
// one is asked for: the library they are built on takes a twentieth of a
// second and some 30 MB to start in every process that links it, which every
// headless run and every run of a batch would otherwise pay. The module
// exports one function, RunOtherOptimizer's watched form, by this name.
inline constexpr const char* kOtherOptimizerEntry = "reflector_run_other_optimizer";
inline constexpr const char* kOtherOptimizerModule = "libreflector-pagmo.so";

using OtherOptimizerEntry = bool (*)(const SceneSnapshot& scene, const std::string& name,
                                     std::uint32_t seed, std::uint64_t evaluations, double radius,
                                     OtherRunResult& result, std::string& error,
                                     const std::function<void(const ScoringLedger&)>& watcher);

}  // namespace reflector
