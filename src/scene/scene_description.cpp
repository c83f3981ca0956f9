#include "scene/scene_description.h"

namespace reflector {

std::vector<Point2> SceneDescription::DefaultReflector() {
  std::vector<Point2> vertices;
  vertices.reserve(kDefaultReflector.size());
  for (ScreenPoint p : kDefaultReflector) vertices.push_back(ToPoint2(p));
  return vertices;
}

SceneSnapshot ToSnapshot(const SceneDescription& scene) {
  SceneSnapshot snapshot;
  snapshot.vertices = scene.reflector;
  snapshot.source = scene.source;
  snapshot.aim = scene.aim;
  snapshot.target = scene.target;
  return snapshot;
}

}  // namespace reflector
