#include "geometry/intersect_lines.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

struct Result {
  Point2 hit{-999, -999};  // sentinel: shows whether hit was written
  bool inside = true;
  bool parallel = true;
};

Result Intersect(Point2 a, Point2 b, Point2 c, Point2 d) {
  Result r;
  IntersectLines(a, b, c, d, &r.hit, &r.inside, &r.parallel);
  return r;
}

const Point2 kUntouched{-999, -999};

TEST(IntersectLines, VerticalRayThroughHorizontalSegment) {
  Result r = Intersect({0, 0}, {10, 0}, {5, 10}, {5, -10});
  EXPECT_EQ(r.hit, (Point2{5, 0}));
  EXPECT_TRUE(r.inside);
  EXPECT_FALSE(r.parallel);
}

TEST(IntersectLines, SegmentEndWithLargerCoordinateBelongsToSegment) {
  Result top = Intersect({0, 0}, {0, 10}, {-5, 10}, {5, 10});
  EXPECT_EQ(top.hit, (Point2{0, 10}));
  EXPECT_TRUE(top.inside);

  Result bottom = Intersect({0, 0}, {0, 10}, {-5, 0}, {5, 0});
  EXPECT_EQ(bottom.hit, (Point2{0, 0}));
  EXPECT_FALSE(bottom.inside);
  EXPECT_FALSE(bottom.parallel);
}

TEST(IntersectLines, RayStartCountsOnlyTowardLargerCoordinates) {
  Result forward = Intersect({0, 0}, {10, 0}, {5, 0}, {15, 5});
  EXPECT_EQ(forward.hit, (Point2{5, 0}));
  EXPECT_TRUE(forward.inside);

  Result backward = Intersect({0, 0}, {10, 0}, {5, 0}, {-5, 5});
  EXPECT_EQ(backward.hit, (Point2{5, 0}));
  EXPECT_FALSE(backward.inside);
}

TEST(IntersectLines, ParallelLinesLeaveHitUntouched) {
  Result sameSlope = Intersect({0, 0}, {10, 10}, {0, 5}, {10, 15});
  EXPECT_TRUE(sameSlope.parallel);
  EXPECT_FALSE(sameSlope.inside);
  EXPECT_EQ(sameSlope.hit, kUntouched);

  Result bothVertical = Intersect({0, 0}, {0, 10}, {5, 0}, {5, 10});
  EXPECT_TRUE(bothVertical.parallel);
  EXPECT_FALSE(bothVertical.inside);
  EXPECT_EQ(bothVertical.hit, kUntouched);

  // Coincident lines count as parallel too.
  Result coincident = Intersect({0, 0}, {10, 10}, {2, 2}, {4, 4});
  EXPECT_TRUE(coincident.parallel);
  EXPECT_EQ(coincident.hit, kUntouched);
}

TEST(IntersectLines, HitIsWrittenOffTheSegmentAndBehindTheRay) {
  Result offSegment = Intersect({0, 0}, {10, 0}, {20, 10}, {20, -10});
  EXPECT_EQ(offSegment.hit, (Point2{20, 0}));
  EXPECT_FALSE(offSegment.inside);
  EXPECT_FALSE(offSegment.parallel);

  Result behind = Intersect({0, 0}, {10, 0}, {5, 10}, {5, 20});
  EXPECT_EQ(behind.hit, (Point2{5, 0}));
  EXPECT_FALSE(behind.inside);
}

TEST(IntersectLines, EqualExtentsTestAlongY) {
  Result upperEnd = Intersect({0, 10}, {10, 0}, {0, 20}, {0, -20});
  EXPECT_EQ(upperEnd.hit, (Point2{0, 10}));
  EXPECT_TRUE(upperEnd.inside);

  Result lowerEnd = Intersect({0, 10}, {10, 0}, {10, 20}, {10, -20});
  EXPECT_EQ(lowerEnd.hit, (Point2{10, 0}));
  EXPECT_FALSE(lowerEnd.inside);
}

TEST(IntersectLines, ZeroLengthSegmentContainsNothing) {
  // A single-point segment is a vertical line; a ray straight through the point.
  Result r = Intersect({5, 5}, {5, 5}, {0, 5}, {10, 5});
  EXPECT_EQ(r.hit, (Point2{5, 5}));
  EXPECT_FALSE(r.inside);
  for (double y : {-3.0, 4.0, 5.0, 6.0}) {
    EXPECT_FALSE(Intersect({5, 5}, {5, 5}, {0, y}, {10, 5}).inside) << y;
  }
}

TEST(IntersectLines, ZeroLengthRayIsVerticalAndLooksTowardLargerY) {
  Result below = Intersect({0, 10}, {10, 10}, {5, 0}, {5, 0});
  EXPECT_EQ(below.hit, (Point2{5, 10}));
  EXPECT_TRUE(below.inside);

  Result above = Intersect({0, 10}, {10, 10}, {5, 20}, {5, 20});
  EXPECT_EQ(above.hit, (Point2{5, 10}));
  EXPECT_FALSE(above.inside);

  Result atStart = Intersect({0, 10}, {10, 10}, {5, 10}, {5, 10});
  EXPECT_TRUE(atStart.inside);
}

TEST(IntersectLines, OutputsAreOptionalAndMayAliasInputs) {
  IntersectLines({0, 0}, {10, 0}, {5, 10}, {5, -10}, nullptr, nullptr, nullptr);

  // The caller may pass its ray start as the hit output.
  Point2 c{5, 10};
  bool inside = false;
  IntersectLines({0, 0}, {10, 0}, c, {5, -10}, &c, &inside, nullptr);
  EXPECT_EQ(c, (Point2{5, 0}));
  EXPECT_TRUE(inside);
}

TEST(IntersectLines, GeneralCaseFollowsSlopeInterceptArithmetic) {
  // Segment (0,0)-(10,5) and the ray from (0,4) toward (10,0): m1 = 0.5, m2 = -0.4,
  // meeting at x = 4 / 0.9.
  Result r = Intersect({0, 0}, {10, 5}, {0, 4}, {10, 0});
  const double m1 = (0.0 - 5.0) / (0.0 - 10.0);
  const double c1 = 5.0 - m1 * 10.0;
  const double m2 = (4.0 - 0.0) / (0.0 - 10.0);
  const double c2 = 0.0 - m2 * 10.0;
  const double x = (c2 - c1) / (m1 - m2);
  EXPECT_EQ(r.hit.x, x);
  EXPECT_EQ(r.hit.y, x * m1 + c1);
  EXPECT_TRUE(r.inside);
}

}  // namespace
}  // namespace reflector
