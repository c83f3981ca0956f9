#include "formats/result_json.h"

#include <charconv>
#include <cmath>

namespace reflector {

std::string FormatDouble(double x) {
  if (!std::isfinite(x)) return "null";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
  return std::string(buffer, result.ptr);
}

std::string PopulationToJson(std::uint32_t generations, const Population& population) {
  std::string out;
  out += "{\"generations\": " + std::to_string(generations);
  out += ", \"bestIndex\": " + std::to_string(population.bestIndex);
  out += ", \"candidates\": [";
  for (std::size_t i = 0; i < population.candidates.size(); ++i) {
    const Candidate& candidate = population.candidates[i];
    out += i ? ",\n  " : "\n  ";
    out += "{\"score\": " + FormatDouble(candidate.score) + ", \"vertices\": [";
    for (std::size_t v = 0; v < candidate.vertices.size(); ++v) {
      if (v) out += ", ";
      out += "[" + FormatDouble(candidate.vertices[v].x) + ", " +
             FormatDouble(candidate.vertices[v].y) + "]";
    }
    out += "]}";
  }
  out += population.candidates.empty() ? "]}\n" : "\n]}\n";
  return out;
}

}  // namespace reflector
