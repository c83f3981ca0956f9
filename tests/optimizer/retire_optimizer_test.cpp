#include "optimizer/retire_optimizer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "geometry/random.h"
#include "optimizer/default_test_scene.h"

namespace reflector {
namespace {

void WaitUntilDone(const ReflectorOptimizer& optimizer) {
  while (!optimizer.Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

Population CopyPopulation(ReflectorOptimizer& optimizer) {
  const Population* population = nullptr;
  optimizer.LockState(&population, nullptr);
  Population copy = *population;
  optimizer.UnlockState();
  return copy;
}

class RetireOptimizerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRandomState(1); }
  void TearDown() override {
    WaitForRetiredOptimizers();
    SetRandomState(1);
  }
};

// The old worker is held still the way a descheduled one is: the test holds
// its lock, so once it has computed a generation it waits to publish it and
// cannot even look at its stop flag. A storm of restarts
// must still go through without waiting for it, nobody may draw meanwhile,
// and once it is let go the last optimiser continues the generator exactly
// where the old one stopped.
TEST_F(RetireOptimizerTest, RestartStormDoesNotWaitForAStuckWorkerAndKeepsTheSequence) {
  const SceneSnapshot scene = DefaultTestScene();
  RefPtr<ReflectorOptimizer> current;
  current.Adopt(new ReflectorOptimizer(scene));
  while (current->CompletedGenerations() < 3) std::this_thread::yield();
  RefPtr<ReflectorOptimizer> stuck = current;  // to let it go later
  const Population* population = nullptr;
  stuck->LockState(&population, nullptr);
  while (stuck->LockWaiters() == 0) std::this_thread::yield();  // its generation is drawn
  const std::uint32_t stateWhileStuck = RandomState();

  constexpr int kStorm = 300;
  constexpr std::uint32_t kLastGenerations = 20;
  for (int i = 0; i < kStorm; ++i) {
    RetireOptimizer(current);
    EXPECT_FALSE(current);
    current.Adopt(new ReflectorOptimizer(scene, i + 1 == kStorm ? kLastGenerations : 1000));
  }
  // The reaper has dropped its reference to the stuck one (the test still
  // holds one), and the stuck worker is where it was.
  EXPECT_FALSE(stuck->Done());
  // Every new worker is waiting for its turn; none has drawn.
  EXPECT_EQ(current->CompletedGenerations(), 0u);
  EXPECT_EQ(RandomState(), stateWhileStuck);

  stuck->UnlockState();
  stuck.Reset();  // the reaper now holds the last reference
  WaitUntilDone(*current);
  WaitForRetiredOptimizers();
  EXPECT_EQ(RetiredOptimizersPending(), 0u);
  EXPECT_EQ(current->CompletedGenerations(), kLastGenerations);
  const Population last = CopyPopulation(*current);
  const std::uint32_t stateAfter = RandomState();
  current.Reset();

  // The stuck worker, let go, jittered its population once more (two draws
  // per vertex of ten candidates) before it saw the stop flag at its first ray.
  SetRandomState(stateWhileStuck);
  for (std::size_t i = 0; i < 2 * scene.vertices.size() * kPopulationSize; ++i) NextRandom();
  RefPtr<ReflectorOptimizer> alone;
  alone.Adopt(new ReflectorOptimizer(scene, kLastGenerations));
  WaitUntilDone(*alone);
  const Population expected = CopyPopulation(*alone);
  EXPECT_EQ(RandomState(), stateAfter);
  ASSERT_EQ(last.bestIndex, expected.bestIndex);
  for (int c = 0; c < kPopulationSize; ++c) {
    EXPECT_EQ(last.candidates[c].vertices, expected.candidates[c].vertices) << c;
    EXPECT_EQ(std::memcmp(&last.candidates[c].score, &expected.candidates[c].score,
                          sizeof(double)),
              0)
        << c;
  }
}

// Under LeakSanitizer and ThreadSanitizer: retired optimisers stopped at
// random moments (before the fill, waiting for their turn, mid-generation)
// are all destroyed, with every record, path and thread.
TEST_F(RetireOptimizerTest, ThousandRetirementsReleaseEverything) {
  std::mt19937 gen(11);
  RefPtr<ReflectorOptimizer> current;
  RetireOptimizer(current);  // an empty holder is left alone
  for (int i = 0; i < 1000; ++i) {
    RetireOptimizer(current);
    current.Adopt(new ReflectorOptimizer(DefaultTestScene()));
    if (gen() % 4 == 0) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(gen() % 500);
      while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
    }
  }
  RetireOptimizer(current);
  WaitForRetiredOptimizers();
  EXPECT_EQ(RetiredOptimizersPending(), 0u);
}

}  // namespace
}  // namespace reflector
