#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/default_scene.h"
#include "app/screen_point.h"
#include "optimizer/scene_snapshot.h"

namespace reflector {

// A scene as the headless runner reads it: integer pixels, as in the window.
struct SceneDescription {
  std::vector<ScreenPoint> reflector{kDefaultReflector.begin(), kDefaultReflector.end()};
  ScreenPoint source = kDefaultSource;
  ScreenPoint aim = kDefaultAim;
  ScreenPoint target = kDefaultTarget;
};

// Reads a scene from JSON text:
//   {"reflector": [[x, y], ...], "source": [x, y], "aim": [x, y], "target": [x, y]}
// "reflector" is required (any length); the others default to the window's
// start-up scene. Coordinates are integers from -32768 to 32767. Anything else
// is refused: returns false with error set to "NAME:LINE:COLUMN: what is wrong".
bool ParseScene(std::string_view text, const std::string& name, SceneDescription& scene,
                std::string& error);

// Reads and parses the file at path; errors name the file.
bool LoadSceneFile(const std::string& path, SceneDescription& scene, std::string& error);

// The optimiser's view of a scene: every coordinate converted exactly.
SceneSnapshot ToSnapshot(const SceneDescription& scene);

}  // namespace reflector
