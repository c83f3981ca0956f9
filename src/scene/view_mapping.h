#pragma once

#include <span>

#include "geometry/point2.h"
#include "scene/screen_point.h"

namespace reflector {

// How scene pixels reach the canvas's own: scaled by zoom about the scene
// point shown at the canvas's top-left corner. The identity (zoom 1, origin
// 0, 0) draws every pixel exactly as the headless frame does.
struct ViewMapping {
  static constexpr double kMinZoom = 0.05;
  static constexpr double kMaxZoom = 16.0;

  double zoom = 1.0;
  Point2 origin{0.0, 0.0};

  bool Identity() const { return zoom == 1.0 && origin.x == 0.0 && origin.y == 0.0; }
  Point2 ToView(Point2 scene) const {
    return {(scene.x - origin.x) * zoom, (scene.y - origin.y) * zoom};
  }
  Point2 ToScene(Point2 view) const { return {origin.x + view.x / zoom, origin.y + view.y / zoom}; }

  // The same view zoomed to newZoom (clamped) with the scene point under
  // `anchor` (view pixels) staying there.
  ViewMapping ZoomedAbout(double newZoom, Point2 anchor) const;
};

// The smallest box that holds every point.
struct SceneBox {
  Point2 low{0.0, 0.0};
  Point2 high{0.0, 0.0};
  bool empty = true;
  void Add(Point2 p);
  void Add(std::span<const ScreenPoint> points);
  void Add(std::span<const Point2> points);
  bool Inside(Point2 lowCorner, Point2 highCorner) const;
};

// A view of width x height pixels that shows the whole box with margin
// pixels around it: the plain view when that does, else the box centred at
// zoom 1 or, when it is larger than that, the largest zoom that holds it.
ViewMapping FitView(const SceneBox& box, double width, double height, double margin);

}  // namespace reflector
