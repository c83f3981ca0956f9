#include "formats/scene_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

#include "formats/json_value.h"

namespace reflector {

namespace {

constexpr long kMinCoordinate = -32768;
constexpr long kMaxCoordinate = 32767;
constexpr std::size_t kMaxFileSize = 64 << 20;

std::string Where(const std::string& name, int line, int column) {
  return name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

std::string Where(const std::string& name, const JsonValue& value) {
  return Where(name, value.line, value.column);
}

bool ReadCoordinate(const JsonValue& value, const std::string& name, const std::string& what,
                    int& out, std::string& error) {
  if (value.kind != JsonValue::Kind::Number) {
    error = Where(name, value) + what + " must be an integer, not " + DescribeKind(value.kind);
    return false;
  }
  const std::string& text = value.text;
  if (text.find_first_of(".eE") != std::string::npos) {
    error = Where(name, value) + what + " must be an integer, not " + text;
    return false;
  }
  long number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end != text.data() + text.size() || number < kMinCoordinate ||
      number > kMaxCoordinate) {
    error = Where(name, value) + what + " " + text + " is out of range (-32768 to 32767)";
    return false;
  }
  out = static_cast<int>(number);
  return true;
}

bool ReadPoint(const JsonValue& value, const std::string& name, const std::string& what,
               Point2& point, std::string& error) {
  ScreenPoint out;
  if (value.kind != JsonValue::Kind::Array || value.items.size() != 2) {
    const std::string found = value.kind == JsonValue::Kind::Array
                                  ? "an array of " + std::to_string(value.items.size())
                                  : std::string(DescribeKind(value.kind));
    error = Where(name, value) + what + " must be an [x, y] pair of integers, not " + found;
    return false;
  }
  if (!ReadCoordinate(value.items[0], name, "the x of " + what, out.x, error) ||
      !ReadCoordinate(value.items[1], name, "the y of " + what, out.y, error)) {
    return false;
  }
  point = ToPoint2(out);
  return true;
}

}  // namespace

bool ParseScene(std::string_view text, const std::string& name, SceneDescription& scene,
                std::string& error) {
  JsonValue root;
  JsonError jsonError;
  if (!ParseJson(text, root, jsonError)) {
    error = Where(name, jsonError.line, jsonError.column) + "not valid JSON: " + jsonError.message;
    return false;
  }
  if (root.kind != JsonValue::Kind::Object) {
    error = Where(name, root) + "a scene must be a JSON object, not " + DescribeKind(root.kind);
    return false;
  }

  SceneDescription parsed;
  bool haveReflector = false;
  bool seen[4] = {};
  for (const auto& [key, value] : root.members) {
    int slot = -1;
    Point2* point = nullptr;
    if (key == "reflector") {
      slot = 0;
    } else if (key == "source") {
      slot = 1;
      point = &parsed.source;
    } else if (key == "aim") {
      slot = 2;
      point = &parsed.aim;
    } else if (key == "target") {
      slot = 3;
      point = &parsed.target;
    } else {
      error = Where(name, value.keyLine, value.keyColumn) + "unknown key \"" + key +
              "\" (expected \"reflector\", \"source\", \"aim\" or \"target\")";
      return false;
    }
    if (seen[slot]) {
      error = Where(name, value.keyLine, value.keyColumn) + "\"" + key + "\" is given twice";
      return false;
    }
    seen[slot] = true;

    if (point) {
      if (!ReadPoint(value, name, "\"" + key + "\"", *point, error)) return false;
      continue;
    }
    if (value.kind != JsonValue::Kind::Array) {
      error = Where(name, value) + "\"reflector\" must be an array of [x, y] pairs, not " +
              DescribeKind(value.kind);
      return false;
    }
    parsed.reflector.clear();
    for (std::size_t i = 0; i < value.items.size(); ++i) {
      Point2 vertex;
      if (!ReadPoint(value.items[i], name, "reflector vertex " + std::to_string(i), vertex, error)) {
        return false;
      }
      parsed.reflector.push_back(vertex);
    }
    haveReflector = true;
  }
  if (!haveReflector) {
    error = Where(name, root) + "the scene has no \"reflector\" (an array of [x, y] pairs)";
    return false;
  }
  scene = std::move(parsed);
  return true;
}

bool LoadSceneFile(const std::string& path, SceneDescription& scene, std::string& error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) {
    error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::string text;
  char buffer[65536];
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
    text.append(buffer, n);
    if (text.size() > kMaxFileSize) {
      error = path + ": cannot read: larger than 64 MiB, too large for a scene";
      return false;
    }
    if (n < sizeof buffer) break;
  }
  if (std::ferror(file.get())) {
    error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  return ParseScene(text, path, scene, error);
}

}  // namespace reflector
