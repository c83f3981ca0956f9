#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "optimizer/population.h"
#include "optimizer/run_record.h"
#include "scene/scene_description.h"

namespace reflector {

// What a finished run wrote, as the result file holds it. Equal runs give
// equal bytes: no timings, no dates.
struct RunResult {
  SceneDescription scene;  // the starting scene: its mirror is the one the run started from
  std::uint32_t seed = 1;  // the generator state the run started from
  std::uint32_t generations = 0;
  const Population* population = nullptr;
  std::optional<BestEver> bestEver;
};

// The result as JSON, every double in shortest round-trip form:
//   {"generations": N, "seed": S, "bestIndex": I,
//    "bestEver": {"score": S, "generation": G, "vertices": [[x, y], ...]} or null,
//    "scene": {"reflector": [[x, y], ...], "source": [x, y], "aim": [x, y], "target": [x, y]},
//    "candidates": [{"score": S or null, "vertices": [[x, y], ...]}, ...]}
// Before the first generation (generations 0) no candidate has a score: null.
// JSON has no NaN or infinity; such a value is written as null too.
std::string ResultToJson(const RunResult& result);

// The shortest text that reads back as exactly x; "null" when x is not finite,
// "-0.0" for negative zero (a file's integer -0 reads as 0).
std::string FormatDouble(double x);

}  // namespace reflector
