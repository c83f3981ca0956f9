#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "scene/scene_state.h"
#include "scene/view_mapping.h"
#include "formats/checkpoint.h"
#include "formats/plot_scale.h"
#include "window/background_scene_load.h"

class QAction;
class QActionGroup;
class QDockWidget;
class QLabel;
class QMenu;
class QSettings;
class QTimer;

namespace reflector {

class CanvasWidget;
class EditHistory;
struct PlotData;
class PlotWidget;

// The program's main window: the canvas in the middle, the convergence plot in
// a dock beside it, menus for files, the run and the view, and a status bar.
// Ten times a second it sets up the frame, reads the run's progress and
// repaints.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kFrameIntervalMs = 100;
  static constexpr int kRecentFileCount = 8;

  // The scene must outlive the window. With settings, the window's size,
  // position, dock state and recent files are restored now and saved on close.
  explicit MainWindow(SceneState& scene, QSettings* settings = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Each returns false after showing why in a message box; a failed open
  // changes nothing, a failed write leaves any existing file as it was.
  // A file of kOpenInBackgroundFrom bytes or more (or a pipe) is read on another thread
  // behind a progress dialog with Cancel: true means the opening has begun,
  // and the scene replaces the run once it is read (or an error is shown).
  bool OpenScene(const QString& path);
  static constexpr qint64 kOpenInBackgroundFrom = 1 << 20;
  // Stops a background opening: nothing changes.
  void CancelOpening();
  bool Opening() const { return loading_ != nullptr; }
  bool SaveScene(const QString& path);
  bool SaveCheckpoint(const QString& path);
  bool ExportImage(const QString& path);  // .png or .svg: the canvas as shown
  bool ExportPlot(const QString& path);   // .png or .svg

  // The file the scene came from: the title and the recent files name it.
  // A checkpoint's is never written over by Save.
  void SetSceneFile(const QString& path, bool checkpoint = false);
  // Goes on with the run a checkpoint holds, where it stopped.
  void UseCheckpoint(Checkpoint checkpoint, const QString& path);
  void ResetScene();
  void SetPaused(bool paused);
  // The canvas shows the best mirror of that generation until ReturnToLive.
  void ShowGeneration(std::uint32_t generation);
  void ReturnToLive();

  // The 100 ms tick: sets up the frame, updates the status bar and the plot,
  // then paints.
  void Tick();

  CanvasWidget* canvas() const { return canvas_; }
  EditHistory* history() const { return history_; }
  // Edit > Undo: while drawing, cancels the drawing; otherwise the last step.
  void Undo();
  void Redo();
  // Run > Adopt Best Mirror: the best-ever candidate becomes the user's
  // mirror, and the run restarts from it.
  void AdoptBestMirror();
  // Run > Algorithm: the algorithm fresh runs use, applied now by a restart
  // from the shown run's seed (one undo step). Another algorithm runs on a
  // thread of its own (see SceneState::SetAlgorithm); the built-in scheme's
  // run from that seed is the one it would have been.
  void ChooseAlgorithm(const std::string& name);
  // The seed of the run shown, as the status bar names it.
  std::uint32_t ShownSeed() const;
  // Edit > Edit Mirror: handles on the mirror, the source and the target.
  void SetEditing(bool editing);
  // View > Fit Scene: every point of the scene and the best mirror in view.
  void FitScene();
  // A scene with points outside the view is fitted (an opened one).
  void FitIfOutside();
  // Everything a fit shows: the scene's points and, when asked, the shown
  // best mirror.
  SceneBox SceneExtent(bool withBestMirror = true) const;
  PlotWidget* plot() const { return plot_; }
  QDockWidget* plotDock() const { return plotDock_; }
  QString StatusLine() const;
  QString SeedLine() const;
  // The plot's title: the scene's file (or Untitled) and the run's seed, and
  // another algorithm's name when one runs.
  QString PlotTitle(std::uint32_t seed) const;
  void SetPlotScale(PlotScale scale);
  const QString& sceneFile() const { return sceneFile_; }
  const QStringList& recentFiles() const { return recentFiles_; }

  // How errors reach the user: a message box unless replaced (tests).
  std::function<void(const QString& title, const QString& text)> showError_;
  // Shows an error as a message box over the window (or through showError_).
  void ReportError(const QString& title, const QString& text) { ShowError(title, text); }

  // Whether the mirror, source, target or seed differ from the scene last
  // opened, saved or reset to. The aim is left out: it follows the pointer,
  // and every trip to the menu would otherwise count as an edit.
  bool HasUnsavedChanges() const;
  // Before Quit, Open and Reset: with unsaved changes, asks Save, Discard or
  // Cancel. True when the caller may go on (saved, discarded, or nothing to
  // lose); Save writes to the scene's file, or asks for one.
  bool MaybeKeepChanges();
  enum class UnsavedChoice { kSave, kDiscard, kCancel };
  // How the question reaches the user: a message box unless replaced (tests).
  std::function<UnsavedChoice()> askAboutChanges_;
  // A name typed without a suffix gets ".json", as the dialog's filter shows.
  static QString WithJsonSuffix(const QString& path);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void CreateMenus();
  void UpdateTitle();
  void ShowError(const QString& title, const QString& text);
  void AddRecentFile(const QString& path);
  void RebuildRecentMenu();
  // Asks for a file with Qt's own dialog (xdotool can type into it).
  QString AskForFile(bool save, const QString& title, const QString& filter);
  bool WriteBytes(const QString& path, std::string_view bytes, const QString& what);
  void AskForSeed();
  void ShowControls();
  void ShowAbout();
  void SetZoom(double zoom);
  // Generations per second over the last second or so of ticks.
  std::optional<double> MeasureRate(std::uint32_t generation);

  // The algorithm menu's check and what the chosen algorithm leaves out.
  void ShowAlgorithmChoice();
  // The tick's status line and plot for another algorithm's run.
  void ReadOtherRun(QString& line, PlotData& data);

  void FinishOpening();
  // Replaces the run with the scene read from path.
  void UseScene(const SceneDescription& description, const QString& path);

  SceneState& scene_;
  QSettings* settings_;
  CanvasWidget* canvas_;
  PlotWidget* plot_;
  QDockWidget* plotDock_;
  QLabel* statusLabel_;
  QLabel* seedLabel_ = nullptr;
  QTimer* frameTimer_;
  QMenu* recentMenu_ = nullptr;
  QAction* pauseAction_ = nullptr;
  QAction* aimAction_ = nullptr;
  QAction* smoothAction_ = nullptr;
  QAction* undoAction_ = nullptr;
  PlotScale plotScale_ = PlotScale::kAuto;
  QAction* editAction_ = nullptr;
  QAction* beamAction_ = nullptr;
  QAction* redoAction_ = nullptr;
  QActionGroup* algorithmGroup_ = nullptr;
  // What only the built-in scheme's runs have.
  QAction* stepAction_ = nullptr;
  QAction* continueAction_ = nullptr;
  QAction* checkpointAction_ = nullptr;
  QMenu* speedMenu_ = nullptr;
  EditHistory* history_ = nullptr;
  QString sceneFile_;
  bool sceneFileIsCheckpoint_ = false;
  SceneDescription savedScene_;  // as last opened, saved or reset to
  QStringList recentFiles_;
  std::string shownError_;  // the optimiser error last put in the status bar

  std::unique_ptr<BackgroundSceneLoad> loading_;
  QPointer<QProgressDialog> loadingDialog_;
  QTimer* loadingTimer_;

  QElapsedTimer clock_;
  const void* rateOptimizer_ = nullptr;  // the run the samples belong to
  std::deque<std::pair<qint64, std::uint32_t>> rateSamples_;
};

}  // namespace reflector
