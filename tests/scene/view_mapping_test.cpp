#include "scene/view_mapping.h"

#include <gtest/gtest.h>

#include "scene/default_scene.h"

namespace reflector {
namespace {

TEST(ViewMappingTest, ZoomingAboutAPointKeepsItAndClamps) {
  ViewMapping view;
  view.origin = {-20.0, 35.0};
  const ViewMapping zoomed = view.ZoomedAbout(2.0, {100.0, 50.0});
  EXPECT_EQ(zoomed.ToScene({100.0, 50.0}).x, view.ToScene({100.0, 50.0}).x);
  EXPECT_EQ(zoomed.ToScene({100.0, 50.0}).y, view.ToScene({100.0, 50.0}).y);
  EXPECT_EQ(view.ZoomedAbout(1e9, {0, 0}).zoom, ViewMapping::kMaxZoom);
  EXPECT_EQ(view.ZoomedAbout(0.0, {0, 0}).zoom, ViewMapping::kMinZoom);
  EXPECT_FALSE(view.Identity());
  EXPECT_TRUE(ViewMapping{}.Identity());
}

TEST(ViewMappingTest, FittingLeavesAShownSceneAloneAndBringsAFarOneIntoView) {
  SceneBox shown;
  shown.Add(std::span<const ScreenPoint>(kDefaultReflector));
  shown.Add(ToPoint2(kDefaultSource));
  shown.Add(ToPoint2(kDefaultTarget));
  EXPECT_TRUE(FitView(shown, 800, 600, 30).Identity());

  // Far away and larger than the view: shrunk, centred, with its margin.
  SceneBox far;
  far.Add(Point2{3000, 2100});
  far.Add(Point2{1500, 3100});
  const ViewMapping fitted = FitView(far, 800, 600, 30);
  EXPECT_DOUBLE_EQ(fitted.zoom, 740.0 / 1500.0);  // the width decides
  const Point2 low = fitted.ToView({1500, 2100});
  const Point2 high = fitted.ToView({3000, 3100});
  EXPECT_NEAR(low.x, 30.0, 1e-9);
  EXPECT_NEAR(high.x, 770.0, 1e-9);
  EXPECT_NEAR(low.y, 600 - high.y, 1e-9);
  // Far away and small: moved, not magnified. NaN never widens a box.
  SceneBox small;
  small.Add(Point2{5000, 5000});
  small.Add(Point2{5010, 5020});
  small.Add(Point2{0.0 / 0.0, 1});
  EXPECT_EQ(FitView(small, 800, 600, 30).zoom, 1.0);
  EXPECT_TRUE(FitView(SceneBox{}, 800, 600, 30).Identity());
}

}  // namespace
}  // namespace reflector
