// Searches for arguments whose atan or tan lies closest to a midpoint between
// two doubles: the hard cases under tests/geometry/data. Built from the fast
// phases' own sources with a rounding test of its own that keeps the
// double-double value it was given, so each argument costs one fast-phase
// evaluation; a value within 2^-70 of a midpoint is then measured exactly
// with MPFR, and those within 2^-72 are printed, closest first:
//   find_hard_cases atan|tan SECONDS > cases.txt
#include <mpfr.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "geometry/correctly_rounded_phases.h"

namespace reflector::correctly_rounded {

DoubleDouble lastValue;

std::optional<double> RoundIfDecided(DoubleDouble value, double relativeBound) {
  lastValue = value;
  const double error = std::fabs(value.hi) * relativeBound;
  const double low = value.hi + (value.lo - error);
  const double high = value.hi + (value.lo + error);
  if (low != high) return std::nullopt;
  return low;
}

}  // namespace reflector::correctly_rounded

namespace {

using reflector::correctly_rounded::lastValue;

// log2 of |f(x) - nearest midpoint| / |f(x)|, exactly (400 bits).
double DistanceToMidpoint(bool tangent, double x) {
  mpfr_t exact, midpoint, rounded;
  mpfr_inits2(400, exact, midpoint, static_cast<mpfr_ptr>(nullptr));
  mpfr_init2(rounded, 53);
  mpfr_set_d(exact, x, MPFR_RNDN);
  if (tangent) {
    mpfr_tan(exact, exact, MPFR_RNDN);
  } else {
    mpfr_atan(exact, exact, MPFR_RNDN);
  }
  mpfr_set(rounded, exact, MPFR_RNDN);
  const double y = mpfr_get_d(rounded, MPFR_RNDN);
  const double neighbour = std::nextafter(y, mpfr_cmp_d(exact, y) > 0 ? INFINITY : -INFINITY);
  mpfr_set_d(midpoint, y, MPFR_RNDN);
  mpfr_add_d(midpoint, midpoint, neighbour, MPFR_RNDN);
  mpfr_div_2ui(midpoint, midpoint, 1, MPFR_RNDN);
  mpfr_sub(midpoint, exact, midpoint, MPFR_RNDN);
  mpfr_div(midpoint, midpoint, exact, MPFR_RNDN);
  const double distance = std::log2(std::fabs(mpfr_get_d(midpoint, MPFR_RNDN)));
  mpfr_clears(exact, midpoint, rounded, static_cast<mpfr_ptr>(nullptr));
  return distance;
}

// The program's ranges (see tests/golden/machine_independence/ARGUMENTS.txt),
// tiny to huge magnitudes, and tan next to multiples of pi/4.
double NextArgument(bool tangent, std::mt19937_64& gen) {
  auto uniform = [&gen](double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(gen);
  };
  double x;
  const int kind = static_cast<int>(gen() % 4);
  if (tangent) {
    if (kind == 0) {
      x = uniform(2, 4);
    } else if (kind == 1) {
      x = uniform(-6.2, 6.2);
    } else if (kind == 2) {
      x = std::exp2(uniform(-27, 20));
    } else {
      const double multiple = static_cast<double>(gen() % 1300000) * 0.7853981633974483;
      x = std::nextafter(multiple, (gen() & 1) ? INFINITY : 0.0);
    }
  } else {
    x = kind == 0 ? std::exp2(uniform(-6, 7)) : kind == 1 ? uniform(-2, 2) : std::exp2(uniform(-27, 54));
  }
  return (gen() & 1) ? -x : x;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "atan") != 0 && std::strcmp(argv[1], "tan") != 0)) {
    std::fprintf(stderr, "usage: find_hard_cases atan|tan SECONDS\n");
    return 2;
  }
  const bool tangent = std::strcmp(argv[1], "tan") == 0;
  const double seconds = std::atof(argv[2]);
  std::mt19937_64 gen(tangent ? 77 : 78);
  std::vector<std::pair<double, double>> found;
  const auto start = std::chrono::steady_clock::now();
  long count = 0;
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
    for (int i = 0; i < 100000; ++i, ++count) {
      const double x = NextArgument(tangent, gen);
      lastValue = {NAN, NAN};
      if (tangent) {
        reflector::correctly_rounded::FastTan(x);
      } else {
        reflector::correctly_rounded::FastAtan(x);
      }
      if (!std::isfinite(lastValue.hi)) continue;  // decided before the evaluation
      // The value's distance to the midpoint nearest it, relative.
      const double y = lastValue.hi + lastValue.lo;
      const double halfUlp = (std::nextafter(y, INFINITY) - std::nextafter(y, -INFINITY)) / 4;
      const double offset = (lastValue.hi - y) + lastValue.lo;
      if (std::fabs(std::fabs(offset) - halfUlp) / std::fabs(y) >= 0x1p-70) continue;
      const double distance = DistanceToMidpoint(tangent, x);
      if (distance < -72) found.push_back({distance, x});
    }
  }
  std::sort(found.begin(), found.end());
  std::fprintf(stderr, "%s: %ld arguments, %zu within 2^-72 of a midpoint\n", argv[1], count,
               found.size());
  for (const auto& [distance, x] : found) std::printf("%a %.2f\n", x, distance);
  return 0;
}
