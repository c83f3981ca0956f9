#pragma once

#include <cstdint>

namespace reflector {

// The program's own 15-bit linear congruential generator.
//
// RandomGenerator is one such generator as a value: a rewind replays past
// generations on one of its own while the run goes on. The program's runs
// draw from the process-wide one (1 at start-up) through the free functions;
// only NextRandom changes it (and SetRandomState, for runs that must start
// from a known state). Both give the same sequence from the same state.
// Thread safety: none. The process-wide generator is drawn from by one thread
// at a time; in the program only the optimiser's worker draws, and one worker
// runs at a time.
struct RandomGenerator {
  std::uint32_t state = 1;

  // Advances the state and returns bits 16..30 of it, a value in 0..32767.
  int Next() {
    state = state * 214013u + 2531011u;  // mod 2^32 by unsigned wrap-around
    return static_cast<int>((state >> 16) & 0x7FFF);
  }

  // The state count draws ahead, without making them: the step's affine map
  // composed with itself by squaring, so a long way costs a few dozen
  // multiplications. Lets threads start their part of a sequence at once.
  void Skip(std::uint64_t count) {
    std::uint32_t multiplier = 214013u, increment = 2531011u;  // one draw
    while (count > 0) {
      if (count & 1u) state = state * multiplier + increment;
      increment = increment * multiplier + increment;  // twice the current step
      multiplier *= multiplier;
      count >>= 1;
    }
  }

  // low + (r k) (high - low) with r = Next() and k = 1/32767: one draw, both
  // ends reachable, at most 32768 distinct values.
  double Uniform(double low, double high) {
    const double r = Next();
    return low + (r * kUnit) * (high - low);
  }

  // The double nearest to 1/32767: the largest draw maps to exactly 1.0.
  static constexpr double kUnit = 1.0 / 32767.0;
};

// The process-wide generator's Next and Uniform.
int NextRandom();
double RandomUniform(double low, double high);

// The process-wide generator's state, for reproducible runs and tests.
std::uint32_t RandomState();
void SetRandomState(std::uint32_t state);

}  // namespace reflector
