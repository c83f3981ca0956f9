#include "other_optimizers/algorithm_catalogue.h"

namespace reflector {

const std::vector<AlgorithmEntry>& AlgorithmCatalogue() {
  // Population sizes: enough for each method to work as published on a few
  // dozen coordinates, few enough that 20000 scorings make hundreds of
  // generations. Every other parameter is the library's default, except
  // where said.
  static const std::vector<AlgorithmEntry> catalogue = {
      {kBuiltInAlgorithm, "the built-in scheme: ten candidates jittered, the best kept (the default)",
       {{"candidates", "10"}, {"replacements", "2 a generation"}}, 10},
      {"cmaes", "covariance matrix adaptation evolution strategy",
       {{"population", "20"}, {"sigma0", "0.5 of the box"}, {"ftol", "1e-6"}, {"xtol", "1e-6"},
        {"restarts", "when converged, until the budget is spent"}},
       20},
      {"xnes", "exponential natural evolution strategy",
       {{"population", "20"}, {"ftol", "1e-6"}, {"xtol", "1e-6"},
        {"restarts", "when converged, until the budget is spent"}},
       20},
      {"de", "differential evolution, the classic rand/1/exp",
       {{"population", "20"}, {"F", "0.8"}, {"CR", "0.9"}, {"variant", "2 (rand/1/exp)"}},
       20},
      {"sade", "self-adaptive differential evolution (jDE)",
       {{"population", "20"}, {"variant", "2 (rand/1/exp)"}, {"adaptation", "1 (jDE)"}},
       20},
      {"pso", "particle swarm optimisation, constriction factor",
       {{"population", "20"}, {"omega", "0.7298"}, {"eta1", "2.05"}, {"eta2", "2.05"}, {"max_vel", "0.5"},
        {"variant", "5 (canonical)"}, {"neighbourhood", "lbest, 4"}},
       20},
      {"sga", "simple genetic algorithm: exponential crossover, polynomial mutation, tournament",
       {{"population", "20"}, {"cr", "0.9"}, {"m", "0.02"}, {"selection", "tournament of 2"}},
       20},
      {"sa", "simulated annealing, Corana's adaptive steps",
       {{"population", "1"}, {"Ts", "10"}, {"Tf", "0.1"}, {"start_range", "0.1 of the box"}},
       1},
      {"compass", "compass search, a local pattern search",
       {{"population", "1"}, {"start_range", "0.1 of the box"}, {"stop_range", "1e-6"},
        {"reduction", "0.5"}},
       1},
  };
  return catalogue;
}

const AlgorithmEntry* FindAlgorithm(const std::string& name) {
  for (const AlgorithmEntry& entry : AlgorithmCatalogue()) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace reflector
