#include "formats/json_writer.h"

#include <charconv>
#include <cmath>

namespace reflector {

void AppendDouble(std::string& out, double x) {
  if (!std::isfinite(x)) {
    out += "null";
    return;
  }
  // Negative zero as a decimal: the integer "-0" reads as 0, as integer
  // coordinates always have, so the shortest form would not read back.
  if (x == 0.0 && std::signbit(x)) {
    out += "-0.0";
    return;
  }
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, x);
  out.append(buffer, result.ptr);
}

void AppendPoint(std::string& out, Point2 p) {
  out += '[';
  AppendDouble(out, p.x);
  out += ", ";
  AppendDouble(out, p.y);
  out += ']';
}

void AppendVertices(std::string& out, std::span<const Point2> vertices) {
  out += '[';
  for (std::size_t i = 0; i < vertices.size(); ++i) {
    if (i) out += ", ";
    AppendPoint(out, vertices[i]);
  }
  out += ']';
}

void AppendScene(std::string& out, const SceneDescription& scene) {
  out += "{\"reflector\": ";
  AppendVertices(out, scene.reflector);
  out += ", \"source\": ";
  AppendPoint(out, scene.source);
  out += ", \"aim\": ";
  AppendPoint(out, scene.aim);
  out += ", \"target\": ";
  AppendPoint(out, scene.target);
  out += '}';
}

}  // namespace reflector
