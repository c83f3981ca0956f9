// Prints atan_tan_tables.inc: the constants and tables the correctly rounded
// arctangent and tangent start from, each the exact value rounded once to a
// double-double (hi the nearest double, lo the nearest double to the rest).
//   make_atan_tan_tables > src/geometry/atan_tan_tables.inc
// The geometry tests recompute every entry with MPFR, so a stale or edited
// table fails them.
#include <mpfr.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "geometry/atan_tan_tables.h"

namespace {

constexpr mpfr_prec_t kWorkingBits = 400;

// value = hi + lo + rest, hi and lo each rounded to nearest; value is consumed.
void PrintDoubleDouble(mpfr_t value, const char* separator) {
  const double hi = mpfr_get_d(value, MPFR_RNDN);
  mpfr_sub_d(value, value, hi, MPFR_RNDN);
  const double lo = mpfr_get_d(value, MPFR_RNDN);
  std::printf("{%a, %a}%s", hi, lo, separator);
}

// The next piece of a Cody-Waite split: value rounded to `bits` significant
// bits; the piece is subtracted from value.
double TakePiece(mpfr_t value, mpfr_prec_t bits) {
  mpfr_t piece;
  mpfr_init2(piece, bits);
  mpfr_set(piece, value, MPFR_RNDN);
  const double result = mpfr_get_d(piece, MPFR_RNDN);
  mpfr_sub_d(value, value, result, MPFR_RNDN);
  mpfr_clear(piece);
  return result;
}

}  // namespace

int main() {
  using namespace reflector::atan_tan_tables;
  mpfr_t x, y;
  mpfr_init2(x, kWorkingBits);
  mpfr_init2(y, kWorkingBits);

  std::printf("// Made by make_atan_tan_tables (MPFR, %d bits); do not edit.\n",
              static_cast<int>(kWorkingBits));

  mpfr_const_pi(y, MPFR_RNDN);
  mpfr_div_2ui(y, y, 1, MPFR_RNDN);
  std::printf("inline constexpr DoubleDouble kHalfPi = ");
  PrintDoubleDouble(y, ";\n");

  mpfr_const_pi(y, MPFR_RNDN);
  mpfr_ui_div(y, 2, y, MPFR_RNDN);
  std::printf("inline constexpr double kTwoOverPi = %a;\n", mpfr_get_d(y, MPFR_RNDN));

  mpfr_const_pi(y, MPFR_RNDN);
  mpfr_div_2ui(y, y, 1, MPFR_RNDN);
  const double p1 = TakePiece(y, kHalfPiPieceBits);
  const double p2 = TakePiece(y, kHalfPiPieceBits);
  const double p3 = TakePiece(y, kHalfPiPieceBits);
  const double p4 = TakePiece(y, 53);
  std::printf("inline constexpr double kHalfPiPieces[4] = {%a, %a, %a, %a};\n", p1, p2, p3, p4);

  std::printf("inline constexpr DoubleDouble kAtanOfPoint[%d] = {\n", kAtanEntries);
  for (int index = 0; index < kAtanEntries; ++index) {
    // The first double of the entry's binade and bits; its point.
    const int exponent = kAtanSmallestExponent + (index >> kAtanPointBits);
    const double first = std::ldexp(1.0 + (index & ((1 << kAtanPointBits) - 1)) *
                                              std::ldexp(1.0, -kAtanPointBits),
                                    exponent);
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(first);
    if (AtanIndex(bits) != index) return 1;
    mpfr_set_d(x, AtanPoint(bits), MPFR_RNDN);
    mpfr_atan(y, x, MPFR_RNDN);
    std::printf("    ");
    PrintDoubleDouble(y, ",\n");
  }
  std::printf("};\n");

  std::printf("inline constexpr DoubleDouble kTanOfStep[%d] = {\n", kTanEntries);
  for (int j = 0; j < kTanEntries; ++j) {
    mpfr_set_si(x, j, MPFR_RNDN);
    mpfr_div_2si(x, x, kStepBits, MPFR_RNDN);
    mpfr_tan(y, x, MPFR_RNDN);
    std::printf("    ");
    PrintDoubleDouble(y, ",\n");
  }
  std::printf("};\n");

  mpfr_clear(x);
  mpfr_clear(y);
  return 0;
}
