#include "geometry/reflect_ray.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geometry/distance.h"

namespace reflector {
namespace {

constexpr double kRounding = 1e-9;

Point2 Reflect(Point2 a, Point2 b, Point2 s, Point2 h) {
  Point2 out{-999, -999};
  ReflectRay(a, b, s, h, &out);
  return out;
}

void ExpectNear(Point2 actual, Point2 expected) {
  EXPECT_NEAR(actual.x, expected.x, kRounding);
  EXPECT_NEAR(actual.y, expected.y, kRounding);
}

TEST(ReflectRay, GeneralCase) {
  ExpectNear(Reflect({0, 0}, {10, 0}, {0, 10}, {5, 0}), {10, 10});
  // Perpendicular incidence: the ray goes back along itself.
  ExpectNear(Reflect({0, 0}, {10, 10}, {0, 10}, {5, 5}), {0, 10});
}

TEST(ReflectRay, VerticalMirror) {
  Point2 r = Reflect({5, 0}, {5, 10}, {0, 0}, {5, 5});
  EXPECT_EQ(r.x, 0.0);  // x is S.x exactly
  EXPECT_NEAR(r.y, 10.0, kRounding);
}

TEST(ReflectRay, VerticalRay) {
  EXPECT_EQ(Reflect({0, 0}, {10, 0}, {5, 10}, {5, 0}), (Point2{5, 10}));
  ExpectNear(Reflect({0, 0}, {10, 10}, {5, 10}, {5, 5}), {0, 5});
}

TEST(ReflectRay, SinglePointMirror) {
  EXPECT_EQ(Reflect({5, 5}, {5, 5}, {5, 2}, {5, 5}), (Point2{5, 2}));
  Point2 r = Reflect({5, 5}, {5, 5}, {0, 2}, {5, 5});
  EXPECT_EQ(r.x, 0.0);
  EXPECT_NEAR(r.y, 8.0, kRounding);
}

TEST(ReflectRay, VerticalRayOnVerticalMirrorGoesBackToItsStart) {
  // The slopes are both infinite: the result must still be a finite point.
  EXPECT_EQ(Reflect({5, 0}, {5, 10}, {5, 20}, {5, 5}), (Point2{5, 20}));
  EXPECT_EQ(Reflect({5, 0}, {5, 10}, {5, 5}, {5, 5}), (Point2{5, 5}));
  EXPECT_EQ(Reflect({494, 52}, {494, 105}, {494, -3}, {494, 60}), (Point2{494, -3}));
}

TEST(ReflectRay, OutputIsOptional) {
  ReflectRay({0, 0}, {10, 0}, {0, 10}, {5, 0}, nullptr);
  Point2 s{0, 10};
  ReflectRay({0, 0}, {10, 0}, s, {5, 0}, &s);  // aliasing input and output
  ExpectNear(s, {10, 10});
}

// The result is S mirrored across the normal at H: as far from H as S is, and on
// S's side of the mirror.
TEST(ReflectRay, KeepsDistanceAndSideForRandomInputs) {
  std::mt19937 gen(1234);
  std::uniform_real_distribution<double> coord(-500.0, 500.0);
  int checked = 0;
  for (int i = 0; i < 2000; ++i) {
    const Point2 a{coord(gen), coord(gen)};
    const Point2 b{coord(gen), coord(gen)};
    const double t = std::uniform_real_distribution<double>(0.1, 0.9)(gen);
    const Point2 h{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
    const Point2 s{coord(gen), coord(gen)};
    const double side = (b.x - a.x) * (s.y - a.y) - (b.y - a.y) * (s.x - a.x);
    const double length = Distance(a, b);
    if (std::fabs(side) / length < 1.0 || Distance(s, h) < 1.0) continue;  // keep it well-conditioned

    const Point2 r = Reflect(a, b, s, h);
    const double scale = Distance(s, h);
    EXPECT_NEAR(Distance(r, h), scale, 1e-6 * scale) << i;
    const double rSide = (b.x - a.x) * (r.y - a.y) - (b.y - a.y) * (r.x - a.x);
    EXPECT_GT(rSide * side, 0.0) << i;
    ++checked;
  }
  EXPECT_GT(checked, 1000);
}

}  // namespace
}  // namespace reflector
