#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>
#include <QWheelEvent>
#include <memory>

#include "geometry/random.h"
#include "scene/snapshot_of.h"
#include "window/canvas_widget.h"
#include "window/edit_history.h"
#include "window/main_window.h"

namespace reflector {
namespace {

const std::vector<ScreenPoint> kDefaultMirror(kDefaultReflector.begin(), kDefaultReflector.end());

// The window in its editing mode, driven by Qt's events as a hand would.
class EditingTest : public ::testing::Test {
 protected:
  EditingTest() : scene(200, nullptr) {
    SetRandomState(1);
    scene.keepRewind_ = true;
    window = std::make_unique<MainWindow>(scene);
    window->showError_ = [](const QString&, const QString& text) { ADD_FAILURE() << text.toStdString(); };
    window->SetEditing(true);
  }

  CanvasWidget& canvas() { return *window->canvas(); }
  void Send(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held,
            Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, at, canvas().mapToGlobal(at), button, held, modifiers);
    QApplication::sendEvent(&canvas(), &event);
  }
  // A left drag from one canvas point to another, by way of the middle.
  void Drag(QPointF from, QPointF to, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, modifiers);
    Send(QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton, modifiers);
    Send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton, modifiers);
    Send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, modifiers);
  }
  QUndoStack& stack() { return *window->history()->stack(); }

  QTemporaryDir directory;
  SceneState scene;  // outlives the window
  std::unique_ptr<MainWindow> window;
};

// A vertex dragged by (30, 40) moves by exactly that; hovering and the drag
// itself restart nothing, the release restarts once, and one undo puts the
// vertex and the run back.
TEST_F(EditingTest, ADraggedVertexMovesByTheDragAndRestartsOnceAtTheRelease) {
  const ReflectorOptimizer* before = scene.currentOptimizer.Get();
  Send(QEvent::MouseMove, QPointF(300, 300), Qt::NoButton, Qt::NoButton);
  EXPECT_EQ(scene.aim, kDefaultAim);
  const ScreenPoint vertex = kDefaultMirror[2];
  Send(QEvent::MouseButtonPress, QPointF(vertex.x + 2, vertex.y - 1), Qt::LeftButton, Qt::LeftButton);
  Send(QEvent::MouseMove, QPointF(vertex.x + 20, vertex.y + 20), Qt::NoButton, Qt::LeftButton);
  EXPECT_EQ(scene.currentOptimizer.Get(), before);
  // By (30, 40), taken off the vertex's centre.
  Send(QEvent::MouseMove, QPointF(vertex.x + 32.5, vertex.y + 39.5), Qt::NoButton, Qt::LeftButton);
  Send(QEvent::MouseButtonRelease, QPointF(vertex.x + 32.5, vertex.y + 39.5), Qt::LeftButton, Qt::NoButton);
  EXPECT_NE(scene.currentOptimizer.Get(), before);
  std::vector<ScreenPoint> moved = kDefaultMirror;
  moved[2] = {vertex.x + 30, vertex.y + 40};
  EXPECT_EQ(scene.reflector, moved);
  EXPECT_EQ(SnapshotOf(scene).vertices[2], ToPoint2(moved[2]));
  EXPECT_EQ(scene.aim, kDefaultAim);
  ASSERT_EQ(stack().count(), 1);
  EXPECT_EQ(stack().undoText(), QStringLiteral("Move Vertex"));

  window->Undo();
  EXPECT_EQ(scene.reflector, kDefaultMirror);
  EXPECT_EQ(SnapshotOf(scene).vertices[2], ToPoint2(vertex));
  // A press on nothing pans, and a press that moves nothing is no edit.
  Drag(QPointF(200, 500), QPointF(250, 520));
  Send(QEvent::MouseButtonPress, QPointF(vertex.x, vertex.y), Qt::LeftButton, Qt::LeftButton);
  Send(QEvent::MouseButtonRelease, QPointF(vertex.x, vertex.y), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(stack().index(), 0);
  EXPECT_EQ(canvas().view().mapping.origin.x, -50.0);
  EXPECT_EQ(canvas().view().mapping.origin.y, -20.0);
}

TEST_F(EditingTest, TheSourceAndTargetDragAndShiftSnapsToTheGrid) {
  Drag(QPointF(kDefaultSource.x, kDefaultSource.y), QPointF(kDefaultSource.x + 13, kDefaultSource.y - 7),
       Qt::ShiftModifier);
  const ScreenPoint snapped = SnapToGrid({kDefaultSource.x + 13, kDefaultSource.y - 7}, 10);
  EXPECT_EQ(scene.source, snapped);
  EXPECT_EQ(snapped.x % 10 + snapped.y % 10, 0);
  EXPECT_EQ(SnapshotOf(scene).source, ToPoint2(snapped));
  Drag(QPointF(kDefaultTarget.x + 3, kDefaultTarget.y), QPointF(kDefaultTarget.x + 13, kDefaultTarget.y - 30));
  EXPECT_EQ(scene.target, (ScreenPoint{kDefaultTarget.x + 10, kDefaultTarget.y - 30}));
  EXPECT_EQ(stack().count(), 2);
  EXPECT_EQ(stack().undoText(), QStringLiteral("Move Target"));
}

// A double-click on a segment inserts one vertex there; Delete over it
// removes it; both are steps; a mirror keeps two vertices.
TEST_F(EditingTest, DoubleClickInsertsDeleteRemovesAndBothUndo) {
  const QPointF middle(kDefaultMirror[0].x + 1, 78);  // the first segment is upright at 494
  QTest::mouseDClick(&canvas(), Qt::LeftButton, Qt::NoModifier, middle.toPoint());
  ASSERT_EQ(scene.reflector.size(), kDefaultMirror.size() + 1);
  EXPECT_EQ(scene.reflector[1], (ScreenPoint{kDefaultMirror[0].x, 78}));
  EXPECT_EQ(SnapshotOf(scene).vertices.size(), kDefaultMirror.size() + 1);
  EXPECT_EQ(stack().undoText(), QStringLiteral("Insert Vertex"));

  Send(QEvent::MouseMove, middle, Qt::NoButton, Qt::NoButton);
  QTest::keyClick(&canvas(), Qt::Key_Delete);
  EXPECT_EQ(scene.reflector, kDefaultMirror);
  EXPECT_EQ(stack().undoText(), QStringLiteral("Delete Vertex"));
  window->Undo();
  EXPECT_EQ(scene.reflector.size(), kDefaultMirror.size() + 1);
  window->Undo();
  EXPECT_EQ(scene.reflector, kDefaultMirror);
  window->Redo();
  EXPECT_EQ(scene.reflector.size(), kDefaultMirror.size() + 1);

  scene.reflector = {{100, 100}, {200, 200}};
  Send(QEvent::MouseMove, QPointF(100, 100), Qt::NoButton, Qt::NoButton);
  QTest::keyClick(&canvas(), Qt::Key_Delete);
  EXPECT_EQ(scene.reflector.size(), 2u);
}

// Ctrl + wheel zooms about the pointer; the wheel scrolls; a scene beyond
// the canvas, opened, is fitted, and Actual Size is the plain view again.
TEST_F(EditingTest, TheViewZoomsAboutThePointerScrollsAndFitsAnOpenedScene) {
  const QPointF at(400, 300);
  const Point2 under = canvas().SceneAt(at);
  QWheelEvent zoom(at, canvas().mapToGlobal(at), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::ControlModifier,
                   Qt::NoScrollPhase, false);
  QApplication::sendEvent(&canvas(), &zoom);
  EXPECT_DOUBLE_EQ(canvas().view().zoom(), 1.5625);
  EXPECT_DOUBLE_EQ(canvas().SceneAt(at).x, under.x);
  EXPECT_DOUBLE_EQ(canvas().SceneAt(at).y, under.y);
  const double top = canvas().view().mapping.origin.y;
  QWheelEvent scroll(at, canvas().mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
  QApplication::sendEvent(&canvas(), &scroll);
  EXPECT_DOUBLE_EQ(canvas().view().mapping.origin.y, top + 40 / 1.5625);

  const QString path = QDir(directory.path()).filePath("far.json");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"reflector\": [[3000, 2100], [3020, 2600], [3000, 3100]], \"source\": [1500, 2600],"
               " \"aim\": [3000, 2600], \"target\": [2200, 2600]}");
  }
  ASSERT_TRUE(window->OpenScene(path));
  const ViewMapping& view = canvas().view().mapping;
  for (Point2 p : {Point2{3000, 2100}, Point2{3000, 3100}, Point2{2200, 2600}, Point2{1500, 2600}}) {
    const Point2 shown = view.ToView(p);
    EXPECT_TRUE(shown.x >= 0 && shown.x < 800 && shown.y >= 0 && shown.y < 600) << shown.x << ", " << shown.y;
  }
  EXPECT_LT(view.zoom, 1.0);
  // Everything in view: no scroll bars over the canvas. Scrolled away, they
  // come.
  window->Tick();
  for (QScrollBar* bar : canvas().findChildren<QScrollBar*>()) EXPECT_FALSE(bar->isVisible());
  canvas().show();
  QWheelEvent away(at, canvas().mapToGlobal(at), QPoint(), QPoint(0, -2400), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
  QApplication::sendEvent(&canvas(), &away);
  window->Tick();
  int shown = 0;
  for (QScrollBar* bar : canvas().findChildren<QScrollBar*>()) shown += bar->isVisibleTo(&canvas());
  EXPECT_EQ(shown, 1);
  for (QAction* action : window->findChildren<QAction*>()) {
    if (action->text() == "&Actual Size") action->trigger();
  }
  EXPECT_TRUE(canvas().view().mapping.Identity());
}

}  // namespace
}  // namespace reflector
