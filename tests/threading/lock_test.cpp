#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "threading/critical_section_lock.h"
#include "threading/lockable.h"
#include "threading/scoped_lock.h"
#include "threading/yield_lock.h"

namespace reflector {
namespace {

using Events = std::vector<std::string>;

// A single-threaded stand-in lock that records what is done to it.
class RecordingLock : public Lockable {
 public:
  explicit RecordingLock(Events* events) : events(events) {}
  ~RecordingLock() override { events->push_back("destroyed"); }

  void Lock() override {
    events->push_back("Lock");
    if (throwOnLock) throw std::runtime_error("Lock failed");
    locked = true;
  }
  void Unlock() override {
    events->push_back("Unlock");
    locked = false;
    if (throwOnUnlock) throw std::runtime_error("Unlock failed");
  }

  bool locked = false;
  bool throwOnLock = false;
  bool throwOnUnlock = false;

 private:
  Events* events;
};

void WaitUntilQueued(const CriticalSectionLock& lock) {
  while (lock.WaitingCount() == 0) std::this_thread::yield();
}

TEST(CriticalSectionLockTest, TwoThreadsIncrementingUnderTheLockLoseNothing) {
  constexpr int kIncrements = 20000;
  CriticalSectionLock lock;
  long counter = 0;  // deliberately plain: the lock is all that protects it

  auto work = [&] {
    for (int i = 0; i < kIncrements; ++i) {
      ScopedLock hold(&lock);
      ++counter;
    }
  };
  std::thread first(work);
  std::thread second(work);
  first.join();
  second.join();

  EXPECT_EQ(counter, 2L * kIncrements);
  EXPECT_EQ(lock.RefCount(), 1);
  EXPECT_EQ(lock.WaitingCount(), 0);
}

// A thread already waiting when the holder yields gets in before the holder
// takes the lock back, with or without a pause.
TEST(CriticalSectionLockTest, YieldLetsAQueuedWaiterInAndTakesTheLockBack) {
  for (unsigned milliseconds : {0u, 1u}) {
    SCOPED_TRACE(milliseconds);
    CriticalSectionLock lock;
    bool waiterRan = false;  // guarded by lock

    lock.Lock();
    EXPECT_EQ(lock.WaitingCount(), 0);
    std::thread waiter([&] {
      lock.Lock();
      waiterRan = true;
      lock.Unlock();
    });
    WaitUntilQueued(lock);
    EXPECT_EQ(lock.WaitingCount(), 1);

    YieldLock(lock, milliseconds);
    EXPECT_TRUE(waiterRan);
    EXPECT_EQ(lock.WaitingCount(), 0);
    lock.Unlock();
    waiter.join();
  }
}

// The worker gives the lock up with YieldLock(0) and takes it straight back; a
// lock that lets the releasing thread win that race would starve a waiting
// painter. Counted, not timed: once the holder has seen the waiter queued, the
// waiter must be served by the very next yield.
TEST(CriticalSectionLockTest, AWaiterIsServedAtTheHoldersNextYield) {
  constexpr int kRounds = 200;
  CriticalSectionLock lock;

  // All guarded by lock.
  int yields = 0;
  int yieldsWhenQueued = -1;
  std::vector<int> yieldsUntilServed;
  bool done = false;

  std::atomic<bool> holding{false};
  std::thread holder([&] {
    ScopedLock hold(&lock);
    holding.store(true);
    std::atomic<int> work{0};
    while (!done) {
      // Some work while holding, as a generation does, so the waiter mostly
      // queues while we hold rather than slipping into the gap.
      for (int i = 0; i < 1000; ++i) work.fetch_add(1, std::memory_order_relaxed);
      if (yieldsWhenQueued < 0 && lock.WaitingCount() > 0) yieldsWhenQueued = yields;
      YieldLock(lock, 0);
      ++yields;
    }
  });

  std::thread waiter([&] {
    // Otherwise all rounds may pass before the holder has even started.
    while (!holding.load()) std::this_thread::yield();
    for (int round = 0; round < kRounds; ++round) {
      lock.Lock();
      // The yield in progress when we were served counts as one.
      if (yieldsWhenQueued >= 0) yieldsUntilServed.push_back(yields - yieldsWhenQueued + 1);
      yieldsWhenQueued = -1;
      lock.Unlock();
      std::this_thread::yield();
    }
    ScopedLock hold(&lock);
    done = true;
  });

  waiter.join();
  holder.join();

  ASSERT_FALSE(yieldsUntilServed.empty()) << "the waiter never queued behind the holder";
  for (int count : yieldsUntilServed) EXPECT_EQ(count, 1);
}

TEST(ScopedLockTest, NullLockHoldsNothing) {
  ScopedLock hold(nullptr);
  EXPECT_EQ(hold.Held(), nullptr);
}

TEST(ScopedLockTest, HoldsAReferenceWhileLockedAndRestoresTheCount) {
  CriticalSectionLock lock;
  AddRef(&lock);  // a count other than 1 to start from
  {
    ScopedLock hold(&lock);
    EXPECT_EQ(hold.Held(), &lock);
    EXPECT_EQ(lock.RefCount(), 3);
  }
  EXPECT_EQ(lock.RefCount(), 2);
  Release(&lock);

  Events events;
  RecordingLock probe(&events);
  {
    ScopedLock hold(&probe);
    EXPECT_TRUE(probe.locked);
    EXPECT_EQ(probe.RefCount(), 2);
  }
  EXPECT_FALSE(probe.locked);
  EXPECT_EQ(probe.RefCount(), 1);
  EXPECT_EQ(events, (Events{"Lock", "Unlock"}));
}

// The ScopedLock holds the last reference, so its release destroys the lock:
// the unlock has to come first.
TEST(ScopedLockTest, UnlocksBeforeTheReleaseThatDestroysTheLock) {
  Events events;
  auto* probe = new RecordingLock(&events);
  {
    ScopedLock hold(probe);
    Release(probe);  // the creator lets go
    EXPECT_EQ(probe->RefCount(), 1);
  }
  EXPECT_EQ(events, (Events{"Lock", "Unlock", "destroyed"}));
}

TEST(ScopedLockTest, FailuresStillGiveTheReferenceBack) {
  Events events;
  auto* probe = new RecordingLock(&events);

  probe->throwOnLock = true;
  EXPECT_THROW(ScopedLock hold(probe), std::runtime_error);
  EXPECT_EQ(probe->RefCount(), 1);
  EXPECT_EQ(events, (Events{"Lock"}));  // nothing to unlock

  probe->throwOnLock = false;
  events.clear();
  EXPECT_THROW(
      {
        ScopedLock hold(probe);
        probe->throwOnUnlock = true;
      },
      std::runtime_error);
  EXPECT_EQ(probe->RefCount(), 1);
  EXPECT_EQ(events, (Events{"Lock", "Unlock"}));

  events.clear();
  Release(probe);
  EXPECT_EQ(events, (Events{"destroyed"}));
}

TEST(YieldLockTest, ZeroGivesTheLockUpAndTakesItBackWithoutSleeping) {
  Events events;
  RecordingLock lock(&events);
  lock.Lock();
  events.clear();

  int sleeps = 0;
  for (int i = 0; i < 100; ++i) YieldLock(lock, 0, [&](unsigned) { ++sleeps; });

  EXPECT_EQ(sleeps, 0);
  ASSERT_EQ(events.size(), 200u);
  for (std::size_t i = 0; i < events.size(); i += 2) {
    EXPECT_EQ(events[i], "Unlock");
    EXPECT_EQ(events[i + 1], "Lock");
  }
  EXPECT_TRUE(lock.locked);
}

TEST(YieldLockTest, NonZeroSleepsOnceWithTheLockReleased) {
  Events events;
  RecordingLock lock(&events);
  lock.Lock();
  events.clear();

  bool lockedDuringSleep = true;
  YieldLock(lock, 7, [&](unsigned milliseconds) {
    events.push_back("sleep " + std::to_string(milliseconds));
    lockedDuringSleep = lock.locked;
  });

  EXPECT_EQ(events, (Events{"Unlock", "sleep 7", "Lock"}));
  EXPECT_FALSE(lockedDuringSleep);
  EXPECT_TRUE(lock.locked);
}

}  // namespace
}  // namespace reflector
