// The window's rewind: past generations rebuilt from a few bytes a generation
// and a population every so often, against the generations as they were run.
#include "optimizer/rewind_record.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "geometry/random.h"
#include "optimizer/default_test_scene.h"
#include "optimizer/evolution.h"
#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"
#include "tracing/beam_tracer.h"

namespace reflector {
namespace {

bool SameBits(const std::vector<Point2>& a, const std::vector<Point2>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Point2)) == 0;
}

const std::vector<Point2>& Best(const Population& population) {
  return population.candidates[static_cast<std::size_t>(population.bestIndex)].vertices;
}

// Runs generations the optimiser's way on its own generator, recording them
// in the rewind record, and keeps the live best of the generations that
// bests has keys for.
// Scores come from tracing, or (for large mirrors, where only the record's
// size is looked at) from a cheap stand-in that still decides the selection.
class Generations {
 public:
  Generations(const SceneSnapshot& scene, std::uint32_t seed, bool traced)
      : scene(scene), generator{seed}, traced(traced) {
    FillPopulation(population, scene);
  }

  void Run(std::uint32_t count, RewindRecord& rewind,
           std::map<std::uint32_t, std::vector<Point2>>* bests = nullptr) {
    if (completed == 0) rewind.Start(population, 0, generator.state);
    for (std::uint32_t g = 0; g < count; ++g) {
      MutatePopulation(population, generator);
      for (Candidate& candidate : population.candidates) Score(candidate);
      Survivors survivors;
      SelectSurvivors(population, 5, &survivors);
      ++completed;
      rewind.Record(population, survivors, completed, generator.state);
      if (bests && bests->count(completed)) (*bests)[completed] = Best(population);
    }
  }

  Population population;
  std::uint32_t completed = 0;

 private:
  void Score(Candidate& candidate) {
    if (traced) {
      const std::atomic<bool> never{false};
      tracer.Evaluate(candidate.vertices, scene.source, scene.aim, scene.target, never,
                      candidate.rayRecords, candidate.score);
    } else {
      candidate.score = candidate.vertices.front().x * 3.0 + candidate.vertices.back().y;
    }
  }

  SceneSnapshot scene;
  RandomGenerator generator;
  bool traced;
  BeamTracer tracer;
};

TEST(RewindRecordTest, EveryGenerationsBestIsRebuiltWithTheBitsItHadOnEitherSideOfASnapshot) {
  RewindRecord rewind(7);
  Generations run(DefaultTestScene(), 12345u, true);
  std::map<std::uint32_t, std::vector<Point2>> bests;
  for (std::uint32_t g = 1; g <= 40; ++g) bests[g];
  run.Run(40, rewind, &bests);

  for (const auto& [generation, live] : bests) {
    const std::optional<RewindReplay> replay = rewind.ReplayTo(generation);
    ASSERT_TRUE(replay) << generation;
    EXPECT_LE(replay->steps.size(), 6u) << generation;
    EXPECT_TRUE(SameBits(Replay(*replay), live)) << "generation " << generation;
  }
  // The start and every seventh generation: 0, 7, ..., 35.
  EXPECT_EQ(rewind.snapshotCount(), 6u);
  EXPECT_FALSE(rewind.ReplayTo(0));
  EXPECT_FALSE(rewind.ReplayTo(41));
}

TEST(RewindRecordTest, ARunContinuedAfterAPauseCarriesOnItsRecordAndAnotherStartsAfresh) {
  RewindRecord rewind(5);
  Generations run(DefaultTestScene(), 99u, true);
  std::map<std::uint32_t, std::vector<Point2>> bests{{3, {}}};
  run.Run(12, rewind, &bests);
  // Where a paused run continues: the record leads here, so nothing is redone.
  rewind.Start(run.population, 12, 0xDEADu);
  std::map<std::uint32_t, std::vector<Point2>> later;
  for (std::uint32_t g = 13; g <= 20; ++g) later[g];
  run.Run(8, rewind, &later);
  ASSERT_TRUE(rewind.ReplayTo(3));
  EXPECT_TRUE(SameBits(Replay(*rewind.ReplayTo(3)), bests.at(3)));
  EXPECT_TRUE(SameBits(Replay(*rewind.ReplayTo(17)), later.at(17)));

  // A record that does not lead to where a run starts is dropped for a new one.
  rewind.Start(run.population, 100, 1u);
  EXPECT_FALSE(rewind.ReplayTo(3));
  EXPECT_EQ(rewind.snapshotCount(), 1u);
  // And one that skips a generation keeps what it holds but takes no more.
  Survivors any;
  rewind.Record(run.population, any, 105, 1u);
  EXPECT_FALSE(rewind.ReplayTo(105));
}

TEST(RewindRecordTest, SnapshotsShareTheListsOfCandidatesThatAreCopies) {
  Population population;
  FillPopulation(population, DefaultTestScene());
  // A fresh population is ten copies of one mirror.
  PopulationSnapshot fresh = PopulationSnapshot::Of(population, 0, 1u);
  EXPECT_EQ(fresh.vertexLists.size(), 1u);
  population.candidates[4].vertices[2].y += 1.0;
  population.candidates[8].vertices[2].y += 1.0;
  PopulationSnapshot two = PopulationSnapshot::Of(population, 0, 1u);
  ASSERT_EQ(two.vertexLists.size(), 2u);
  EXPECT_EQ(two.listOf[4], 1);
  EXPECT_EQ(two.listOf[8], 1);
  EXPECT_EQ(two.listOf[9], 0);
}

// The bound the README states: per 100,000 generations, 101 snapshots of at
// most ten mirrors each (in practice about half, as copies share a list),
// and 11 bytes a generation. A 2000-vertex mirror, 3000 generations with the
// window's interval: the rewind holds a few megabytes where a mirror a
// generation took 96 MB, and the farthest replay still gives the live bits.
TEST(RewindRecordTest, A2000VertexRunKeepsItsRewindWithinTheStatedBound) {
  SceneSnapshot scene = DefaultTestScene();
  scene.vertices.clear();
  for (int i = 0; i < 2000; ++i) scene.vertices.push_back({494.0 + (i % 7) * 0.5, 52.0 + i * 0.126});
  RewindRecord rewind;
  ASSERT_EQ(rewind.interval(), 1000u);
  Generations run(scene, 7u, false);
  std::map<std::uint32_t, std::vector<Point2>> bests{{999, {}}, {1000, {}}, {1001, {}}, {2999, {}}};
  run.Run(3000, rewind, &bests);

  const std::size_t mirrorBytes = 2000 * sizeof(Point2);
  const std::size_t bound = 4 * (10 * mirrorBytes + sizeof(PopulationSnapshot)) + 3000 * 11;
  EXPECT_EQ(rewind.snapshotCount(), 4u);
  EXPECT_LE(rewind.Bytes(), bound);
  EXPECT_LT(rewind.Bytes(), 3000 * mirrorBytes / 40);
  for (const auto& [generation, live] : bests) {
    EXPECT_TRUE(SameBits(Replay(*rewind.ReplayTo(generation)), live)) << "generation " << generation;
  }
}

// Through the optimiser the window runs: its rewind across the first
// snapshot interval gives the best that a run stopped there ends with.
TEST(RewindRecordTest, TheOptimisersRewindGivesTheBestOfARunThatEndedThere) {
  auto finalBest = [](std::uint32_t generations, bool keepRewind, RefPtr<ReflectorOptimizer>& optimizer) {
    optimizer.Adopt(new ReflectorOptimizer(DefaultTestScene(), generations, std::nullopt, keepRewind, 77u));
    while (!optimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const Population* population = nullptr;
    optimizer->LockState(&population, nullptr);
    std::vector<Point2> best = Best(*population);
    optimizer->UnlockState();
    return best;
  };
  RefPtr<ReflectorOptimizer> longRun;
  const std::vector<Point2> atEnd = finalBest(2300, true, longRun);
  for (std::uint32_t generation : {1u, 999u, 1000u, 1001u, 2000u, 2299u}) {
    RefPtr<ReflectorOptimizer> shortRun;
    const std::vector<Point2> expected = finalBest(generation, false, shortRun);
    const RunRecord* record = nullptr;
    longRun->LockState(nullptr, nullptr, &record);
    const std::optional<std::vector<Point2>> rebuilt = record->BestMirrorAfter(generation);
    longRun->UnlockState();
    ASSERT_TRUE(rebuilt) << generation;
    EXPECT_TRUE(SameBits(*rebuilt, expected)) << "generation " << generation;
  }
  const RunRecord* record = nullptr;
  longRun->LockState(nullptr, nullptr, &record);
  EXPECT_TRUE(SameBits(*record->BestMirrorAfter(2300), atEnd));
  EXPECT_EQ(record->rewind.snapshotCount(), 3u);
  longRun->UnlockState();
}

}  // namespace
}  // namespace reflector
