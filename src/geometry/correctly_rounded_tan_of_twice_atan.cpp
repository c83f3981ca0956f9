#include <cmath>
#include <optional>

#include "geometry/correctly_rounded.h"
#include "geometry/correctly_rounded_phases.h"
#include "geometry/double_double.h"

// tan(2A), A the correctly rounded atan x, from one atan evaluation.
//
// tan and atan are odd and both correctly rounded functions are too, so take
// a = |x| in [2^-20, 2^10] and put the sign back at the end. Let alpha =
// atan a exactly, w the double-double AtanOfMagnitude(a) (|w - alpha| <=
// 2^-69.9 alpha), and A the double nearest alpha, so e = A - alpha is at most
// 2^-53 A. Then, exactly,
//   tan A = tan(alpha + e) = a + (1 + a^2) e + a (1 + a^2) e^2 + ...,
//   tan 2A = 2 tan A / (1 - tan^2 A).
// e is taken as (A - w.hi) - w.lo (A - w.hi is exact: the two are within an
// ulp), off by 2^-69.8 alpha at most; its term (1 + a^2) e in doubles is off
// by 2^-51 of itself; the e^2 term, left out, is below 2^-84 a. Relative to
// T = tan A (which is a to within 2^-42 of itself), that puts T within
//   eps = 2^-68 (1 + a)
// of itself: for a <= 1, (1 + a^2) alpha / a <= 2, so 2^-68.9; beyond,
// (1 + a^2) / a <= 2a and alpha < pi/2, so 2^-68.25 a. A relative error d
// in T moves 2T / (1 - T^2) by at most K d of itself, K = (1 + T^2) /
// |1 - T^2|. The steps after it: the
// square errs by 2^-100 T^2, at most 2^-100 K of 1 - T^2; the difference is
// exact but for one rounding of its low part, 2^-104 of 1 - T^2; the
// quotient adds 2^-94. So the result is within
//   K (eps + 2^-90) + 2^-90
// of itself (doubled below to cover the few roundings of the bound's own
// arithmetic and of the rounding test). Near T = 1 (A near pi/4) K grows
// without bound, and where it passes 2^20 the test is not tried.
//
// Away from a = 1, where K at a is at most 16, the same value comes sooner
// from f(x) = 2x / (1 - x^2) at a, which needs no atan:
//   f(a + c) = f(a) + f'(a) c + f''(xi) c^2 / 2,  f'(x) = 2 (1 + x^2) / (1 - x^2)^2,
// c = (1 + a^2) e as above, |c| <= 2^-42 a. f(a) is a double-double quotient
// (2^-94, and the square's 2^-100 K). The error in c moves the result by K
// eps as before. f'(a) in doubles errs by 2^-51 (K + 4) of itself, and the
// term is at most K 2^-42 of the result: 2^-93 K (K + 4). The second-order
// term is (a^2 + 3) c^2 / (1 - a^2)^2 of the result (at most 2^-75), taken
// into the bound twice over; the third is below 2^-110. Adding the term to
// f(a)'s low part rounds once more (2^-91). So the result is within
//   K (eps + 2^-90) + 2^-89 + 2^-93 K (K + 4) + 2 (a^2 + 3) (c / (1 - a^2))^2.
namespace reflector::correctly_rounded {

namespace {

constexpr double kSmallest = 0x1p-20;
constexpr double kLargest = 0x1p10;
constexpr double kLargestGain = 0x1p20;
constexpr double kLargestGainFromA = 16;

}  // namespace

std::optional<TanOfTwiceAtanValue> TanOfTwiceAtanOfMagnitude(double a) {
  // Written so that a NaN fails it too.
  if (!(a >= kSmallest && a <= kLargest)) return std::nullopt;
  // K at a, for the way below; f(a) needs no atan, so it is begun first and
  // its division overlaps atan's.
  const double aSquare = a * a;
  const double aInverse = 1.0 / (1.0 - aSquare);
  const double aGain = (1.0 + aSquare) * std::fabs(aInverse);
  const bool fromA = aGain <= kLargestGainFromA;
  DoubleDouble fOfA{0.0, 0.0};
  if (fromA) {
    const DoubleDouble product = TwoProduct(a, a);
    const DoubleDouble difference = TwoSum(1.0, -product.hi);
    const DoubleDouble denominator = TwoSum(difference.hi, difference.lo - product.lo);
    fOfA = DivideWithInverse({2 * a, 0.0}, denominator,
                             aGain <= 4 ? aInverse : 1.0 / denominator.hi);
  }

  const DoubleDouble w = AtanOfMagnitude(a);
  const std::optional<double> rounded = RoundIfDecided(w, kAtanRelativeBound);
  if (!rounded) return std::nullopt;
  const double A = *rounded;
  const double e = (A - w.hi) - w.lo;
  const double c = (1.0 + aSquare) * e;
  const double eps = 0x1p-68 * (1.0 + a);

  if (fromA) {
    const double slope = 2 * (1.0 + aSquare) * (aInverse * aInverse);  // f'(a)
    const DoubleDouble value = FastTwoSum(fOfA.hi, fOfA.lo + slope * c);
    const double ratio = c * aInverse;
    const double secondOrder = (aSquare + 3.0) * (ratio * ratio);
    return TanOfTwiceAtanValue{A, value,
                               aGain * (eps + 0x1p-90) + 0x1p-89 +
                                   0x1p-93 * aGain * (aGain + 4) + 2 * secondOrder};
  }

  const DoubleDouble tanA = FastTwoSum(a, c);

  // 1 / (1 - T^2) and K from doubles, off by 2^-51.4 K + 2^-52 of
  // themselves; where K <= 4 that is close enough for the quotient's
  // reciprocal (2^-48), which then need not wait for the exact denominator.
  const double square = tanA.hi * tanA.hi;
  const double inverse = 1.0 / (1.0 - square);
  const double gain = (1.0 + square) * std::fabs(inverse);
  if (!(gain <= kLargestGain)) return std::nullopt;  // a NaN or infinity too

  const DoubleDouble tanSquared = Multiply(tanA, tanA);
  const DoubleDouble difference = TwoSum(1.0, -tanSquared.hi);
  const DoubleDouble denominator = TwoSum(difference.hi, difference.lo - tanSquared.lo);
  const DoubleDouble value = DivideWithInverse(
      {2 * tanA.hi, 2 * tanA.lo}, denominator, gain <= 4 ? inverse : 1.0 / denominator.hi);

  return TanOfTwiceAtanValue{A, value, gain * (eps + 0x1p-90) + 0x1p-90};
}

std::optional<double> FastTanOfTwiceAtan(double x) {
  const std::optional<TanOfTwiceAtanValue> value = TanOfTwiceAtanOfMagnitude(std::fabs(x));
  if (!value) return std::nullopt;
  const std::optional<double> result = RoundIfDecided(value->value, 2 * value->bound);
  if (!result) return std::nullopt;
  return std::copysign(1.0, x) * *result;
}

}  // namespace reflector::correctly_rounded
