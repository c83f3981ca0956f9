#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace reflector {

// An optimiser the bench offers besides the built-in scheme.
struct AlgorithmEntry {
  std::string name;         // as --algorithm takes it
  std::string description;  // one line, for --list-algorithms
  // The parameters it runs with, as the result records them.
  std::vector<std::pair<std::string, std::string>> parameters;
  unsigned populationSize = 1;  // individuals scored before it starts
};

// The built-in scheme's name; it is not run through the library.
inline constexpr const char* kBuiltInAlgorithm = "reflector";

// Every algorithm, the built-in scheme first.
const std::vector<AlgorithmEntry>& AlgorithmCatalogue();
const AlgorithmEntry* FindAlgorithm(const std::string& name);

}  // namespace reflector
