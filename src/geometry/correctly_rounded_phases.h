#pragma once

#include <optional>

#include "geometry/double_double.h"

// The two phases of CorrectlyRoundedAtan and CorrectlyRoundedTan, apart for
// the tests and the benchmarks.
namespace reflector::correctly_rounded {

// value.hi + value.lo rounded to a double, when every real within
// relativeBound * |value.hi| of it rounds to that same double; nothing
// otherwise. Given a proven bound on the distance between value and an exact
// result, what this returns is the exact result correctly rounded: rounding
// to nearest is monotonic, so both ends of the interval rounding alike
// decides everything between them. The bound must exceed the proven one by
// a few parts in 2^50 to cover this test's own two roundings.
std::optional<double> RoundIfDecided(DoubleDouble value, double relativeBound);

// The fast phase: the correctly rounded result when a double-double
// evaluation decides it (all but about one argument in 2^14), nothing when
// it does not. FastTan also declines |x| > 2^20.
std::optional<double> FastAtan(double x);

// atan a for 2^-27 <= a < 2^54, within kAtanRelativeBound of itself (the
// proof is in correctly_rounded_atan.cpp; it leaves room for RoundIfDecided).
inline constexpr double kAtanRelativeBound = 0x1p-68;
DoubleDouble AtanOfMagnitude(double a);

// tan(2 atan(x)) with both correctly rounded, that is
// CorrectlyRoundedTan(2 * CorrectlyRoundedAtan(x)), when a double-double
// evaluation decides it; nothing when it does not, or when |x| is outside
// [2^-20, 2^10]. One evaluation of atan instead of atan and tan: the
// reflection of a ray along the x axis needs exactly this.
std::optional<double> FastTanOfTwiceAtan(double x);

// Its parts for a = |x|, for the tests: A = atan a correctly rounded, tan 2A
// as a double-double, and the proven bound on its relative error (which
// FastTanOfTwiceAtan doubles for the rounding test's own roundings).
struct TanOfTwiceAtanValue {
  double atan;
  DoubleDouble value;
  double bound;
};
std::optional<TanOfTwiceAtanValue> TanOfTwiceAtanOfMagnitude(double a);
std::optional<double> FastTan(double x);

// The exact phase, through MPFR: correctly rounded for every double, some
// microseconds each.
double ExactAtan(double x);
double ExactTan(double x);

}  // namespace reflector::correctly_rounded
