#include "formats/scene_writer.h"

#include <span>

#include "formats/result_json.h"

namespace reflector {

namespace {

void AppendPointText(std::string& out, Point2 p) {
  out += '[';
  out += FormatDouble(p.x);
  out += ", ";
  out += FormatDouble(p.y);
  out += ']';
}

void AppendVerticesText(std::string& out, std::span<const Point2> vertices) {
  out += '[';
  for (std::size_t i = 0; i < vertices.size(); ++i) {
    if (i > 0) out += ", ";
    AppendPointText(out, vertices[i]);
  }
  out += ']';
}

}  // namespace

std::string SceneToJson(const SceneDescription& scene, const std::vector<Point2>* bestMirror) {
  std::string out = "{\"reflector\": ";
  AppendVerticesText(out, scene.reflector);
  out += ", \"source\": ";
  AppendPointText(out, scene.source);
  out += ", \"aim\": ";
  AppendPointText(out, scene.aim);
  out += ", \"target\": ";
  AppendPointText(out, scene.target);
  if (scene.seed) out += ", \"seed\": " + std::to_string(*scene.seed);
  if (bestMirror) {
    out += ", \"bestMirror\": ";
    AppendVerticesText(out, *bestMirror);
  }
  out += "}\n";
  return out;
}

}  // namespace reflector
