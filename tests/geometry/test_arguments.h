#pragma once

#include <cmath>
#include <random>

namespace reflector::testing {

// Sanitizer builds check the same kinds of argument, an eighth as many: they
// look for memory and thread faults, which the numbers do not change.
#ifdef REFLECTOR_FEWER_ARGUMENTS
inline constexpr int kStride = 8;
#else
inline constexpr int kStride = 1;
#endif

// ±2^u with u uniform in [lowExponent, highExponent), either sign.
inline double LogUniform(std::mt19937_64& gen, double lowExponent, double highExponent) {
  const double x = std::exp2(std::uniform_real_distribution<double>(lowExponent, highExponent)(gen));
  return (gen() & 1) ? -x : x;
}

}  // namespace reflector::testing
