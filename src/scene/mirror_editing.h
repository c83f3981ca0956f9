#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "geometry/point2.h"
#include "scene/screen_point.h"

namespace reflector {

// What a press in the editing mode takes hold of.
struct EditGrip {
  enum class Kind { kNothing, kVertex, kSource, kTarget };
  Kind kind = Kind::kNothing;
  std::size_t vertex = 0;  // for kVertex
};

// The handle under the pointer (scene pixels), within radius: the nearest
// vertex first, since a vertex may sit on a disc; then the source, then the
// target.
EditGrip GripAt(const std::vector<ScreenPoint>& mirror, ScreenPoint source, ScreenPoint target,
                Point2 pointer, double radius);

// Where a double-click inserts a vertex: the segment nearest the pointer
// within tolerance, as the index the new vertex takes, and the pixel on the
// segment nearest the pointer.
struct Insertion {
  std::size_t index = 0;
  ScreenPoint at;
};
std::optional<Insertion> InsertionAt(const std::vector<ScreenPoint>& mirror, Point2 pointer,
                                     double tolerance);

// The nearest point of a grid of `spacing` pixels (Shift while dragging).
ScreenPoint SnapToGrid(ScreenPoint point, int spacing);

// A mirror keeps at least this many vertices in the editing mode.
inline constexpr std::size_t kFewestEditedVertices = 2;

}  // namespace reflector
