#include "geometry/correctly_rounded.h"

#include <cmath>

#include "geometry/correctly_rounded_phases.h"

namespace reflector {

namespace correctly_rounded {

std::optional<double> RoundIfDecided(DoubleDouble value, double relativeBound) {
  const double error = std::fabs(value.hi) * relativeBound;
  const double low = value.hi + (value.lo - error);
  const double high = value.hi + (value.lo + error);
  if (low != high) return std::nullopt;
  return low;
}

}  // namespace correctly_rounded

double CorrectlyRoundedAtan(double x) {
  if (const std::optional<double> fast = correctly_rounded::FastAtan(x)) return *fast;
  return correctly_rounded::ExactAtan(x);
}

double CorrectlyRoundedTan(double x) {
  if (const std::optional<double> fast = correctly_rounded::FastTan(x)) return *fast;
  return correctly_rounded::ExactTan(x);
}

}  // namespace reflector
