#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>

#include "geometry/atan_tan_tables.h"
#include "geometry/correctly_rounded_phases.h"
#include "geometry/double_double.h"

// The fast phase of the correctly rounded tangent.
//
// Reduction. tan is odd, so take a = |x| <= 2^20, and k the integer nearest
// a 2/pi (k < 2^20): a = k pi/2 + r, |r| <= pi/4 + 2^-33, and tan a is tan r
// for even k, -1/tan r for odd k. pi/2 is held as P1 + P2 + P3 + P4, the
// first three of 33 bits so that k Pi is exact; first = a - k P1 is exact
// (Sterbenz) and within k P2 < 2^-13 of r, close enough to pick the table's
// point c = ±j/512 nearest r (j = 0 .. 402, the sign of first) at once.
// Then d = r - c: first - c is exact (Sterbenz, for j >= 1), the next two
// subtractions are exact as double-doubles, and what is left (k P4 rounded,
// k times pi/2's own remainder below 2^-157, two roundings of low parts)
// errs by less than 2^-134 + 2^-105 |d|. An error e in r changes tan r and
// 1/tan r by at most (1 + tan^2 r) / |tan r| e <= 2 e / |r| of themselves,
// so the reduction adds 2^-133 / |r| to the relative bound (|r| >= |first|/2
// when j >= 1): when a is close to a multiple of pi/2 the bound grows and the
// test declines rather than guess.
//
// Table. With |d| <= 2^-10 and |r| = j/512 + d (d's sign flipped with r's),
//   tan(c + d) = (tan c + tan d) / (1 - tan c tan d),
// and 1/tan(c + d) the same fraction upside down; tan c from the table
// (error 2^-107). The division's reciprocal is taken from doubles, before
// the exact numerator and denominator are complete (double_double.h).
//
// Polynomial. tan d = d + d^3/3 + 2d^5/15 + 17d^7/315 + ..., s = d^2 <=
// 2^-20. The correction d s (1/3 + s (2/15 + s 17/315)) is at most 2^-21.5 |d|
// and errs by at most 2^-50.4 of itself in doubles, 2^-72 |d|; the terms
// dropped are below 2^-85 |d|. The fraction's sensitivity to tan d is at
// most 2.1, and |tan(c + d)| >= |d| when j >= 1, so tan r and 1/tan r err by
// less than 2^-70.9 of themselves, plus 2^-93 from the double-double
// operations (measured against MPFR: 2^-72.5 at worst). The rounding test is
// given 2^-68 plus the reduction's term. Signs are applied by multiplying,
// not by branches: the signs of the program's arguments are not predictable.
namespace reflector::correctly_rounded {

namespace {

using atan_tan_tables::kHalfPiPieces;
using atan_tan_tables::kTanOfStep;
using atan_tan_tables::kTwoOverPi;

constexpr double kStep = 1 << atan_tan_tables::kStepBits;
constexpr double kRelativeBound = 0x1p-68;
constexpr double kReductionBound = 0x1p-124;  // over |r|; the analysis gives 2^-133
constexpr double kLargestReduced = 0x1p20;

// tan(c + d), or 1/tan(c + d) when cotangent, for the table's c = j/512 and
// the normalised double-double d, |d| <= 2^-10 + 2^-30, c + d != 0.
DoubleDouble TanOfStepPlus(int j, DoubleDouble d, bool cotangent) {
  constexpr double kThird = 0x1.5555555555555p-2;
  const double s = d.hi * d.hi;
  const double ds = d.hi * s;
  const double correction =
      ds * ((kThird + s * 0x1.1111111111111p-3) + (s * s) * 0x1.ba1ba1ba1ba1cp-5);
  const DoubleDouble tanD = FastTwoSum(d.hi, d.lo + correction);
  if (j == 0) return cotangent ? Divide({1.0, 0.0}, tanD) : tanD;

  const DoubleDouble tanC = kTanOfStep[j];
  // 1 - tan c tan d from doubles, the terms from d^5 on left out (they are
  // below 2^-53 of it), so the division can start before the polynomial ends.
  const double inverseOfDenominator = 1.0 / (1.0 - tanC.hi * (d.hi + ds * kThird));
  const DoubleDouble sum = TwoSum(tanC.hi, tanD.hi);
  const DoubleDouble numerator = FastTwoSum(sum.hi, sum.lo + (tanC.lo + tanD.lo));
  const DoubleDouble product = Multiply(tanC, tanD);
  const DoubleDouble difference = TwoSum(1.0, -product.hi);
  const DoubleDouble denominator = FastTwoSum(difference.hi, difference.lo - product.lo);
  // The divisor's reciprocal from doubles (within 2^-50: tan c >= 2 |tan d|,
  // and tan c tan d <= 2^-10), so the division need not wait for the
  // products' low parts.
  if (cotangent) {
    return DivideWithInverse(denominator, numerator, 1.0 / (tanC.hi + tanD.hi));
  }
  return DivideWithInverse(numerator, denominator, inverseOfDenominator);
}

}  // namespace

std::optional<double> FastTan(double x) {
  if (!std::isfinite(x)) return x - x;  // NaN, for ±inf too
  const double a = std::fabs(x);
  // tan x = x (1 + x^2/3 + ...): below 2^-27 the difference is under a sixth
  // of x's half unit, so x is the nearest double (±0 and subnormals included).
  if (a < 0x1p-27) return x;
  if (a > kLargestReduced) return std::nullopt;

  // The nearest integer to a 2/pi (a 2/pi < 2^20, far from 2^52).
  const double k = (a * kTwoOverPi + 0x1.8p52) - 0x1.8p52;
  // r to within k P2 < 2^-13: enough to pick the table's point, so that the
  // look-up need not wait for the rest of the reduction.
  const double first = a - k * kHalfPiPieces[0];
  // The step nearest |first|, rounded by adding 1.5 2^52 (whose last bits
  // are then the step's number), cheaper than a conversion both ways.
  constexpr double kRounder = 0x1.8p52;
  const double rounded = std::fabs(first) * kStep + kRounder;
  const int j = static_cast<int>(std::bit_cast<std::uint64_t>(rounded) & 0x3ff);
  double sign = std::copysign(1.0, first);
  const double c = sign * ((rounded - kRounder) * (1 / kStep));
  double bound = kRelativeBound;
  DoubleDouble d{first - c, 0.0};  // r - c, exact (Sterbenz when j >= 1)
  if (k != 0) {
    const DoubleDouble second = TwoSum(d.hi, -(k * kHalfPiPieces[1]));
    const DoubleDouble third = TwoSum(second.hi, -(k * kHalfPiPieces[2]));
    d = TwoSum(third.hi, (second.lo + third.lo) - k * kHalfPiPieces[3]);
    if (j == 0) {
      // r itself, whose sign may differ from first's when it is tiny.
      if (d.hi == 0) return std::nullopt;
      sign = std::copysign(1.0, d.hi);
      bound += kReductionBound / std::fabs(d.hi);
    } else {
      bound += 2 * kReductionBound / std::fabs(first);  // |first| <= 2 |r|
    }
  }
  // |r| - c; signs by multiplication, not by branches the signs would
  // mispredict.
  d = {sign * d.hi, sign * d.lo};
  // tan(-r) = -tan r; for odd k, tan a = -1/tan r; tan(-a) = -tan a.
  const bool odd = (static_cast<std::int64_t>(k) & 1) != 0;
  const std::optional<double> result = RoundIfDecided(TanOfStepPlus(j, d, odd), bound);
  if (!result) return std::nullopt;
  return *result * (sign * std::copysign(1.0, x) * (odd ? -1.0 : 1.0));
}

}  // namespace reflector::correctly_rounded
