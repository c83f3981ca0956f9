#include "formats/checkpoint.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "formats/json_reader.h"
#include "formats/json_value.h"
#include "formats/json_writer.h"
#include "formats/result_json.h"
#include "geometry/correctly_rounded.h"
#include "tracing/beam_tracer.h"

#ifndef REFLECTOR_VERSION
#error "REFLECTOR_VERSION must be defined by the build"
#endif

namespace reflector {

namespace {

constexpr const char* kFormatName = "reflector-checkpoint";
constexpr std::string_view kChecksumKey = ", \"checksum\": \"";
constexpr std::size_t kMaxFileSize = kMaxInputFileSize;
constexpr std::size_t kMaxSizeParsedUnchecked = 1 << 20;
constexpr double kAnyFinite = std::numeric_limits<double>::infinity();

// FNV-1a, 64 bits: enough to tell a damaged or hand-edited file, cheap, and
// simple to recompute anywhere.
std::uint64_t Fnv1a64(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3u;
  }
  return hash;
}

std::string Hex16(std::uint64_t value) {
  static const char kHex[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) out[i] = kHex[value & 15];
  return out;
}

void AppendBestEver(std::string& out, const std::optional<BestEver>& bestEver) {
  if (!bestEver) {
    out += "null";
    return;
  }
  out += "{\"score\": ";
  AppendDouble(out, bestEver->score);
  out += ", \"generation\": " + std::to_string(bestEver->generation);
  out += ", \"vertices\": ";
  AppendVertices(out, bestEver->vertices);
  out += '}';
}

// A score as written: null before the first generation or when not finite.
bool ReadScore(const JsonValue& value, const std::string& name, const std::string& what,
               bool scored, double& score, std::string& error) {
  if (!scored) {
    if (value.kind != JsonValue::Kind::Null) {
      error = Where(name, value) + what + " must be null before the first generation";
      return false;
    }
    score = 0.0;  // what an unevaluated candidate holds
    return true;
  }
  if (value.kind == JsonValue::Kind::Null) {
    score = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  return ReadNumber(value, name, what, kAnyFinite, score, error);
}

// Finds each of the object's expected keys once; refuses unknown, repeated
// and missing ones.
template <std::size_t N>
bool TakeMembers(const JsonValue& object, const std::string& name, const std::string& what,
                 const char* const (&keys)[N], const JsonValue* (&found)[N], std::string& error) {
  if (object.kind != JsonValue::Kind::Object) {
    error = Where(name, object) + what + " must be an object, not " + DescribeKind(object.kind);
    return false;
  }
  for (const auto& [key, value] : object.members) {
    std::size_t slot = 0;
    while (slot < N && key != keys[slot]) ++slot;
    if (slot == N) {
      error = WhereKey(name, value) + "unknown key \"" + Echo(key) + "\" in " + what;
      return false;
    }
    if (found[slot]) {
      error = WhereKey(name, value) + "\"" + key + "\" is given twice in " + what;
      return false;
    }
    found[slot] = &value;
  }
  for (std::size_t slot = 0; slot < N; ++slot) {
    if (!found[slot]) {
      error = Where(name, object) + what + " has no \"" + keys[slot] + "\"";
      return false;
    }
  }
  return true;
}

bool ReadVertexCount(const JsonValue& value, const std::string& name, const std::string& what,
                     std::size_t count, std::vector<Point2>& vertices, std::string& error) {
  if (!ReadVertices(value, name, what, "vertex", kAnyFinite, vertices, error)) return false;
  if (vertices.size() != count) {
    error = Where(name, value) + what + " has " + std::to_string(vertices.size()) +
            " vertices, the scene's reflector " + std::to_string(count);
    return false;
  }
  return true;
}

// A stored score and one computed again: the same bits, or both not finite
// (such a score is written as null and read back as NaN).
bool SameScore(double stored, double computed) {
  if (!std::isfinite(stored) || !std::isfinite(computed)) {
    return !std::isfinite(stored) && !std::isfinite(computed);
  }
  return std::bit_cast<std::uint64_t>(stored) == std::bit_cast<std::uint64_t>(computed);
}

// A scored checkpoint must agree with itself: every candidate's score is what
// its vertices score on the checkpoint's scene, bestIndex names a best one,
// and the best-ever score is what the best-ever mirror scores. A hand-edited
// file resealed with a new checksum is refused here, before a run would go on
// from numbers it never made. Eleven evaluations: cheap beside a run.
bool CheckScores(const Checkpoint& checkpoint, const std::string& name, const JsonValue& candidates,
                 const JsonValue& bestIndex, const JsonValue& bestEver, std::string& error) {
  const SceneDescription& scene = checkpoint.scene;
  BeamTracer tracer;
  const std::atomic<bool> noStop{false};
  std::vector<RayRecord> records;
  auto scoreOf = [&](const std::vector<Point2>& vertices) {
    double score = 0.0;
    tracer.Evaluate(vertices, scene.source, scene.aim, scene.target, noStop, records, score);
    return score;
  };
  const auto& population = checkpoint.population.candidates;
  for (std::size_t i = 0; i < population.size(); ++i) {
    const double computed = scoreOf(population[i].vertices);
    if (!SameScore(population[i].score, computed)) {
      error = Where(name, *FindMember(candidates.items[i], "score")) + "the \"score\" of candidate " + std::to_string(i) +
              " is not what its vertices score on this scene (" + FormatDouble(computed) + ")";
      return false;
    }
  }
  // The first best, as selection ranks them (a NaN below every number).
  auto better = [](double a, double b) { return a < b || (std::isnan(b) && !std::isnan(a)); };
  std::size_t first = 0;
  for (std::size_t i = 1; i < population.size(); ++i) {
    if (better(population[i].score, population[first].score)) first = i;
  }
  const int best = checkpoint.population.bestIndex;
  if (better(population[first].score, population[static_cast<std::size_t>(best)].score)) {
    error = Where(name, bestIndex) + "\"bestIndex\" " + std::to_string(best) +
            " is not the best: candidate " + std::to_string(first) + " scores lower";
    return false;
  }
  const double computed = scoreOf(checkpoint.bestEver->vertices);
  if (!SameScore(checkpoint.bestEver->score, computed)) {
    error = Where(name, bestEver) + "the \"score\" of \"bestEver\" is not what its vertices " +
            "score on this scene (" + FormatDouble(computed) + ")";
    return false;
  }
  for (const Candidate& candidate : population) {
    if (candidate.score < checkpoint.bestEver->score) {
      error = Where(name, bestEver) + "the \"score\" of \"bestEver\" is above a candidate's";
      return false;
    }
  }
  return true;
}

bool ReadFields(const JsonValue& root, const std::string& name, Checkpoint& out,
                std::string& error) {
  static constexpr const char* kKeys[] = {
      "format", "version",   "generations", "generationLimit", "seed",      "randomState",
      "scene",  "bestIndex", "bestEver",    "candidates",      "checksum",  "numerics"};
  const JsonValue* m[std::size(kKeys)] = {};
  if (!TakeMembers(root, name, "the checkpoint", kKeys, m, error)) return false;

  Checkpoint parsed;
  if (!ReadUint32(*m[2], name, "\"generations\"", parsed.generations, error) ||
      !ReadUint32(*m[3], name, "\"generationLimit\"", parsed.generationLimit, error) ||
      !ReadUint32(*m[4], name, "\"seed\"", parsed.seed, error) ||
      !ReadUint32(*m[5], name, "\"randomState\"", parsed.randomState, error) ||
      !ReadSceneObject(*m[6], name, false, parsed.scene, error)) {
    return false;
  }
  if (parsed.generations > parsed.generationLimit) {
    error = Where(name, *m[2]) + "\"generations\" " + m[2]->text + " is beyond \"generationLimit\" " +
            m[3]->text;
    return false;
  }
  const bool scored = parsed.generations > 0;
  const std::size_t vertexCount = parsed.scene.reflector.size();

  long long bestIndex;
  if (!ReadInteger(*m[7], name, "\"bestIndex\"", -1, kPopulationSize - 1, bestIndex, error)) {
    return false;
  }
  if ((bestIndex == -1) == scored) {
    error = Where(name, *m[7]) + (scored ? "\"bestIndex\" is -1 after a generation"
                                         : "\"bestIndex\" must be -1 before the first generation");
    return false;
  }
  parsed.population.bestIndex = static_cast<int>(bestIndex);

  const JsonValue& bestEver = *m[8];
  if ((bestEver.kind == JsonValue::Kind::Null) == scored) {
    error = Where(name, bestEver) + (scored ? "\"bestEver\" is null after a generation"
                                            : "\"bestEver\" must be null before the first generation");
    return false;
  }
  if (scored) {
    static constexpr const char* kBestKeys[] = {"score", "generation", "vertices"};
    const JsonValue* b[3] = {};
    BestEver best;
    if (!TakeMembers(bestEver, name, "\"bestEver\"", kBestKeys, b, error) ||
        !ReadNumber(*b[0], name, "the \"score\" of \"bestEver\"", kAnyFinite, best.score, error)) {
      return false;
    }
    long long generation;
    if (!ReadInteger(*b[1], name, "the \"generation\" of \"bestEver\"", 1, parsed.generations,
                     generation, error) ||
        !ReadVertexCount(*b[2], name, "the \"vertices\" of \"bestEver\"", vertexCount,
                         best.vertices, error)) {
      return false;
    }
    best.generation = static_cast<std::uint32_t>(generation);
    parsed.bestEver = std::move(best);
  }

  const JsonValue& candidates = *m[9];
  if (candidates.kind != JsonValue::Kind::Array || candidates.items.size() != kPopulationSize) {
    error = Where(name, candidates) + "\"candidates\" must be an array of " +
            std::to_string(kPopulationSize) + " candidates, not " +
            (candidates.kind == JsonValue::Kind::Array
                 ? std::to_string(candidates.items.size())
                 : std::string(DescribeKind(candidates.kind)));
    return false;
  }
  parsed.population.candidates.resize(kPopulationSize);
  for (int i = 0; i < kPopulationSize; ++i) {
    static constexpr const char* kCandidateKeys[] = {"score", "vertices"};
    const JsonValue* c[2] = {};
    const std::string what = "candidate " + std::to_string(i);
    Candidate& candidate = parsed.population.candidates[i];
    if (!TakeMembers(candidates.items[i], name, what, kCandidateKeys, c, error) ||
        !ReadScore(*c[0], name, "the \"score\" of " + what, scored, candidate.score, error) ||
        !ReadVertexCount(*c[1], name, "the \"vertices\" of " + what, vertexCount,
                         candidate.vertices, error)) {
      return false;
    }
  }
  if (scored && !CheckScores(parsed, name, candidates, *m[7], *m[8], error)) return false;
  out = std::move(parsed);
  return true;
}

}  // namespace

std::string CheckpointToText(const Checkpoint& checkpoint) {
  const Population& population = checkpoint.population;
  const bool scored = checkpoint.generations > 0;
  std::string out;
  out += "{\"format\": \"";
  out += kFormatName;
  out += "\", \"version\": \"" REFLECTOR_VERSION "\"";
  out += ", \"numerics\": \"";
  out += kNumerics;
  out += '"';
  out += ", \"generations\": " + std::to_string(checkpoint.generations);
  out += ", \"generationLimit\": " + std::to_string(checkpoint.generationLimit);
  out += ", \"seed\": " + std::to_string(checkpoint.seed);
  out += ", \"randomState\": " + std::to_string(checkpoint.randomState);
  out += ", \"scene\": ";
  AppendScene(out, checkpoint.scene);
  out += ", \"bestIndex\": " + std::to_string(population.bestIndex);
  out += ", \"bestEver\": ";
  AppendBestEver(out, checkpoint.bestEver);
  out += ", \"candidates\": [";
  for (std::size_t i = 0; i < population.candidates.size(); ++i) {
    const Candidate& candidate = population.candidates[i];
    out += i ? ",\n  " : "\n  ";
    out += "{\"score\": ";
    if (scored) {
      AppendDouble(out, candidate.score);
    } else {
      out += "null";
    }
    out += ", \"vertices\": ";
    AppendVertices(out, candidate.vertices);
    out += '}';
  }
  out += population.candidates.empty() ? "]" : "\n]";
  const std::uint64_t checksum = Fnv1a64(out);
  out += kChecksumKey;
  out += Hex16(checksum);
  out += "\"}\n";
  return out;
}

bool ParseCheckpoint(std::string_view text, const std::string& name, Checkpoint& checkpoint,
                     std::string& error) {
  // The checksum first, from the text alone: a damaged or foreign file is
  // refused before it is parsed, which takes many times its size in memory.
  // Only a small file without one is parsed, to say what it is instead.
  if (const std::size_t at = text.rfind(kChecksumKey); at != text.npos) {
    std::string_view tail = text.substr(at + kChecksumKey.size());
    if (tail.ends_with('\n')) tail.remove_suffix(1);
    if (tail != Hex16(Fnv1a64(text.substr(0, at))) + "\"}") {
      error = name + ": damaged checkpoint: checksum does not match";
      return false;
    }
  } else if (text.size() > kMaxSizeParsedUnchecked) {
    error = name + ": not a checkpoint (no checksum at its end)";
    return false;
  }
  JsonValue root;
  JsonError jsonError;
  if (!ParseJson(text, root, jsonError)) {
    error = Where(name, jsonError.line, jsonError.column) +
            "damaged checkpoint: not valid JSON: " + jsonError.message;
    return false;
  }
  const JsonValue* format =
      root.kind == JsonValue::Kind::Object ? FindMember(root, "format") : nullptr;
  if (!format || format->kind != JsonValue::Kind::String || format->text != kFormatName) {
    const bool result = root.kind == JsonValue::Kind::Object && FindMember(root, "candidates") &&
                        FindMember(root, "scene");
    error = name + (result ? ": this is a result, not a checkpoint (a result can start a run as "
                             "its scene)"
                           : ": not a checkpoint (no \"format\": \"reflector-checkpoint\")");
    return false;
  }
  const JsonValue* version = FindMember(root, "version");
  if (!version || version->kind != JsonValue::Kind::String) {
    error = name + ": damaged checkpoint: no \"version\"";
    return false;
  }
  if (version->text != REFLECTOR_VERSION) {
    error = name + ": checkpoint from reflector " + Echo(version->text) +
            ", this is reflector " REFLECTOR_VERSION;
    // 0.1 took atan and tan from the C library: continued here, the run would
    // go on with other numbers than it began with.
    if (version->text == "0.1") {
      error += ", which computes atan and tan correctly rounded where 0.1 took the C library's, "
               "so the run cannot continue as it began: resume it with reflector 0.1, or start "
               "it again from its scene (--scene)";
    }
    return false;
  }
  const JsonValue* numerics = FindMember(root, "numerics");
  if (!numerics || numerics->kind != JsonValue::Kind::String) {
    error = name + ": damaged checkpoint: no \"numerics\"";
    return false;
  }
  if (numerics->text != kNumerics) {
    error = name + ": checkpoint made with the numerics \"" + Echo(numerics->text) +
            "\", this build's are \"" + kNumerics +
            "\": the run cannot continue as it began; start it again from its scene (--scene)";
    return false;
  }

  // The checksum covers every byte before its key, and the text ends right
  // after its value; the hash itself was checked above, from the text.
  const std::size_t at = text.rfind(kChecksumKey);
  const JsonValue* checksum = FindMember(root, "checksum");
  if (at == text.npos || !checksum || checksum->kind != JsonValue::Kind::String) {
    error = name + ": damaged checkpoint: no checksum";
    return false;
  }
  std::string_view tail = text.substr(at + kChecksumKey.size());
  if (tail.ends_with('\n')) tail.remove_suffix(1);
  if (tail != checksum->text + "\"}") {
    error = name + ": damaged checkpoint: checksum does not match";
    return false;
  }
  return ReadFields(root, name, checkpoint, error);
}

bool LoadCheckpointFile(const std::string& path, Checkpoint& checkpoint, std::string& error) {
  std::string text;
  return ReadTextFile(path, kMaxFileSize, "a checkpoint", text, error) &&
         ParseCheckpoint(text, path, checkpoint, error);
}

}  // namespace reflector
