#include "other_optimizers/other_optimizer_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <string>

#include "cli/other_optimizer_runner.h"
#include "formats/scene_file.h"
#include "scene/scene_description.h"
#include "tracing/beam.h"

namespace reflector {
namespace {

SceneSnapshot ConcaveArc() {
  SceneDescription scene;
  std::string error;
  EXPECT_TRUE(LoadSceneFile(REFLECTOR_EXAMPLES "/concave-arc.json", scene, error)) << error;
  return ToSnapshot(scene);
}

bool SameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// The ledger scores exactly as the built-in scheme does, spends exactly its
// budget, and keeps the first of equal bests.
TEST(ScoringLedgerTest, ScoresAsTheBuiltInSchemeWithinItsBudget) {
  const SceneSnapshot scene = ToSnapshot(SceneDescription{});
  ScoringLedger ledger(scene, 25);
  std::vector<double> coordinates;
  for (Point2 p : scene.vertices) {
    coordinates.push_back(p.x);
    coordinates.push_back(p.y);
  }
  std::vector<RayRecord> rays;
  double expected = 0.0;
  const std::atomic<bool> neverStop{false};
  EvaluateBeam(scene.vertices, scene.source, scene.aim, scene.target, neverStop, rays, expected);
  for (int i = 0; i < 25; ++i) EXPECT_TRUE(SameBits(ledger.Score(coordinates), expected));
  EXPECT_THROW(ledger.Score(coordinates), BudgetSpent);
  EXPECT_EQ(ledger.spent(), 25u);
  EXPECT_EQ(ledger.bestAt(), 1u);
  EXPECT_TRUE(SameBits(ledger.firstScore(), expected));
  EXPECT_EQ(ledger.rows().size(), 2u);  // the part block waits for Finish
  ledger.Finish();
  ASSERT_EQ(ledger.rows().size(), 3u);
  EXPECT_EQ(ledger.rows()[2].evaluations, 25u);
  EXPECT_TRUE(SameBits(ledger.rows()[2].scores.mean, expected));
}

// Every algorithm improves on the starting mirror of both scenes within
// 20000 scorings, and repeats itself bit for bit.
TEST(OtherOptimizerRunTest, EveryAlgorithmImprovesOnTheStartAndRepeatsItself) {
  const SceneSnapshot scenes[] = {ToSnapshot(SceneDescription{}), ConcaveArc()};
  for (const AlgorithmEntry& entry : AlgorithmCatalogue()) {
    if (entry.name == kBuiltInAlgorithm) continue;
    for (const SceneSnapshot& scene : scenes) {
      OtherRunResult first, again;
      std::string error;
      ASSERT_TRUE(RunOtherOptimizer(scene, entry.name, 5, 20000, kDefaultRadius, first, error)) << error;
      EXPECT_EQ(first.evaluations, 20000u) << entry.name;
      EXPECT_LT(first.bestScore, first.startScore) << entry.name;
      EXPECT_EQ(first.rows.size(), 2000u) << entry.name;
      ASSERT_TRUE(RunOtherOptimizer(scene, entry.name, 5, 20000, kDefaultRadius, again, error)) << error;
      const SceneDescription description;
      EXPECT_EQ(OtherResultToJson(description, first), OtherResultToJson(description, again)) << entry.name;
      EXPECT_TRUE(SameBits(first.rows.back().scores.mean, again.rows.back().scores.mean)) << entry.name;
    }
  }
}

TEST(OtherOptimizerRunTest, AnotherSeedAnotherRunAndNamesAreChecked) {
  const SceneSnapshot scene = ToSnapshot(SceneDescription{});
  OtherRunResult one, two;
  std::string error;
  ASSERT_TRUE(RunOtherOptimizer(scene, "de", 1, 3000, kDefaultRadius, one, error)) << error;
  ASSERT_TRUE(RunOtherOptimizer(scene, "de", 2, 3000, kDefaultRadius, two, error)) << error;
  EXPECT_NE(one.bestMirror, two.bestMirror);
  EXPECT_FALSE(RunOtherOptimizer(scene, "reflector", 1, 100, kDefaultRadius, one, error));
  EXPECT_FALSE(RunOtherOptimizer(scene, "nelder", 1, 100, kDefaultRadius, one, error));
  EXPECT_NE(error.find("--list-algorithms"), std::string::npos);
  SceneSnapshot point = scene;
  point.vertices.resize(1);
  EXPECT_FALSE(RunOtherOptimizer(point, "de", 1, 100, kDefaultRadius, one, error));
  // A budget smaller than a population: what was scored still counts.
  ASSERT_TRUE(RunOtherOptimizer(scene, "cmaes", 1, 3, kDefaultRadius, one, error)) << error;
  EXPECT_EQ(one.evaluations, 3u);
  EXPECT_EQ(one.rows.size(), 1u);
}

}  // namespace
}  // namespace reflector
