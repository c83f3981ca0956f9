#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>
#include <bit>
#include <chrono>
#include <functional>
#include <memory>

#include "geometry/random.h"
#include "other_optimizers/other_optimizer_run.h"
#include "scene/snapshot_of.h"
#include "window/canvas_widget.h"
#include "window/edit_history.h"
#include "window/main_window.h"
#include "window/plot_dock.h"

namespace reflector {
namespace {

constexpr std::uint32_t kGenerations = 40;

bool SameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

QAction* AlgorithmAction(QWidget& window, const std::string& name) {
  for (QAction* action : window.findChildren<QAction*>()) {
    if (action->isCheckable() && action->data().toString() == QString::fromStdString(name)) return action;
  }
  return nullptr;
}

QAction* FindAction(QWidget& window, const QString& text) {
  for (QAction* action : window.findChildren<QAction*>()) {
    if (action->text().remove('&') == text) return action;
  }
  return nullptr;
}

// The window as the program makes it, on the default scene.
class OtherAlgorithmTest : public ::testing::Test {
 protected:
  OtherAlgorithmTest() : scene(kGenerations, nullptr) {
    SetRandomState(1);
    scene.keepRewind_ = true;
    scene.minimumMirrorVertices_ = 2;
    window = std::make_unique<MainWindow>(scene);
    window->showError_ = [this](const QString&, const QString& text) { errors.push_back(text); };
  }

  void SetUp() override {
    if (!OtherOptimizersAvailable()) GTEST_SKIP() << "this build has no other optimisers";
  }

  // Ticks until the condition holds; false after a minute without.
  bool TickUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      window->Tick();
      if (condition()) return true;
      QTest::qWait(10);
    }
    return false;
  }

  // The other run has improved on its start, past a few rows.
  bool Improved() const {
    const OtherRunProgress& progress = scene.otherView().progress;
    return progress.hasBest && progress.evaluations >= 500 && progress.bestScore < progress.startScore;
  }

  std::vector<QString> errors;
  SceneState scene;  // outlives the window
  std::unique_ptr<MainWindow> window;
};

// Run > Algorithm lists the built-in scheme, checked, then every other
// optimiser with its description; a build without them shows them disabled,
// saying why. Not skipped: this holds in either build.
TEST(OtherAlgorithmMenuTest, ListsTheCatalogueWithTheBuiltInSchemeChecked) {
  SetRandomState(1);
  SceneState scene(kGenerations, nullptr);
  MainWindow window(scene);
  for (const AlgorithmEntry& entry : AlgorithmCatalogue()) {
    QAction* action = AlgorithmAction(window, entry.name);
    ASSERT_NE(action, nullptr) << entry.name;
    EXPECT_EQ(action->statusTip().toStdString(), entry.description);
    const bool builtIn = entry.name == kBuiltInAlgorithm;
    EXPECT_EQ(action->isChecked(), builtIn);
    EXPECT_EQ(action->isEnabled(), builtIn || OtherOptimizersAvailable()) << entry.name;
    if (!action->isEnabled()) {
      EXPECT_TRUE(action->toolTip().contains("no other optimisers"));
    }
    ASSERT_NE(action->actionGroup(), nullptr);
    EXPECT_TRUE(action->actionGroup()->isExclusive());
  }
  EXPECT_EQ(scene.algorithm(), kBuiltInAlgorithm);
}

// Choosing cmaes restarts from the scene's mirror with the run's seed; the
// window shows its best mirror so far, which scores the ledger's best, and
// the rows and best it shows are those of the same run made headless.
TEST_F(OtherAlgorithmTest, ChoosingCmaesRunsItAndShowsTheHeadlessRunsBest) {
  const SceneSnapshot started = SnapshotOf(scene);
  AlgorithmAction(*window, "cmaes")->trigger();
  EXPECT_TRUE(AlgorithmAction(*window, "cmaes")->isChecked());
  EXPECT_EQ(scene.algorithm(), "cmaes");
  ASSERT_NE(scene.otherRun(), nullptr);
  EXPECT_FALSE(scene.currentOptimizer);
  EXPECT_EQ(scene.otherRun()->seed(), 1u);
  EXPECT_EQ(scene.otherRun()->snapshot().vertices, started.vertices);
  EXPECT_EQ(scene.otherRun()->snapshot().aim, started.aim);
  ASSERT_TRUE(TickUntil([this] { return Improved(); }));

  const OtherRunView& view = scene.otherView();
  ASSERT_EQ(view.population.candidates.size(), 1u);
  const Candidate& shown = view.population.candidates[0];
  EXPECT_TRUE(SameBits(shown.score, view.progress.bestScore));
  EXPECT_EQ(shown.vertices, view.progress.bestMirror);
  EXPECT_EQ(shown.rayRecords.size(), 150u);

  OtherRunResult headless;
  std::string error;
  ASSERT_TRUE(RunOtherOptimizer(started, "cmaes", 1, view.progress.evaluations, kDefaultRadius, headless, error))
      << error;
  EXPECT_TRUE(SameBits(headless.bestScore, view.progress.bestScore));
  EXPECT_EQ(headless.bestMirror, view.progress.bestMirror);
  EXPECT_TRUE(SameBits(headless.startScore, view.progress.startScore));
  ASSERT_EQ(headless.rows.size(), view.record.history.size());
  for (std::size_t i = 0; i < headless.rows.size(); ++i) EXPECT_EQ(headless.rows[i].scores, view.record.history[i]);

  const QString status = window->StatusLine();
  EXPECT_TRUE(status.startsWith("Optimising | cmaes | evaluation ")) << status.toStdString();
  EXPECT_TRUE(status.contains(" of 200000 | best ")) << status.toStdString();
  EXPECT_EQ(window->plot()->title(), QString::fromUtf8("Convergence: Untitled, seed 1 \u2014 cmaes"));
  EXPECT_GT(window->plot()->data().generations, 0u);
  EXPECT_EQ(window->SeedLine(), QStringLiteral("seed 1"));
  EXPECT_TRUE(errors.empty());
}

// Back to the built-in scheme: its run from the same seed is the one it
// was before the choice, bit for bit, and its texts are its own again.
TEST_F(OtherAlgorithmTest, TheBuiltInSchemeChosenAgainGivesItsOwnRunBitForBit) {
  const Population before = FinalPopulation(scene);
  window->Tick();
  const QString title = window->plot()->title();
  window->ChooseAlgorithm("cmaes");
  ASSERT_TRUE(TickUntil([this] { return Improved(); }));
  window->ChooseAlgorithm(kBuiltInAlgorithm);
  EXPECT_EQ(scene.otherRun(), nullptr);
  ASSERT_TRUE(scene.currentOptimizer);
  EXPECT_TRUE(AlgorithmAction(*window, kBuiltInAlgorithm)->isChecked());
  EXPECT_TRUE(SameBits(FinalPopulation(scene), before));
  window->Tick();
  EXPECT_EQ(window->plot()->title(), title);
  EXPECT_TRUE(window->StatusLine().startsWith("Finished | generation 40")) << window->StatusLine().toStdString();
}

// While another algorithm runs: pause holds it, step, continue, pace and
// checkpoints say they belong to the built-in scheme, and adopting takes
// its best so far into a fresh run of the same algorithm.
TEST_F(OtherAlgorithmTest, PauseHoldsItAndWhatItLacksSaysSo) {
  window->ChooseAlgorithm("cmaes");
  ASSERT_TRUE(TickUntil([this] { return Improved(); }));
  window->SetPaused(true);
  window->Tick();
  EXPECT_TRUE(window->StatusLine().startsWith("Paused | cmaes | ")) << window->StatusLine().toStdString();
  const std::uint64_t pausedAt = scene.otherView().progress.evaluations;
  QTest::qWait(200);
  window->Tick();
  // The scoring under way when the pause came may close one more row.
  EXPECT_LE(scene.otherView().progress.evaluations, pausedAt + ScoringLedger::kScoringsPerRow);
  window->SetPaused(false);
  EXPECT_TRUE(TickUntil([&] { return scene.otherView().progress.evaluations > pausedAt + 100; }));

  for (const char* text : {"Step", "Continue", "Speed"}) {
    QAction* action = FindAction(*window, text);
    ASSERT_NE(action, nullptr) << text;
    EXPECT_FALSE(action->isEnabled()) << text;
    EXPECT_TRUE(action->toolTip().contains("built-in scheme")) << text;
  }
  QAction* checkpoint = FindAction(*window, "Save Checkpoint...");
  EXPECT_FALSE(checkpoint->isEnabled());
  EXPECT_EQ(checkpoint->toolTip(), QStringLiteral("Checkpoints hold the built-in scheme's runs"));
  QTemporaryDir directory;
  EXPECT_FALSE(window->SaveCheckpoint(QDir(directory.path()).filePath("run.json")));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_TRUE(errors[0].contains("built-in scheme")) << errors[0].toStdString();

  window->Tick();
  const std::vector<Point2> best = scene.otherView().record.bestEver->vertices;
  window->AdoptBestMirror();
  ASSERT_NE(scene.otherRun(), nullptr);
  EXPECT_EQ(scene.otherRun()->algorithm(), "cmaes");
  ASSERT_EQ(scene.reflector.size(), best.size());
  for (std::size_t i = 0; i < best.size(); ++i) EXPECT_EQ(scene.reflector[i], ToScreenPoint(best[i]));
  EXPECT_EQ(scene.otherRun()->snapshot().vertices, scene.Describe().reflector);

  window->ChooseAlgorithm(kBuiltInAlgorithm);
  for (const char* text : {"Step", "Continue", "Speed", "Save Checkpoint..."}) {
    EXPECT_TRUE(FindAction(*window, text)->isEnabled()) << text;
  }
}

// Choosing is one undo step: undone, the built-in scheme's run comes back
// as it was, and the menu says so; redone, the other run starts again from
// its scene and seed.
TEST_F(OtherAlgorithmTest, ChoosingIsAStepThatUndoBringsBack) {
  const Population before = FinalPopulation(scene);
  window->ChooseAlgorithm("de");
  ASSERT_TRUE(TickUntil([this] { return Improved(); }));
  // A scene edit while it runs is a step too, and restarts it.
  QTest::keyClick(window->canvas(), Qt::Key_Space);
  EXPECT_EQ(window->history()->stack()->count(), 2);
  ASSERT_NE(scene.otherRun(), nullptr);
  window->Undo();
  ASSERT_NE(scene.otherRun(), nullptr);
  EXPECT_EQ(scene.otherRun()->algorithm(), "de");
  window->Undo();
  EXPECT_EQ(scene.algorithm(), kBuiltInAlgorithm);
  EXPECT_EQ(scene.otherRun(), nullptr);
  EXPECT_TRUE(AlgorithmAction(*window, kBuiltInAlgorithm)->isChecked());
  EXPECT_TRUE(SameBits(FinalPopulation(scene), before));
  window->Redo();
  EXPECT_TRUE(AlgorithmAction(*window, "de")->isChecked());
  ASSERT_NE(scene.otherRun(), nullptr);
  EXPECT_EQ(scene.otherRun()->seed(), 1u);
  ASSERT_TRUE(TickUntil([this] { return Improved(); }));
}

// Closing the window mid-run ends the run at once; the scene joins its
// thread when it goes.
TEST_F(OtherAlgorithmTest, ClosingTheWindowMidRunEndsTheRun) {
  window->ChooseAlgorithm("pso");
  ASSERT_TRUE(TickUntil([this] { return scene.otherView().progress.evaluations > 100; }));
  EXPECT_TRUE(window->close());
  window.reset();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!scene.otherRun()->Done() && std::chrono::steady_clock::now() < deadline) QTest::qWait(1);
  EXPECT_TRUE(scene.otherRun()->Done());
}

// The choice is kept with the window's settings, and a window opened with
// them runs it at once, with nothing to undo; cleared settings (as
// --reset-settings clears them) mean the built-in scheme.
TEST_F(OtherAlgorithmTest, TheChoiceIsKeptInTheSettings) {
  QTemporaryDir directory;
  QSettings settings(QDir(directory.path()).filePath("settings.ini"), QSettings::IniFormat);
  // One window on a scene at a time.
  window.reset();
  window = std::make_unique<MainWindow>(scene, &settings);
  window->ChooseAlgorithm("sa");
  EXPECT_TRUE(window->close());
  EXPECT_EQ(settings.value("run/algorithm").toString(), QStringLiteral("sa"));
  window.reset();

  SetRandomState(1);
  SceneState again(kGenerations, nullptr);
  {
    MainWindow reopened(again, &settings);
    ASSERT_NE(again.otherRun(), nullptr);
    EXPECT_EQ(again.otherRun()->algorithm(), "sa");
    EXPECT_TRUE(AlgorithmAction(reopened, "sa")->isChecked());
    EXPECT_EQ(reopened.history()->stack()->count(), 0);
  }
  settings.clear();
  SceneState cleared(kGenerations, nullptr);
  MainWindow fresh(cleared, &settings);
  EXPECT_EQ(cleared.algorithm(), kBuiltInAlgorithm);
  EXPECT_TRUE(cleared.currentOptimizer);
}

}  // namespace
}  // namespace reflector
