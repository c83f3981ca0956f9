#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scene/scene_description.h"

namespace reflector {

// Reads a scene from JSON text:
//   {"reflector": [[x, y], ...], "source": [x, y], "aim": [x, y], "target": [x, y]}
// "reflector" is required (any length); the others default to the window's
// start-up scene. Coordinates are integers from -32768 to 32767. Anything else
// is refused: returns false with error set to "NAME:LINE:COLUMN: what is wrong".
bool ParseScene(std::string_view text, const std::string& name, SceneDescription& scene,
                std::string& error);

// Reads and parses the file at path; errors name the file.
bool LoadSceneFile(const std::string& path, SceneDescription& scene, std::string& error);

}  // namespace reflector
