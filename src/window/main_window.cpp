#include "window/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QInputDialog>
#include <QLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QPainter>
#include <QSettings>
#include <QShortcut>
#include <QStatusBar>
#include <QSvgGenerator>
#include <QTimer>
#include <QUndoStack>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <span>
#include <array>
#include <charconv>
#include <utility>

#include "formats/checkpoint.h"
#include "formats/opened_file.h"
#include "formats/output_file.h"
#include "formats/scene_file.h"
#include "formats/scene_writer.h"
#include "geometry/random.h"
#include "window/algorithm_menu.h"
#include "window/canvas_widget.h"
#include "window/convergence_plot.h"
#include "window/edit_history.h"
#include "window/plot_dock.h"
#include "window/status_text.h"

namespace reflector {

namespace {

constexpr const char* kProgramName = "Reflector Lab";
constexpr std::array<double, 8> kZoomSteps = {0.5, 0.75, 1.0, 1.25, 1.5, 2.0, 3.0, 4.0};
constexpr int kPlotExportWidth = 900;
constexpr int kPlotExportHeight = 560;

const QString kSceneFilter = QStringLiteral("Scenes (*.json);;All files (*)");

std::string ToStd(const QString& text) { return text.toUtf8().toStdString(); }
QString FromStd(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

bool HasSuffix(const QString& path, const char* suffix) {
  return QFileInfo(path).suffix().compare(QLatin1String(suffix), Qt::CaseInsensitive) == 0;
}

// The scene a run was started on, with the seed it started from.
SceneDescription SceneOfSnapshot(const SceneSnapshot& snapshot, std::uint32_t seed) {
  SceneDescription scene;
  scene.reflector = snapshot.vertices;
  scene.source = snapshot.source;
  scene.aim = snapshot.aim;
  scene.target = snapshot.target;
  scene.seed = seed;
  return scene;
}

}  // namespace

MainWindow::MainWindow(SceneState& scene, QSettings* settings, QWidget* parent)
    : QMainWindow(parent),
      scene_(scene),
      settings_(settings),
      canvas_(new CanvasWidget(scene, this)),
      plot_(new PlotWidget(this)),
      plotDock_(new QDockWidget(tr("Convergence"), this)),
      statusLabel_(new QLabel(this)),
      frameTimer_(new QTimer(this)),
      loadingTimer_(new QTimer(this)) {
  setCentralWidget(canvas_);
  plotDock_->setObjectName(QStringLiteral("convergenceDock"));
  plotDock_->setWidget(plot_);
  addDockWidget(Qt::RightDockWidgetArea, plotDock_);
  statusBar()->addWidget(statusLabel_, 1);
  // The seed at the right, apart from the run's progress: what repeats the run.
  seedLabel_ = new QLabel(this);
  statusBar()->addPermanentWidget(seedLabel_);
  setAcceptDrops(true);
  history_ = new EditHistory(
      [this] {
        return EditState{scene_.CaptureRun(), sceneFile_, sceneFileIsCheckpoint_, savedScene_};
      },
      [this](EditState state) {
        scene_.RestoreRun(std::move(state.run));
        sceneFile_ = std::move(state.file);
        sceneFileIsCheckpoint_ = state.fileIsCheckpoint;
        savedScene_ = std::move(state.savedScene);
        plot_->CancelPick();
        UpdateTitle();
        if (pauseAction_) pauseAction_->setChecked(scene_.paused());
        ShowAlgorithmChoice();
      },
      this);
  scene_.beforeRestart_ = [this](RestartCause cause) { history_->RecordRestart(cause); };
  plot_->rowAt_ = [this](std::uint32_t generation) -> std::optional<GenerationScores> {
    if (scene_.otherRun()) {
      const std::vector<GenerationScores>& rows = scene_.otherView().record.history;
      if (generation < 1 || generation > rows.size()) return std::nullopt;
      return rows[generation - 1];
    }
    if (!scene_.currentOptimizer) return std::nullopt;
    std::optional<GenerationScores> row;
    const RunRecord* record = nullptr;
    scene_.currentOptimizer->LockState(nullptr, nullptr, &record);
    if (generation >= record->firstGeneration && generation - record->firstGeneration < record->history.size()) {
      row = record->history[generation - record->firstGeneration];
    }
    scene_.currentOptimizer->UnlockState();
    return row;
  };
  CreateMenus();

  connect(plot_, &PlotWidget::generationPicked, this, &MainWindow::ShowGeneration);
  connect(plot_, &PlotWidget::dragEnded, this, &MainWindow::ReturnToLive);
  connect(canvas_, &CanvasWidget::editFinished, this, [this](const QString& name) {
    // The edit and the restart it causes are one step.
    history_->Named(name, [this] {
      scene_.running = true;
      scene_.RestartOptimizer();
    });
  });
  connect(canvas_, &CanvasWidget::notice, this,
          [this](const QString& text) { statusBar()->showMessage(text, 4000); });
  connect(canvas_, &CanvasWidget::escapePressed, this, [this] {
    plot_->CancelPick();
    ReturnToLive();
  });

  // The canvas opens at its own size, the dock beside it (adjustSize would
  // cap the window at two thirds of the screen).
  resize(sizeHint());
  layout()->activate();
  if (settings_) {
    restoreGeometry(settings_->value(QStringLiteral("window/geometry")).toByteArray());
    restoreState(settings_->value(QStringLiteral("window/state")).toByteArray());
    recentFiles_ = settings_->value(QStringLiteral("recentFiles")).toStringList();
    RebuildRecentMenu();
    ViewMapping view;
    view.zoom = settings_->value(QStringLiteral("view/zoom"), 1.0).toDouble();
    view.origin.x = settings_->value(QStringLiteral("view/originX"), 0.0).toDouble();
    view.origin.y = settings_->value(QStringLiteral("view/originY"), 0.0).toDouble();
    if (std::isfinite(view.zoom) && view.zoom >= ViewMapping::kMinZoom && view.zoom <= ViewMapping::kMaxZoom &&
        std::isfinite(view.origin.x) && std::isfinite(view.origin.y)) {
      canvas_->SetMapping(view);
    }
    beamAction_->setChecked(settings_->value(QStringLiteral("view/incomingBeam"), false).toBool());
    // The algorithm last chosen, if this build has it; the window opens on
    // its run, which is no step to undo.
    const std::string algorithm =
        ToStd(settings_->value(QStringLiteral("run/algorithm"), QLatin1String(kBuiltInAlgorithm)).toString());
    if (algorithm != scene_.algorithm() && AlgorithmOffered(algorithm)) {
      scene_.SetAlgorithm(algorithm);
      if (scene_.currentOptimizer || scene_.otherRun()) {
        auto record = std::move(scene_.beforeRestart_);
        scene_.beforeRestart_ = nullptr;
        scene_.RestartOptimizer(ShownSeed());
        scene_.beforeRestart_ = std::move(record);
      }
      ShowAlgorithmChoice();
    }
  }
  UpdateTitle();
  canvas_->setFocus();

  clock_.start();
  frameTimer_->setInterval(kFrameIntervalMs);
  connect(frameTimer_, &QTimer::timeout, this, &MainWindow::Tick);
  frameTimer_->start();
  loadingTimer_->setInterval(50);
  connect(loadingTimer_, &QTimer::timeout, this, &MainWindow::FinishOpening);
  // The first frame is set up before anything can paint it.
  scene_.PrepareFrame();
  // The scene as it starts is the one nothing needs saving of.
  savedScene_ = scene_.Describe();
  UpdateTitle();
}

MainWindow::~MainWindow() {
  // The scene outlives the window and its history; the history goes first,
  // while the window its signals reach is whole.
  scene_.beforeRestart_ = nullptr;
  scene_.StopOtherRun();
  delete history_;
  history_ = nullptr;
}

void MainWindow::Undo() {
  if (scene_.drawing) {
    scene_.CancelDrawing();
    return;
  }
  history_->stack()->undo();
}

void MainWindow::Redo() {
  if (scene_.drawing) return;
  history_->stack()->redo();
}

void MainWindow::AdoptBestMirror() {
  if ((!scene_.currentOptimizer && !scene_.otherRun()) || scene_.drawing) return;
  std::optional<std::vector<Point2>> best;
  if (scene_.otherRun()) {
    // The best so far, as shown.
    if (scene_.otherView().record.bestEver) best = scene_.otherView().record.bestEver->vertices;
  } else {
    const RunRecord* record = nullptr;
    scene_.currentOptimizer->LockState(nullptr, nullptr, &record);
    if (record->bestEver) best = record->bestEver->vertices;
    scene_.currentOptimizer->UnlockState();
  }
  if (!best) {
    statusBar()->showMessage(tr("No best mirror yet: the run has not finished a generation"), 4000);
    return;
  }
  history_->Named(tr("Adopt Best Mirror"), [&] {
    scene_.reflector.clear();
    for (Point2 p : *best) scene_.reflector.push_back(ToScreenPoint(p));
    scene_.RestartOptimizer();
  });
}

void MainWindow::CreateMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(tr("&Open Scene..."), QKeySequence::Open, this, [this] {
    if (!MaybeKeepChanges()) return;
    const QString path = AskForFile(false, tr("Open Scene"), kSceneFilter);
    if (!path.isEmpty()) OpenScene(path);
  });
  recentMenu_ = file->addMenu(tr("Open &Recent"));
  RebuildRecentMenu();
  file->addSeparator();
  file->addAction(tr("&Save Scene..."), QKeySequence::Save, this, [this] {
    const QString path = AskForFile(true, tr("Save Scene"), kSceneFilter);
    if (!path.isEmpty()) SaveScene(WithJsonSuffix(path));
  });
  checkpointAction_ = file->addAction(tr("Save &Checkpoint..."), this, [this] {
    const QString path = AskForFile(true, tr("Save Checkpoint"), kSceneFilter);
    if (!path.isEmpty()) SaveCheckpoint(WithJsonSuffix(path));
  });
  file->addSeparator();
  file->addAction(tr("&Export Image..."), QKeySequence(Qt::CTRL | Qt::Key_E), this, [this] {
    const QString path = AskForFile(true, tr("Export Image"), tr("Images (*.png *.svg)"));
    if (!path.isEmpty()) ExportImage(path);
  });
  file->addAction(tr("Export Convergence &Plot..."), this, [this] {
    const QString path = AskForFile(true, tr("Export Convergence Plot"), tr("Images (*.png *.svg)"));
    if (!path.isEmpty()) ExportPlot(path);
  });
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  undoAction_ = edit->addAction(tr("&Undo"), this, &MainWindow::Undo);
  undoAction_->setShortcut(QKeySequence::Undo);
  redoAction_ = edit->addAction(tr("&Redo"), this, &MainWindow::Redo);
  redoAction_->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  // Their texts name the step, as the stack names it.
  connect(history_->stack(), &QUndoStack::undoTextChanged, this, [this](const QString& text) {
    undoAction_->setText(text.isEmpty() ? tr("&Undo") : tr("&Undo %1").arg(text));
  });
  connect(history_->stack(), &QUndoStack::redoTextChanged, this, [this](const QString& text) {
    redoAction_->setText(text.isEmpty() ? tr("&Redo") : tr("&Redo %1").arg(text));
  });
  undoAction_->setEnabled(false);
  redoAction_->setEnabled(false);
  edit->addSeparator();
  editAction_ = edit->addAction(tr("&Edit Mirror"));
  editAction_->setCheckable(true);
  editAction_->setShortcut(Qt::Key_E);
  connect(editAction_, &QAction::toggled, this, &MainWindow::SetEditing);

  QMenu* run = menuBar()->addMenu(tr("&Run"));
  // The canvas forwards the space bar itself (auto-repeat included); the menu
  // entry is for the mouse.
  QAction* restart = run->addAction(tr("&Restart"), this, [this] { scene_.RestartOptimizer(); });
  restart->setShortcut(Qt::Key_Space);
  restart->setShortcutContext(Qt::WidgetShortcut);
  pauseAction_ = run->addAction(tr("&Pause"));
  pauseAction_->setCheckable(true);
  pauseAction_->setShortcut(Qt::Key_P);
  connect(pauseAction_, &QAction::triggered, this, &MainWindow::SetPaused);
  aimAction_ = run->addAction(tr("&Aim Follows Pointer"));
  aimAction_->setCheckable(true);
  aimAction_->setChecked(scene_.aimFollowsPointer_);
  aimAction_->setShortcut(Qt::Key_A);
  connect(aimAction_, &QAction::toggled, this, [this](bool on) { scene_.aimFollowsPointer_ = on; });
  // For watching a run: slower, one generation at a time, and on past the
  // limit. None changes a bit of what the run computes.
  QMenu* speed = run->addMenu(tr("Spee&d"));
  speedMenu_ = speed;
  auto* speeds = new QActionGroup(this);
  const std::pair<QString, std::uint32_t> paces[] = {
      {tr("&Full Speed"), 0},
      {tr("1000 Generations a Second"), 1000},
      {tr("100 Generations a Second"), 100},
      {tr("10 Generations a Second"), 10},
      {tr("1 Generation a Second"), 1}};
  for (const auto& entry : paces) {
    const std::uint32_t pace = entry.second;
    QAction* action = speed->addAction(entry.first);
    action->setCheckable(true);
    action->setChecked(pace == scene_.pace());
    speeds->addAction(action);
    connect(action, &QAction::triggered, this, [this, pace] { scene_.SetPace(pace); });
  }
  stepAction_ = run->addAction(tr("S&tep"), QKeySequence(Qt::Key_Period), this, [this] { scene_.Step(); });
  continueAction_ = run->addAction(tr("&Continue"), QKeySequence(Qt::CTRL | Qt::Key_Return), this,
                                   [this] { scene_.Continue(); });
  run->addAction(tr("Adopt &Best Mirror"), QKeySequence(Qt::CTRL | Qt::Key_B), this,
                 &MainWindow::AdoptBestMirror);
  run->addSeparator();
  run->addAction(tr("Reset to &Default Scene"), this, [this] {
    if (MaybeKeepChanges()) ResetScene();
  });
  run->addAction(tr("&Seed..."), this, &MainWindow::AskForSeed);
  run->addSeparator();
  algorithmGroup_ = AddAlgorithmMenu(run, [this](const std::string& name) { ChooseAlgorithm(name); });

  QMenu* view = menuBar()->addMenu(tr("&View"));
  QAction* plotToggle = plotDock_->toggleViewAction();
  plotToggle->setText(tr("&Convergence Plot"));
  view->addAction(plotToggle);
  view->addSeparator();
  view->addAction(tr("Zoom &In"), QKeySequence::ZoomIn, this, [this] {
    for (double step : kZoomSteps) {
      if (step > canvas_->view().zoom() * 1.0001) return SetZoom(step);
    }
  });
  view->addAction(tr("Zoom &Out"), QKeySequence::ZoomOut, this, [this] {
    for (auto step = kZoomSteps.rbegin(); step != kZoomSteps.rend(); ++step) {
      if (*step < canvas_->view().zoom() / 1.0001) return SetZoom(*step);
    }
  });
  view->addAction(tr("&Actual Size"), QKeySequence(Qt::CTRL | Qt::Key_0), this, [this] {
    canvas_->SetMapping(ViewMapping{});
    statusBar()->showMessage(tr("Zoom 100%"), 2000);
  });
  view->addAction(tr("&Fit Scene"), QKeySequence(Qt::Key_Home), this, &MainWindow::FitScene);
  beamAction_ = view->addAction(tr("&Incoming Beam"));
  beamAction_->setCheckable(true);
  connect(beamAction_, &QAction::toggled, canvas_, &CanvasWidget::SetIncomingBeam);
  QMenu* scales = view->addMenu(tr("Plot &Scale"));
  auto* scaleGroup = new QActionGroup(this);
  const std::pair<QString, PlotScale> scaleChoices[] = {{tr("&Automatic"), PlotScale::kAuto},
                                                        {tr("&Linear"), PlotScale::kLinear},
                                                        {tr("L&ogarithmic"), PlotScale::kLog}};
  for (const auto& choice : scaleChoices) {
    const PlotScale scale = choice.second;
    QAction* action = scales->addAction(choice.first);
    action->setCheckable(true);
    action->setChecked(scale == plotScale_);
    scaleGroup->addAction(action);
    connect(action, &QAction::triggered, this, [this, scale] { SetPlotScale(scale); });
  }
  smoothAction_ = view->addAction(tr("&Smooth Lines"));
  smoothAction_->setCheckable(true);
  connect(smoothAction_, &QAction::toggled, canvas_, &CanvasWidget::SetSmooth);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(tr("&Controls"), QKeySequence::HelpContents, this, &MainWindow::ShowControls);
  help->addAction(tr("&About Reflector Lab"), this, &MainWindow::ShowAbout);
}

void MainWindow::SetZoom(double zoom) {
  canvas_->ZoomAboutCentre(zoom);
  statusBar()->showMessage(tr("Zoom %1%").arg(qRound(zoom * 100)), 2000);
}

void MainWindow::SetEditing(bool editing) {
  canvas_->SetEditing(editing);
  if (editAction_->isChecked() != editing) editAction_->setChecked(editing);
  statusBar()->showMessage(editing ? tr("Editing: drag a vertex, the source or the target (Shift snaps "
                                        "to 10 pixels); double-click a segment to add a vertex, Delete "
                                        "removes the one under the pointer; drag elsewhere to pan")
                                   : tr("Editing ended"),
                           editing ? 8000 : 2000);
}

SceneBox MainWindow::SceneExtent(bool withBestMirror) const {
  SceneBox box;
  box.Add(std::span<const ScreenPoint>(scene_.reflector));
  box.Add(ToPoint2(scene_.source));
  box.Add(ToPoint2(scene_.target));
  box.Add(ToPoint2(scene_.aim));
  if (withBestMirror && scene_.otherRun() && scene_.running) {
    for (const Candidate& shown : scene_.otherView().population.candidates) {
      box.Add(std::span<const Point2>(shown.vertices));
    }
  } else if (withBestMirror && scene_.currentOptimizer && scene_.running) {
    const Population* population = nullptr;
    scene_.currentOptimizer->LockState(&population, nullptr);
    const int best = population->bestIndex >= 0 ? population->bestIndex : 0;
    if (static_cast<std::size_t>(best) < population->candidates.size()) {
      box.Add(std::span<const Point2>(population->candidates[static_cast<std::size_t>(best)].vertices));
    }
    scene_.currentOptimizer->UnlockState();
  }
  return box;
}

void MainWindow::FitScene() {
  // Beyond the discs' radius and the labels' first row.
  constexpr double kMargin = 30.0;
  canvas_->SetMapping(FitView(SceneExtent(), canvas_->width(), canvas_->height(), kMargin));
  statusBar()->showMessage(tr("Zoom %1%").arg(qRound(canvas_->view().zoom() * 100)), 2000);
}

void MainWindow::FitIfOutside() {
  const ViewMapping& view = canvas_->view().mapping;
  const Point2 low = view.origin;
  const Point2 high = view.ToScene({static_cast<double>(canvas_->width()), static_cast<double>(canvas_->height())});
  if (!SceneExtent().Inside(low, high)) FitScene();
}

void MainWindow::UpdateTitle() {
  const QString name = sceneFile_.isEmpty() ? tr("Untitled") : QFileInfo(sceneFile_).fileName();
  setWindowModified(HasUnsavedChanges());
  // The modified marker after the name, as editors show it.
  const QString marker = isWindowModified() ? QStringLiteral("*") : QString();
  setWindowTitle(QStringLiteral("%1%2 \u2014 %3").arg(name, marker, QLatin1String(kProgramName)));
}

QString MainWindow::WithJsonSuffix(const QString& path) {
  return QFileInfo(path).suffix().isEmpty() ? path + QStringLiteral(".json") : path;
}

bool MainWindow::HasUnsavedChanges() const {
  const SceneDescription now = scene_.Describe();
  return now.reflector != savedScene_.reflector || now.source != savedScene_.source ||
         now.target != savedScene_.target || now.seed != savedScene_.seed;
}

bool MainWindow::MaybeKeepChanges() {
  if (!HasUnsavedChanges()) return true;
  UnsavedChoice choice = UnsavedChoice::kCancel;
  if (askAboutChanges_) {
    choice = askAboutChanges_();
  } else {
    const QString name = sceneFile_.isEmpty() ? tr("Untitled") : QFileInfo(sceneFile_).fileName();
    QMessageBox box(QMessageBox::Warning, tr("Unsaved Changes"),
                    tr("The scene %1 has changes that are not saved.").arg(name), QMessageBox::NoButton,
                    this);
    box.setInformativeText(tr("Save them before going on?"));
    // Own buttons, for mnemonics: Alt+S, Alt+D; Escape cancels.
    QPushButton* save = box.addButton(tr("&Save"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(tr("&Discard"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save) choice = UnsavedChoice::kSave;
    if (box.clickedButton() == discard) choice = UnsavedChoice::kDiscard;
  }
  switch (choice) {
    case UnsavedChoice::kDiscard: return true;
    case UnsavedChoice::kCancel: return false;
    case UnsavedChoice::kSave: break;
  }
  QString path = sceneFileIsCheckpoint_ ? QString() : sceneFile_;
  if (path.isEmpty()) {
    path = AskForFile(true, tr("Save Scene"), kSceneFilter);
    if (path.isEmpty()) return false;
    path = WithJsonSuffix(path);
  }
  return SaveScene(path);
}

void MainWindow::ShowError(const QString& title, const QString& text) {
  if (showError_) return showError_(title, text);
  // Window-modal without blocking: the run and the tick go on behind it.
  auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

QString MainWindow::AskForFile(bool save, const QString& title, const QString& filter) {
  const QString start = sceneFile_.isEmpty() ? QString() : QFileInfo(sceneFile_).absolutePath();
  const auto options = QFileDialog::DontUseNativeDialog;
  return save ? QFileDialog::getSaveFileName(this, title, start, filter, nullptr, options)
              : QFileDialog::getOpenFileName(this, title, start, filter, nullptr, options);
}

bool MainWindow::WriteBytes(const QString& path, std::string_view bytes, const QString& what) {
  std::string error;
  // To a temporary file renamed over the target: a failure leaves the old file.
  if (!WriteOutputFile(ToStd(path), bytes, error)) {
    ShowError(tr("Cannot save %1").arg(what), FromStd(error));
    return false;
  }
  statusBar()->showMessage(tr("Saved %1 to %2").arg(what, path), 4000);
  return true;
}

bool MainWindow::OpenScene(const QString& path) {
  const QFileInfo info(path);
  CancelOpening();  // one opening at a time: the latest asked for
  // Large files, and pipes (whose writer may take its time), are read in the
  // background; small files and names that fail at once, here.
  const bool background = info.exists() && !info.isDir() &&
                          (!info.isFile() || info.size() >= kOpenInBackgroundFrom);
  if (!background) {
    OpenedFile opened;
    std::string error;
    if (!LoadSceneOrCheckpointFile(ToStd(path), opened, error)) {
      ShowError(tr("Cannot open the scene"), FromStd(error));
      return false;
    }
    if (opened.checkpoint) {
      UseCheckpoint(std::move(*opened.checkpoint), path);
    } else {
      UseScene(opened.scene, path);
    }
    return true;
  }
  // Large: read on another thread, so that the window keeps drawing, Cancel
  // works and Ctrl+Q quits at once.
  loading_ = std::make_unique<BackgroundSceneLoad>(ToStd(path));
  auto* dialog = new QProgressDialog(tr("Opening %1\u2026").arg(info.fileName()), tr("Cancel"), 0, 0, this);
  dialog->setWindowTitle(tr("Open Scene"));
  dialog->setWindowModality(Qt::WindowModal);
  dialog->setMinimumDuration(300);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog, &QProgressDialog::canceled, this, &MainWindow::CancelOpening);
  auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), dialog);
  connect(quit, &QShortcut::activated, this, [this] {
    CancelOpening();
    close();
  });
  loadingDialog_ = dialog;
  loadingTimer_->start();
  return true;
}

void MainWindow::FinishOpening() {
  if (!loading_ || !loading_->Finished()) return;
  const std::unique_ptr<BackgroundSceneLoad> loaded = std::move(loading_);
  loadingTimer_->stop();
  if (loadingDialog_) loadingDialog_->close();
  if (loaded->Succeeded() && loaded->Resumed()) {
    UseCheckpoint(*loaded->Resumed(), FromStd(loaded->Path()));
  } else if (loaded->Succeeded()) {
    UseScene(loaded->Scene(), FromStd(loaded->Path()));
  } else {
    ShowError(tr("Cannot open the scene"), FromStd(loaded->Error()));
  }
}

void MainWindow::CancelOpening() {
  if (!loading_) return;
  loadingTimer_->stop();
  loading_.reset();  // stops the reading within a moment
  if (loadingDialog_) {
    // Closing a dialog whose Cancel was pressed is harmless; its canceled
    // signal does not come again.
    QProgressDialog* dialog = loadingDialog_;
    loadingDialog_ = nullptr;
    dialog->close();
  }
}

void MainWindow::UseScene(const SceneDescription& description, const QString& path) {
  // As the headless runner: the scene's own seed, else the start state.
  history_->Named(tr("Open Scene"),
                  [&] { scene_.LoadScene(description, description.seed.value_or(1)); });
  savedScene_ = scene_.Describe();
  SetSceneFile(path);
  FitIfOutside();
}

void MainWindow::UseCheckpoint(Checkpoint checkpoint, const QString& path) {
  const SceneDescription scene = checkpoint.scene;
  const std::uint32_t seed = checkpoint.seed;
  const std::uint32_t state = checkpoint.randomState;
  // A finished run stays finished: it shows its last population.
  const std::uint32_t limit = std::max(checkpoint.generationLimit, checkpoint.generations);
  history_->Named(tr("Open Checkpoint"), [&] {
    scene_.ResumeRun(scene, seed, state, limit, ResumedStart(std::move(checkpoint)));
  });
  savedScene_ = scene_.Describe();
  SetSceneFile(path, true);
  FitIfOutside();
}

void MainWindow::SetSceneFile(const QString& path, bool checkpoint) {
  sceneFileIsCheckpoint_ = checkpoint;
  sceneFile_ = QFileInfo(path).absoluteFilePath();
  AddRecentFile(sceneFile_);
  UpdateTitle();
}

bool MainWindow::SaveScene(const QString& path) {
  SceneDescription description = scene_.Describe();
  std::optional<std::vector<Point2>> best;
  if (const OtherOptimizerSession* other = scene_.otherRun()) {
    description = SceneOfSnapshot(other->snapshot(), other->seed());
    if (scene_.otherView().record.bestEver) best = scene_.otherView().record.bestEver->vertices;
  } else if (scene_.currentOptimizer) {
    const RunRecord* record = nullptr;
    const SceneSnapshot* snapshot = nullptr;
    scene_.currentOptimizer->LockState(nullptr, &snapshot, &record);
    // The run shown, which a drawing in progress has not replaced.
    description = SceneOfSnapshot(*snapshot, record->startState.value_or(scene_.runSeed_));
    if (record->bestEver) best = record->bestEver->vertices;
    scene_.currentOptimizer->UnlockState();
  }
  if (!WriteBytes(path, SceneToJson(description, best ? &*best : nullptr), tr("the scene"))) {
    return false;
  }
  savedScene_ = scene_.Describe();
  SetSceneFile(path);
  return true;
}

bool MainWindow::SaveCheckpoint(const QString& path) {
  if (scene_.otherRun()) {
    ShowError(tr("Cannot save a checkpoint"),
              FromStd(ToStd(path) + ": checkpoints hold the built-in scheme's runs, not " +
                      scene_.otherRun()->algorithm() + "'s"));
    return false;
  }
  if (!scene_.running || !scene_.currentOptimizer) {
    ShowError(tr("Cannot save a checkpoint"),
              FromStd(ToStd(path) + ": no run to save while drawing; start the run first"));
    return false;
  }
  // The generator's state belongs to a generation boundary: stop there, read
  // everything, and go on with the same bits.
  const bool wasPaused = scene_.paused();
  scene_.Pause();
  scene_.WaitUntilPaused();
  Checkpoint checkpoint;
  const Population* population = nullptr;
  const SceneSnapshot* snapshot = nullptr;
  const RunRecord* record = nullptr;
  scene_.currentOptimizer->LockState(&population, &snapshot, &record);
  checkpoint.seed = record->startState.value_or(scene_.runSeed_);
  checkpoint.scene = SceneOfSnapshot(*snapshot, checkpoint.seed);
  checkpoint.generations = record->completedGenerations;
  checkpoint.generationLimit = scene_.runGenerationLimit();
  // Where this run left the generator, which is not where the generator
  // stands when an undo has brought the run back after another one drew.
  checkpoint.randomState = record->boundaryState.value_or(RandomState());
  checkpoint.population = *population;
  checkpoint.bestEver = record->bestEver;
  scene_.currentOptimizer->UnlockState();
  if (!wasPaused) scene_.Resume();
  for (Candidate& candidate : checkpoint.population.candidates) candidate.rayRecords.clear();
  return WriteBytes(path, CheckpointToText(checkpoint), tr("the checkpoint"));
}

bool MainWindow::ExportImage(const QString& path) {
  if (HasSuffix(path, "svg")) {
    const QByteArray svg = canvas_->RenderSvg();
    return WriteBytes(path, std::string_view(svg.constData(), static_cast<std::size_t>(svg.size())),
                      tr("the image"));
  }
  if (!HasSuffix(path, "png")) {
    ShowError(tr("Cannot export the image"),
              FromStd(ToStd(path) + ": name the file .png or .svg"));
    return false;
  }
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!canvas_->RenderImage().save(&buffer, "PNG")) {
    ShowError(tr("Cannot export the image"), FromStd(ToStd(path) + ": cannot encode the frame as PNG"));
    return false;
  }
  return WriteBytes(path, std::string_view(png.constData(), static_cast<std::size_t>(png.size())),
                    tr("the image"));
}

bool MainWindow::ExportPlot(const QString& path) {
  const bool svg = HasSuffix(path, "svg");
  if (!svg && !HasSuffix(path, "png")) {
    ShowError(tr("Cannot export the plot"), FromStd(ToStd(path) + ": name the file .png or .svg"));
    return false;
  }
  RunRecord record;
  if (scene_.otherRun()) {
    record = scene_.otherView().record;
  } else if (scene_.currentOptimizer) {
    const RunRecord* live = nullptr;
    scene_.currentOptimizer->LockState(nullptr, nullptr, &live);
    record = *live;
    scene_.currentOptimizer->UnlockState();
  }
  const QString title = PlotTitle(record.startState.value_or(scene_.runSeed_));
  const QRect bounds(0, 0, kPlotExportWidth, kPlotExportHeight);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (svg) {
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(bounds.size());
    generator.setViewBox(bounds);
    QPainter painter(&generator);
    PaintConvergencePlot(painter, bounds, record, title, plotScale_);
  } else {
    QImage image(bounds.size(), QImage::Format_RGB32);
    {
      QPainter painter(&image);
      PaintConvergencePlot(painter, bounds, record, title, plotScale_);
    }
    image.save(&buffer, "PNG");
  }
  return WriteBytes(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                    tr("the plot"));
}

void MainWindow::ResetScene() {
  history_->Named(tr("Reset to Default Scene"), [&] { scene_.LoadScene(SceneDescription{}, 1); });
  savedScene_ = scene_.Describe();
  sceneFile_.clear();
  sceneFileIsCheckpoint_ = false;
  UpdateTitle();
}

void MainWindow::SetPaused(bool paused) {
  if (paused) scene_.Pause();
  else scene_.Resume();
  pauseAction_->setChecked(scene_.paused());
}

void MainWindow::ShowGeneration(std::uint32_t generation) {
  if (scene_.RewindTo(generation)) {
    plot_->SetMarker(generation);
    canvas_->repaint();
  }
}

void MainWindow::ReturnToLive() {
  if (!scene_.rewinding()) return;
  scene_.EndRewind();
  plot_->SetMarker(std::nullopt);
  canvas_->repaint();
}

void MainWindow::AskForSeed() {
  bool ok = false;
  const QString text = QInputDialog::getText(this, tr("Seed"),
                                             tr("Restart from generator state (0 to 4294967295):"),
                                             QLineEdit::Normal, QString::number(scene_.runSeed_), &ok);
  if (!ok) return;
  const std::string digits = ToStd(text.trimmed());
  std::uint32_t seed = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), seed);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
    ShowError(tr("Bad seed"), tr("A seed is a whole number from 0 to 4294967295, not '%1'").arg(text));
    return;
  }
  history_->Named(tr("New Seed"), [&] {
    scene_.running = true;
    scene_.drawing = false;
    scene_.RestartOptimizer(seed);
  });
}

void MainWindow::ShowControls() {
  auto* box = new QMessageBox(QMessageBox::NoIcon, tr("Controls"), QString(), QMessageBox::Close, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextFormat(Qt::RichText);
  box->setText(tr(
      "<h3>Mouse</h3>"
      "<p><b>Move</b>: the beam aims at the pointer and the run restarts (Run &rarr; Aim Follows "
      "Pointer, <b>A</b>, turns this off).<br>"
      "<b>Left click</b>: puts the beam's source there and optimises.<br>"
      "<b>Right click</b>: each release adds a vertex to a new mirror; left-click to optimise it.<br>"
      "<b>Middle drag</b> or <b>Ctrl + left drag</b>: moves the target.<br>"
      "<b>Click or drag on the plot</b>: shows the best mirror of that generation; hovering "
      "reads out its scores.<br>"
      "<b>Wheel</b> scrolls (<b>Shift</b>: sideways), <b>Ctrl + wheel</b> zooms about the pointer.</p>"
      "<h3>Editing mode (E)</h3>"
      "<p>Hovering restarts nothing. <b>Drag</b> a vertex, the source or the target to move it "
      "(<b>Shift</b> snaps to 10 pixels); <b>double-click</b> a segment to add a vertex; "
      "<b>Delete</b> removes the vertex under the pointer; drag empty canvas to pan.</p>"
      "<h3>Keys</h3>"
      "<p><b>Space</b> restart, <b>P</b> pause or resume, <b>A</b> aim follows pointer,<br>"
      "while drawing <b>Backspace</b> takes back a vertex and <b>Escape</b> cancels;<br>"
      "<b>Escape</b> returns from a shown generation to live.<br>"
      "<b>Ctrl+Z</b> undo (any restart too), <b>Ctrl+Shift+Z</b> or <b>Ctrl+Y</b> redo, "
      "<b>Ctrl+B</b> adopt the best mirror,<br>"
      "<b>.</b> one generation while paused, <b>Ctrl+Return</b> continue a finished run,<br>"
      "<b>Ctrl+O</b> open, <b>Ctrl+S</b> save, <b>Ctrl+E</b> export image, <b>Ctrl+Q</b> quit,<br>"
      "<b>Ctrl+plus</b>, <b>Ctrl+minus</b>, <b>Ctrl+0</b> zoom, <b>Home</b> fit the scene.</p>"
      "<h3>Colours</h3>"
      "<p>Green: your mirror. Red: the best candidate, with its reflected rays in yellow.<br>"
      "Yellow disc: the beam's source. Blue disc: the target. Left column: the ten "
      "candidates' scores (lower is better, * marks the best).</p>"));
  box->open();
}

void MainWindow::ShowAbout() {
  auto* box = new QMessageBox(QMessageBox::NoIcon, tr("About Reflector Lab"), QString(),
                              QMessageBox::Close, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setText(tr("<h3>Reflector Lab %1</h3>"
                  "<p>Evolves a mirror until a beam of 150 parallel rays focuses on a target.</p>"
                  "<p>Copyright © Reflector Lab developers. Free software under the MIT "
                  "licence: use, copy, change and share it, keeping the copyright notice. "
                  "It comes with no warranty.</p>")
                   .arg(QLatin1String(REFLECTOR_WINDOW_VERSION)));
  box->open();
}

void MainWindow::AddRecentFile(const QString& path) {
  recentFiles_.removeAll(path);
  recentFiles_.prepend(path);
  while (recentFiles_.size() > kRecentFileCount) recentFiles_.removeLast();
  if (settings_) settings_->setValue(QStringLiteral("recentFiles"), recentFiles_);
  RebuildRecentMenu();
}

void MainWindow::RebuildRecentMenu() {
  if (!recentMenu_) return;
  recentMenu_->clear();
  for (const QString& path : recentFiles_) {
    recentMenu_->addAction(QFileInfo(path).fileName(), this, [this, path] {
      if (MaybeKeepChanges()) OpenScene(path);
    })
        ->setToolTip(path);
  }
  recentMenu_->setEnabled(!recentFiles_.isEmpty());
}

std::optional<double> MainWindow::MeasureRate(std::uint32_t generation) {
  const void* optimizer = scene_.currentOptimizer.Get();
  if (optimizer != rateOptimizer_) {
    rateOptimizer_ = optimizer;
    rateSamples_.clear();
  }
  const qint64 now = clock_.elapsed();
  rateSamples_.emplace_back(now, generation);
  while (rateSamples_.size() > 2 && now - rateSamples_.front().first > 1000) rateSamples_.pop_front();
  const auto& [then, before] = rateSamples_.front();
  if (now - then < 200) return std::nullopt;
  return (generation - before) * 1000.0 / static_cast<double>(now - then);
}

void MainWindow::Tick() {
  scene_.PrepareFrame();
  if (!scene_.notice_.empty()) {
    statusBar()->showMessage(FromStd(scene_.notice_), 5000);
    scene_.notice_.clear();
  }
  if (scene_.lastError != shownError_) {
    shownError_ = scene_.lastError;
    if (!shownError_.empty()) statusBar()->showMessage(FromStd(shownError_), 5000);
  }

  std::uint32_t seed = scene_.runSeed_;
  PlotData data;
  QString line;
  if (scene_.otherRun()) {
    seed = scene_.otherRun()->seed();
    ReadOtherRun(line, data);
  } else {
    RunStatus status;
    status.mode = scene_.Mode();
    status.rewound = scene_.rewindGeneration();
    if (scene_.currentOptimizer) {
      const Population* population = nullptr;
      const RunRecord* record = nullptr;
      scene_.currentOptimizer->LockState(&population, nullptr, &record);
      status.generation = record->completedGenerations;
      seed = record->startState.value_or(scene_.runSeed_);
      status.best = BestScore(*population);
      if (record->bestEver) {
        status.bestEver = record->bestEver->score;
        status.bestEverGeneration = record->bestEver->generation;
      }
      // A few thousand points at most, whatever the run's length.
      data = MakePlotData(*record, plot_->PlotColumns(), plotScale_);
      scene_.currentOptimizer->UnlockState();
    }
    if (status.generation == 0) status.best.reset();
    status.generationsPerSecond = MeasureRate(status.generation);
    line = FromStd(StatusText(status));
  }
  if (canvas_->view().editing) {
    const Point2 at = canvas_->pointerInScene();
    line = tr("Editing (E ends) | pointer %1, %2 | %3")
               .arg(static_cast<int>(std::floor(at.x)))
               .arg(static_cast<int>(std::floor(at.y)))
               .arg(line);
  }
  statusLabel_->setText(line);
  // The user's points only: a candidate reaching past the canvas's edge is
  // common, and bars over the canvas would hide part of the frame.
  canvas_->UpdateScrollBars(SceneExtent(false));
  seedLabel_->setText(tr("seed %1").arg(seed));
  pauseAction_->setChecked(scene_.paused());
  ShowAlgorithmChoice();
  undoAction_->setEnabled(history_->stack()->canUndo() || scene_.drawing);
  redoAction_->setEnabled(history_->stack()->canRedo() && !scene_.drawing);
  if (HasUnsavedChanges() != isWindowModified()) UpdateTitle();
  plot_->SetData(std::move(data));
  plot_->SetTitle(PlotTitle(seed));
  plot_->SetMarker(scene_.rewindGeneration());

  // repaint(), not update(): each tick paints at once, so a paint waiting for
  // the optimiser's lock slows the frame rate instead of piling up.
  canvas_->repaint();
}

void MainWindow::ReadOtherRun(QString& line, PlotData& data) {
  const OtherRunView& view = scene_.otherView();
  const OtherRunProgress& progress = view.progress;
  OtherRunStatus status;
  status.mode = scene_.Mode();
  status.algorithm = scene_.otherRun()->algorithm();
  status.evaluations = progress.evaluations;
  status.budget = progress.budget;
  status.error = progress.error;
  if (!view.record.history.empty()) status.best = view.record.history.back().best;
  if (progress.hasBest) {
    status.bestEver = progress.bestScore;
    status.bestEverEvaluation = progress.bestAt;
  }
  line = FromStd(StatusText(status));
  data = MakePlotData(view.record, plot_->PlotColumns(), plotScale_);
}

void MainWindow::ChooseAlgorithm(const std::string& name) {
  if (!AlgorithmOffered(name)) {
    ShowError(tr("Cannot choose the algorithm"),
              FromStd(name + ": this build cannot run it; 'reflector --list-algorithms' lists them"));
    ShowAlgorithmChoice();
    return;
  }
  if (name == scene_.algorithm()) return;
  const std::uint32_t seed = ShownSeed();
  history_->Named(tr("Algorithm %1").arg(FromStd(name)), [&] {
    scene_.SetAlgorithm(name);
    scene_.running = true;
    scene_.drawing = false;
    scene_.RestartOptimizer(seed);
  });
  ShowAlgorithmChoice();
}

std::uint32_t MainWindow::ShownSeed() const {
  if (scene_.otherRun()) return scene_.otherRun()->seed();
  if (!scene_.currentOptimizer) return scene_.runSeed_;
  const RunRecord* record = nullptr;
  scene_.currentOptimizer->LockState(nullptr, nullptr, &record);
  const std::uint32_t seed = record->startState.value_or(scene_.runSeed_);
  scene_.currentOptimizer->UnlockState();
  return seed;
}

void MainWindow::ShowAlgorithmChoice() {
  CheckAlgorithm(algorithmGroup_, scene_.algorithm());
  const bool builtIn = scene_.BuiltInAlgorithm();
  const QString why = builtIn ? QString() : tr("Only the built-in scheme's runs have generations to step through, "
                                               "continue or pace");
  for (QAction* action : {stepAction_, continueAction_, speedMenu_->menuAction()}) {
    if (action->isEnabled() == builtIn) continue;
    action->setEnabled(builtIn);
    action->setToolTip(why);
  }
  if (checkpointAction_->isEnabled() != builtIn) {
    checkpointAction_->setEnabled(builtIn);
    checkpointAction_->setToolTip(builtIn ? QString() : tr("Checkpoints hold the built-in scheme's runs"));
  }
}

QString MainWindow::StatusLine() const { return statusLabel_->text(); }

QString MainWindow::SeedLine() const { return seedLabel_->text(); }

QString MainWindow::PlotTitle(std::uint32_t seed) const {
  QString title = tr("Convergence: %1, seed %2")
                      .arg(sceneFile_.isEmpty() ? tr("Untitled") : QFileInfo(sceneFile_).fileName())
                      .arg(seed);
  if (scene_.otherRun()) title += QStringLiteral(" \u2014 ") + FromStd(scene_.otherRun()->algorithm());
  return title;
}

void MainWindow::SetPlotScale(PlotScale scale) {
  plotScale_ = scale;
  Tick();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!MaybeKeepChanges()) {
    event->ignore();
    return;
  }
  CancelOpening();
  if (settings_) {
    settings_->setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings_->setValue(QStringLiteral("window/state"), saveState());
    const ViewMapping& view = canvas_->view().mapping;
    settings_->setValue(QStringLiteral("view/zoom"), view.zoom);
    settings_->setValue(QStringLiteral("view/originX"), view.origin.x);
    settings_->setValue(QStringLiteral("view/originY"), view.origin.y);
    settings_->setValue(QStringLiteral("view/incomingBeam"), beamAction_->isChecked());
    settings_->setValue(QStringLiteral("run/algorithm"), FromStd(scene_.algorithm()));
  }
  // Another algorithm's run has nobody to show it to now.
  scene_.StopOtherRun();
  event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!urls.isEmpty() && urls.front().isLocalFile()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.front().isLocalFile()) return;
  event->acceptProposedAction();
  if (MaybeKeepChanges()) OpenScene(urls.front().toLocalFile());
}

}  // namespace reflector
