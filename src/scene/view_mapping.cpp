#include "scene/view_mapping.h"

#include <algorithm>
#include <cmath>

namespace reflector {

ViewMapping ViewMapping::ZoomedAbout(double newZoom, Point2 anchor) const {
  const Point2 held = ToScene(anchor);
  ViewMapping zoomed;
  zoomed.zoom = std::clamp(newZoom, kMinZoom, kMaxZoom);
  zoomed.origin = {held.x - anchor.x / zoomed.zoom, held.y - anchor.y / zoomed.zoom};
  return zoomed;
}

void SceneBox::Add(Point2 p) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
  if (empty) {
    low = high = p;
    empty = false;
    return;
  }
  low = {std::min(low.x, p.x), std::min(low.y, p.y)};
  high = {std::max(high.x, p.x), std::max(high.y, p.y)};
}

void SceneBox::Add(std::span<const ScreenPoint> points) {
  for (ScreenPoint p : points) Add(ToPoint2(p));
}

void SceneBox::Add(std::span<const Point2> points) {
  for (Point2 p : points) Add(p);
}

bool SceneBox::Inside(Point2 lowCorner, Point2 highCorner) const {
  return empty || (low.x >= lowCorner.x && low.y >= lowCorner.y && high.x <= highCorner.x &&
                   high.y <= highCorner.y);
}

ViewMapping FitView(const SceneBox& box, double width, double height, double margin) {
  ViewMapping view;
  if (box.empty || width <= 2 * margin || height <= 2 * margin) return view;
  // What the unzoomed, unpanned view shows already stays as it is.
  if (box.Inside({margin, margin}, {width - margin, height - margin})) return view;
  const double spanX = std::max(box.high.x - box.low.x, 1.0);
  const double spanY = std::max(box.high.y - box.low.y, 1.0);
  // Never magnified by fitting: a small scene stays at its own size.
  view.zoom = std::clamp(std::min({(width - 2 * margin) / spanX, (height - 2 * margin) / spanY, 1.0}),
                         ViewMapping::kMinZoom, ViewMapping::kMaxZoom);
  const Point2 centre{(box.low.x + box.high.x) / 2, (box.low.y + box.high.y) / 2};
  view.origin = {centre.x - width / 2 / view.zoom, centre.y - height / 2 / view.zoom};
  return view;
}

}  // namespace reflector
