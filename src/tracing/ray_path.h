#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <exception>
#include <initializer_list>

#include "geometry/point2.h"

namespace reflector {

// The points of one traced ray, held in place: a ray's course has at most
// seven points (its start, five reflections, and a last point), so a path
// needs no heap, copies as plain bytes, and a candidate's 150 of them copy
// as one block.
//
//   RayPath path{{150, 200}};
//   path.push_back({494, 200});
//   for (Point2 p : path) ...
class RayPath {
 public:
  static constexpr std::size_t kCapacity = 7;

  RayPath() = default;
  RayPath(std::initializer_list<Point2> points) {
    for (Point2 p : points) push_back(p);
  }

  std::size_t size() const { return count; }
  bool empty() const { return count == 0; }
  void clear() { count = 0; }
  // A path that would outgrow its room is a broken tracer: stop at once
  // rather than write past the end.
  void push_back(Point2 p) {
    if (count == kCapacity) std::terminate();
    points[count++] = p;
  }

  // Makes the path length points long, p the last of them, for a caller
  // that knows the path held length - 1 points (every ray still travelling
  // after the same number of steps does): no read of the count to wait for.
  void ExtendTo(std::size_t length, Point2 p) {
    PlaceAhead(length, p);
    count = length;
  }

  // Puts p where ExtendTo(length, p) would, leaving the count for a caller
  // that will extend the path further before anyone reads it.
  void PlaceAhead(std::size_t length, Point2 p) {
    if (length == 0 || length > kCapacity) std::terminate();
    points[length - 1] = p;
  }

  const Point2& operator[](std::size_t i) const { return points[i]; }
  Point2& operator[](std::size_t i) { return points[i]; }
  const Point2& back() const { return points[count - 1]; }
  const Point2* begin() const { return points.data(); }
  const Point2* end() const { return points.data() + count; }

  friend bool operator==(const RayPath& a, const RayPath& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  std::array<Point2, kCapacity> points{};
  std::size_t count = 0;
};

}  // namespace reflector
