#include <gtest/gtest.h>

#include <vector>

#include "tracing/find_nearest_hit.h"
#include "tracing/trace_path.h"

namespace reflector {
namespace {

using Path = std::vector<Point2>;

Path Trace(const std::vector<Point2>& vertices, int limit, Point2 start, Point2 direction) {
  Path path;
  TracePath(vertices, limit, start, direction, path);
  return path;
}

TEST(FindNearestHit, NoSegmentsLeaveOutputsUntouched) {
  const Point2 sentinel{-1, -1};
  for (const std::vector<Point2>& vertices :
       {std::vector<Point2>{}, std::vector<Point2>{{400, 200}}}) {
    Point2 hit = sentinel;
    Point2 direction = sentinel;
    bool flag = true;
    int segment = 42;
    FindNearestHit(vertices, -1, {100, 200}, {300, 200}, &hit, &direction, &flag, &segment);
    EXPECT_FALSE(flag);
    EXPECT_EQ(hit, sentinel);
    EXPECT_EQ(direction, sentinel);
    EXPECT_EQ(segment, 42);

    EXPECT_EQ(Trace(vertices, 5, {100, 200}, {300, 200}), (Path{{100, 200}, {300, 200}}));
  }
}

TEST(FindNearestHit, SkippedSegmentIsNotTested) {
  const std::vector<Point2> mirror{{400, 0}, {400, 400}};
  bool flag = true;
  FindNearestHit(mirror, 0, {100, 200}, {300, 200}, nullptr, nullptr, &flag, nullptr);
  EXPECT_FALSE(flag);
  FindNearestHit(mirror, -1, {100, 200}, {300, 200}, nullptr, nullptr, &flag, nullptr);
  EXPECT_TRUE(flag);
}

TEST(FindNearestHit, PicksTheNearestSegment) {
  // Two vertical mirrors in a row; the nearer one is segment 2.
  const std::vector<Point2> vertices{{500, 0}, {500, 400}, {450, 400}, {450, 0}};
  Point2 hit;
  Point2 direction;
  bool flag = false;
  int segment = -1;
  FindNearestHit(vertices, -1, {100, 200}, {300, 200}, &hit, &direction, &flag, &segment);
  EXPECT_TRUE(flag);
  EXPECT_EQ(segment, 2);
  EXPECT_EQ(hit, (Point2{450, 200}));
}

TEST(FindNearestHit, EquallyNearSegmentsGoToTheHighestIndex) {
  const std::vector<Point2> vertices{{400, 0}, {400, 400}, {400, 100}};
  int segment = -1;
  Point2 hit;
  FindNearestHit(vertices, -1, {100, 200}, {300, 200}, &hit, nullptr, nullptr, &segment);
  EXPECT_EQ(segment, 1);
  EXPECT_EQ(hit, (Point2{400, 200}));

  // Segment 0's only meeting point on the next step is the ray's own start, which
  // does not count for a ray heading toward smaller x.
  const Path path = Trace(vertices, 5, {100, 200}, {300, 200});
  ASSERT_EQ(path.size(), 3u);
  EXPECT_EQ(path[0], (Point2{100, 200}));
  EXPECT_EQ(path[1], (Point2{400, 200}));
  EXPECT_LT(path[2].x, 400.0);
}

TEST(FindNearestHit, OutputsMayAliasInputs) {
  const std::vector<Point2> mirror{{400, 0}, {400, 400}};
  Point2 current{100, 200};
  Point2 direction{300, 200};
  int skip = -1;
  bool flag = false;
  FindNearestHit(mirror, skip, current, direction, &current, &direction, &flag, &skip);
  EXPECT_TRUE(flag);
  EXPECT_EQ(current, (Point2{400, 200}));
  EXPECT_EQ(direction.x, 100.0);
  EXPECT_NEAR(direction.y, 200.0, 1e-9);
  EXPECT_EQ(skip, 0);
}

TEST(TracePath, OneSegmentReflectsAtMostOnce) {
  const Path path = Trace({{400, 0}, {400, 400}}, 5, {100, 210}, {300, 210});
  ASSERT_EQ(path.size(), 3u);
  EXPECT_EQ(path[1], (Point2{400, 210}));
  EXPECT_EQ(path[2].x, 100.0);  // the far point: start mirrored at the hit
}

TEST(TracePath, TrappedRayStopsAtLimitPlusTwoPoints) {
  // Two facing vertical mirrors; a slanted ray bounces between them.
  const std::vector<Point2> vertices{{0, 1000}, {0, -1000}, {100, -1000}, {100, 1000}};
  // Segment 1 (the bottom) is far below; the ray stays between x = 0 and x = 100.
  const Path path = Trace(vertices, 5, {50, 0}, {60, 1});
  ASSERT_EQ(path.size(), 7u);
  for (std::size_t i = 1; i < path.size(); ++i) {
    EXPECT_EQ(path[i].x, i % 2 == 1 ? 100.0 : 0.0) << i;
  }
}

TEST(TracePath, LimitZeroGivesTwoPoints) {
  EXPECT_EQ(Trace({{400, 0}, {400, 400}}, 0, {100, 200}, {300, 200}),
            (Path{{100, 200}, {400, 200}}));
  EXPECT_EQ(Trace({{400, 0}, {400, 400}}, 0, {100, 500}, {300, 500}),
            (Path{{100, 500}, {300, 500}}));
}

TEST(TracePath, DirectionPointSetsNoFarBound) {
  const Path path = Trace({{400, 0}, {400, 400}}, 5, {100, 200}, {101, 200});
  ASSERT_EQ(path.size(), 3u);
  EXPECT_EQ(path[1], (Point2{400, 200}));
}

TEST(TracePath, AppendsWithoutTouchingWhatIsThere) {
  Path path{{1, 2}};
  TracePath(std::vector<Point2>{}, 5, {100, 200}, {300, 200}, path);
  EXPECT_EQ(path, (Path{{1, 2}, {100, 200}, {300, 200}}));
}

TEST(TracePath, CentralRayOnTheDefaultReflector) {
  const std::vector<Point2> vertices{{494, 52},  {494, 105}, {493, 148},
                                     {494, 189}, {493, 244}, {489, 304}};
  const Path path = Trace(vertices, 5, {150, 200}, {500, 200});
  ASSERT_EQ(path.size(), 3u);
  // Segment 3 runs from (494,189) to (493,244): at y = 200 it is at x = 494 - 11/55.
  EXPECT_NEAR(path[1].x, 494.0 - 11.0 / 55.0, 1e-12);
  EXPECT_EQ(path[1].y, 200.0);
}

}  // namespace
}  // namespace reflector
