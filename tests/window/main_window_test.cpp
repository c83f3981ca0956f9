#include "window/main_window.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QDialog>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <bit>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "formats/scene_file.h"
#include "formats/scene_writer.h"
#include "geometry/random.h"
#include "scene/scene_renderer.h"
#include "scene/snapshot_of.h"
#include "tracing/beam.h"
#include "window/canvas_widget.h"
#include "window/painter_canvas.h"
#include "window/plot_dock.h"

namespace reflector {
namespace {

constexpr std::uint32_t kGenerations = 40;

void WaitUntilDone(SceneState& scene) {
  while (!scene.currentOptimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void WriteFile(const QString& path, const char* text) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
}

QAction* FindAction(QWidget& window, const QString& text) {
  for (QAction* action : window.findChildren<QAction*>()) {
    if (action->text().remove('&') == text) return action;
  }
  return nullptr;
}

// The window as the program makes it: rewind recorded, short mirrors refused.
class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : scene(kGenerations, [this](std::string_view line) { debugLines.emplace_back(line); }) {
    SetRandomState(1);
    scene.keepRewind_ = true;
    scene.minimumMirrorVertices_ = 2;
    window = std::make_unique<MainWindow>(scene);
    window->showError_ = [this](const QString&, const QString& text) { errors.push_back(text); };
  }

  CanvasWidget& canvas() { return *window->canvas(); }

  void Key(Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&canvas(), &press);
  }

  QString Path(const char* name) const { return QDir(directory.path()).filePath(QLatin1String(name)); }

  std::vector<std::string> debugLines;
  std::vector<QString> errors;
  QTemporaryDir directory;
  SceneState scene;  // declared first: outlives the window
  std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, WrapsTheCanvasWithMenusAPlotDockAndATenHertzTick) {
  EXPECT_EQ(window->centralWidget(), &canvas());
  EXPECT_EQ(canvas().size(), QSize(800, 600));
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Untitled \u2014 Reflector Lab"));
  EXPECT_TRUE(window->plotDock()->isVisibleTo(window.get()));
  EXPECT_EQ(window->dockWidgetArea(window->plotDock()), Qt::RightDockWidgetArea);
  // One timer ticks; the other waits for a file being opened in the background.
  std::vector<QTimer*> active;
  for (QTimer* timer : window->findChildren<QTimer*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (timer->isActive()) active.push_back(timer);
  }
  ASSERT_EQ(active.size(), 1u);
  EXPECT_EQ(active[0]->interval(), 100);
  for (const char* name : {"File", "Run", "View", "Help"}) {
    bool found = false;
    for (QAction* menu : window->menuBar()->actions()) found |= menu->text().remove('&') == name;
    EXPECT_TRUE(found) << name;
  }
  EXPECT_EQ(FindAction(*window, "Pause")->shortcut(), QKeySequence(Qt::Key_P));
  EXPECT_EQ(FindAction(*window, "Aim Follows Pointer")->shortcut(), QKeySequence(Qt::Key_A));
}

TEST_F(MainWindowTest, ABadSceneFileChangesNothingAndShowsTheReadersLine) {
  scene.PrepareFrame();
  const std::vector<ScreenPoint> mirror = scene.reflector;
  const ReflectorOptimizer* optimizer = scene.currentOptimizer.Get();
  const QString bad = Path("bad.json");
  WriteFile(bad, "{\"reflector\": [[1, 2], [3, ]]}");

  EXPECT_FALSE(window->OpenScene(bad));
  SceneDescription unused;
  std::string expected;
  ASSERT_FALSE(LoadSceneFile(bad.toStdString(), unused, expected));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].toStdString(), expected);
  EXPECT_NE(expected.find("bad.json:1:"), std::string::npos) << expected;
  EXPECT_EQ(scene.reflector, mirror);
  EXPECT_EQ(scene.currentOptimizer.Get(), optimizer);
  EXPECT_TRUE(window->sceneFile().isEmpty());

  // Without a replacement the same line shows in a message box.
  window->showError_ = nullptr;
  EXPECT_FALSE(window->OpenScene(Path("missing.json")));
  const auto boxes = window->findChildren<QMessageBox*>();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_TRUE(boxes[0]->text().contains(QLatin1String("missing.json")));
  delete boxes[0];
}

TEST_F(MainWindowTest, OpeningASceneRunsItFromItsSeedAndNamesItInTheTitle) {
  const QString path = Path("mine.json");
  WriteFile(path, "{\"reflector\": [[480, 60], [490, 300]], \"target\": [260, 190], \"seed\": 9}");
  ASSERT_TRUE(window->OpenScene(path));
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("mine.json \u2014 Reflector Lab"));
  EXPECT_EQ(window->recentFiles().front(), QFileInfo(path).absoluteFilePath());
  const SceneSnapshot snapshot = SnapshotOf(scene);
  EXPECT_EQ(snapshot.vertices, (std::vector<Point2>{{480, 60}, {490, 300}}));
  EXPECT_EQ(snapshot.target, (Point2{260, 190}));
  EXPECT_EQ(scene.runSeed_, 9u);
}

TEST_F(MainWindowTest, ALargeSceneOpensBehindAProgressDialogThatCanCancelIt) {
  // Over a megabyte: read on another thread while the window goes on.
  std::string text = "{\"seed\": 4, \"reflector\": [";
  const int count = 60000;
  for (int i = 0; i < count; ++i) {
    text += (i ? ", [" : "[") + std::to_string(480 + i % 7) + ".5, " + std::to_string(50 + i * 250.0 / count) + "]";
  }
  text += "]}";
  ASSERT_GE(text.size(), static_cast<std::size_t>(MainWindow::kOpenInBackgroundFrom));
  const QString path = Path("large.json");
  WriteFile(path, text.c_str());
  SceneDescription expected;
  std::string error;
  ASSERT_TRUE(LoadSceneFile(path.toStdString(), expected, error)) << error;

  // Cancelled: nothing changes, nothing is said.
  ASSERT_TRUE(window->OpenScene(path));
  EXPECT_TRUE(window->Opening());
  window->CancelOpening();
  EXPECT_FALSE(window->Opening());
  QTest::qWait(100);
  EXPECT_TRUE(window->sceneFile().isEmpty());
  EXPECT_TRUE(errors.empty());

  // Left to finish: the scene replaces the run, as a small one would.
  ASSERT_TRUE(window->OpenScene(path));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Opening(); }, 20000));
  EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
  EXPECT_EQ(window->sceneFile(), QFileInfo(path).absoluteFilePath());
  EXPECT_EQ(SnapshotOf(scene).vertices.size(), static_cast<std::size_t>(count));
  EXPECT_EQ(scene.runSeed_, 4u);

  // A pipe whose writer takes its time: the window does not wait for it.
  const QString pipe = Path("pipe");
  ASSERT_EQ(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
  const int writer = open(pipe.toLocal8Bit().constData(), O_RDWR);  // holds it open, writes nothing
  ASSERT_GE(writer, 0);
  ASSERT_TRUE(window->OpenScene(pipe));
  EXPECT_TRUE(window->Opening());
  window->CancelOpening();  // returns: the reading stops with the pipe closed below
  close(writer);
  EXPECT_TRUE(errors.empty());

  // A bad large file: its error, after the reading.
  text.back() = ',';
  WriteFile(path, text.c_str());
  ASSERT_TRUE(window->OpenScene(path));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Opening(); }, 20000));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].contains(QLatin1String("large.json:1:"))) << errors[0].toStdString();
}

TEST_F(MainWindowTest, SavedSceneHoldsTheRunsSceneSeedAndBestEver) {
  scene.PrepareFrame();
  WaitUntilDone(scene);
  const QString path = Path("saved.json");
  ASSERT_TRUE(window->SaveScene(path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const std::string text = file.readAll().toStdString();

  SceneDescription expected = scene.Describe();
  const RunRecord* record = nullptr;
  scene.currentOptimizer->LockState(nullptr, nullptr, &record);
  const std::vector<Point2> best = record->bestEver->vertices;
  scene.currentOptimizer->UnlockState();
  EXPECT_EQ(*expected.seed, 1u);
  EXPECT_EQ(text, SceneToJson(expected, &best));
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("saved.json \u2014 Reflector Lab"));

  // A folder that is a file: refused with the file named, nothing written.
  EXPECT_FALSE(window->SaveScene(path + "/inside.json"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].startsWith(path + "/inside.json: cannot write")) << errors[0].toStdString();
}

TEST_F(MainWindowTest, PauseKeepsThePopulationAndSaysSo) {
  scene.PrepareFrame();
  while (scene.currentOptimizer->CompletedGenerations() < 3) std::this_thread::yield();
  window->SetPaused(true);
  scene.WaitUntilPaused();
  const std::uint32_t stoppedAt = scene.currentOptimizer->CompletedGenerations();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  window->Tick();
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), stoppedAt);
  EXPECT_TRUE(window->StatusLine().startsWith("Paused | generation " + QString::number(stoppedAt)))
      << window->StatusLine().toStdString();
  EXPECT_TRUE(FindAction(*window, "Pause")->isChecked());

  // Two frames of a paused run are the same picture.
  const QImage first = canvas().grab().toImage();
  window->Tick();
  EXPECT_EQ(canvas().grab().toImage(), first);

  window->SetPaused(false);
  EXPECT_FALSE(scene.paused());
  WaitUntilDone(scene);
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), kGenerations);
}

TEST_F(MainWindowTest, StatusBarAfterAFinishedRun) {
  scene.PrepareFrame();
  WaitUntilDone(scene);
  window->Tick();
  const Population* population = nullptr;
  const RunRecord* record = nullptr;
  scene.currentOptimizer->LockState(&population, nullptr, &record);
  char expected[256];
  std::snprintf(expected, sizeof expected,
                "Finished | generation 40 | best %.1f | best ever %.1f (generation %u)",
                *BestScore(*population), record->bestEver->score, record->bestEver->generation);
  scene.currentOptimizer->UnlockState();
  EXPECT_EQ(window->StatusLine().toStdString(), expected);
  // The plot holds every generation.
  EXPECT_EQ(window->plot()->data().generations, kGenerations);
}

TEST_F(MainWindowTest, RewindShowsTheStoredBestOfThatGenerationUntilEscape) {
  scene.PrepareFrame();
  WaitUntilDone(scene);
  window->Tick();
  const QImage live = canvas().grab().toImage();

  const std::uint32_t generation = 2;
  window->ShowGeneration(generation);
  ASSERT_TRUE(scene.rewinding());
  const RunRecord* record = nullptr;
  const SceneSnapshot* snapshot = nullptr;
  scene.currentOptimizer->LockState(nullptr, &snapshot, &record);
  const std::vector<Point2> stored = *record->BestMirrorAfter(generation);
  const double storedScore = record->history[generation - 1].best;
  const SceneSnapshot run = *snapshot;
  scene.currentOptimizer->UnlockState();
  ASSERT_EQ(scene.rewindPopulation().candidates.size(), 1u);
  EXPECT_EQ(scene.rewindPopulation().candidates[0].vertices, stored);
  EXPECT_EQ(scene.rewindPopulation().candidates[0].score, storedScore);

  // The canvas paints that mirror with its rays traced afresh, and the score.
  Population expected;
  expected.candidates.resize(1);
  expected.candidates[0].vertices = stored;
  const std::atomic<bool> never{false};
  EvaluateBeam(stored, run.source, run.aim, run.target, never, expected.candidates[0].rayRecords,
               expected.candidates[0].score);
  EXPECT_EQ(expected.candidates[0].score, storedScore);
  expected.bestIndex = 0;
  QImage image(canvas().size(), QImage::Format_RGB32);
  {
    QPainter painter(&image);
    painter.fillRect(image.rect(), Qt::black);
    PainterCanvas painterCanvas(painter);
    const FrameScene frame{scene.aim, scene.source, scene.reflector, false, scene.anchor, true};
    RenderFrame(painterCanvas, frame, &expected, &run);
  }
  const QImage rewound = canvas().grab().toImage().convertToFormat(QImage::Format_RGB32);
  EXPECT_EQ(rewound, image);
  EXPECT_NE(rewound, live.convertToFormat(QImage::Format_RGB32));
  window->Tick();
  EXPECT_TRUE(window->StatusLine().endsWith("showing generation 2 (Escape: live)"));

  Key(Qt::Key_Escape);
  EXPECT_FALSE(scene.rewinding());
  EXPECT_EQ(canvas().grab().toImage(), live);
}

TEST_F(MainWindowTest, ClickingThePlotRewindsAndADragReturnsToLiveOnRelease) {
  scene.PrepareFrame();
  WaitUntilDone(scene);
  window->plot()->resize(360, 300);
  window->Tick();
  PlotWidget& plot = *window->plot();
  const int early = plot.XOfGeneration(3);
  ASSERT_EQ(plot.GenerationAt(early), 3u);
  QTest::mouseClick(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(early, 150));
  ASSERT_EQ(scene.rewindGeneration(), 3u);

  QTest::mousePress(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(early, 150));
  QMouseEvent move(QEvent::MouseMove, QPointF(plot.XOfGeneration(30), 150),
                   plot.mapToGlobal(QPointF(plot.XOfGeneration(30), 150)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&plot, &move);
  EXPECT_EQ(scene.rewindGeneration(), 30u);
  QTest::mouseRelease(&plot, Qt::LeftButton, Qt::NoModifier, QPoint(plot.XOfGeneration(30), 150));
  EXPECT_FALSE(scene.rewinding());
}

TEST_F(MainWindowTest, AimFollowsPointerOffLeavesTheRunAlone) {
  scene.PrepareFrame();
  FindAction(*window, "Aim Follows Pointer")->trigger();
  EXPECT_FALSE(scene.aimFollowsPointer_);
  const ReflectorOptimizer* optimizer = scene.currentOptimizer.Get();
  QMouseEvent move(QEvent::MouseMove, QPointF(300, 310), canvas().mapToGlobal(QPointF(300, 310)),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&canvas(), &move);
  EXPECT_EQ(scene.aim, kDefaultAim);
  EXPECT_EQ(scene.currentOptimizer.Get(), optimizer);
  // A left click moves the source only: the beam keeps a direction.
  QTest::mouseClick(&canvas(), Qt::LeftButton, Qt::NoModifier, QPoint(120, 300));
  EXPECT_EQ(SnapshotOf(scene).aim, ToPoint2(kDefaultAim));
  EXPECT_EQ(SnapshotOf(scene).source, (Point2{120, 300}));
}

TEST_F(MainWindowTest, DrawingKeysAndAShortMirrorIsRefusedInTheStatusBar) {
  scene.PrepareFrame();
  const std::vector<ScreenPoint> before = scene.reflector;
  for (QPoint p : {QPoint(600, 100), QPoint(620, 250), QPoint(600, 400)}) {
    QTest::mouseClick(&canvas(), Qt::RightButton, Qt::NoModifier, p);
  }
  Key(Qt::Key_Backspace);
  EXPECT_EQ(scene.reflector, (std::vector<ScreenPoint>{{600, 100}, {620, 250}}));
  Key(Qt::Key_Escape);
  EXPECT_FALSE(scene.drawing);
  EXPECT_EQ(scene.reflector, before);

  // One vertex, then a left click: refused, the old mirror optimises.
  QTest::mouseClick(&canvas(), Qt::RightButton, Qt::NoModifier, QPoint(600, 100));
  QTest::mouseClick(&canvas(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 200));
  EXPECT_EQ(scene.reflector, before);
  EXPECT_EQ(SnapshotOf(scene).vertices.size(), before.size());
  window->Tick();
  EXPECT_TRUE(window->statusBar()->currentMessage().contains("at least 2 vertices"));
}

TEST_F(MainWindowTest, ZoomMapsInputBackToSceneAndReleasesAreClampedToTheCanvas) {
  canvas().SetZoom(2.0);
  QTest::mouseClick(&canvas(), Qt::RightButton, Qt::NoModifier, QPoint(201, 101));
  EXPECT_EQ(scene.anchor, (ScreenPoint{100, 50}));
  canvas().SetZoom(1.0);
  // Dragged out past the bottom-right corner and released there.
  QTest::mouseRelease(&canvas(), Qt::RightButton, Qt::NoModifier, QPoint(900, 700));
  EXPECT_EQ(scene.reflector, (std::vector<ScreenPoint>{{100, 50}, {799, 599}}));
  EXPECT_EQ(debugLines.back(), "799, 599\r\n");
}

TEST_F(MainWindowTest, MiddleDragMovesTheTargetAndRestarts) {
  scene.PrepareFrame();
  QTest::mousePress(&canvas(), Qt::MiddleButton, Qt::NoModifier, QPoint(250, 200));
  QMouseEvent move(QEvent::MouseMove, QPointF(300, 220), canvas().mapToGlobal(QPointF(300, 220)),
                   Qt::NoButton, Qt::MiddleButton, Qt::NoModifier);
  QApplication::sendEvent(&canvas(), &move);
  EXPECT_EQ(SnapshotOf(scene).target, (Point2{300, 220}));
  QTest::mouseRelease(&canvas(), Qt::MiddleButton, Qt::NoModifier, QPoint(310, 230));
  EXPECT_EQ(SnapshotOf(scene).target, (Point2{310, 230}));
  // The aim stayed where it was.
  EXPECT_EQ(SnapshotOf(scene).aim, ToPoint2(kDefaultAim));
}

TEST_F(MainWindowTest, ExportedPngIsTheCanvasPixelForPixel) {
  scene.PrepareFrame();
  WaitUntilDone(scene);
  window->Tick();
  const QString path = Path("frame.png");
  ASSERT_TRUE(window->ExportImage(path));
  const QImage exported(path);
  EXPECT_EQ(exported.convertToFormat(QImage::Format_RGB32),
            canvas().grab().toImage().convertToFormat(QImage::Format_RGB32));
  const QString svg = Path("frame.svg");
  ASSERT_TRUE(window->ExportImage(svg));
  QFile file(svg);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().contains("<svg"));
  EXPECT_FALSE(window->ExportImage(Path("frame.bmp")));
  EXPECT_EQ(errors.size(), 1u);
}

// A population as bits: every vertex and score, and which one is best.
std::vector<std::uint64_t> BitsOf(SceneState& state) {
  const Population* population = nullptr;
  state.currentOptimizer->LockState(&population, nullptr);
  std::vector<std::uint64_t> bits{static_cast<std::uint64_t>(population->bestIndex)};
  for (const Candidate& candidate : population->candidates) {
    bits.push_back(std::bit_cast<std::uint64_t>(candidate.score));
    for (const Point2 p : candidate.vertices) {
      bits.push_back(std::bit_cast<std::uint64_t>(p.x));
      bits.push_back(std::bit_cast<std::uint64_t>(p.y));
    }
  }
  state.currentOptimizer->UnlockState();
  return bits;
}

// File > Open takes a checkpoint too: the run goes on where it stopped and
// ends with the bits of the run it was saved from; Save never writes a scene
// over the checkpoint.
TEST_F(MainWindowTest, AnOpenedCheckpointGoesOnAsItsRunWouldHave) {
  // A mirror of 3000 vertices, so that the run is paused well before its end.
  std::string text = "{\"reflector\": [";
  for (int i = 0; i < 3000; ++i) {
    text += (i ? ", [" : "[") + std::to_string(491 + 3 * (i % 3)) + ", " + std::to_string(52 + i / 12) + "]";
  }
  text += "]}";
  WriteFile(Path("large.json"), text.c_str());
  ASSERT_TRUE(window->OpenScene(Path("large.json")));
  // Paused after its first generation at least: a checkpoint of generation 0
  // would be its scene again, and prove nothing about going on.
  while (scene.currentOptimizer->CompletedGenerations() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  window->SetPaused(true);
  scene.WaitUntilPaused();
  const QString checkpoint = Path("run.json");
  ASSERT_TRUE(window->SaveCheckpoint(checkpoint));
  const std::uint32_t savedAt = scene.currentOptimizer->CompletedGenerations();
  ASSERT_LT(savedAt, kGenerations);
  window->SetPaused(false);
  WaitUntilDone(scene);
  const std::vector<std::uint64_t> straight = BitsOf(scene);

  // Saved after a generation, the checkpoint is large enough to be read in the
  // background. The run goes on as soon as it is open, so look at once (not
  // after qWaitFor's 10 ms sleeps).
  ASSERT_TRUE(window->OpenScene(checkpoint));
  for (int i = 0; i < 20000 && window->Opening(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QCoreApplication::processEvents();
  }
  ASSERT_FALSE(window->Opening());
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), savedAt);
  WaitUntilDone(scene);
  window->Tick();
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), kGenerations);
  EXPECT_EQ(BitsOf(scene), straight) << "resumed at generation " << savedAt;
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("run.json \u2014 Reflector Lab"));
  EXPECT_EQ(window->SeedLine(), QStringLiteral("seed 1"));
  EXPECT_TRUE(window->StatusLine().startsWith("Finished | generation 40")) << window->StatusLine().toStdString();

  // An edit, then Save when asked: a file is asked for, since the one open is
  // a checkpoint (no file given here: nothing is written, and nothing goes on).
  QTest::mousePress(&canvas(), Qt::LeftButton, Qt::NoModifier, QPoint(120, 300));
  QTest::mouseRelease(&canvas(), Qt::LeftButton, Qt::NoModifier, QPoint(120, 300));
  QFile before(checkpoint);
  ASSERT_TRUE(before.open(QIODevice::ReadOnly));
  const QByteArray bytes = before.readAll();
  window->askAboutChanges_ = [] { return MainWindow::UnsavedChoice::kSave; };
  // The file dialog, once it shows: closed without a name.
  QTimer closer;
  int dialogs = 0;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible()) {
        ++dialogs;
        dialog->reject();
      }
    }
  });
  closer.start(20);
  EXPECT_FALSE(window->MaybeKeepChanges());
  closer.stop();
  EXPECT_EQ(dialogs, 1);
  QFile after(checkpoint);
  ASSERT_TRUE(after.open(QIODevice::ReadOnly));
  EXPECT_EQ(after.readAll(), bytes);
}

// The mirror, source, target and seed count as the scene; the aim, which
// follows the pointer, does not. A change shows in the title, and closing,
// opening or resetting asks first: Cancel keeps everything, Save writes the
// scene's file, Discard goes on.
TEST_F(MainWindowTest, AnUnsavedChangeIsMarkedAndAskedAboutFirst) {
  scene.PrepareFrame();
  window->Tick();
  EXPECT_FALSE(window->HasUnsavedChanges());
  EXPECT_EQ(window->SeedLine(), QStringLiteral("seed 1"));
  QMouseEvent move(QEvent::MouseMove, QPointF(400, 260), canvas().mapToGlobal(QPointF(400, 260)),
                   Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&canvas(), &move);
  window->Tick();
  EXPECT_FALSE(window->HasUnsavedChanges()) << "the aim alone is no edit";
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Untitled \u2014 Reflector Lab"));

  QTest::mousePress(&canvas(), Qt::LeftButton, Qt::NoModifier, QPoint(120, 300));
  QTest::mouseRelease(&canvas(), Qt::LeftButton, Qt::NoModifier, QPoint(120, 300));
  window->Tick();
  EXPECT_TRUE(window->HasUnsavedChanges());
  EXPECT_TRUE(window->isWindowModified());
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Untitled* \u2014 Reflector Lab"));

  int asked = 0;
  MainWindow::UnsavedChoice answer = MainWindow::UnsavedChoice::kCancel;
  window->askAboutChanges_ = [&] {
    ++asked;
    return answer;
  };
  EXPECT_FALSE(window->close());
  FindAction(*window, "Reset to Default Scene")->trigger();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(SnapshotOf(scene).source, (Point2{120, 300})) << "Cancel must keep the scene";

  // Save, with a file to save to: the file holds the change, and nothing is
  // unsaved any more.
  window->SetSceneFile(Path("kept.json"));
  answer = MainWindow::UnsavedChoice::kSave;
  EXPECT_TRUE(window->MaybeKeepChanges());
  SceneDescription kept;
  std::string error;
  ASSERT_TRUE(LoadSceneFile(Path("kept.json").toStdString(), kept, error)) << error;
  EXPECT_EQ(kept.source, (Point2{120, 300}));
  EXPECT_FALSE(window->HasUnsavedChanges());
  EXPECT_EQ(window->windowTitle(), QString::fromUtf8("kept.json \u2014 Reflector Lab"));
  EXPECT_TRUE(window->MaybeKeepChanges());
  EXPECT_EQ(asked, 3) << "nothing unsaved: no question";

  // A new seed is a change too, and the status bar names it; Discard goes on.
  scene.RestartOptimizer(7);
  window->Tick();
  EXPECT_EQ(window->SeedLine(), QStringLiteral("seed 7"));
  EXPECT_TRUE(window->HasUnsavedChanges());
  answer = MainWindow::UnsavedChoice::kDiscard;
  FindAction(*window, "Reset to Default Scene")->trigger();
  EXPECT_EQ(asked, 4);
  EXPECT_EQ(SnapshotOf(scene).source, ToPoint2(kDefaultSource));
  EXPECT_FALSE(window->HasUnsavedChanges());
}

// Run > Speed paces the run, Step (.) and Continue (Ctrl+Return) reach the
// scene's own; what they compute is checked with the scene state.
TEST_F(MainWindowTest, TeachingControlsAreInTheRunMenu) {
  EXPECT_EQ(FindAction(*window, "Step")->shortcut(), QKeySequence(Qt::Key_Period));
  EXPECT_EQ(FindAction(*window, "Continue")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Return));
  QAction* full = FindAction(*window, "Full Speed");
  QAction* slowest = FindAction(*window, "1 Generation a Second");
  EXPECT_TRUE(full->isChecked());
  slowest->trigger();
  EXPECT_EQ(scene.pace(), 1u);
  EXPECT_FALSE(full->isChecked());
  FindAction(*window, "100 Generations a Second")->trigger();
  EXPECT_EQ(scene.pace(), 100u);
  EXPECT_FALSE(slowest->isChecked());

  // A finished run goes on for another limit's worth.
  full->trigger();
  scene.PrepareFrame();
  WaitUntilDone(scene);
  FindAction(*window, "Continue")->trigger();
  WaitUntilDone(scene);
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), 2 * kGenerations);
  // Paused, Step does one generation.
  window->SetPaused(true);
  FindAction(*window, "Step")->trigger();
  WaitUntilDone(scene);
  EXPECT_EQ(scene.currentOptimizer->CompletedGenerations(), 2 * kGenerations);  // at the limit
}

// The plot names the scene and the seed, reads out the generation under
// the pointer from the run's own rows, and takes the scale asked for.
TEST_F(MainWindowTest, ThePlotNamesItsRunAndReadsOutTheHoveredGeneration) {
  scene.PrepareFrame();
  WaitUntilDone(scene);
  window->plot()->resize(360, 300);
  window->Tick();
  PlotWidget& plot = *window->plot();
  EXPECT_EQ(plot.title(), QStringLiteral("Convergence: Untitled, seed 1"));
  const int x = plot.XOfGeneration(20);
  QMouseEvent move(QEvent::MouseMove, QPointF(x, 150), plot.mapToGlobal(QPointF(x, 150)), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&plot, &move);
  ASSERT_EQ(plot.hovered(), std::optional<std::uint32_t>(20));
  const std::optional<GenerationScores> row = plot.rowAt_(20);
  ASSERT_TRUE(row.has_value());
  const OptimizerState state = CopyState(*scene.currentOptimizer);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(row->best),
            std::bit_cast<std::uint64_t>(state.record.history[20 - state.record.firstGeneration].best));
  EXPECT_FALSE(plot.rowAt_(kGenerations + 1).has_value());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&plot, &leave);
  EXPECT_FALSE(plot.hovered().has_value());

  FindAction(*window, "Logarithmic")->trigger();
  EXPECT_TRUE(plot.data().logScale);
  FindAction(*window, "Linear")->trigger();
  EXPECT_FALSE(plot.data().logScale);
}

TEST(MainWindowFiles, ANameTypedWithoutASuffixGetsJson) {
  EXPECT_EQ(MainWindow::WithJsonSuffix(QStringLiteral("/tmp/name")), QStringLiteral("/tmp/name.json"));
  EXPECT_EQ(MainWindow::WithJsonSuffix(QStringLiteral("/tmp/a.b/name")), QStringLiteral("/tmp/a.b/name.json"));
  EXPECT_EQ(MainWindow::WithJsonSuffix(QStringLiteral("/tmp/name.json")), QStringLiteral("/tmp/name.json"));
  EXPECT_EQ(MainWindow::WithJsonSuffix(QStringLiteral("/tmp/name.scene")), QStringLiteral("/tmp/name.scene"));
}

}  // namespace
}  // namespace reflector
