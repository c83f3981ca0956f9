#pragma once

#include <array>
#include <cstdint>

#include "optimizer/population.h"

namespace reflector {

// What one generation's selection did, in a few bytes: after it, candidate i
// holds the vertices candidate from[i] had after the jitter, and best is the
// population's bestIndex. With the generator's state, this is all it takes to
// redo a generation without tracing a ray.
struct Survivors {
  std::array<std::uint8_t, kPopulationSize> from{};
  std::uint8_t best = 0;

  friend bool operator==(const Survivors&, const Survivors&) = default;
};

}  // namespace reflector
