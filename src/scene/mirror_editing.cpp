#include "scene/mirror_editing.h"

#include <cmath>
#include <limits>

namespace reflector {

namespace {

double DistanceSquared(Point2 a, Point2 b) {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  return dx * dx + dy * dy;
}

int RoundToPixel(double value) { return static_cast<int>(std::lround(value)); }

}  // namespace

EditGrip GripAt(const std::vector<ScreenPoint>& mirror, ScreenPoint source, ScreenPoint target,
                Point2 pointer, double radius) {
  const double reach = radius * radius;
  EditGrip grip;
  double nearest = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < mirror.size(); ++i) {
    const double d = DistanceSquared(ToPoint2(mirror[i]), pointer);
    if (d <= reach && d < nearest) {
      nearest = d;
      grip = {EditGrip::Kind::kVertex, i};
    }
  }
  if (grip.kind != EditGrip::Kind::kNothing) return grip;
  if (DistanceSquared(ToPoint2(source), pointer) <= reach) return {EditGrip::Kind::kSource, 0};
  if (DistanceSquared(ToPoint2(target), pointer) <= reach) return {EditGrip::Kind::kTarget, 0};
  return grip;
}

std::optional<Insertion> InsertionAt(const std::vector<ScreenPoint>& mirror, Point2 pointer,
                                     double tolerance) {
  std::optional<Insertion> best;
  double nearest = tolerance * tolerance;
  for (std::size_t i = 0; i + 1 < mirror.size(); ++i) {
    const Point2 a = ToPoint2(mirror[i]);
    const Point2 b = ToPoint2(mirror[i + 1]);
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double length = dx * dx + dy * dy;
    if (length == 0.0) continue;
    double t = ((pointer.x - a.x) * dx + (pointer.y - a.y) * dy) / length;
    t = std::fmin(1.0, std::fmax(0.0, t));
    const Point2 on{a.x + t * dx, a.y + t * dy};
    const double d = DistanceSquared(on, pointer);
    if (d <= nearest) {
      nearest = d;
      best = Insertion{i + 1, {RoundToPixel(on.x), RoundToPixel(on.y)}};
    }
  }
  return best;
}

ScreenPoint SnapToGrid(ScreenPoint point, int spacing) {
  if (spacing <= 0) return point;
  auto snap = [spacing](int value) {
    return static_cast<int>(std::lround(static_cast<double>(value) / spacing)) * spacing;
  };
  return {snap(point.x), snap(point.y)};
}

}  // namespace reflector
