#include "threading/parked_threads.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace reflector {
namespace {

template <typename Condition>
bool WaitUntil(Condition condition) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// A job that notes where and how it ran, then waits to be let go.
struct Blocking {
  std::atomic<bool> started{false};
  std::atomic<bool> release{false};
  std::thread::id thread;
  int nice = 0;
  static void Run(void* context) {
    auto* self = static_cast<Blocking*>(context);
    self->thread = std::this_thread::get_id();
    self->nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    self->started.store(true);
    while (!self->release.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
};

ParkedThread* ClaimSoon() {
  ParkedThread* thread = nullptr;
  WaitUntil([&] { return (thread = ParkedThreads::Shared().Claim()) != nullptr; });
  return thread;
}

TEST(ParkedThreads, AClaimedThreadRunsTheJobAtTheLowestPriorityAndParksAgain) {
  ParkedThreads& pool = ParkedThreads::Shared();
  ParkedThread* thread = ClaimSoon();
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(pool.Busy(), 1u);
  Blocking job;
  thread->Run({&Blocking::Run, &job});
  ASSERT_TRUE(WaitUntil([&] { return job.started.load(); }));
  EXPECT_NE(job.thread, std::this_thread::get_id());
  EXPECT_EQ(job.thread, thread->Id());
  EXPECT_EQ(job.nice, 19);
  job.release.store(true);
  thread->Wait();
  EXPECT_EQ(pool.Busy(), 0u);
  // The same threads serve again: no thread is made per job.
  const std::size_t made = pool.Threads();
  for (int i = 0; i < 50; ++i) {
    ParkedThread* again = ClaimSoon();
    ASSERT_NE(again, nullptr);
    Blocking next;
    next.release.store(true);
    again->Run({&Blocking::Run, &next});
    again->Wait();
    EXPECT_TRUE(next.started.load());
  }
  EXPECT_LE(pool.Threads(), made + 1);
}

TEST(ParkedThreads, WhenEveryThreadIsBusyAClaimFindsNone) {
  ParkedThreads& pool = ParkedThreads::Shared();
  std::vector<ParkedThread*> claimed;
  std::vector<Blocking> jobs(ParkedThreads::kCapacity);
  for (std::size_t i = 0; i < ParkedThreads::kCapacity; ++i) {
    ParkedThread* thread = ClaimSoon();
    ASSERT_NE(thread, nullptr) << i;
    thread->Run({&Blocking::Run, &jobs[i]});
    claimed.push_back(thread);
  }
  EXPECT_EQ(pool.Threads(), ParkedThreads::kCapacity);
  EXPECT_EQ(pool.Claim(), nullptr);
  for (std::size_t i = 0; i < claimed.size(); ++i) {
    ASSERT_TRUE(WaitUntil([&] { return jobs[i].started.load(); }));
    jobs[i].release.store(true);
    claimed[i]->Wait();
  }
  EXPECT_EQ(pool.Busy(), 0u);
}

}  // namespace
}  // namespace reflector
