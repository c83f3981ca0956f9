#include "scene/run_memento.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "scene/scene_state.h"
#include "scene/snapshot_of.h"

namespace reflector {
namespace {

constexpr std::uint32_t kGenerations = 1500;

// A scene whose restarts are captured as the window's undo captures them.
struct CapturingScene {
  CapturingScene() : scene(kGenerations, nullptr) {
    scene.keepRewind_ = true;
    scene.reflector.assign(kDefaultReflector.begin(), kDefaultReflector.end());
    scene.beforeRestart_ = [this](RestartCause cause) {
      causes.push_back(cause);
      captured.push_back(scene.CaptureRun());
    };
  }
  void WaitForGenerations(std::uint32_t count) {
    while (scene.currentOptimizer->CompletedGenerations() < count) std::this_thread::yield();
  }
  SceneState scene;
  std::vector<RestartCause> causes;
  std::vector<RunMemento> captured;
};

Population StraightRun(std::uint32_t generations, std::uint32_t seed) {
  SceneState straight(generations, nullptr);
  straight.reflector.assign(kDefaultReflector.begin(), kDefaultReflector.end());
  straight.RestartOptimizer(seed);
  return FinalPopulation(straight);
}

// A run thrown away half way by a pointer move, brought back after the next
// run has moved the generator on, ends with the bits of a run never touched:
// population, best ever and plot rows.
TEST(RunMementoTest, ARunBroughtBackGoesOnWithItsOwnBits) {
  CapturingScene capturing;
  SceneState& scene = capturing.scene;
  scene.RestartOptimizer(5);
  capturing.WaitForGenerations(10);
  scene.OnMouseEvent(MouseEventKind::MouseMove, 300, 200);
  ASSERT_EQ(capturing.captured.size(), 1u);
  EXPECT_EQ(capturing.causes[0], RestartCause::kPointer);
  RunMemento memento = std::move(capturing.captured[0]);
  ASSERT_TRUE(memento.run.has_value());
  EXPECT_FALSE(memento.paused);
  EXPECT_EQ(memento.runSeed, 5u);
  EXPECT_EQ(memento.aim, kDefaultAim);
  const std::uint32_t discardedAt = memento.run->start.record.completedGenerations;
  EXPECT_GE(discardedAt, 10u);
  EXPECT_EQ(memento.run->start.record.history.size(), discardedAt);
  FinalPopulation(scene);  // the next run, to its end

  scene.RestoreRun(std::move(memento));
  EXPECT_EQ(scene.aim, kDefaultAim);
  EXPECT_EQ(scene.runSeed_, 5u);
  const Population restored = FinalPopulation(scene);
  EXPECT_EQ(scene.Mode(), RunMode::Finished);
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), kGenerations);
  // Nothing was thrown away by bringing it back.
  EXPECT_EQ(capturing.captured.size(), 1u);
  const OptimizerState state = CopyState(*scene.currentOptimizer);
  EXPECT_EQ(state.record.firstGeneration, 1u);
  EXPECT_EQ(state.record.history.size(), kGenerations);
  EXPECT_TRUE(scene.RewindTo(discardedAt));

  EXPECT_TRUE(SameBits(restored, StraightRun(kGenerations, 5)));
}

// A paused run thrown away by the space bar comes back paused where it
// stood; resumed, it ends as a run never paused. A drawing taken into the
// run throws away the run before it, with the mirror it had.
TEST(RunMementoTest, APausedRunComesBackPausedAndADrawingThrowsAwayTheRunBeforeIt) {
  CapturingScene capturing;
  SceneState& scene = capturing.scene;
  scene.RestartOptimizer(7);
  capturing.WaitForGenerations(10);
  scene.Pause();
  const Population atPause = FinalPopulation(scene);
  const std::uint32_t pausedAt = scene.currentOptimizer->CompletedGenerations();
  scene.OnKeyEvent(true, kSpaceKey);
  ASSERT_EQ(capturing.captured.size(), 1u);
  EXPECT_EQ(capturing.causes[0], RestartCause::kRestart);
  EXPECT_TRUE(capturing.captured[0].paused);
  FinalPopulation(scene);

  scene.RestoreRun(std::move(capturing.captured[0]));
  EXPECT_TRUE(scene.paused());
  EXPECT_TRUE(SameBits(FinalPopulation(scene), atPause));
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), pausedAt);
  EXPECT_EQ(scene.Mode(), RunMode::Paused);

  // A drawing over the paused run, taken into a new run.
  scene.OnMouseEvent(MouseEventKind::RightButtonUp, 600, 100);
  scene.OnMouseEvent(MouseEventKind::RightButtonUp, 620, 250);
  scene.OnMouseEvent(MouseEventKind::LeftButtonDown, 100, 300);
  ASSERT_EQ(capturing.captured.size(), 2u);
  EXPECT_EQ(capturing.causes[1], RestartCause::kDrawing);
  RunMemento beforeDrawing = std::move(capturing.captured[1]);
  EXPECT_TRUE(beforeDrawing.paused);
  EXPECT_EQ(beforeDrawing.reflector,
            std::vector<ScreenPoint>(kDefaultReflector.begin(), kDefaultReflector.end()));
  EXPECT_EQ(beforeDrawing.source, kDefaultSource);
  FinalPopulation(scene);

  scene.RestoreRun(std::move(beforeDrawing));
  EXPECT_TRUE(scene.paused());
  scene.Resume();
  EXPECT_TRUE(SameBits(FinalPopulation(scene), StraightRun(kGenerations, 7)));
}

// Undo then redo at once: a run brought back is captured again before its
// worker has run (it runs at the lowest priority), and must still hold its
// population, not an empty one that a third coming back would crash on.
TEST(RunMementoTest, ARunCapturedAgainAsSoonAsItIsBroughtBackKeepsItsPopulation) {
  CapturingScene capturing;
  SceneState& scene = capturing.scene;
  scene.RestartOptimizer(6);
  capturing.WaitForGenerations(10);
  scene.OnKeyEvent(true, kSpaceKey);
  RunMemento memento = std::move(capturing.captured.at(0));
  const Population held = memento.run->start.population;
  for (int round = 0; round < 20; ++round) {
    scene.RestoreRun(std::move(memento));
    memento = scene.CaptureRun();
    ASSERT_TRUE(memento.run.has_value());
    const Population& again = memento.run->start.population;
    ASSERT_EQ(again.candidates.size(), held.candidates.size()) << "round " << round;
    for (std::size_t i = 0; i < held.candidates.size(); ++i) {
      ASSERT_EQ(again.candidates[i].vertices, held.candidates[i].vertices) << "round " << round;
    }
  }
  scene.RestoreRun(std::move(memento));
  EXPECT_TRUE(SameBits(FinalPopulation(scene), StraightRun(kGenerations, 6)));
}

// What shrinks a memento keeps what the run goes on from.
TEST(RunMementoTest, DroppingTheHistoryKeepsTheBitsAndFreesTheRows) {
  CapturingScene capturing;
  SceneState& scene = capturing.scene;
  scene.RestartOptimizer(9);
  capturing.WaitForGenerations(1200);
  scene.OnKeyEvent(true, kSpaceKey);
  RunMemento memento = std::move(capturing.captured.at(0));
  const std::size_t full = memento.Bytes();
  memento.DropHistory();
  EXPECT_LT(memento.Bytes() + 1000 * sizeof(GenerationScores), full);
  const std::uint32_t at = memento.run->start.record.completedGenerations;
  FinalPopulation(scene);

  scene.RestoreRun(std::move(memento));
  const Population restored = FinalPopulation(scene);
  const OptimizerState state = CopyState(*scene.currentOptimizer);
  EXPECT_EQ(state.record.firstGeneration, at + 1);
  EXPECT_EQ(state.record.history.size(), kGenerations - at);
  EXPECT_TRUE(SameBits(restored, StraightRun(kGenerations, 9)));
}

// Which restarts the undo steps are made of.
TEST(RunMementoTest, EveryKindOfRestartIsToldWithItsCause) {
  CapturingScene capturing;
  SceneState& scene = capturing.scene;
  scene.RestartOptimizer(3);
  scene.OnMouseEvent(MouseEventKind::MouseMove, 10, 10);
  scene.OnMouseEvent(MouseEventKind::LeftButtonDown, 20, 20);
  scene.OnMouseEvent(MouseEventKind::TargetButtonDown, 30, 30);
  scene.OnMouseEvent(MouseEventKind::MouseMove, 40, 40);
  scene.OnMouseEvent(MouseEventKind::TargetButtonUp, 50, 50);
  scene.Pause();
  scene.Resume();  // goes on: nothing thrown away
  EXPECT_EQ(capturing.causes,
            (std::vector<RestartCause>{RestartCause::kPointer, RestartCause::kSource,
                                       RestartCause::kTargetPress, RestartCause::kTarget,
                                       RestartCause::kTarget}));
  // Each captured the scene the run it threw away was started on.
  EXPECT_EQ(capturing.captured[1].aim, (ScreenPoint{10, 10}));
  EXPECT_EQ(capturing.captured[2].source, (ScreenPoint{20, 20}));
  EXPECT_EQ(capturing.captured[4].target, (ScreenPoint{40, 40}));
}

}  // namespace
}  // namespace reflector
