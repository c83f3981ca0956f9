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

  // One step of the state, mod 2^32 by unsigned wrap-around, and the same
  // step taken twice in one.
  static constexpr std::uint32_t kMultiplier = 214013u;
  static constexpr std::uint32_t kIncrement = 2531011u;
  static constexpr std::uint32_t kTwoStepMultiplier = kMultiplier * kMultiplier;
  static constexpr std::uint32_t kTwoStepIncrement = kIncrement * kMultiplier + kIncrement;

  // A draw from the state it leaves: bits 16..30, a value in 0..32767.
  static int ValueOf(std::uint32_t advanced) { return static_cast<int>((advanced >> 16) & 0x7FFF); }

  // Advances the state and returns its draw.
  int Next() {
    state = state * kMultiplier + kIncrement;
    return ValueOf(state);
  }

  // The state count draws ahead, without making them: the step's affine map
  // composed with itself by squaring, so a long way costs a few dozen
  // multiplications. Lets threads start their part of a sequence at once.
  void Skip(std::uint64_t count) {
    std::uint32_t multiplier = kMultiplier, increment = kIncrement;  // one draw
    while (count > 0) {
      if (count & 1u) state = state * multiplier + increment;
      increment = increment * multiplier + increment;  // twice the current step
      multiplier *= multiplier;
      count >>= 1;
    }
  }

  // low + (r k) (high - low) with r = Next() and k = 1/32767: one draw, both
  // ends reachable, at most 32768 distinct values.
  double Uniform(double low, double high) { return UniformOf(Next(), low, high); }
  static double UniformOf(int draw, double low, double high) {
    const double r = draw;
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
