#pragma once

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "optimizer/scene_snapshot.h"

namespace reflector {

// The scenes stored under tests/golden/scenes, read with just enough JSON for
// the files make_scenes.py writes: {"reflector": [[x, y], ...], "source":
// [x, y], "aim": [x, y], "target": [x, y]}, the last three optional (the
// window's start-up values). Plus the window's start-up scene as "default".
struct GoldenScene {
  std::string name;
  SceneSnapshot snapshot;
};

namespace golden_detail {

// The integers of the array that follows "key": in text, in order.
inline bool ReadIntegers(const std::string& text, const std::string& key, std::vector<double>& out) {
  std::size_t at = text.find("\"" + key + "\"");
  if (at == std::string::npos) return false;
  at = text.find('[', at);
  int depth = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '[') ++depth;
    if (c == ']' && --depth == 0) return true;
    if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
      char* end = nullptr;
      out.push_back(static_cast<double>(std::strtol(text.c_str() + at, &end, 10)));
      at = static_cast<std::size_t>(end - text.c_str()) - 1;
    }
  }
  return false;
}

inline Point2 ReadPoint(const std::string& text, const std::string& key, Point2 fallback) {
  std::vector<double> v;
  if (!ReadIntegers(text, key, v) || v.size() != 2) return fallback;
  return {v[0], v[1]};
}

}  // namespace golden_detail

inline std::vector<GoldenScene> LoadGoldenScenes(const std::string& directory) {
  std::vector<GoldenScene> scenes;
  scenes.push_back({"default",
                    {{{494, 52}, {494, 105}, {493, 148}, {494, 189}, {493, 244}, {489, 304}},
                     {150, 200},
                     {500, 200},
                     {250, 200}}});
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    GoldenScene scene{file.stem().string(), {}};
    std::vector<double> v;
    if (!golden_detail::ReadIntegers(text, "reflector", v) || v.size() % 2 != 0) {
      scenes.clear();  // a broken file fails the caller's size check
      return scenes;
    }
    for (std::size_t i = 0; i < v.size(); i += 2) scene.snapshot.vertices.push_back({v[i], v[i + 1]});
    scene.snapshot.source = golden_detail::ReadPoint(text, "source", {150, 200});
    scene.snapshot.aim = golden_detail::ReadPoint(text, "aim", {500, 200});
    scene.snapshot.target = golden_detail::ReadPoint(text, "target", {250, 200});
    scenes.push_back(std::move(scene));
  }
  return scenes;
}

}  // namespace reflector
