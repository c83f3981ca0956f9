#pragma once

#include <vector>

#include "optimizer/candidate.h"

namespace reflector {

inline constexpr int kPopulationSize = 10;

// The candidates of one run and which of them the last selection found best.
struct Population {
  std::vector<Candidate> candidates;  // empty until filled, then exactly 10
  int bestIndex = -1;                 // -1 until the first selection
};

}  // namespace reflector
