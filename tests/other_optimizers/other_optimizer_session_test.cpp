#include "other_optimizers/other_optimizer_session.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <thread>

#include "scene/scene_description.h"

namespace reflector {
namespace {

bool SameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// Collects the rows until the run has ended.
OtherRunProgress ReadToTheEnd(OtherOptimizerSession& session, std::vector<EvaluationRow>& rows) {
  while (!session.Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return session.Progress(rows);
}

// Watched on its own thread, a run publishes exactly what the same run
// unwatched returns: every row, the best, the scorings spent.
TEST(OtherOptimizerSessionTest, PublishesTheUnwatchedRunBitForBit) {
  const SceneSnapshot scene = ToSnapshot(SceneDescription{});
  for (const char* name : {"de", "compass"}) {
    OtherRunResult expected;
    std::string error;
    ASSERT_TRUE(RunOtherOptimizer(scene, name, 3, 2005, kDefaultRadius, expected, error)) << error;
    OtherOptimizerSession session(scene, name, 3, 2005, kDefaultRadius);
    std::vector<EvaluationRow> rows;
    const OtherRunProgress progress = ReadToTheEnd(session, rows);
    EXPECT_TRUE(progress.done);
    EXPECT_TRUE(progress.error.empty());
    EXPECT_EQ(progress.evaluations, expected.evaluations) << name;
    EXPECT_TRUE(SameBits(progress.startScore, expected.startScore)) << name;
    EXPECT_TRUE(SameBits(progress.bestScore, expected.bestScore)) << name;
    EXPECT_EQ(progress.bestAt, expected.bestAt) << name;
    EXPECT_EQ(progress.bestMirror, expected.bestMirror) << name;
    ASSERT_EQ(rows.size(), expected.rows.size()) << name;  // the last part row included
    for (std::size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].evaluations, expected.rows[i].evaluations);
      EXPECT_EQ(rows[i].scores, expected.rows[i].scores);
    }
    // Handed over once: nothing new on the next read.
    std::vector<EvaluationRow> again;
    session.Progress(again);
    EXPECT_TRUE(again.empty());
  }
}

// A pause holds the run between two scorings (one row more at most reaches
// the reader), a stop ends it even while paused, and what it found stays.
TEST(OtherOptimizerSessionTest, PauseHoldsTheRunAndStopEndsItEarly) {
  const SceneSnapshot scene = ToSnapshot(SceneDescription{});
  OtherOptimizerSession session(scene, "cmaes", 1, kDefaultEvaluations, kDefaultRadius);
  std::vector<EvaluationRow> rows;
  while (session.Progress(rows).evaluations < 200) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  session.SetPaused(true);
  const std::uint64_t pausedAt = session.Progress(rows).evaluations;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_LE(session.Progress(rows).evaluations, pausedAt + ScoringLedger::kScoringsPerRow);
  EXPECT_FALSE(session.Done());
  session.RequestStop();
  const OtherRunProgress stopped = ReadToTheEnd(session, rows);
  EXPECT_TRUE(stopped.error.empty());
  EXPECT_LT(stopped.evaluations, kDefaultEvaluations);
  EXPECT_TRUE(stopped.hasBest);
  EXPECT_LE(stopped.bestScore, stopped.startScore);
}

// A run the library refuses ends at once, saying why.
TEST(OtherOptimizerSessionTest, ARefusedRunEndsWithItsReason) {
  SceneSnapshot scene = ToSnapshot(SceneDescription{});
  scene.vertices.resize(1);
  OtherOptimizerSession session(scene, "de", 1, 100, kDefaultRadius);
  std::vector<EvaluationRow> rows;
  const OtherRunProgress progress = ReadToTheEnd(session, rows);
  EXPECT_NE(progress.error.find("two vertices"), std::string::npos);
  EXPECT_FALSE(progress.hasBest);
  EXPECT_TRUE(rows.empty());
}

}  // namespace
}  // namespace reflector
