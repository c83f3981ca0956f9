#pragma once

#include <span>
#include <string>

#include "geometry/point2.h"
#include "scene/scene_description.h"

namespace reflector {

// The pieces the result and checkpoint files share, appended to out in their
// one spelling: doubles in shortest round-trip form ("null" when not finite),
// ", " between items, no line breaks. Negative zero is "-0.0", since the
// integer -0 reads back as 0.

void AppendDouble(std::string& out, double x);
void AppendPoint(std::string& out, Point2 p);                     // [x, y]
void AppendVertices(std::string& out, std::span<const Point2> v);  // [[x, y], ...]
// {"reflector": [...], "source": [x, y], "aim": [x, y], "target": [x, y]}
void AppendScene(std::string& out, const SceneDescription& scene);

}  // namespace reflector
