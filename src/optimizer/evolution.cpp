#include "optimizer/evolution.h"

#include <cmath>

#include "geometry/random.h"

namespace reflector {

namespace {

constexpr double kJitter = 0.4;

// Lower is better; NaN is worse than any number and ties with another NaN.
bool Better(double a, double b) { return a < b || (std::isnan(b) && !std::isnan(a)); }
bool Worse(double a, double b) { return a > b || (std::isnan(a) && !std::isnan(b)); }

}  // namespace

void FillPopulation(Population& population, const SceneSnapshot& snapshot) {
  for (int i = 0; i < kPopulationSize; ++i) {
    Candidate candidate;
    candidate.vertices = snapshot.vertices;
    population.candidates.push_back(std::move(candidate));
  }
}

void MutatePopulation(Population& population) {
  for (Candidate& candidate : population.candidates) {
    for (Point2& vertex : candidate.vertices) {
      const double dx = RandomUniform(-kJitter, kJitter);
      const double dy = RandomUniform(-kJitter, kJitter);
      vertex.x += dx;
      vertex.y += dy;
    }
  }
}

void ReplaceWorstWithBest(Population& population) {
  auto& candidates = population.candidates;
  const int n = static_cast<int>(candidates.size());
  if (n < 2) return;

  int best = 0;
  int worst = 0;
  for (int i = 0; i < n; ++i) {
    if (Better(candidates[i].score, candidates[best].score)) best = i;
    if (Worse(candidates[i].score, candidates[worst].score)) worst = i;
  }
  if (best != worst) candidates[worst] = candidates[best];
  population.bestIndex = best;
}

}  // namespace reflector
