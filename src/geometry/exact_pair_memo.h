#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace reflector {

// ExactMemo for a pure function of two doubles: one look-up by both
// arguments' bits in place of the calls it would take to compute. Exact in
// the same way: an entry holds the function's own result for exactly those
// bits, and a miss calls the function. The function may keep state (memos
// of its own, say) as long as its results depend on its arguments' bits
// alone.
//
//   ExactPairMemo<ReflectedSlope> slope;
//   double m = slope(mr, t);  // bit-identical to ReflectedSlope{}(mr, t)
//
// Direct-mapped; every entry starts as the arguments (0, 0) and the
// function's result for them.
//
// Thread safety: none; one memo per thread.
template <typename Function, int kIndexBits = 8>
class ExactPairMemo {
 public:
  explicit ExactPairMemo(Function f = Function()) : compute(std::move(f)) {
    const Entry zero{0, 0, compute(0.0, 0.0)};
    entries.fill(zero);
  }

  double operator()(double a, double b) {
    const std::uint64_t keyA = std::bit_cast<std::uint64_t>(a);
    const std::uint64_t keyB = std::bit_cast<std::uint64_t>(b);
    Entry& entry = entries[Index(keyA, keyB)];
    if (entry.keyA != keyA || entry.keyB != keyB) {
      entry.keyA = keyA;
      entry.keyB = keyB;
      entry.value = compute(a, b);
    }
    return entry.value;
  }

  // The function itself, for a caller that also wants its parts.
  Function& function() { return compute; }

 private:
  struct Entry {
    std::uint64_t keyA;
    std::uint64_t keyB;
    double value;
  };

  static std::size_t Index(std::uint64_t keyA, std::uint64_t keyB) {
    constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>((((keyA * kGolden) ^ keyB) * kGolden) >> (64 - kIndexBits));
  }

  Function compute;
  std::array<Entry, std::size_t{1} << kIndexBits> entries;
};

}  // namespace reflector
