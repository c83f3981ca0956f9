#include "cli/compared_run_files.h"

#include <charconv>
#include <string_view>

#include "cli/child_runs.h"
#include "formats/json_reader.h"
#include "formats/json_value.h"
#include "formats/json_writer.h"
#include "formats/scene_file.h"
#include "other_optimizers/algorithm_catalogue.h"

namespace reflector {

namespace {

template <typename T>
bool NumberIn(const JsonValue* value, T& out) {
  if (!value || value->kind != JsonValue::Kind::Number) return false;
  const char* end = value->text.data() + value->text.size();
  const auto result = std::from_chars(value->text.data(), end, out);
  return result.ec == std::errc() && result.ptr == end;
}

// Numbers as written, no white space, members in their order, the scene's
// seed left out (a result's scene has none; a scene file's may).
void AppendCanonical(std::string& out, const JsonValue& value, bool dropSeed) {
  switch (value.kind) {
    case JsonValue::Kind::Null: out += "null"; break;
    case JsonValue::Kind::Boolean: out += value.boolean ? "true" : "false"; break;
    case JsonValue::Kind::Number: out += value.text; break;
    case JsonValue::Kind::String:
      out += '"';
      for (char c : value.text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
      }
      out += '"';
      break;
    case JsonValue::Kind::Array:
      out += '[';
      for (std::size_t i = 0; i < value.items.size(); ++i) {
        if (i) out += ',';
        AppendCanonical(out, value.items[i], false);
      }
      out += ']';
      break;
    case JsonValue::Kind::Object: {
      out += '{';
      bool first = true;
      for (const JsonMember& member : value.members) {
        if (dropSeed && member.key == "seed") continue;
        if (!first) out += ',';
        first = false;
        out += '"' + member.key + "\":";
        AppendCanonical(out, member.value, false);
      }
      out += '}';
      break;
    }
  }
}

bool ReadHistory(const std::string& path, ComparedRun& run, std::string& error) {
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  std::size_t at = text.find('\n');
  const std::string_view header = std::string_view(text).substr(0, at);
  if (at == std::string::npos || !header.starts_with("generation,evaluations,") ||
      !header.ends_with(",best_ever")) {
    error = path + ": not a history with an evaluations column";
    return false;
  }
  std::size_t line = 1;
  for (std::size_t begin = at + 1; begin < text.size(); begin = at + 1) {
    ++line;
    at = text.find('\n', begin);
    if (at == std::string::npos) {
      error = path + ": line " + std::to_string(line) + " is cut short";
      return false;
    }
    const std::string_view row = std::string_view(text).substr(begin, at - begin);
    const std::size_t first = row.find(',');
    const std::size_t second = first == std::string_view::npos ? first : row.find(',', first + 1);
    const std::size_t lastComma = row.rfind(',');
    std::uint64_t evaluations = 0;
    double bestEver = 0;
    const char* evaluationsEnd = row.data() + second;
    const char* rowEnd = row.data() + row.size();
    const bool good =
        second != std::string_view::npos && lastComma > second &&
        std::from_chars(row.data() + first + 1, evaluationsEnd, evaluations).ptr == evaluationsEnd &&
        std::from_chars(row.data() + lastComma + 1, rowEnd, bestEver).ptr == rowEnd &&
        (run.evaluations.empty() || evaluations > run.evaluations.back());
    if (!good) {
      error = path + ": line " + std::to_string(line) + " is not a history row that follows";
      return false;
    }
    run.evaluations.push_back(evaluations);
    run.bestEver.push_back(bestEver);
  }
  if (run.evaluations.empty()) {
    error = path + ": the history has no rows";
    return false;
  }
  return true;
}

}  // namespace

bool CanonicalSceneOf(const std::string& sceneFile, std::string& canonical, std::string& error) {
  SceneDescription scene;
  if (!sceneFile.empty() && !LoadSceneFile(sceneFile, scene, error)) return false;
  std::string text;
  AppendScene(text, scene);
  JsonValue root;
  JsonError jsonError;
  if (!ParseJson(text, root, jsonError)) {
    error = "the scene does not read back: " + jsonError.message;
    return false;
  }
  canonical.clear();
  AppendCanonical(canonical, root, true);
  return true;
}

bool ReadComparedRun(const std::string& jsonFile, const std::string& historyFile, ComparedRunFiles& out,
                     std::string& error) {
  out = ComparedRunFiles{};
  std::string text;
  if (!ReadTextFile(jsonFile, text, error)) return false;
  JsonValue root;
  JsonError jsonError;
  if (!ParseJson(text, root, jsonError)) {
    error = jsonFile + ":" + std::to_string(jsonError.line) + ":" + std::to_string(jsonError.column) +
            ": " + jsonError.message;
    return false;
  }
  const JsonValue* algorithm = FindMember(root, "algorithm");
  const JsonValue* scene = FindMember(root, "scene");
  if (!NumberIn(FindMember(root, "seed"), out.run.seed) || !scene || scene->kind != JsonValue::Kind::Object ||
      (algorithm && algorithm->kind != JsonValue::Kind::String)) {
    error = jsonFile + ": not a result file (no seed or scene)";
    return false;
  }
  AppendCanonical(out.scene, *scene, true);
  if (algorithm) {
    out.run.algorithm = algorithm->text;
    std::uint64_t evaluations = 0;
    double radius = 0;
    if (!NumberIn(FindMember(root, "evaluations"), evaluations) || !NumberIn(FindMember(root, "radius"), radius)) {
      error = jsonFile + ": not a result file (no evaluations or radius)";
      return false;
    }
    out.generations = (evaluations + 9) / 10;
    out.radius = radius;
  } else {
    out.run.algorithm = kBuiltInAlgorithm;
    const JsonValue* numerics = FindMember(root, "numerics");
    if (!NumberIn(FindMember(root, "generations"), out.generations) || !numerics ||
        numerics->kind != JsonValue::Kind::String) {
      error = jsonFile + ": not a result file (no generations or numerics)";
      return false;
    }
    out.numerics = numerics->text;
  }
  if (!ReadHistory(historyFile, out.run, error)) return false;
  if ((out.run.evaluations.back() + 9) / 10 != out.generations) {
    error = historyFile + ": its rows end at " + std::to_string(out.run.evaluations.back()) +
            " evaluations, not at the result's " + std::to_string(out.generations * 10);
    return false;
  }
  return true;
}

}  // namespace reflector
