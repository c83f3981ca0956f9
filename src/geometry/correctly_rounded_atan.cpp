#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>

#include "geometry/atan_tan_tables.h"
#include "geometry/correctly_rounded_phases.h"
#include "geometry/double_double.h"

// The fast phase of the correctly rounded arctangent.
//
// Reduction. atan is odd, so take a = |x|. For a table point c > 0,
//   atan a = atan c + atan t,  t = (a - c) / (1 + a c),
// with atan c from the table (error 2^-107). For 2^-9 <= a <= 1024, c is a
// with its fraction cut after 7 bits and the 8th set (atan_tan_tables.h): in
// a's binade [2^e, 2^(e+1)), |a - c| <= 2^(e-8) and 1 + a c >= 1 + 2^(2e), so
// |t| <= 2^-9. a - c is exact (same binade). c has 9 significant bits, so
// a's upper 26 bits times c and its lower 27 times c are exact, and one plus
// the first is exact too (it spans at most 35 - 2e bits for e < 0 and 2e + 3
// for e >= 0); so 1 + a c is an exact double-double, and the quotient a
// double-double with error below 2^-94. Below 2^-9, c = 0 and t = a. Beyond
// 1024, atan a = pi/2 - atan u with u = 1/a as a double-double: u.hi =
// fl(1/a), and the residual 1 - u.hi a is exact (a correctly rounded
// quotient's residual is a double), so u.lo = residual u.hi errs by less than
// 2^-104 u; there t = u, |t| < 2^-10.
//
// Polynomial. atan t = t - t^3/3 + t^5/5 - t^7/7 + ..., s = t^2 <= 2^-18. The
// correction t s (-1/3 + s (1/5 - s/7)) is at most 2^-19.5 |t|; evaluated in
// doubles (five roundings, the coefficients' own, and t.lo left out of s) it
// errs by at most 2^-50.5 of itself, 2^-70 |t|; the terms dropped are below
// 2^-75 |t|.
//
// Sum. |t| <= atan a whenever c > 0 (then a >= 2^-9), and pi/2 - atan u >
// atan u, so the result's relative error stays below 2^-69.9 plus the
// double-double operations' 2^-94 (measured against MPFR: 2^-71.3 at worst).
// The rounding test is given 2^-68.
namespace reflector::correctly_rounded {

namespace {

using atan_tan_tables::kAtanOfPoint;
using atan_tan_tables::kHalfPi;

constexpr double kSmallestWithPoint = 0x1p-9;
constexpr double kLargestWithPoint = 0x1p10;

// atan c + atan t for the table's atan c and |t| <= 2^-9, normalised. t.hi
// may be off by an ulp or two (it only feeds the correction).
DoubleDouble AddAtanOfSmall(DoubleDouble atanC, DoubleDouble t) {
  const double s = t.hi * t.hi;
  const double correction =
      t.hi * s * (-0x1.5555555555555p-2 + s * (0x1.999999999999ap-3 - s * 0x1.2492492492492p-3));
  const DoubleDouble sum = TwoSum(atanC.hi, t.hi);
  return FastTwoSum(sum.hi, sum.lo + (atanC.lo + (t.lo + correction)));
}

// atan a for 2^-9 <= a <= 1024.
DoubleDouble AtanNearPoint(double a) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(a);
  const double c = atan_tan_tables::AtanPoint(bits);
  const DoubleDouble aSplit = Split(a);
  const DoubleDouble onePlus = TwoSum(1.0 + aSplit.hi * c, aSplit.lo * c);
  // The reciprocal from doubles (within 2^-51), so the division need not
  // wait for the exact denominator.
  const double inverse = 1.0 / (1.0 + a * c);
  const DoubleDouble t = DivideWithInverse({a - c, 0.0}, onePlus, inverse);
  return AddAtanOfSmall(kAtanOfPoint[atan_tan_tables::AtanIndex(bits)], t);
}

// atan a for 1024 < a < 2^54.
DoubleDouble AtanOfLarge(double a) {
  const double u = 1.0 / a;
  const DoubleDouble product = TwoProduct(u, a);
  const double uLo = ((1.0 - product.hi) - product.lo) * u;
  const DoubleDouble atanU = AddAtanOfSmall({0.0, 0.0}, {u, uLo});
  const DoubleDouble difference = TwoSum(kHalfPi.hi, -atanU.hi);
  return FastTwoSum(difference.hi, difference.lo + (kHalfPi.lo - atanU.lo));
}

}  // namespace

DoubleDouble AtanOfMagnitude(double a) {
  return a < kSmallestWithPoint   ? AddAtanOfSmall({0.0, 0.0}, {a, 0.0})
         : a <= kLargestWithPoint ? AtanNearPoint(a)
                                  : AtanOfLarge(a);
}

std::optional<double> FastAtan(double x) {
  if (std::isnan(x)) return x + x;
  const double a = std::fabs(x);
  // atan x = x (1 - x^2/3 + ...): below 2^-27 the difference is under a
  // sixth of x's half unit, so x is the nearest double (±0 and subnormals
  // included).
  if (a < 0x1p-27) return x;
  // pi/2 - 1/a + ... with 1/a <= 2^-54 lies within 6.2e-17 above the double
  // nearest pi/2 and below the midpoint 1.1e-16 above it (infinity included).
  if (a >= 0x1p54) return std::copysign(kHalfPi.hi, x);

  // atan x has x's sign; copysign rather than a branch the signs would
  // mispredict.
  const std::optional<double> rounded = RoundIfDecided(AtanOfMagnitude(a), kAtanRelativeBound);
  if (!rounded) return std::nullopt;
  return std::copysign(*rounded, x);
}

}  // namespace reflector::correctly_rounded
