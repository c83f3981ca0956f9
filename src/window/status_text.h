#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "scene/scene_state.h"

namespace reflector {

// What the status bar says about the run, read at the tick.
struct RunStatus {
  RunMode mode = RunMode::Optimising;
  std::uint32_t generation = 0;                // generations completed
  std::optional<double> generationsPerSecond;  // only while optimising
  std::optional<double> best;                  // the population's best now
  std::optional<double> bestEver;
  std::uint32_t bestEverGeneration = 0;
  std::optional<std::uint32_t> rewound;  // the generation the canvas shows instead of live
};

// "Optimising | generation 1200 | 310 gen/s | best 2256.4 | best ever 2190.1 (generation 1104)"
std::string StatusText(const RunStatus& status);

// What the status bar says about another algorithm's run.
struct OtherRunStatus {
  RunMode mode = RunMode::Optimising;
  std::string algorithm;
  std::uint64_t evaluations = 0;  // scorings spent
  std::uint64_t budget = 0;
  std::optional<double> best;  // the last row's best
  std::optional<double> bestEver;
  std::uint64_t bestEverEvaluation = 0;
  std::string error;  // why the run could not go on
};

// "Optimising | cmaes | evaluation 5230 of 200000 | best 2256.4 | best ever 2190.1 (evaluation 4810)";
// while drawing, as StatusText says it.
std::string StatusText(const OtherRunStatus& status);

const char* RunModeName(RunMode mode);

}  // namespace reflector
