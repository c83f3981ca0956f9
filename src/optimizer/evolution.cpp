#include "optimizer/evolution.h"

#include <array>
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
  // A local copy of the state stays in a register through the loops.
  RandomGenerator generator{RandomState()};
  MutatePopulation(population, generator);
  SetRandomState(generator.state);
}

void MutatePopulation(Population& population, RandomGenerator& generator) {
  for (Candidate& candidate : population.candidates) MutateCandidate(candidate, generator);
}

void MutateCandidate(Candidate& candidate, RandomGenerator& generator) {
  // A vertex's two draws both come from the state before them, the second by
  // two steps in one: the state goes through one multiplication per vertex
  // instead of two in a row.
  using G = RandomGenerator;
  std::uint32_t state = generator.state;
  for (Point2& vertex : candidate.vertices) {
    const std::uint32_t first = state * G::kMultiplier + G::kIncrement;
    const std::uint32_t second = state * G::kTwoStepMultiplier + G::kTwoStepIncrement;
    const double dx = G::UniformOf(G::ValueOf(first), -kJitter, kJitter);
    const double dy = G::UniformOf(G::ValueOf(second), -kJitter, kJitter);
    vertex.x += dx;
    vertex.y += dy;
    state = second;
  }
  generator.state = state;
}

namespace {

struct BestAndWorst {
  int best = 0;
  int worst = 0;
};

// The first best and the first worst, as ReplaceWorstWithBest picks them.
BestAndWorst Pick(const std::vector<Candidate>& candidates) {
  BestAndWorst pick;
  const int n = static_cast<int>(candidates.size());
  for (int i = 0; i < n; ++i) {
    if (Better(candidates[i].score, candidates[pick.best].score)) pick.best = i;
    if (Worse(candidates[i].score, candidates[pick.worst].score)) pick.worst = i;
  }
  return pick;
}

}  // namespace

void ReplaceWorstWithBest(Population& population) {
  auto& candidates = population.candidates;
  if (candidates.size() < 2) return;
  const BestAndWorst pick = Pick(candidates);
  if (pick.best != pick.worst) candidates[pick.worst] = candidates[pick.best];
  population.bestIndex = pick.best;
}

void SelectSurvivors(Population& population, int rounds, Survivors* survivorsOut) {
  auto& candidates = population.candidates;
  const int n = static_cast<int>(candidates.size());
  if (n > kPopulationSize) {
    for (int round = 0; round < rounds; ++round) ReplaceWorstWithBest(population);
    return;
  }
  if (n < 2) return;
  // Whose rays each candidate's should be. The one copied is always a best, whose
  // score is the lowest there is; it is never the worst of a later round,
  // since that would take every score to be equal, and then nothing is
  // copied. So the candidate a copy's rays come from keeps them to the end.
  std::array<int, kPopulationSize> raysOf{};
  for (int i = 0; i < n; ++i) raysOf[static_cast<std::size_t>(i)] = i;
  for (int round = 0; round < rounds; ++round) {
    const BestAndWorst pick = Pick(candidates);
    if (pick.best != pick.worst) {
      Candidate& copy = candidates[static_cast<std::size_t>(pick.worst)];
      const Candidate& best = candidates[static_cast<std::size_t>(pick.best)];
      copy.vertices = best.vertices;
      copy.score = best.score;
      raysOf[static_cast<std::size_t>(pick.worst)] = raysOf[static_cast<std::size_t>(pick.best)];
    }
    population.bestIndex = pick.best;
  }
  // Only the one named best at the end takes the rays it copies.
  const int best = population.bestIndex;
  if (best < 0 || best >= n) return;
  if (survivorsOut && n == kPopulationSize) {
    // The vertices went where the rays went.
    for (int i = 0; i < n; ++i) {
      survivorsOut->from[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(raysOf[static_cast<std::size_t>(i)]);
    }
    survivorsOut->best = static_cast<std::uint8_t>(best);
  }
  const int from = raysOf[static_cast<std::size_t>(best)];
  if (from != best) {
    candidates[static_cast<std::size_t>(best)].rayRecords =
        candidates[static_cast<std::size_t>(from)].rayRecords;
  }
}

}  // namespace reflector
