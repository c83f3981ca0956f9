#pragma once

#include <cstdint>

namespace reflector {

// The program's own 15-bit linear congruential generator. Its state is one
// word for the whole process, 1 at start-up; only NextRandom changes it (and
// SetRandomState, for runs that must start from a known state).
// Thread safety: none. Draw from one thread at a time; in the program only the
// optimiser's worker thread draws, and one worker runs at a time.

// Advances the state and returns bits 16..30 of it, a value in 0..32767.
int NextRandom();

// low + (r k) (high - low) with r = NextRandom() and k = 1/32767: one draw,
// both ends reachable, at most 32768 distinct values.
double RandomUniform(double low, double high);

// The generator's state, for reproducible runs and tests.
std::uint32_t RandomState();
void SetRandomState(std::uint32_t state);

}  // namespace reflector
