#include "formats/result_json.h"

#include "formats/json_writer.h"
#include "geometry/correctly_rounded.h"

namespace reflector {

std::string FormatDouble(double x) {
  std::string out;
  AppendDouble(out, x);
  return out;
}

std::string ResultToJson(const RunResult& result) {
  const Population* population = result.population;
  std::string out;
  out += "{\"generations\": " + std::to_string(result.generations);
  out += ", \"seed\": " + std::to_string(result.seed);
  out += ", \"numerics\": \"";
  out += kNumerics;
  out += '"';
  out += ", \"bestIndex\": " + std::to_string(population ? population->bestIndex : -1);
  out += ", \"bestEver\": ";
  if (result.bestEver) {
    out += "{\"score\": ";
    AppendDouble(out, result.bestEver->score);
    out += ", \"generation\": " + std::to_string(result.bestEver->generation);
    out += ", \"vertices\": ";
    AppendVertices(out, result.bestEver->vertices);
    out += '}';
  } else {
    out += "null";
  }
  out += ", \"scene\": ";
  AppendScene(out, result.scene);
  out += ", \"candidates\": [";
  const std::size_t count = population ? population->candidates.size() : 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Candidate& candidate = population->candidates[i];
    out += i ? ",\n  " : "\n  ";
    out += "{\"score\": ";
    // Before the first generation the scores are placeholders, not results.
    if (result.generations == 0) {
      out += "null";
    } else {
      AppendDouble(out, candidate.score);
    }
    out += ", \"vertices\": ";
    AppendVertices(out, candidate.vertices);
    out += '}';
  }
  out += count ? "\n]}\n" : "]}\n";
  return out;
}

}  // namespace reflector
