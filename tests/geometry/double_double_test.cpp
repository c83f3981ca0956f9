#include "geometry/double_double.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include "geometry/atan_tan_tables.h"
#include "geometry/correctly_rounded_phases.h"

namespace reflector {
namespace {

// Exact arithmetic on a few doubles: 2200 bits hold any sum or product of two.
class Exact {
 public:
  explicit Exact(double x = 0) {
    mpfr_init2(value, 2200);
    mpfr_set_d(value, x, MPFR_RNDN);
  }
  Exact(const Exact&) = delete;
  ~Exact() { mpfr_clear(value); }
  mpfr_t value;
};

bool IsExactly(const Exact& expected, DoubleDouble got) {
  Exact sum(got.hi);
  mpfr_add_d(sum.value, sum.value, got.lo, MPFR_RNDN);
  return mpfr_equal_p(sum.value, expected.value) != 0;
}

// |got - expected| / |expected|, as a double.
double RelativeError(const Exact& expected, DoubleDouble got) {
  Exact difference(got.hi);
  mpfr_add_d(difference.value, difference.value, got.lo, MPFR_RNDN);
  mpfr_sub(difference.value, difference.value, expected.value, MPFR_RNDN);
  mpfr_div(difference.value, difference.value, expected.value, MPFR_RNDN);
  return std::fabs(mpfr_get_d(difference.value, MPFR_RNDN));
}

double RandomDouble(std::mt19937_64& gen, int lowExponent, int highExponent) {
  const double x = std::ldexp(std::uniform_real_distribution<double>(1, 2)(gen),
                              std::uniform_int_distribution<int>(lowExponent, highExponent)(gen));
  return (gen() & 1) ? -x : x;
}

TEST(DoubleDouble, SumsAndProductsAreExact) {
  std::mt19937_64 gen(1);
  for (int i = 0; i < 100000; ++i) {
    const double a = RandomDouble(gen, -60, 60);
    const double b = RandomDouble(gen, -60, 60);
    Exact sum(a), product(a);
    mpfr_add_d(sum.value, sum.value, b, MPFR_RNDN);
    mpfr_mul_d(product.value, product.value, b, MPFR_RNDN);
    const DoubleDouble twoSum = TwoSum(a, b);
    ASSERT_TRUE(IsExactly(sum, twoSum)) << std::hexfloat << a << " + " << b;
    ASSERT_EQ(twoSum.hi, a + b);
    const double big = std::fabs(a) >= std::fabs(b) ? a : b;
    const double small = big == a ? b : a;
    ASSERT_TRUE(IsExactly(sum, FastTwoSum(big, small))) << std::hexfloat << a << " + " << b;
    const DoubleDouble twoProduct = TwoProduct(a, b);
    ASSERT_TRUE(IsExactly(product, twoProduct)) << std::hexfloat << a << " * " << b;
    ASSERT_EQ(twoProduct.hi, a * b);
    // The halves of a split hold 26 bits or fewer each, and add up to a.
    const DoubleDouble split = Split(a);
    ASSERT_EQ(split.hi + split.lo, a);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(split.hi) & ((std::uint64_t{1} << 27) - 1), 0u);
  }
}

TEST(DoubleDouble, MultiplyAndDivideStayWithinTheirBounds) {
  std::mt19937_64 gen(2);
  double worstProduct = 0, worstQuotient = 0, worstNearInverse = 0;
  for (int i = 0; i < 100000; ++i) {
    const DoubleDouble a = TwoSum(RandomDouble(gen, -20, 20), RandomDouble(gen, -80, -60));
    const DoubleDouble b = TwoSum(RandomDouble(gen, -20, 20), RandomDouble(gen, -80, -60));
    Exact aExact(a.hi), bExact(b.hi), product, quotient;
    mpfr_add_d(aExact.value, aExact.value, a.lo, MPFR_RNDN);
    mpfr_add_d(bExact.value, bExact.value, b.lo, MPFR_RNDN);
    mpfr_mul(product.value, aExact.value, bExact.value, MPFR_RNDN);
    mpfr_div(quotient.value, aExact.value, bExact.value, MPFR_RNDN);
    worstProduct = std::max(worstProduct, RelativeError(product, Multiply(a, b)));
    worstQuotient = std::max(worstQuotient, RelativeError(quotient, Divide(a, b)));
    // An inverse 2^-48 off still gives the quotient to 2^-94.
    const double inverse = (1.0 / b.hi) * (1 + ((gen() & 1) ? 0x1p-48 : -0x1p-48));
    worstNearInverse =
        std::max(worstNearInverse, RelativeError(quotient, DivideWithInverse(a, b, inverse)));
  }
  EXPECT_LT(worstProduct, 0x1p-100);
  EXPECT_LT(worstQuotient, 0x1p-100);
  EXPECT_LT(worstNearInverse, 0x1p-94);
}

TEST(RoundIfDecided, DecidesOnlyWhenTheWholeIntervalRoundsAlike) {
  using correctly_rounded::RoundIfDecided;
  const double one = 1.0, next = std::nextafter(1.0, 2.0);
  // Just above 1 by a quarter ulp: decided, to 1.
  EXPECT_EQ(RoundIfDecided({one, 0x1p-54}, 0x1p-60), one);
  // Within the bound of the midpoint between 1 and its successor: undecided.
  EXPECT_FALSE(RoundIfDecided({one, 0x1p-53 - 0x1p-70}, 0x1p-68));
  EXPECT_FALSE(RoundIfDecided({one, 0x1p-53 + 0x1p-70}, 0x1p-68));
  // Far enough from it: decided, to the nearer double.
  EXPECT_EQ(RoundIfDecided({one, 0x1p-53 + 0x1p-60}, 0x1p-68), next);
  EXPECT_EQ(RoundIfDecided({one, 0x1p-53 - 0x1p-60}, 0x1p-68), one);
  // Below a power of two the doubles are twice as dense.
  EXPECT_FALSE(RoundIfDecided({one, -0x1p-54}, 0x1p-68));
  EXPECT_EQ(RoundIfDecided({-one, -0x1p-56}, 0x1p-68), -one);
}

// Every table entry is its exact value rounded to a double, and the rest
// rounded again: a hand-edited or stale table fails here.
TEST(AtanTanTables, EveryEntryIsTheExactValueRoundedTwice) {
  namespace tables = atan_tan_tables;
  auto expectRoundedTwice = [](mpfr_t exact, DoubleDouble entry, const char* what, int index) {
    const double hi = mpfr_get_d(exact, MPFR_RNDN);
    mpfr_sub_d(exact, exact, hi, MPFR_RNDN);
    const double lo = mpfr_get_d(exact, MPFR_RNDN);
    EXPECT_EQ(entry.hi, hi) << what << " " << index;
    EXPECT_EQ(entry.lo, lo) << what << " " << index;
  };
  mpfr_t x, y;
  mpfr_init2(x, 300);
  mpfr_init2(y, 300);
  for (int index = 0; index < tables::kAtanEntries; ++index) {
    const int exponent = tables::kAtanSmallestExponent + (index >> tables::kAtanPointBits);
    const double first = std::ldexp(
        1.0 + std::ldexp(index & ((1 << tables::kAtanPointBits) - 1), -tables::kAtanPointBits),
        exponent);
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(first);
    ASSERT_EQ(tables::AtanIndex(bits), index);
    // The point is in its entry's binade and keeps the entry's bits.
    const double point = tables::AtanPoint(bits);
    ASSERT_EQ(tables::AtanIndex(std::bit_cast<std::uint64_t>(point)), index);
    mpfr_set_d(x, point, MPFR_RNDN);
    mpfr_atan(y, x, MPFR_RNDN);
    expectRoundedTwice(y, tables::kAtanOfPoint[index], "atan", index);
  }
  for (int j = 0; j < tables::kTanEntries; ++j) {
    mpfr_set_si(x, j, MPFR_RNDN);
    mpfr_div_2si(x, x, tables::kStepBits, MPFR_RNDN);
    mpfr_tan(y, x, MPFR_RNDN);
    expectRoundedTwice(y, tables::kTanOfStep[j], "tan", j);
  }
  mpfr_const_pi(y, MPFR_RNDN);
  mpfr_div_2ui(y, y, 1, MPFR_RNDN);
  expectRoundedTwice(y, tables::kHalfPi, "pi/2", 0);
  // pi/2's pieces: three of 33 bits, and together within 2^-150 of pi/2.
  mpfr_const_pi(y, MPFR_RNDN);
  mpfr_div_2ui(y, y, 1, MPFR_RNDN);
  for (int i = 0; i < 4; ++i) {
    if (i < 3) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(tables::kHalfPiPieces[i]) & ((1ull << 20) - 1), 0u);
    }
    mpfr_sub_d(y, y, tables::kHalfPiPieces[i], MPFR_RNDN);
  }
  EXPECT_LT(std::fabs(mpfr_get_d(y, MPFR_RNDN)), 0x1p-150);
  mpfr_clear(x);
  mpfr_clear(y);
}

}  // namespace
}  // namespace reflector
