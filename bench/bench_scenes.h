#pragma once

#include <string>
#include <vector>

#include "optimizer/scene_snapshot.h"

namespace reflector {

// The scenes the generation loop is timed on; the same shapes as the stored
// populations under tests/golden/scenes.
struct NamedScene {
  std::string name;
  SceneSnapshot snapshot;
};

inline std::vector<NamedScene> BenchScenes() {
  const auto scene = [](std::string name, std::vector<Point2> vertices) {
    return NamedScene{std::move(name), SceneSnapshot{std::move(vertices), {150, 200}, {500, 200},
                                                     {250, 200}}};
  };
  return {
      scene("default", {{494, 52}, {494, 105}, {493, 148}, {494, 189}, {493, 244}, {489, 304}}),
      scene("concave8", {{325, -7}, {391, 31}, {441, 90}, {467, 162}, {467, 238}, {441, 310},
                         {391, 369}, {325, 407}}),
      scene("slanted2", {{450, 40}, {560, 360}}),
      scene("diagonal10", {{325, 40}, {367, 75}, {385, 110}, {427, 145}, {445, 180}, {487, 215},
                           {505, 250}, {547, 285}, {565, 320}, {607, 355}}),
  };
}

// The default mirror's line made of n vertices (n >= 2): x = 494 +- 3, y from
// 52 to 304, with the default source, aim and target. The cost of a
// generation is measured against n on these.
inline SceneSnapshot LineScene(int n) {
  SceneSnapshot scene{{}, {150, 200}, {500, 200}, {250, 200}};
  for (int i = 0; i < n; ++i) {
    scene.vertices.push_back({494.0 + 3 * ((i * 7) % 3 - 1), 52.0 + 252.0 * i / (n - 1)});
  }
  return scene;
}

}  // namespace reflector
