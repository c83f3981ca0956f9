#pragma once

#include <bit>
#include <cstdint>

#include "geometry/double_double.h"

// The constants the correctly rounded arctangent and tangent start from: each
// the exact value rounded once to a double-double (make_atan_tan_tables
// prints them with MPFR; the geometry tests check every entry).
namespace reflector::atan_tan_tables {

// The tangent's table steps by 2^-kStepBits.
inline constexpr int kStepBits = 9;
// The arctangent's table points: for a double a in [2^-9, 1024], its point c
// keeps a's exponent and the first kAtanPointBits bits of its fraction, and
// sets the next, so that |a - c| <= 2^-(kAtanPointBits + 1) of a's binade;
// the table holds atan c by binade and by those bits.
inline constexpr int kAtanPointBits = 7;
inline constexpr int kAtanSmallestExponent = -9;
inline constexpr int kAtanLargestExponent = 10;  // 1024 itself, the last entry
inline constexpr int kAtanEntries =
    ((kAtanLargestExponent - kAtanSmallestExponent) << kAtanPointBits) + 1;

// a's table point, and its index.
inline constexpr int kAtanDroppedBits = 52 - kAtanPointBits;
inline double AtanPoint(std::uint64_t aBits) {
  constexpr std::uint64_t kKept = ~((std::uint64_t{1} << kAtanDroppedBits) - 1);
  return std::bit_cast<double>((aBits & kKept) | (std::uint64_t{1} << (kAtanDroppedBits - 1)));
}
inline int AtanIndex(std::uint64_t aBits) {
  constexpr std::uint64_t kFirst = std::uint64_t{1023 + kAtanSmallestExponent} << kAtanPointBits;
  return static_cast<int>((aBits >> kAtanDroppedBits) - kFirst);
}

// tan(j / 512) for j = 0 .. 403, past pi/4 = 402.1 / 512.
inline constexpr int kTanEntries = 404;
// pi/2 as four pieces: three of 33 significant bits (so that k times one is
// exact for k < 2^20) and the rest rounded to a double.
inline constexpr int kHalfPiPieceBits = 33;

#ifndef REFLECTOR_MAKING_ATAN_TAN_TABLES
#include "geometry/atan_tan_tables.inc"
#endif

}  // namespace reflector::atan_tan_tables
