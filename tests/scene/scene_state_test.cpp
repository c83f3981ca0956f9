#include "scene/scene_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "geometry/random.h"
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

TEST(SceneStatePauseTest, APausedThenResumedRunEndsWithTheBitsOfAnUnpausedOne) {
  // Long enough that the pause after generation 10 lands well inside the run,
  // however slowly a loaded machine schedules the worker.
  constexpr std::uint32_t kGenerations = 1500;
  SceneState straight(kGenerations, nullptr);
  straight.RestartOptimizer(5);
  const Population expected = FinalPopulation(straight);

  SceneState scene(kGenerations, nullptr);
  scene.keepRewind_ = true;
  scene.RestartOptimizer(5);
  while (scene.currentOptimizer->CompletedGenerations() < 10) std::this_thread::yield();
  scene.Pause();
  EXPECT_TRUE(scene.paused());
  EXPECT_EQ(scene.Mode(), RunMode::Paused);
  const Population atPause = FinalPopulation(scene);
  const std::uint32_t stoppedAt = scene.currentOptimizer->CompletedGenerations();
  EXPECT_LT(stoppedAt, kGenerations);
  // Pointer moves leave a paused run alone.
  const ReflectorOptimizer* paused = scene.currentOptimizer.Get();
  scene.OnMouseEvent(MouseEventKind::MouseMove, 10, 10);
  EXPECT_EQ(scene.currentOptimizer.Get(), paused);
  EXPECT_TRUE(SameBits(FinalPopulation(scene), atPause));

  scene.Resume();
  EXPECT_FALSE(scene.paused());
  EXPECT_TRUE(SameBits(FinalPopulation(scene), expected));
  EXPECT_EQ(scene.Mode(), RunMode::Finished);
  // The resumed run's record holds every generation's mirror, for rewind.
  EXPECT_TRUE(scene.RewindTo(1));
  EXPECT_TRUE(scene.RewindTo(kGenerations));
  EXPECT_FALSE(scene.RewindTo(kGenerations + 1));
}

// The teaching controls change when generations happen, never what they
// compute: a slowed run paused early and stepped ten times ends with the bits
// of a straight run of as many generations, and a finished run continued past
// its limit with those of a straight run of the longer limit.
TEST(SceneStatePauseTest, PaceStepsAndContinueKeepTheBitsOfAStraightRun) {
  constexpr std::uint32_t kGenerations = 1500;
  SceneState scene(kGenerations, nullptr);
  scene.keepRewind_ = true;
  scene.SetPace(200);
  const auto started = std::chrono::steady_clock::now();
  scene.RestartOptimizer(5);
  while (scene.currentOptimizer->CompletedGenerations() < 3) std::this_thread::yield();
  scene.Pause();
  FinalPopulation(scene);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const std::uint32_t pausedAt = scene.currentOptimizer->CompletedGenerations();
  ASSERT_LT(pausedAt + 10, kGenerations);
  // At 200 a second, each generation but the last waited 5 ms at least.
  EXPECT_GE(seconds, (pausedAt - 1) * 0.005) << pausedAt << " generations";

  for (std::uint32_t step = 1; step <= 10; ++step) {
    scene.Step();
    FinalPopulation(scene);
    EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), pausedAt + step);
    EXPECT_TRUE(scene.paused());
    EXPECT_EQ(scene.Mode(), RunMode::Paused);
  }
  const Population stepped = FinalPopulation(scene);

  // Back to full speed, on to the limit; Step and Continue do nothing short
  // of it or when not paused.
  scene.SetPace(0);
  scene.Continue();
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), pausedAt + 10);
  scene.Resume();
  FinalPopulation(scene);
  EXPECT_EQ(scene.Mode(), RunMode::Finished);
  scene.Step();
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), kGenerations);
  scene.Continue();
  const Population continued = FinalPopulation(scene);
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), 2 * kGenerations);
  EXPECT_EQ(scene.Mode(), RunMode::Finished);
  EXPECT_TRUE(scene.RewindTo(2 * kGenerations));

  // The straight runs, after: a run in between would move the generator
  // that a paused run goes on with.
  SceneState straightSteps(pausedAt + 10, nullptr);
  straightSteps.RestartOptimizer(5);
  EXPECT_TRUE(SameBits(FinalPopulation(straightSteps), stepped));
  SceneState straightLonger(2 * kGenerations, nullptr);
  straightLonger.RestartOptimizer(5);
  EXPECT_TRUE(SameBits(FinalPopulation(straightLonger), continued));
}

TEST_F(SceneStateTest, WithTheAimNotFollowingMovesNeitherAimNorRestart) {
  scene.aimFollowsPointer_ = false;
  scene.RestartOptimizer();
  const ReflectorOptimizer* optimizer = scene.currentOptimizer.Get();
  Press(MouseEventKind::MouseMove, 300, 310);
  Press(MouseEventKind::LeftButtonUp, 300, 310);
  Press(MouseEventKind::RightButtonDown, 300, 310);
  EXPECT_EQ(scene.aim, kDefaultAim);
  EXPECT_EQ(scene.currentOptimizer.Get(), optimizer);
  // The rubber band still follows the pointer.
  Press(MouseEventKind::RightButtonUp, 300, 310);
  Press(MouseEventKind::MouseMove, 320, 330);
  EXPECT_EQ(scene.ShownPointer(), (ScreenPoint{320, 330}));
  EXPECT_EQ(scene.aim, kDefaultAim);
}

TEST_F(SceneStateTest, EscapeRestoresTheMirrorAndKeepsTheRunBackspaceTakesBackAVertex) {
  scene.RestartOptimizer();
  const ReflectorOptimizer* before = scene.currentOptimizer.Get();
  Press(MouseEventKind::RightButtonUp, 600, 100);
  Press(MouseEventKind::RightButtonUp, 620, 250);
  Press(MouseEventKind::RightButtonUp, 600, 400);
  scene.OnKeyEvent(true, kBackspaceKey);
  EXPECT_EQ(scene.reflector, (std::vector<ScreenPoint>{{600, 100}, {620, 250}}));
  EXPECT_EQ(scene.anchor, (ScreenPoint{620, 250}));
  scene.OnKeyEvent(true, kBackspaceKey);
  EXPECT_TRUE(scene.reflector.empty());
  EXPECT_EQ(scene.anchor, (ScreenPoint{600, 100}));

  scene.OnKeyEvent(true, kEscapeKey);
  EXPECT_FALSE(scene.drawing);
  EXPECT_TRUE(scene.running);
  EXPECT_EQ(scene.reflector, (std::vector<ScreenPoint>(kDefaultReflector.begin(), kDefaultReflector.end())));
  EXPECT_EQ(scene.aim, kDefaultAim);
  // Nothing restarted meanwhile: the run from before goes on.
  EXPECT_EQ(scene.currentOptimizer.Get(), before);
}

TEST_F(SceneStateTest, AShortMirrorIsRefusedAndReleasesAreClampedWhenAsked) {
  scene.minimumMirrorVertices_ = 2;
  scene.canvasWidth_ = 800;
  scene.canvasHeight_ = 600;
  Press(MouseEventKind::RightButtonUp, -20, 650);
  EXPECT_EQ(scene.anchor, (ScreenPoint{0, 599}));
  EXPECT_EQ(debugLines.back(), "0, 599\r\n");
  Press(MouseEventKind::LeftButtonDown, 150, 200);
  EXPECT_EQ(SnapshotOf(scene).vertices, AsPoints({kDefaultReflector.begin(), kDefaultReflector.end()}));
  EXPECT_NE(scene.notice_.find("at least 2 vertices"), std::string::npos);
}

TEST_F(SceneStateTest, TheTargetButtonCarriesTheTargetAndRestartsWithIt) {
  scene.RestartOptimizer();
  Press(MouseEventKind::TargetButtonDown, 250, 200);
  Press(MouseEventKind::MouseMove, 270, 210);
  EXPECT_EQ(SnapshotOf(scene).target, (Point2{270, 210}));
  Press(MouseEventKind::TargetButtonUp, 280, 220);
  EXPECT_EQ(scene.target, (ScreenPoint{280, 220}));
  EXPECT_EQ(SnapshotOf(scene).target, (Point2{280, 220}));
  EXPECT_EQ(SnapshotOf(scene).aim, ToPoint2(kDefaultAim));
  // Afterwards moves aim again.
  Press(MouseEventKind::MouseMove, 300, 300);
  EXPECT_EQ(scene.target, (ScreenPoint{280, 220}));
  EXPECT_EQ(SnapshotOf(scene).aim, (Point2{300, 300}));
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
