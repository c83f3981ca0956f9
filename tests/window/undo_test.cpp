#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>
#include <memory>

#include "geometry/random.h"
#include "scene/snapshot_of.h"
#include "window/canvas_widget.h"
#include "window/edit_history.h"
#include "window/main_window.h"

namespace reflector {
namespace {

constexpr std::uint32_t kGenerations = 1500;

// The window as the program makes it, on runs long enough to be thrown away
// half way.
class UndoTest : public ::testing::Test {
 protected:
  UndoTest() : scene(kGenerations, nullptr) {
    SetRandomState(1);
    scene.keepRewind_ = true;
    window = std::make_unique<MainWindow>(scene);
    window->showError_ = [](const QString&, const QString& text) { ADD_FAILURE() << text.toStdString(); };
  }

  void MovePointer(int x, int y) {
    QMouseEvent move(QEvent::MouseMove, QPointF(x, y), window->canvas()->mapToGlobal(QPointF(x, y)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window->canvas(), &move);
  }
  void WaitForGenerations(std::uint32_t count) {
    while (scene.currentOptimizer->CompletedGenerations() < count) QTest::qWait(1);
  }
  QUndoStack& stack() { return *window->history()->stack(); }
  QString UndoText() {
    for (QAction* action : window->findChildren<QAction*>()) {
      if (action->text().startsWith("&Undo")) return action->text().remove('&');
    }
    return {};
  }

  Population StraightRun(std::uint32_t seed) {
    SceneState straight(kGenerations, nullptr);
    straight.reflector.assign(kDefaultReflector.begin(), kDefaultReflector.end());
    straight.RestartOptimizer(seed);
    return FinalPopulation(straight);
  }

  QTemporaryDir directory;
  SceneState scene;  // outlives the window
  std::unique_ptr<MainWindow> window;
};

// A trip of the pointer across the canvas restarts at every move; one undo
// brings back the run from before the first, which ends as if never touched.
// Redo brings back the run of the last move.
TEST_F(UndoTest, OneUndoAfterAStreamOfPointerRestartsBringsBackTheRunBeforeIt) {
  WaitForGenerations(20);
  MovePointer(300, 200);
  MovePointer(310, 220);
  WaitForGenerations(5);
  MovePointer(320, 240);
  // The run is the last move's (not told by its address: a run thrown away
  // frees its optimiser, whose memory the next may reuse).
  EXPECT_EQ(SnapshotOf(scene).aim, (Point2{320, 240}));
  EXPECT_EQ(stack().count(), 1);
  window->Tick();
  EXPECT_EQ(UndoText(), QStringLiteral("Undo Aim"));

  window->Undo();
  EXPECT_EQ(scene.aim, kDefaultAim);
  EXPECT_EQ(SnapshotOf(scene).aim, ToPoint2(kDefaultAim));
  EXPECT_GE(scene.currentOptimizer->CompletedGenerations(), 20u);
  const Population undone = FinalPopulation(scene);
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), kGenerations);

  window->Redo();
  EXPECT_EQ(SnapshotOf(scene).aim, (Point2{320, 240}));
  EXPECT_TRUE(SameBits(undone, StraightRun(1)));
}

// The same with the run paused first: moves leave it alone, the space bar
// throws it away, and undo brings it back paused at the same generation.
TEST_F(UndoTest, APausedRunThrownAwayByTheSpaceBarComesBackPaused) {
  WaitForGenerations(20);
  window->SetPaused(true);
  const Population atPause = FinalPopulation(scene);
  const std::uint32_t pausedAt = scene.currentOptimizer->CompletedGenerations();
  MovePointer(300, 200);
  EXPECT_EQ(stack().count(), 0);
  QTest::keyClick(window->canvas(), Qt::Key_Space);
  EXPECT_EQ(stack().count(), 1);
  EXPECT_FALSE(scene.paused());
  window->Undo();
  EXPECT_TRUE(scene.paused());
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), pausedAt);
  EXPECT_TRUE(SameBits(FinalPopulation(scene), atPause));
  window->SetPaused(false);
  EXPECT_TRUE(SameBits(FinalPopulation(scene), StraightRun(1)));
}

// Actions that throw a run away are steps named for them; undoing an opened
// file brings back the scene and the title from before.
TEST_F(UndoTest, OpenResetSeedAndAdoptAreStepsNamedForThem) {
  const QString path = QDir(directory.path()).filePath("arc.json");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"reflector\": [[480, 100], [500, 300]], \"seed\": 4}");
  }
  WaitForGenerations(5);
  ASSERT_TRUE(window->OpenScene(path));
  EXPECT_EQ(UndoText(), QStringLiteral("Undo Open Scene"));
  EXPECT_TRUE(window->windowTitle().startsWith("arc.json"));
  WaitForGenerations(5);
  window->AdoptBestMirror();
  window->Tick();
  EXPECT_EQ(UndoText(), QStringLiteral("Undo Adopt Best Mirror"));
  window->ResetScene();
  window->Tick();
  EXPECT_EQ(UndoText(), QStringLiteral("Undo Reset to Default Scene"));
  EXPECT_EQ(stack().count(), 3);

  window->Undo();  // the adopted mirror's run
  window->Undo();  // the opened scene's
  EXPECT_EQ(scene.reflector, (std::vector<ScreenPoint>{{480, 100}, {500, 300}}));
  EXPECT_EQ(scene.runSeed_, 4u);
  EXPECT_TRUE(window->windowTitle().startsWith("arc.json"));
  window->Undo();
  EXPECT_EQ(scene.reflector, std::vector<ScreenPoint>(kDefaultReflector.begin(), kDefaultReflector.end()));
  EXPECT_TRUE(window->windowTitle().startsWith("Untitled"));
  EXPECT_FALSE(window->HasUnsavedChanges());
  window->Redo();
  EXPECT_TRUE(window->windowTitle().startsWith("arc.json"));
}

// However many restarts come, the stack keeps the newest fifty steps and
// stays within its bytes, shedding the oldest runs' rows first.
TEST_F(UndoTest, TheStackIsBoundedInStepsAndBytes) {
  for (int i = 0; i < 500; ++i) {
    QTest::keyClick(window->canvas(), Qt::Key_Space);
    if (i % 50 == 0) WaitForGenerations(100);
  }
  EXPECT_EQ(stack().count(), EditHistory::kStepLimit);
  EXPECT_LE(window->history()->Bytes(), EditHistory::kByteBudget);

  // A small budget: the long runs held shed their rows, and still come back.
  window->history()->SetByteBudget(64 * 1024);
  for (int i = 0; i < 5; ++i) {
    WaitForGenerations(1000);
    QTest::keyClick(window->canvas(), Qt::Key_Space);
  }
  EXPECT_LE(window->history()->Bytes(), 64u * 1024);
  window->Undo();
  EXPECT_GE(scene.currentOptimizer->CompletedGenerations(), 1000u);
}

}  // namespace
}  // namespace reflector
