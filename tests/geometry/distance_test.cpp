#include "geometry/distance.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

TEST(Distance, IsEuclideanAndSymmetric) {
  EXPECT_EQ(Distance({0, 0}, {3, 4}), 5.0);
  EXPECT_EQ(Distance({1.5, -2.25}, {-7.125, 9.0}), Distance({-7.125, 9.0}, {1.5, -2.25}));
  EXPECT_EQ(Distance({2, 2}, {2, 2}), 0.0);
}

TEST(DistanceToLine, MeasuresToTheWholeLine) {
  EXPECT_EQ(DistanceToLine({0, 0}, {1, -1}, {1, 1}), 1.0);
  // Far beyond the segment's ends: still the distance to the infinite line.
  EXPECT_EQ(DistanceToLine({0, 100}, {1, -1}, {1, 1}), 1.0);
  EXPECT_EQ(DistanceToLine({250, 200}, {400, 150}, {100, 150}), 50.0);
}

TEST(DistanceToLine, CoincidentLinePointsMeasureToThePoint) {
  EXPECT_EQ(DistanceToLine({0, 0}, {3, 4}, {3, 4}), 5.0);
}

}  // namespace
}  // namespace reflector
