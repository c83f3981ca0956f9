#include "geometry/random.h"

namespace reflector {

namespace {

RandomGenerator processGenerator;

}  // namespace

int NextRandom() { return processGenerator.Next(); }

double RandomUniform(double low, double high) { return processGenerator.Uniform(low, high); }

std::uint32_t RandomState() { return processGenerator.state; }

void SetRandomState(std::uint32_t newState) { processGenerator.state = newState; }

}  // namespace reflector
