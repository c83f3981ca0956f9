#pragma once

#include <string>
#include <vector>

#include "geometry/point2.h"
#include "scene/scene_description.h"

namespace reflector {

// The scene as the window saves it, one line of JSON that the scene reader
// and the headless runner take back:
//   {"reflector": [[x, y], ...], "source": [x, y], "aim": [x, y], "target": [x, y],
//    "seed": S, "bestMirror": [[x, y], ...]}
// "seed" only when the scene has one, "bestMirror" only when given: the best
// candidate the run found, kept beside the mirror the run starts from. Doubles
// in shortest round-trip form ("null" when not finite).
std::string SceneToJson(const SceneDescription& scene, const std::vector<Point2>* bestMirror);

}  // namespace reflector
