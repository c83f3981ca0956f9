// The optimiser's generations against the same generations scored by the
// reference evaluator: every vertex, score, record and path point, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <thread>

#include "geometry/random.h"
#include "golden/golden_scenes.h"
#include "optimizer/evolution.h"
#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"
#include "tracing/reference_beam.h"

namespace reflector {
namespace {

bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The generation loop written out with the reference evaluator; selection
// as the optimiser does it, or with every copy taking the rays it copies.
Population ReferenceGenerations(const SceneSnapshot& scene, std::uint32_t generations,
                                bool copyEveryRay = false) {
  Population population;
  FillPopulation(population, scene);
  for (std::uint32_t g = 0; g < generations; ++g) {
    MutatePopulation(population);
    for (Candidate& candidate : population.candidates) {
      ReferenceBeam beam =
          EvaluateBeamReference(candidate.vertices, scene.source, scene.aim, scene.target);
      candidate.rayRecords = std::move(beam.rayRecords);
      candidate.score = beam.score;
    }
    if (copyEveryRay) {
      for (int i = 0; i < 5; ++i) ReplaceWorstWithBest(population);
    } else {
      SelectSurvivors(population, 5);
    }
  }
  return population;
}

Population OptimizerGenerations(const SceneSnapshot& scene, std::uint32_t generations) {
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(scene, generations));
  while (!optimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const Population* population = nullptr;
  optimizer->LockState(&population, nullptr);
  Population copy = *population;
  optimizer->UnlockState();
  return copy;
}

::testing::AssertionResult Identical(const Population& a, const Population& b) {
  if (a.bestIndex != b.bestIndex || a.candidates.size() != b.candidates.size()) {
    return ::testing::AssertionFailure() << "best " << a.bestIndex << "/" << b.bestIndex;
  }
  for (std::size_t c = 0; c < a.candidates.size(); ++c) {
    const Candidate& x = a.candidates[c];
    const Candidate& y = b.candidates[c];
    if (!SameBits(x.score, y.score)) {
      return ::testing::AssertionFailure() << "candidate " << c << " score " << x.score << "/"
                                           << y.score;
    }
    if (x.vertices != y.vertices || x.rayRecords.size() != y.rayRecords.size()) {
      return ::testing::AssertionFailure() << "candidate " << c << " vertices or record count";
    }
    for (std::size_t r = 0; r < x.rayRecords.size(); ++r) {
      const RayRecord& p = x.rayRecords[r];
      const RayRecord& q = y.rayRecords[r];
      bool same = p.hitFlag == q.hitFlag && SameBits(p.cost, q.cost) && p.path.size() == q.path.size();
      for (std::size_t i = 0; same && i < p.path.size(); ++i) {
        same = SameBits(p.path[i].x, q.path[i].x) && SameBits(p.path[i].y, q.path[i].y);
      }
      if (!same) return ::testing::AssertionFailure() << "candidate " << c << " ray " << r;
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(FastGenerations, MatchTheReferenceOnEveryStoredScene) {
  const std::vector<GoldenScene> scenes = LoadGoldenScenes(REFLECTOR_GOLDEN_SCENES);
  ASSERT_GE(scenes.size(), 44u);
  for (const GoldenScene& scene : scenes) {
    constexpr std::uint32_t kGenerations = 12;
    SetRandomState(1);
    const Population expected = ReferenceGenerations(scene.snapshot, kGenerations);
    const std::uint32_t stateAfter = RandomState();
    SetRandomState(1);
    const Population actual = OptimizerGenerations(scene.snapshot, kGenerations);
    EXPECT_EQ(RandomState(), stateAfter) << scene.name;
    ASSERT_TRUE(Identical(actual, expected)) << scene.name;
    // The rays the window draws are the best's, as they are with every ray copied.
    SetRandomState(1);
    Population wholeCopies = ReferenceGenerations(scene.snapshot, kGenerations, true);
    ASSERT_EQ(actual.bestIndex, wholeCopies.bestIndex) << scene.name;
    for (std::size_t c = 0; c < actual.candidates.size(); ++c) {
      if (static_cast<int>(c) != actual.bestIndex) {
        wholeCopies.candidates[c].rayRecords = actual.candidates[c].rayRecords;
      }
    }
    ASSERT_TRUE(Identical(actual, wholeCopies)) << scene.name << ", every ray copied";
  }
  SetRandomState(1);
}

}  // namespace
}  // namespace reflector
