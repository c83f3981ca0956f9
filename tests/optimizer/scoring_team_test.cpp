// Several threads scoring a generation give the bits one thread gives: every
// score and every ray record, round after round, whatever thread took which
// candidate.
#include "optimizer/scoring_team.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "geometry/random.h"
#include "optimizer/default_test_scene.h"
#include "optimizer/evolution.h"
#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"

namespace reflector {
namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

::testing::AssertionResult SameRecords(const Candidate& a, const Candidate& b) {
  if (!SameBits(a.score, b.score)) return ::testing::AssertionFailure() << "score " << a.score << " / " << b.score;
  if (a.rayRecords.size() != b.rayRecords.size()) return ::testing::AssertionFailure() << "ray count";
  for (std::size_t r = 0; r < a.rayRecords.size(); ++r) {
    const RayRecord& x = a.rayRecords[r];
    const RayRecord& y = b.rayRecords[r];
    if (x.hitFlag != y.hitFlag || !SameBits(x.cost, y.cost) || x.path.size() != y.path.size()) {
      return ::testing::AssertionFailure() << "ray " << r;
    }
    for (std::size_t p = 0; p < x.path.size(); ++p) {
      if (!SameBits(x.path[p].x, y.path[p].x) || !SameBits(x.path[p].y, y.path[p].y)) {
        return ::testing::AssertionFailure() << "ray " << r << " point " << p;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// The default mirror's line made of count vertices, bent a little.
SceneSnapshot LineScene(int count) {
  SceneSnapshot scene = DefaultTestScene();
  scene.vertices.clear();
  for (int i = 0; i < count; ++i) {
    scene.vertices.push_back({494.0 + 3 * ((i * 7) % 3 - 1), 52.0 + 252.0 * i / (count - 1)});
  }
  return scene;
}

TEST(ScoringTeamTest, AnyNumberOfThreadsScoresEveryCandidateAsOneTracerDoes) {
  const SceneSnapshot scene = LineScene(50);
  for (int threads : {1, 2, 3, 10, 12}) {
    const std::atomic<bool> never{false};
    ScoringTeam team(scene, threads, never);
    EXPECT_EQ(team.threads(), threads);
    Population population;
    FillPopulation(population, scene);
    RandomGenerator generator{static_cast<std::uint32_t>(threads)};
    BeamTracer alone;
    // Round after round on one team: a helper late for one round must not
    // score in the next.
    for (int round = 0; round < 40; ++round) {
      MutatePopulation(population, generator);
      Population expected = population;
      for (Candidate& candidate : expected.candidates) {
        alone.Evaluate(candidate.vertices, scene.source, scene.aim, scene.target, never,
                       candidate.rayRecords, candidate.score);
      }
      ASSERT_TRUE(team.Score(population));
      for (std::size_t i = 0; i < expected.candidates.size(); ++i) {
        ASSERT_TRUE(SameRecords(population.candidates[i], expected.candidates[i]))
            << threads << " threads, round " << round << ", candidate " << i;
      }
    }
  }
}

// The jitter spread over the threads: every vertex gets the draw it gets
// from MutatePopulation on one thread, and the generator ends where that
// leaves it; candidates of different sizes, so that each one's draws start
// where the ones before it end.
TEST(ScoringTeamTest, JitteringOnEveryThreadDrawsWhatOneThreadDraws) {
  const SceneSnapshot scene = LineScene(50);
  for (int threads : {1, 2, 3}) {
    const std::atomic<bool> never{false};
    ScoringTeam team(scene, threads, never);
    Population population;
    FillPopulation(population, scene);
    for (std::size_t i = 0; i < population.candidates.size(); ++i) {
      population.candidates[i].vertices.resize(50 - 3 * i);
    }
    RandomGenerator generator{77u + static_cast<std::uint32_t>(threads)};
    BeamTracer alone;
    for (int round = 0; round < 12; ++round) {
      Population expected = population;
      RandomGenerator expectedGenerator = generator;
      MutatePopulation(expected, expectedGenerator);
      for (Candidate& candidate : expected.candidates) {
        alone.Evaluate(candidate.vertices, scene.source, scene.aim, scene.target, never,
                       candidate.rayRecords, candidate.score);
      }
      ASSERT_TRUE(team.JitterAndScore(population, generator));
      ASSERT_EQ(generator.state, expectedGenerator.state) << threads << " threads, round " << round;
      for (std::size_t i = 0; i < expected.candidates.size(); ++i) {
        const auto& got = population.candidates[i].vertices;
        const auto& want = expected.candidates[i].vertices;
        ASSERT_EQ(std::memcmp(got.data(), want.data(), want.size() * sizeof(Point2)), 0)
            << threads << " threads, round " << round << ", candidate " << i;
        ASSERT_TRUE(SameRecords(population.candidates[i], expected.candidates[i]));
      }
    }
  }
}

TEST(ScoringTeamTest, AStopEndsTheRoundAndTheTeamEndsWithIt) {
  const SceneSnapshot scene = LineScene(400);
  std::atomic<bool> stop{true};
  ScoringTeam team(scene, 3, stop);
  Population population;
  FillPopulation(population, scene);
  EXPECT_FALSE(team.Score(population));
  // Stopped or not, the generator goes past the whole generation's draws.
  RandomGenerator generator{5u}, expected{5u};
  EXPECT_FALSE(team.JitterAndScore(population, generator));
  expected.Skip(2 * 400 * kPopulationSize);
  EXPECT_EQ(generator.state, expected.state);
  stop.store(false);
  EXPECT_TRUE(team.Score(population));
}

TEST(ScoringTeamTest, OnlyMirrorsLargeEnoughGetMoreThanOneThread) {
  EXPECT_EQ(ScoringThreadsFor(DefaultTestScene(), 4), 1);
  EXPECT_EQ(ScoringThreadsFor(LineScene(100), 1), 1);
  EXPECT_EQ(ScoringThreadsFor(LineScene(100), 3), 3);
  EXPECT_EQ(ScoringThreadsFor(LineScene(100), 64), kPopulationSize);
}

// The optimiser's whole generations, with three threads and with one: the
// same population after every one of them (checked at the end and at a
// pause, which lands on any generation).
TEST(ScoringTeamTest, AnOptimiserWithThreeThreadsEndsWithTheBitsOfOneWithOne) {
  const SceneSnapshot scene = LineScene(60);
  auto run = [&](int threads) {
    RefPtr<ReflectorOptimizer> optimizer;
    optimizer.Adopt(new ReflectorOptimizer(scene, 80, std::nullopt, false, 4242u, threads));
    while (!optimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return CopyState(*optimizer);
  };
  const OptimizerState one = run(1);
  const OptimizerState three = run(3);
  ASSERT_EQ(one.population.bestIndex, three.population.bestIndex);
  for (std::size_t i = 0; i < one.population.candidates.size(); ++i) {
    const auto& a = one.population.candidates[i];
    const auto& b = three.population.candidates[i];
    ASSERT_EQ(a.vertices.size(), b.vertices.size());
    EXPECT_EQ(std::memcmp(a.vertices.data(), b.vertices.data(), a.vertices.size() * sizeof(Point2)), 0);
    EXPECT_TRUE(SameRecords(a, b)) << "candidate " << i;
  }
  EXPECT_EQ(one.record.history, three.record.history);
  EXPECT_EQ(one.record.boundaryState, three.record.boundaryState);
}

}  // namespace
}  // namespace reflector
