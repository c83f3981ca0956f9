#include "optimizer/generator_turn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace reflector {
namespace {

// No timing: each check is about order. A waiter that must not pass yet is
// shown to wait by the fact that the step after it has not happened.
TEST(GeneratorTurn, TurnsGoInCreationOrderWhateverOrderTheyWaitIn) {
  constexpr int kTurns = 8;
  std::vector<std::unique_ptr<GeneratorTurn>> turns;
  for (int i = 0; i < kTurns; ++i) turns.push_back(std::make_unique<GeneratorTurn>());
  std::atomic<bool> noStop{false};
  std::vector<int> order;  // written only by the thread whose turn it is
  std::vector<std::thread> threads;
  for (int i = kTurns - 1; i >= 0; --i) {  // the last turn starts waiting first
    threads.emplace_back([&, i] {
      ASSERT_TRUE(turns[i]->Wait(noStop));
      order.push_back(i);
      turns[i]->End();
    });
  }
  for (std::thread& t : threads) t.join();
  std::vector<int> expected;
  for (int i = 0; i < kTurns; ++i) expected.push_back(i);
  EXPECT_EQ(order, expected);
}

TEST(GeneratorTurn, AbandonedTurnsLetLaterOnesGoOnceTheEarlierHaveEnded) {
  auto first = std::make_unique<GeneratorTurn>();
  auto abandoned = std::make_unique<GeneratorTurn>();
  GeneratorTurn last;
  std::atomic<bool> noStop{false};
  std::atomic<bool> lastPassed{false};
  std::thread waiter([&] {
    EXPECT_TRUE(last.Wait(noStop));
    lastPassed.store(true);
    last.End();
  });
  abandoned.reset();  // never waited: ends as it is destroyed
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(lastPassed.load());  // the first turn is still open
  first->End();
  first->End();  // a second End does nothing
  waiter.join();
  EXPECT_TRUE(lastPassed.load());
}

TEST(GeneratorTurn, StopGivesUpTheWaitAtOnce) {
  GeneratorTurn blocking;
  GeneratorTurn waiting;
  std::atomic<bool> stop{false};
  std::atomic<int> result{-1};
  std::thread waiter([&] { result.store(waiting.Wait(stop) ? 1 : 0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(result.load(), -1);
  stop.store(true);
  GeneratorTurn::Wake();
  waiter.join();
  EXPECT_EQ(result.load(), 0);
  // Already stopped: false without waiting.
  EXPECT_FALSE(waiting.Wait(stop));
}

}  // namespace
}  // namespace reflector
