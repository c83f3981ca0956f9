#include "cli/other_optimizer_runner.h"

#include <chrono>

#include "formats/json_writer.h"
#include "formats/output_file.h"
#include "formats/result_json.h"
#include "formats/scene_file.h"

namespace reflector {

namespace {

void AppendString(std::string& out, const std::string& text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

std::string HistoryText(const OtherRunResult& result) {
  std::string out = "generation,evaluations,best,mean,worst,best_ever\n";
  std::uint64_t generation = 0;
  for (const EvaluationRow& row : result.rows) {
    out += std::to_string(++generation) + "," + std::to_string(row.evaluations) + "," +
           FormatDouble(row.scores.best) + "," + FormatDouble(row.scores.mean) + "," +
           FormatDouble(row.scores.worst) + "," + FormatDouble(row.scores.bestEver) + "\n";
  }
  return out;
}

}  // namespace

std::string AlgorithmListText() {
  std::string out;
  for (const AlgorithmEntry& entry : AlgorithmCatalogue()) {
    if (entry.name != kBuiltInAlgorithm && !OtherOptimizersAvailable()) continue;
    out += entry.name;
    out.append(entry.name.size() < 11 ? 11 - entry.name.size() : 1, ' ');
    out += entry.description + "\n";
  }
  if (!OtherOptimizersAvailable()) {
    out += "(" + OtherOptimizersUnavailableReason() + ")\n";
  }
  return out;
}

std::string OtherResultToJson(const SceneDescription& scene, const OtherRunResult& result) {
  std::string out = "{\"algorithm\": ";
  AppendString(out, result.algorithm->name);
  out += ", \"parameters\": {";
  bool first = true;
  for (const auto& [name, value] : result.algorithm->parameters) {
    if (!first) out += ", ";
    first = false;
    AppendString(out, name);
    out += ": ";
    AppendString(out, value);
  }
  out += "}, \"radius\": " + FormatDouble(result.radius);
  out += ", \"seed\": " + std::to_string(result.seed);
  out += ", \"evaluations\": " + std::to_string(result.evaluations);
  out += ", \"startScore\": " + FormatDouble(result.startScore);
  out += ", \"bestEver\": {\"score\": " + FormatDouble(result.bestScore) +
         ", \"evaluation\": " + std::to_string(result.bestAt) + ", \"vertices\": ";
  AppendVertices(out, result.bestMirror);
  out += "}, \"scene\": ";
  SceneDescription started = scene;
  started.seed.reset();
  AppendScene(out, started);
  out += "}\n";
  return out;
}

int RunOtherHeadless(const CommandLine& options, std::FILE* messages) {
  SceneDescription scene;
  std::string sceneName = "default scene";
  std::string error;
  if (!options.sceneFile.empty()) {
    if (!LoadSceneFile(options.sceneFile, scene, error)) {
      std::fprintf(messages, "reflector: %s\n", error.c_str());
      return 2;
    }
    const std::size_t slash = options.sceneFile.rfind('/');
    sceneName = slash == std::string::npos ? options.sceneFile : options.sceneFile.substr(slash + 1);
  }
  const std::uint32_t seed = options.seed ? *options.seed : scene.seed.value_or(1);
  const std::uint64_t budget = options.evaluations.value_or(kDefaultEvaluations);
  OtherRunResult result;
  const auto started = std::chrono::steady_clock::now();
  if (!RunOtherOptimizer(ToSnapshot(scene), options.algorithm, seed, budget, options.radius, result, error)) {
    std::fprintf(messages, "reflector: %s: %s\n", sceneName.c_str(), error.c_str());
    return 2;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  int status = 0;
  auto write = [&](const std::string& path, const std::string& bytes) {
    if (path.empty()) return;
    if (path == "-") {
      std::fwrite(bytes.data(), 1, bytes.size(), stdout);
      std::fflush(stdout);
      return;
    }
    std::string why;
    if (!WriteOutputFile(path, bytes, why)) {
      std::fprintf(messages, "reflector: %s\n", why.c_str());
      status = 1;
    }
  };
  write(options.jsonFile, OtherResultToJson(scene, result));
  write(options.historyFile, HistoryText(result));
  std::fprintf(messages,
               "reflector: %s, %llu evaluations in %.2f s, start score %s, best %s (evaluation %llu)\n",
               result.algorithm->name.c_str(), static_cast<unsigned long long>(result.evaluations), seconds,
               FormatDouble(result.startScore).c_str(), FormatDouble(result.bestScore).c_str(),
               static_cast<unsigned long long>(result.bestAt));
  return status;
}

}  // namespace reflector
