#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace reflector {

// Remembers a pure function of one double by the argument's bits, so that a
// repeated argument costs a table look-up instead of a call. Exact: an entry
// holds the function's own result for exactly those bits (-0 and +0, and
// each NaN, are different keys), and a miss calls the function.
//
//   ExactMemo<> atan(CorrectlyRoundedAtan);
//   double a = atan(slope);  // bit-identical to CorrectlyRoundedAtan(slope)
//
// Direct-mapped: a colliding argument replaces the entry. Every entry starts
// as the argument 0 and the function's result for it.
//
// Thread safety: none; one memo per thread.
template <int kIndexBits = 10>
class ExactMemo {
 public:
  using Function = double (*)(double);

  explicit ExactMemo(Function function) : function(function) {
    const Entry zero{0, function(0.0)};
    entries.fill(zero);
  }

  double operator()(double x) {
    const std::uint64_t key = std::bit_cast<std::uint64_t>(x);
    Entry& entry = entries[Index(key)];
    if (entry.key != key) {
      entry.key = key;
      entry.value = function(x);
    }
    return entry.value;
  }

 private:
  struct Entry {
    std::uint64_t key;
    double value;
  };

  // Fibonacci hashing: slopes that differ in their low mantissa bits spread out.
  static std::size_t Index(std::uint64_t key) {
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - kIndexBits));
  }

  Function function;
  std::array<Entry, std::size_t{1} << kIndexBits> entries;
};

}  // namespace reflector
