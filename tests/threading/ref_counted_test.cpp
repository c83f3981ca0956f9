#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "threading/critical_section_lock.h"
#include "threading/ref_counted.h"
#include "threading/ref_ptr.h"

namespace reflector {
namespace {

// What happened to probes: how many were destroyed, and what a watched holder
// held at the moment of the last destruction.
struct ProbeLog {
  int destroyed = 0;
  const void* heldDuringDestruction = &destroyed;  // anything but a probe or null
};

class Probe : public virtual RefCounted {
 public:
  explicit Probe(ProbeLog* log, const RefPtr<Probe>* watched = nullptr)
      : log(log), watched(watched) {}
  ~Probe() override {
    ++log->destroyed;
    if (watched) log->heldDuringDestruction = watched->Get();
  }

 private:
  ProbeLog* log;
  const RefPtr<Probe>* watched;
};

TEST(RefCountedTest, CountsEachOperationAndDestroysOnceAtZero) {
  ProbeLog log;
  Probe* probe = new Probe(&log);
  EXPECT_EQ(probe->RefCount(), 1);

  AddRef(probe);
  EXPECT_EQ(probe->RefCount(), 2);

  Release(probe);
  EXPECT_EQ(probe->RefCount(), 1);
  EXPECT_EQ(log.destroyed, 0);

  Release(probe);
  EXPECT_EQ(log.destroyed, 1);
}

// Two counted bases of one object share a single count, and releasing through
// either base runs the most derived destructor.
class CountedA : public virtual RefCounted {};
class CountedB : public virtual RefCounted {};
class CountedBoth : public CountedA, public CountedB {
 public:
  explicit CountedBoth(int* destroyed) : destroyed(destroyed) {}
  ~CountedBoth() override { ++*destroyed; }

 private:
  int* destroyed;
};

TEST(RefCountedTest, VirtualBaseGivesOneCountPerObject) {
  int destroyed = 0;
  auto* object = new CountedBoth(&destroyed);
  CountedA* viaA = object;
  CountedB* viaB = object;
  EXPECT_EQ(static_cast<RefCounted*>(viaA), static_cast<RefCounted*>(viaB));
  EXPECT_EQ(object->RefCount(), 1);

  AddRef(viaA);
  EXPECT_EQ(viaB->RefCount(), 2);
  Release(viaB);
  EXPECT_EQ(destroyed, 0);
  Release(viaA);
  EXPECT_EQ(destroyed, 1);
}

class CountedLock : public CriticalSectionLock {
 public:
  explicit CountedLock(int* destroyed) : destroyed(destroyed) {}
  ~CountedLock() override { ++*destroyed; }

 private:
  int* destroyed;
};

TEST(RefCountedTest, ReleasingTheLastReferenceToAFreeStandingLockDeletesIt) {
  int destroyed = 0;
  Lockable* lock = new CountedLock(&destroyed);
  lock->Lock();
  lock->Unlock();
  EXPECT_EQ(lock->RefCount(), 1);
  Release(lock);  // a leak or a second delete shows up under the sanitizers
  EXPECT_EQ(destroyed, 1);
}

TEST(RefCountedTest, ConcurrentAddRefAndReleaseKeepTheCountExact) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 50000;
  ProbeLog log;
  Probe* probe = new Probe(&log);

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([probe] {
      for (int i = 0; i < kRounds; ++i) {
        AddRef(probe);
        Release(probe);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(probe->RefCount(), 1);
  EXPECT_EQ(log.destroyed, 0);
  Release(probe);
  EXPECT_EQ(log.destroyed, 1);
}

TEST(RefCountedTest, ExactlyOneOfManyConcurrentReleasesDestroys) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 50; ++round) {
    ProbeLog log;
    Probe* probe = new Probe(&log);
    for (int t = 1; t < kThreads; ++t) AddRef(probe);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back([probe] { Release(probe); });
    for (std::thread& thread : threads) thread.join();

    ASSERT_EQ(log.destroyed, 1) << "round " << round;
  }
}

TEST(RefPtrTest, EmptyHolder) {
  RefPtr<Probe> holder;
  EXPECT_EQ(holder.Get(), nullptr);
  EXPECT_FALSE(holder);
  holder.Reset();
  holder.Assign(nullptr);
  EXPECT_FALSE(holder);
}

TEST(RefPtrTest, AssignTakesAReferenceAndResetGivesItBackOnce) {
  ProbeLog log;
  Probe* probe = new Probe(&log);
  {
    RefPtr<Probe> holder;
    holder.Assign(probe);
    EXPECT_EQ(holder.Get(), probe);
    EXPECT_TRUE(holder);
    EXPECT_EQ(&*holder, probe);
    EXPECT_EQ(probe->RefCount(), 2);

    holder.Reset();
    EXPECT_FALSE(holder);
    EXPECT_EQ(probe->RefCount(), 1);

    holder.Reset();  // releases nothing more
    EXPECT_EQ(probe->RefCount(), 1);

    holder.Assign(probe);
    EXPECT_EQ(probe->RefCount(), 2);
  }  // the destructor releases like Reset
  EXPECT_EQ(probe->RefCount(), 1);
  EXPECT_EQ(log.destroyed, 0);
  Release(probe);
  EXPECT_EQ(log.destroyed, 1);
}

TEST(RefPtrTest, AssigningTheHeldObjectKeepsItAlive) {
  ProbeLog log;
  RefPtr<Probe> holder;
  holder.Adopt(new Probe(&log));  // the holder owns the only reference
  Probe* probe = holder.Get();
  EXPECT_EQ(probe->RefCount(), 1);

  holder.Assign(probe);
  EXPECT_EQ(log.destroyed, 0);
  EXPECT_EQ(holder.Get(), probe);
  EXPECT_EQ(probe->RefCount(), 1);

  holder.Reset();
  EXPECT_EQ(log.destroyed, 1);
}

TEST(RefPtrTest, AssignReleasesThePreviousObject) {
  ProbeLog log;
  RefPtr<Probe> holder;
  holder.Adopt(new Probe(&log));
  Probe* second = new Probe(&log);
  holder.Assign(second);
  EXPECT_EQ(log.destroyed, 1);
  EXPECT_EQ(second->RefCount(), 2);
  Release(second);
  holder.Reset();
  EXPECT_EQ(log.destroyed, 2);
}

TEST(RefPtrTest, AdoptTakesOverTheCreationReference) {
  ProbeLog log;
  RefPtr<Probe> holder;
  holder.Adopt(new Probe(&log));
  EXPECT_EQ(holder->RefCount(), 1);
  holder.Reset();
  EXPECT_EQ(log.destroyed, 1);
}

TEST(RefPtrTest, AdoptReleasesTheOldObjectAfterStoringTheNewOne) {
  ProbeLog log;
  RefPtr<Probe> holder;
  holder.Adopt(new Probe(&log, &holder));  // its destructor looks at the holder
  Probe* fresh = new Probe(&log);

  holder.Adopt(fresh);
  EXPECT_EQ(log.destroyed, 1);
  EXPECT_EQ(log.heldDuringDestruction, fresh);
  EXPECT_EQ(fresh->RefCount(), 1);
}

TEST(RefPtrTest, ResetEmptiesTheHolderBeforeTheObjectIsDestroyed) {
  ProbeLog log;
  RefPtr<Probe> holder;
  holder.Adopt(new Probe(&log, &holder));
  holder.Reset();
  EXPECT_EQ(log.destroyed, 1);
  EXPECT_EQ(log.heldDuringDestruction, nullptr);
}

TEST(RefPtrTest, CopyTakesAReferenceAndMoveHandsItOver) {
  ProbeLog log;
  RefPtr<Probe> first;
  first.Adopt(new Probe(&log));
  Probe* probe = first.Get();

  RefPtr<Probe> copy(first);
  EXPECT_EQ(copy.Get(), probe);
  EXPECT_EQ(probe->RefCount(), 2);

  RefPtr<Probe> moved(std::move(copy));
  EXPECT_FALSE(copy);
  EXPECT_EQ(moved.Get(), probe);
  EXPECT_EQ(probe->RefCount(), 2);

  RefPtr<Probe> assigned;
  assigned = first;
  EXPECT_EQ(probe->RefCount(), 3);
  RefPtr<Probe>& alias = assigned;
  assigned = alias;  // self-copy: same object, same count
  EXPECT_EQ(probe->RefCount(), 3);

  // Moving over a holder releases what it held.
  RefPtr<Probe> other;
  other.Adopt(new Probe(&log));
  other = std::move(assigned);
  EXPECT_EQ(log.destroyed, 1);
  EXPECT_EQ(other.Get(), probe);
  EXPECT_EQ(probe->RefCount(), 3);

  RefPtr<Probe>& otherAlias = other;
  other = std::move(otherAlias);  // self-move keeps the reference
  EXPECT_EQ(other.Get(), probe);
  EXPECT_EQ(probe->RefCount(), 3);

  first.Reset();
  moved.Reset();
  other.Reset();
  EXPECT_EQ(log.destroyed, 2);
}

}  // namespace
}  // namespace reflector
