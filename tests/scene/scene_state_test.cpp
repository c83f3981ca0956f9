#include "scene/scene_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "scene/snapshot_of.h"

namespace reflector {
namespace {

// Optimisers that fill their population and stop: restarts stay cheap.
constexpr std::uint32_t kNoGenerations = 0;

std::vector<Point2> AsPoints(const std::vector<ScreenPoint>& polyline) {
  std::vector<Point2> points;
  for (ScreenPoint p : polyline) points.push_back(ToPoint2(p));
  return points;
}

class SceneStateTest : public ::testing::Test {
 protected:
  SceneStateTest()
      : scene(kNoGenerations, [this](std::string_view line) { debugLines.emplace_back(line); }) {
    scene.reflector.assign(kDefaultReflector.begin(), kDefaultReflector.end());
  }

  void Press(MouseEventKind kind, int x, int y) { scene.OnMouseEvent(kind, x, y); }

  std::vector<std::string> debugLines;
  SceneState scene;
};

TEST_F(SceneStateTest, RightReleasesDrawANewReflector) {
  scene.RestartOptimizer();

  // The first release clears the reflector and only remembers the click.
  Press(MouseEventKind::RightButtonDown, 10, 20);
  Press(MouseEventKind::RightButtonUp, 10, 20);
  EXPECT_TRUE(scene.drawing);
  EXPECT_FALSE(scene.running);
  EXPECT_TRUE(scene.reflector.empty());
  EXPECT_EQ(scene.anchor, (ScreenPoint{10, 20}));
  EXPECT_EQ(debugLines, (std::vector<std::string>{"10, 20\r\n"}));

  // The second adds the remembered click and itself.
  Press(MouseEventKind::RightButtonDown, 30, 40);
  Press(MouseEventKind::RightButtonUp, 30, 40);
  EXPECT_EQ(scene.reflector, (std::vector<ScreenPoint>{{10, 20}, {30, 40}}));
  EXPECT_EQ(scene.anchor, (ScreenPoint{30, 40}));

  // Later ones add one vertex each.
  Press(MouseEventKind::RightButtonUp, 50, 60);
  EXPECT_EQ(scene.reflector, (std::vector<ScreenPoint>{{10, 20}, {30, 40}, {50, 60}}));
  EXPECT_EQ(scene.anchor, (ScreenPoint{50, 60}));

  // One line per release and nothing for any other event.
  Press(MouseEventKind::MouseMove, 70, 80);
  Press(MouseEventKind::LeftButtonDown, 70, 80);
  Press(MouseEventKind::LeftButtonUp, 70, 80);
  scene.OnKeyEvent(true, kSpaceKey);
  EXPECT_EQ(debugLines, (std::vector<std::string>{"10, 20\r\n", "30, 40\r\n", "50, 60\r\n"}));
}

TEST_F(SceneStateTest, RightReleaseWhileOptimisingStartsOverEvenMidDrawing) {
  Press(MouseEventKind::RightButtonUp, 10, 20);
  Press(MouseEventKind::RightButtonUp, 30, 40);
  // A left press ends the drawing; the next right release starts a fresh one.
  Press(MouseEventKind::LeftButtonDown, 5, 5);
  Press(MouseEventKind::RightButtonUp, 90, 80);
  EXPECT_TRUE(scene.drawing);
  EXPECT_TRUE(scene.reflector.empty());
  EXPECT_EQ(scene.anchor, (ScreenPoint{90, 80}));
}

TEST_F(SceneStateTest, NegativeCoordinatesPassThroughUnchanged) {
  // A held button dragged above and left of the window.
  Press(MouseEventKind::RightButtonUp, -5, -7);
  Press(MouseEventKind::RightButtonUp, -300, 2);
  EXPECT_EQ(scene.aim, (ScreenPoint{-300, 2}));
  EXPECT_EQ(scene.reflector, (std::vector<ScreenPoint>{{-5, -7}, {-300, 2}}));
  EXPECT_EQ(debugLines, (std::vector<std::string>{"-5, -7\r\n", "-300, 2\r\n"}));
}

TEST_F(SceneStateTest, LeftPressLeavesDrawingMovesTheSourceAndRestarts) {
  Press(MouseEventKind::RightButtonUp, 600, 100);
  Press(MouseEventKind::RightButtonUp, 620, 250);
  Press(MouseEventKind::MouseMove, 640, 260);

  Press(MouseEventKind::LeftButtonDown, 120, 300);
  EXPECT_FALSE(scene.drawing);
  EXPECT_TRUE(scene.running);
  EXPECT_EQ(scene.source, (ScreenPoint{120, 300}));
  ASSERT_TRUE(scene.currentOptimizer);
  const SceneSnapshot snapshot = SnapshotOf(scene);
  EXPECT_EQ(snapshot.source, (Point2{120, 300}));
  EXPECT_EQ(snapshot.aim, (Point2{120, 300}));
  EXPECT_EQ(snapshot.target, ToPoint2(kDefaultTarget));
  EXPECT_EQ(snapshot.vertices, AsPoints({{600, 100}, {620, 250}}));
}

TEST_F(SceneStateTest, LeftPressWithNoReflectorStartsAnOptimiserWithoutVertices) {
  Press(MouseEventKind::RightButtonUp, 600, 100);
  Press(MouseEventKind::LeftButtonDown, 120, 300);
  EXPECT_TRUE(SnapshotOf(scene).vertices.empty());
  while (!scene.currentOptimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const Population* population = nullptr;
  scene.currentOptimizer->LockState(&population, nullptr);
  ASSERT_EQ(population->candidates.size(), static_cast<std::size_t>(kPopulationSize));
  EXPECT_TRUE(population->candidates[0].vertices.empty());
  scene.currentOptimizer->UnlockState();
}

TEST_F(SceneStateTest, PointerActivityRestartsOnlyWhileOptimising) {
  scene.RestartOptimizer();

  // Every move, release and right press while optimising: a new optimiser aimed there.
  Press(MouseEventKind::MouseMove, 300, 310);
  EXPECT_EQ(SnapshotOf(scene).aim, (Point2{300, 310}));
  Press(MouseEventKind::MouseMove, 320, 330);
  EXPECT_EQ(SnapshotOf(scene).aim, (Point2{320, 330}));
  Press(MouseEventKind::LeftButtonUp, 340, 350);
  EXPECT_EQ(SnapshotOf(scene).aim, (Point2{340, 350}));
  Press(MouseEventKind::RightButtonDown, 360, 370);
  EXPECT_EQ(SnapshotOf(scene).aim, (Point2{360, 370}));

  // While drawing the aim follows the mouse but the optimiser is left alone.
  Press(MouseEventKind::RightButtonUp, 360, 370);
  const SceneSnapshot before = SnapshotOf(scene);
  Press(MouseEventKind::MouseMove, 400, 410);
  Press(MouseEventKind::RightButtonDown, 420, 430);
  Press(MouseEventKind::LeftButtonUp, 440, 450);
  EXPECT_EQ(scene.aim, (ScreenPoint{440, 450}));
  const SceneSnapshot after = SnapshotOf(scene);
  EXPECT_EQ(after.aim, before.aim);
  EXPECT_EQ(after.vertices, before.vertices);
}

TEST_F(SceneStateTest, SpaceRestartsOnEveryKeyDownEvenWhileDrawing) {
  Press(MouseEventKind::RightButtonUp, 600, 100);
  Press(MouseEventKind::RightButtonUp, 620, 250);

  // The partial reflector goes to a new optimiser, though nothing shows it.
  scene.OnKeyEvent(true, kSpaceKey);
  EXPECT_EQ(SnapshotOf(scene).vertices, AsPoints({{600, 100}, {620, 250}}));
  EXPECT_TRUE(scene.drawing);
  EXPECT_FALSE(scene.running);

  // Releases and other keys do nothing.
  Press(MouseEventKind::RightButtonUp, 600, 400);
  scene.OnKeyEvent(false, kSpaceKey);
  scene.OnKeyEvent(true, 'A');
  EXPECT_EQ(SnapshotOf(scene).vertices.size(), 2u);

  // An auto-repeated key-down is another key-down.
  scene.OnKeyEvent(true, kSpaceKey);
  EXPECT_EQ(SnapshotOf(scene).vertices, AsPoints({{600, 100}, {620, 250}, {600, 400}}));
}

TEST(SceneStateDefaultsTest, DebugLinesGoToStderr) {
  SceneState scene(kNoGenerations);
  testing::internal::CaptureStderr();
  scene.OnMouseEvent(MouseEventKind::RightButtonUp, 12, 34);
  scene.OnMouseEvent(MouseEventKind::RightButtonUp, 56, 78);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "12, 34\r\n56, 78\r\n");
}

}  // namespace
}  // namespace reflector
