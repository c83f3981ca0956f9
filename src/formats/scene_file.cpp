#include "formats/scene_file.h"

#include "formats/json_reader.h"
#include "formats/json_value.h"

namespace reflector {

namespace {

// Results are scenes too: the same limit as theirs.
constexpr std::size_t kMaxFileSize = kMaxInputFileSize;

// A result's best-ever mirror: {"score": S, "generation": G, "vertices": [...]}.
bool ReadBestEverVertices(const JsonValue& value, const std::string& name,
                          std::vector<Point2>& vertices, std::string& error) {
  if (value.kind != JsonValue::Kind::Object) {
    error = Where(name, value) + "\"bestEver\" must be an object or null, not " +
            DescribeKind(value.kind);
    return false;
  }
  const JsonValue* found = nullptr;
  for (const auto& [key, member] : value.members) {
    if (key == "score") {
      if (member.kind != JsonValue::Kind::Number && member.kind != JsonValue::Kind::Null) {
        error = Where(name, member) + "the \"score\" of \"bestEver\" must be a number or null, not " +
                DescribeKind(member.kind);
        return false;
      }
    } else if (key == "generation") {
      std::uint32_t generation;
      if (!ReadUint32(member, name, "the \"generation\" of \"bestEver\"", generation, error)) {
        return false;
      }
    } else if (key == "vertices") {
      found = &member;
    } else {
      error = WhereKey(name, member) + "unknown key \"" + Echo(key) +
              "\" in \"bestEver\" (expected \"score\", \"generation\" or \"vertices\")";
      return false;
    }
  }
  if (!found) {
    error = Where(name, value) + "\"bestEver\" has no \"vertices\"";
    return false;
  }
  return ReadVertices(*found, name, "the \"vertices\" of \"bestEver\"", "best-ever vertex",
                      kMaxSceneCoordinate, vertices, error);
}

// A result file (see result_json.h) as a scene: its starting scene with the
// best mirror the run found, and the run's seed. The other keys are checked
// for their types only.
bool ParseResultAsScene(const JsonValue& root, const std::string& name, SceneDescription& scene,
                        std::string& error) {
  static constexpr const char* kKeys[] = {"generations", "seed",       "bestIndex", "bestEver",
                                          "scene",       "candidates", "numerics"};
  const JsonValue* members[7] = {};
  for (const auto& [key, value] : root.members) {
    int slot = 0;
    while (slot < 7 && key != kKeys[slot]) ++slot;
    if (slot == 7) {
      error = WhereKey(name, value) + "unknown key \"" + Echo(key) +
              "\" in a result (expected \"generations\", \"seed\", \"numerics\", \"bestIndex\", "
              "\"bestEver\", \"scene\" or \"candidates\")";
      return false;
    }
    if (members[slot]) {
      error = WhereKey(name, value) + "\"" + key + "\" is given twice";
      return false;
    }
    members[slot] = &value;
  }

  // A result made with other numerics is still a good scene: only its mirror
  // and seed are taken, and the run starts afresh.
  if (members[6] && members[6]->kind != JsonValue::Kind::String) {
    error = Where(name, *members[6]) + "\"numerics\" must be a string, not " +
            DescribeKind(members[6]->kind);
    return false;
  }
  std::uint32_t number;
  long long index;
  if (members[0] && !ReadUint32(*members[0], name, "\"generations\"", number, error)) return false;
  std::optional<std::uint32_t> seed;
  if (members[1]) {
    if (!ReadUint32(*members[1], name, "\"seed\"", number, error)) return false;
    seed = number;
  }
  if (members[2] && !ReadInteger(*members[2], name, "\"bestIndex\"", -1, 9, index, error)) {
    return false;
  }
  std::vector<Point2> best;
  const bool haveBest = members[3] && members[3]->kind != JsonValue::Kind::Null;
  if (haveBest && !ReadBestEverVertices(*members[3], name, best, error)) return false;
  SceneDescription parsed;
  if (!ReadSceneObject(*members[4], name, false, parsed, error)) return false;
  const JsonValue& candidates = *members[5];
  if (candidates.kind != JsonValue::Kind::Array) {
    error = Where(name, candidates) + "\"candidates\" must be an array, not " +
            DescribeKind(candidates.kind);
    return false;
  }
  for (const JsonValue& candidate : candidates.items) {
    if (candidate.kind != JsonValue::Kind::Object) {
      error = Where(name, candidate) + "a candidate must be an object, not " +
              DescribeKind(candidate.kind);
      return false;
    }
  }

  if (haveBest) parsed.reflector = std::move(best);
  parsed.seed = seed;
  scene = std::move(parsed);
  return true;
}

}  // namespace

bool ParseScene(std::string_view text, const std::string& name, SceneDescription& scene,
                std::string& error, const std::atomic<bool>* cancel) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // a UTF-8 byte-order mark
  JsonValue root;
  JsonError jsonError;
  if (!ParseJson(text, root, jsonError, cancel)) {
    if (jsonError.message == kJsonCancelled) {
      error = name + ": " + kOpeningCancelled;
      return false;
    }
    error = Where(name, jsonError.line, jsonError.column) + "not valid JSON: " + jsonError.message;
    return false;
  }
  if (root.kind != JsonValue::Kind::Object) {
    error = Where(name, root) + "a scene must be a JSON object, not " + DescribeKind(root.kind);
    return false;
  }
  const JsonValue* format = FindMember(root, "format");
  if (format && format->kind == JsonValue::Kind::String && format->text == "reflector-checkpoint") {
    error = name + ": this is a checkpoint; use --resume " + name;
    return false;
  }
  if (FindMember(root, "candidates") && FindMember(root, "scene")) {
    return ParseResultAsScene(root, name, scene, error);
  }
  return ReadSceneObject(root, name, true, scene, error);
}

bool LoadSceneFile(const std::string& path, SceneDescription& scene, std::string& error,
                   const std::atomic<bool>* cancel) {
  std::string text;
  if (!ReadTextFile(path, kMaxFileSize, "a scene", text, error)) return false;
  if (cancel && cancel->load()) {
    error = path + ": " + kOpeningCancelled;
    return false;
  }
  return ParseScene(text, path, scene, error, cancel);
}

}  // namespace reflector
