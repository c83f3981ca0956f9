#include "geometry/random.h"

namespace reflector {

namespace {

std::uint32_t state = 1;

// The double nearest to 1/32767: the largest draw maps to exactly 1.0.
constexpr double kUnit = 1.0 / 32767.0;

}  // namespace

int NextRandom() {
  state = state * 214013u + 2531011u;  // mod 2^32 by unsigned wrap-around
  return static_cast<int>((state >> 16) & 0x7FFF);
}

double RandomUniform(double low, double high) {
  const double r = NextRandom();
  return low + (r * kUnit) * (high - low);
}

std::uint32_t RandomState() { return state; }

void SetRandomState(std::uint32_t newState) { state = newState; }

}  // namespace reflector
