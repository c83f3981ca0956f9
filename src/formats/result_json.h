#pragma once

#include <cstdint>
#include <string>

#include "optimizer/population.h"

namespace reflector {

// The population as JSON, every double written so that it reads back as the
// identical double (shortest round-trip form):
//   {"generations": N, "bestIndex": I,
//    "candidates": [{"score": S, "vertices": [[x, y], ...]}, ...]}
// JSON has no NaN or infinity; such a value is written as null.
std::string PopulationToJson(std::uint32_t generations, const Population& population);

// The shortest text that reads back as exactly x; "null" when x is not finite.
std::string FormatDouble(double x);

}  // namespace reflector
