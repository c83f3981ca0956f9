#include "optimizer/reflector_optimizer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "geometry/random.h"
#include "optimizer/default_test_scene.h"
#include "threading/ref_ptr.h"

namespace reflector {
namespace {

SceneSnapshot DefaultScene() { return DefaultTestScene(); }

void WaitUntilDone(const ReflectorOptimizer& optimizer) {
  while (!optimizer.Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every vertex, score, record and path point, bit for bit.
void ExpectIdentical(const Population& a, const Population& b) {
  ASSERT_EQ(a.bestIndex, b.bestIndex);
  ASSERT_EQ(a.candidates.size(), b.candidates.size());
  for (std::size_t i = 0; i < a.candidates.size(); ++i) {
    const Candidate& x = a.candidates[i];
    const Candidate& y = b.candidates[i];
    ASSERT_TRUE(SameBits(x.score, y.score)) << i;
    ASSERT_EQ(x.vertices.size(), y.vertices.size());
    for (std::size_t v = 0; v < x.vertices.size(); ++v) {
      ASSERT_TRUE(SameBits(x.vertices[v].x, y.vertices[v].x)) << i << "/" << v;
      ASSERT_TRUE(SameBits(x.vertices[v].y, y.vertices[v].y)) << i << "/" << v;
    }
    ASSERT_EQ(x.rayRecords.size(), y.rayRecords.size());
    for (std::size_t r = 0; r < x.rayRecords.size(); ++r) {
      ASSERT_EQ(x.rayRecords[r].hitFlag, y.rayRecords[r].hitFlag);
      ASSERT_EQ(x.rayRecords[r].path, y.rayRecords[r].path);
    }
  }
}

// Runs generations to the end and returns a copy of the final population.
Population RunToEnd(const SceneSnapshot& scene, std::uint32_t generations, bool disturb = false) {
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(scene, generations));
  std::mt19937 gen(7);
  while (!optimizer->Done()) {
    if (disturb) {
      // Take the lock at random moments, for random lengths of time.
      const Population* population = nullptr;
      optimizer->LockState(&population, nullptr);
      std::this_thread::sleep_for(std::chrono::microseconds(gen() % 300));
      optimizer->UnlockState();
      std::this_thread::sleep_for(std::chrono::microseconds(gen() % 700));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  EXPECT_EQ(optimizer->CompletedGenerations(), generations);
  const Population* population = nullptr;
  optimizer->LockState(&population, nullptr);
  Population copy = *population;
  optimizer->UnlockState();
  return copy;
}

class ReflectorOptimizerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRandomState(1); }
  void TearDown() override { SetRandomState(1); }
};

TEST_F(ReflectorOptimizerTest, ZeroGenerationsGiveTheFilledPopulation) {
  const Population p = RunToEnd(DefaultScene(), 0);
  ASSERT_EQ(p.candidates.size(), 10u);
  EXPECT_EQ(p.bestIndex, -1);
  for (const Candidate& c : p.candidates) {
    EXPECT_EQ(c.vertices, DefaultScene().vertices);
    EXPECT_EQ(c.score, 0);
    EXPECT_TRUE(c.rayRecords.empty());
  }
  EXPECT_EQ(RandomState(), 1u);  // no draw was taken
}

TEST_F(ReflectorOptimizerTest, FirstGenerationJittersBeforeScoring) {
  const Population p = RunToEnd(DefaultScene(), 1);
  ASSERT_EQ(p.candidates.size(), 10u);
  EXPECT_GE(p.bestIndex, 0);
  for (const Candidate& c : p.candidates) {
    EXPECT_NE(c.vertices, DefaultScene().vertices);
    EXPECT_EQ(c.rayRecords.size(), 150u);
    EXPECT_GT(c.score, 0);
  }
}

TEST_F(ReflectorOptimizerTest, NoSegmentsScoreEveryRayAsAMiss) {
  for (const std::vector<Point2>& vertices :
       {std::vector<Point2>{}, std::vector<Point2>{{400, 200}}}) {
    SceneSnapshot scene = DefaultScene();
    scene.vertices = vertices;
    const Population p = RunToEnd(scene, 3);
    EXPECT_EQ(p.bestIndex, 0);
    for (const Candidate& c : p.candidates) {
      EXPECT_EQ(c.score, 150000.0);
      EXPECT_EQ(c.vertices.size(), vertices.size());
    }
  }
}

TEST_F(ReflectorOptimizerTest, RunsAreReproducibleAndReadersDoNotChangeThem) {
  const Population quiet = RunToEnd(DefaultScene(), 300);
  const std::uint32_t stateAfter = RandomState();
  SetRandomState(1);
  const Population disturbed = RunToEnd(DefaultScene(), 300, /*disturb=*/true);
  EXPECT_EQ(RandomState(), stateAfter);
  ExpectIdentical(quiet, disturbed);

  // A later run continues the generator's sequence instead of repeating it.
  const Population later = RunToEnd(DefaultScene(), 300);
  EXPECT_NE(later.candidates[0].vertices, quiet.candidates[0].vertices);
}

TEST_F(ReflectorOptimizerTest, ReaderSeesOnlyWholeStates) {
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(DefaultScene(), 200));
  int looks = 0;
  while (!optimizer->Done() || looks == 0) {
    const Population* population = nullptr;
    const SceneSnapshot* snapshot = nullptr;
    optimizer->LockState(&population, &snapshot);
    EXPECT_EQ(snapshot->target, (Point2{250, 200}));
    const auto& candidates = population->candidates;
    ASSERT_TRUE(candidates.empty() || candidates.size() == 10u);
    if (population->bestIndex == -1) {
      for (const Candidate& c : candidates) EXPECT_TRUE(c.rayRecords.empty());
    } else {
      for (const Candidate& c : candidates) ASSERT_EQ(c.rayRecords.size(), 150u);
    }
    optimizer->UnlockState();
    ++looks;
  }
  optimizer->LockState(nullptr, nullptr);  // both outputs absent: only locks
  optimizer->UnlockState();
}

TEST_F(ReflectorOptimizerTest, DestroyingMidRunStopsTheWorker) {
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(DefaultScene()));
  while (optimizer->CompletedGenerations() < 2) std::this_thread::yield();
  optimizer.Reset();  // returns once the worker has seen the stop flag
  EXPECT_FALSE(optimizer);
}

TEST_F(ReflectorOptimizerTest, DestroyingAFinishedOptimizerDoesNotWait) {
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(DefaultScene(), 2));
  WaitUntilDone(*optimizer);
  EXPECT_EQ(optimizer->CompletedGenerations(), 2u);
  optimizer.Reset();
}

// Under LeakSanitizer this shows that no restart leaks a record, path or thread.
TEST_F(ReflectorOptimizerTest, ThousandRestartsReleaseEverything) {
  std::mt19937 gen(3);
  RefPtr<ReflectorOptimizer> optimizer;
  for (int i = 0; i < 1000; ++i) {
    optimizer.Reset();
    optimizer.Adopt(new ReflectorOptimizer(DefaultScene()));
    // Stop at a random point: before the fill, mid-generation, or later.
    const int waitFor = static_cast<int>(gen() % 3);
    while (optimizer->CompletedGenerations() < static_cast<std::uint32_t>(waitFor)) {
      std::this_thread::yield();
    }
  }
  optimizer.Reset();
}

}  // namespace
}  // namespace reflector
