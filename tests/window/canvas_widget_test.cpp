#include "window/canvas_widget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "window/painter_canvas.h"
#include "scene/snapshot_of.h"

namespace reflector {
namespace {

// One application for the whole binary, made after test discovery has run.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // CTest sets this too; the default lets the binary run by hand.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { application.reset(); }

 private:
  int argc = 1;
  char name[12] = "gui_tests";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> application;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class CanvasWidgetTest : public ::testing::Test {
 protected:
  CanvasWidgetTest()
      : scene(0, [this](std::string_view line) { debugLines.emplace_back(line); }),
        window(scene) {
    // What the owner's first tick does: the default mirror, a run of it.
    scene.PrepareFrame();
  }

  void Click(Qt::MouseButton button, QPoint position) {
    QTest::mouseClick(&window, button, Qt::NoModifier, position);
  }

  // QTest::mouseMove needs a shown window, so send the event directly.
  void Move(QPoint position, Qt::MouseButtons held = Qt::NoButton) {
    QMouseEvent move(QEvent::MouseMove, QPointF(position), window.mapToGlobal(QPointF(position)),
                     Qt::NoButton, held, Qt::NoModifier);
    QApplication::sendEvent(&window, &move);
  }

  void Key(QEvent::Type type, Qt::Key key, bool autoRepeat = false) {
    QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(&window, &event);
  }

  std::vector<std::string> debugLines;
  SceneState scene;  // declared first: outlives the window
  CanvasWidget window;
};

TEST_F(CanvasWidgetTest, OpensAtEightHundredBySixHundredTrackingThePointer) {
  EXPECT_EQ(window.size(), QSize(800, 600));
  EXPECT_EQ(window.sizeHint(), QSize(800, 600));
  EXPECT_TRUE(window.hasMouseTracking());
  EXPECT_TRUE(window.testAttribute(Qt::WA_OpaquePaintEvent));
  // The owner's tick repaints it; the canvas has no timer of its own.
  EXPECT_TRUE(window.findChildren<QTimer*>().isEmpty());
}

TEST_F(CanvasWidgetTest, RightClicksPlaceTheAnchorThenVertices) {
  Click(Qt::RightButton, {10, 20});
  EXPECT_TRUE(scene.drawing);
  EXPECT_TRUE(scene.reflector.empty());
  EXPECT_EQ(scene.anchor, (ScreenPoint{10, 20}));
  EXPECT_EQ(debugLines, (std::vector<std::string>{"10, 20\r\n"}));

  Click(Qt::RightButton, {30, 40});
  EXPECT_EQ(scene.reflector, (std::vector<ScreenPoint>{{10, 20}, {30, 40}}));
  EXPECT_EQ(debugLines, (std::vector<std::string>{"10, 20\r\n", "30, 40\r\n"}));

  // Moves, left clicks and keys write nothing.
  Move({50, 60});
  Click(Qt::LeftButton, {70, 80});
  Key(QEvent::KeyPress, Qt::Key_Space);
  EXPECT_EQ(debugLines.size(), 2u);
}

TEST_F(CanvasWidgetTest, LeftPressLeavesDrawingMovesTheSourceAndRestarts) {
  Click(Qt::RightButton, {600, 100});
  Click(Qt::RightButton, {620, 250});
  QTest::mousePress(&window, Qt::LeftButton, Qt::NoModifier, {120, 300});
  EXPECT_FALSE(scene.drawing);
  EXPECT_TRUE(scene.running);
  EXPECT_EQ(scene.source, (ScreenPoint{120, 300}));
  ASSERT_TRUE(scene.currentOptimizer);
  const SceneSnapshot snapshot = SnapshotOf(scene);
  EXPECT_EQ(snapshot.source, (Point2{120, 300}));
  EXPECT_EQ(snapshot.vertices, (std::vector<Point2>{{600, 100}, {620, 250}}));
  QTest::mouseRelease(&window, Qt::LeftButton, Qt::NoModifier, {120, 300});
}

TEST_F(CanvasWidgetTest, MovesRestartWhileOptimisingAndOnlyAimWhileDrawing) {
  scene.RestartOptimizer();
  Move({300, 310});
  EXPECT_EQ(SnapshotOf(scene).aim, (Point2{300, 310}));
  Move({320, 330});
  EXPECT_EQ(SnapshotOf(scene).aim, (Point2{320, 330}));

  Click(Qt::RightButton, {400, 100});
  const Point2 aimWhenDrawingStarted = SnapshotOf(scene).aim;
  Move({410, 120});
  EXPECT_EQ(scene.aim, (ScreenPoint{410, 120}));
  EXPECT_EQ(SnapshotOf(scene).aim, aimWhenDrawingStarted);

  // Dragged out past the top-left corner: negative pixels, kept as they are.
  Move({-15, -25}, Qt::RightButton);
  EXPECT_EQ(scene.aim, (ScreenPoint{-15, -25}));
}

TEST_F(CanvasWidgetTest, SpaceRestartsEvenWhileDrawingAutoRepeatIncluded) {
  Click(Qt::RightButton, {600, 100});
  Click(Qt::RightButton, {620, 250});
  Key(QEvent::KeyPress, Qt::Key_Space);
  EXPECT_EQ(SnapshotOf(scene).vertices, (std::vector<Point2>{{600, 100}, {620, 250}}));

  Click(Qt::RightButton, {600, 400});
  Key(QEvent::KeyRelease, Qt::Key_Space);
  Key(QEvent::KeyPress, Qt::Key_A);
  EXPECT_EQ(SnapshotOf(scene).vertices.size(), 2u);

  Key(QEvent::KeyPress, Qt::Key_Space, true);
  EXPECT_EQ(SnapshotOf(scene).vertices.size(), 3u);
}

TEST_F(CanvasWidgetTest, PaintFillsBlackAndDrawsTheScene) {
  // Not running: the user's reflector alone, not covered by a candidate.
  scene.running = false;
  QImage frame = window.grab().toImage();
  EXPECT_EQ(frame.pixelColor(494, 80), QColor(0, 255, 0));
  EXPECT_EQ(frame.pixelColor(700, 500), QColor(Qt::black));
  EXPECT_EQ(frame.pixelColor(799, 599), QColor(Qt::black));

  // Once the frame is set up, an optimiser runs and shows.
  scene.running = true;
  scene.PrepareFrame();
  frame = window.grab().toImage();
  EXPECT_TRUE(scene.currentOptimizer);
  EXPECT_EQ(frame.pixelColor(150, 200), QColor(255, 255, 0));
  EXPECT_EQ(frame.pixelColor(250, 200), QColor(0, 0, 255));
  EXPECT_EQ(frame.pixelColor(245, 200), QColor(255, 0, 0));
}

TEST_F(CanvasWidgetTest, PaintOnlyReadsTheScene) {
  // A paint never starts an optimiser; the next tick's set-up does.
  scene.currentOptimizer.Reset();
  window.grab();
  EXPECT_FALSE(scene.currentOptimizer);
  scene.PrepareFrame();
  EXPECT_TRUE(scene.currentOptimizer);
}

// Pixels of the painter canvas on a black image.
class PainterCanvasTest : public ::testing::Test {
 protected:
  PainterCanvasTest() : image(100, 100, QImage::Format_RGB32) { image.fill(Qt::black); }

  template <typename Draw>
  void Paint(Draw draw) {
    QPainter painter(&image);
    PainterCanvas canvas(painter);
    draw(canvas);
  }

  // The smallest rectangle holding every pixel that is not black.
  QRect Covered() const {
    QRect covered;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (image.pixelColor(x, y) != QColor(Qt::black)) covered |= QRect(x, y, 1, 1);
    return covered;
  }

  bool OnlyColor(QColor color) const {
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor pixel = image.pixelColor(x, y);
        if (pixel != QColor(Qt::black) && pixel != color) return false;
      }
    return true;
  }

  QImage image;
};

TEST_F(PainterCanvasTest, DiscFillsTheBoxWithItsRightAndBottomEdgesExcluded) {
  Paint([](Canvas& canvas) {
    canvas.SetPenColor(255, 0, 0);
    canvas.SetBrushColor(0, 0, 255);
    canvas.DrawDisc(50, 40, 5);
  });
  EXPECT_EQ(Covered(), QRect(QPoint(45, 35), QPoint(54, 44)));
  EXPECT_EQ(image.pixelColor(50, 40), QColor(0, 0, 255));
  EXPECT_EQ(image.pixelColor(45, 40), QColor(255, 0, 0));
  EXPECT_EQ(image.pixelColor(54, 40), QColor(255, 0, 0));
}

TEST_F(PainterCanvasTest, LinesAreOnePixelWideAndNotAntialiased) {
  Paint([](Canvas& canvas) {
    canvas.SetPenColor(0, 255, 0);
    const ScreenPoint points[] = {{10, 10}, {60, 35}, {20, 90}};
    canvas.DrawPolyline(points);
    canvas.DrawLine(70, 10, 70, 50);
    // One point, and points far outside any int pixel grid: nothing, no crash.
    const ScreenPoint single[] = {{80, 80}};
    canvas.DrawPolyline(single);
    const ScreenPoint far[] = {{INT_MIN, INT_MIN}, {INT_MIN, INT_MIN}};
    canvas.DrawPolyline(far);
  });
  EXPECT_TRUE(OnlyColor(QColor(0, 255, 0)));
  EXPECT_EQ(image.pixelColor(80, 80), QColor(Qt::black));
  // A vertical line covers exactly one column.
  for (int y = 15; y < 45; ++y) {
    EXPECT_EQ(image.pixelColor(69, y), QColor(Qt::black)) << y;
    EXPECT_EQ(image.pixelColor(70, y), QColor(0, 255, 0)) << y;
    EXPECT_EQ(image.pixelColor(71, y), QColor(Qt::black)) << y;
  }
}

TEST_F(PainterCanvasTest, LabelIsOpaqueWhiteWithItsTopLeftAtThePoint) {
  // A space has no glyph: the opaque background cell alone.
  Paint([](Canvas& canvas) {
    canvas.SetPenColor(255, 0, 0);
    canvas.DrawLabel(30, 40, " ");
  });
  const QRect covered = Covered();
  ASSERT_FALSE(covered.isEmpty());
  EXPECT_EQ(covered.topLeft(), QPoint(30, 40));
  EXPECT_TRUE(OnlyColor(QColor(Qt::white)));

  // The text is black (grey where smoothed), whatever the pen.
  image.fill(Qt::black);
  Paint([](Canvas& canvas) {
    canvas.SetPenColor(255, 0, 0);
    canvas.DrawLabel(0, 0, "X 500");
  });
  const QRect cell = Covered();
  int glyphPixels = 0;
  for (int y = cell.top(); y <= cell.bottom(); ++y)
    for (int x = cell.left(); x <= cell.right(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      EXPECT_TRUE(pixel.red() == pixel.green() && pixel.green() == pixel.blue()) << x << "," << y;
      if (pixel != QColor(Qt::white)) ++glyphPixels;
    }
  EXPECT_GT(glyphPixels, 10);
}

}  // namespace
}  // namespace reflector
