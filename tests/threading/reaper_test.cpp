#include "threading/reaper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace reflector {
namespace {

// Records which thread destroyed it and in what order; its destructor can be
// held up until the test lets it go, like a worker that is slow to notice.
struct Log {
  std::mutex mutex;
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  std::atomic<bool> release{true};
};

class Slow : public virtual RefCounted {
 public:
  Slow(Log& log, int id) : log(log), id(id) {}
  ~Slow() override {
    while (!log.release.load()) std::this_thread::sleep_for(std::chrono::microseconds(100));
    std::lock_guard<std::mutex> guard(log.mutex);
    log.order.push_back(id);
    log.threads.push_back(std::this_thread::get_id());
  }

 private:
  Log& log;
  const int id;
};

TEST(Reaper, ReleasesInOrderOnItsOwnThreadWhileHandNeverWaits) {
  Log log;
  log.release.store(false);
  Reaper reaper;
  for (int i = 0; i < 50; ++i) reaper.Hand(new Slow(log, i));
  reaper.Hand(nullptr);  // ignored
  // The first destructor is stuck, yet every Hand above has returned.
  EXPECT_GE(reaper.Pending(), 50u);
  {
    std::lock_guard<std::mutex> guard(log.mutex);
    EXPECT_TRUE(log.order.empty());
  }
  log.release.store(true);
  reaper.WaitUntilEmpty();
  EXPECT_EQ(reaper.Pending(), 0u);
  ASSERT_EQ(log.order.size(), 50u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(log.order[i], i);
    EXPECT_NE(log.threads[i], std::this_thread::get_id());
  }
}

TEST(Reaper, OnlyTheLastReferenceDestroysAndTheDestructorDrains) {
  Log log;
  Slow* shared = new Slow(log, 7);
  AddRef(shared);  // the test keeps one
  std::thread letGo;
  {
    Reaper reaper;
    reaper.Hand(shared);
    reaper.WaitUntilEmpty();
    EXPECT_TRUE(log.order.empty());  // ours is still held
    log.release.store(false);
    for (int i = 0; i < 5; ++i) reaper.Hand(new Slow(log, i));
    letGo = std::thread([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      log.release.store(true);
    });
    // The destructor releases what is still queued before it returns.
  }
  letGo.join();
  EXPECT_EQ(log.order, (std::vector<int>{0, 1, 2, 3, 4}));
  Release(shared);
  EXPECT_EQ(log.order.back(), 7);
}

// Hand is a compare-and-swap on a shared list: several handing threads at
// once must neither lose an object nor release one twice.
class Counted : public virtual RefCounted {
 public:
  explicit Counted(std::atomic<int>& destroyed) : destroyed(destroyed) {}
  ~Counted() override { destroyed.fetch_add(1); }

 private:
  std::atomic<int>& destroyed;
};

TEST(Reaper, ManyThreadsHandingAtOnceLoseNothing) {
  constexpr int kHanders = 4;
  constexpr int kEach = 2000;
  std::atomic<int> destroyed{0};
  Reaper reaper;
  std::vector<std::thread> handers;
  for (int h = 0; h < kHanders; ++h) {
    handers.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        reaper.Hand(new Counted(destroyed));
        if (i % 500 == 0) reaper.WaitUntilEmpty();
      }
    });
  }
  for (std::thread& hander : handers) hander.join();
  reaper.WaitUntilEmpty();
  EXPECT_EQ(destroyed.load(), kHanders * kEach);
  EXPECT_EQ(reaper.Pending(), 0u);
}

}  // namespace
}  // namespace reflector
