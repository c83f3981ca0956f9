#include "formats/scene_writer.h"

#include "formats/json_writer.h"

namespace reflector {

std::string SceneToJson(const SceneDescription& scene, const std::vector<Point2>* bestMirror) {
  std::string out;
  AppendScene(out, scene);
  out.pop_back();  // the closing brace: the seed and the best mirror follow
  if (scene.seed) out += ", \"seed\": " + std::to_string(*scene.seed);
  if (bestMirror) {
    out += ", \"bestMirror\": ";
    AppendVertices(out, *bestMirror);
  }
  out += "}\n";
  return out;
}

}  // namespace reflector
