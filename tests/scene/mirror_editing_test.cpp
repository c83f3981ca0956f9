#include "scene/mirror_editing.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

const std::vector<ScreenPoint> kMirror = {{100, 100}, {100, 200}, {104, 203}, {200, 200}};

TEST(MirrorEditingTest, APressTakesTheNearestVertexThenTheSourceThenTheTarget) {
  const ScreenPoint source{100, 104};  // on the first vertex's handle
  const ScreenPoint target{300, 300};
  // Between two close vertices: the nearer.
  EXPECT_EQ(GripAt(kMirror, source, target, {102.0, 202.5}, 6.0).vertex, 2u);
  EXPECT_EQ(GripAt(kMirror, source, target, {101.0, 201.0}, 6.0).vertex, 1u);
  // A vertex wins over a disc it overlaps.
  EXPECT_EQ(GripAt(kMirror, source, target, {100.0, 103.0}, 6.0).kind, EditGrip::Kind::kVertex);
  EXPECT_EQ(GripAt(kMirror, source, target, {100.0, 109.5}, 6.0).kind, EditGrip::Kind::kSource);
  EXPECT_EQ(GripAt(kMirror, source, target, {305.0, 300.0}, 6.0).kind, EditGrip::Kind::kTarget);
  // Just outside the radius; and with a radius shrunk by zooming in.
  EXPECT_EQ(GripAt(kMirror, source, target, {306.1, 300.0}, 6.0).kind, EditGrip::Kind::kNothing);
  EXPECT_EQ(GripAt(kMirror, source, target, {305.0, 300.0}, 3.0).kind, EditGrip::Kind::kNothing);
  EXPECT_EQ(GripAt({}, source, target, {0.0, 0.0}, 6.0).kind, EditGrip::Kind::kNothing);
}

TEST(MirrorEditingTest, ADoubleClickInsertsOnTheNearestSegmentWithinReach) {
  const auto middle = InsertionAt(kMirror, {97.0, 150.4}, 5.0);
  ASSERT_TRUE(middle);
  EXPECT_EQ(middle->index, 1u);
  EXPECT_EQ(middle->at, (ScreenPoint{100, 150}));
  const auto last = InsertionAt(kMirror, {150.0, 204.0}, 5.0);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->index, 3u);
  EXPECT_EQ(last->at, (ScreenPoint{150, 202}));  // the segment falls from 203 to 200
  // Beyond an end the segment's end is nearest, and too far is nothing.
  EXPECT_FALSE(InsertionAt(kMirror, {100.0, 90.0}, 5.0));
  EXPECT_FALSE(InsertionAt(kMirror, {150.0, 150.0}, 5.0));
  // A point of a mirror (zero-length segments) offers nothing.
  EXPECT_FALSE(InsertionAt({{5, 5}, {5, 5}}, {5.0, 5.0}, 5.0));
  EXPECT_FALSE(InsertionAt({{5, 5}}, {5.0, 5.0}, 5.0));
}

TEST(MirrorEditingTest, SnappingTakesTheNearestGridPoint) {
  EXPECT_EQ(SnapToGrid({14, 15}, 10), (ScreenPoint{10, 20}));
  EXPECT_EQ(SnapToGrid({-14, -16}, 10), (ScreenPoint{-10, -20}));
  EXPECT_EQ(SnapToGrid({7, 3}, 0), (ScreenPoint{7, 3}));
}

}  // namespace
}  // namespace reflector
