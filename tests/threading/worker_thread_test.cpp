#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "threading/critical_section_lock.h"
#include "threading/ref_counted.h"
#include "threading/ref_ptr.h"
#include "threading/scoped_lock.h"
#include "threading/worker_thread.h"
#include "threading/yield_lock.h"

namespace reflector {
namespace {

int ThreadNiceValue() { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); }

// Waits without hogging a processor: the worker runs at the lowest priority.
template <typename Condition>
void WaitUntil(Condition condition) {
  while (!condition()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Embeds its block as the program's owners do. Its routine records where and
// how it ran, then either returns at once or polls the stop flag.
class TestOwner {
 public:
  explicit TestOwner(bool runUntilStopped) : runUntilStopped(runUntilStopped) {}

  WorkerThread<TestOwner> thread{&TestOwner::Routine};

  std::atomic<int> runs{0};
  std::atomic<bool> started{false};
  // Written by the routine before `started`; read after it.
  std::thread::id routineThread;
  int routineNiceValue = 0;
  bool stopFlagClearAtStart = false;

 private:
  void Routine() {
    routineThread = std::this_thread::get_id();
    routineNiceValue = ThreadNiceValue();
    stopFlagClearAtStart = !thread.StopRequested().load();
    runs.fetch_add(1);
    started.store(true);
    if (runUntilStopped) {
      while (!thread.StopRequested().load()) std::this_thread::yield();
    }
  }

  const bool runUntilStopped;
};

TEST(WorkerThreadTest, NeverStartedBlockIsIdleAndStopDoesNothing) {
  TestOwner owner(true);
  WorkerThread<TestOwner>& thread = owner.thread;
  EXPECT_FALSE(thread.HasThread());
  EXPECT_FALSE(thread.Ended());
  EXPECT_FALSE(thread.StopRequested().load());
  EXPECT_EQ(thread.GetOwner(), nullptr);
  EXPECT_EQ(thread.Priority(), WorkerThread<TestOwner>::kLowestPriority);
  EXPECT_EQ(thread.ExitCode(), -1);

  thread.Stop();
  EXPECT_FALSE(thread.HasThread());
  EXPECT_FALSE(thread.StopRequested().load());  // Stop found nothing to stop
  EXPECT_EQ(owner.runs.load(), 0);
}

TEST(WorkerThreadTest, StopEndsARoutineThatPollsTheFlag) {
  TestOwner owner(true);
  WorkerThread<TestOwner>& thread = owner.thread;
  thread.Start(&owner);
  WaitUntil([&] { return owner.started.load(); });

  EXPECT_TRUE(thread.HasThread());
  EXPECT_FALSE(thread.Ended());  // it polls until told
  EXPECT_EQ(thread.GetOwner(), &owner);
  EXPECT_FALSE(thread.StopRequested().load());
  EXPECT_TRUE(owner.stopFlagClearAtStart);

  thread.Stop();
  EXPECT_FALSE(thread.HasThread());
  EXPECT_TRUE(thread.StopRequested().load());
  EXPECT_TRUE(thread.Ended());
  EXPECT_EQ(thread.ExitCode(), 0);
  EXPECT_EQ(thread.Priority(), WorkerThread<TestOwner>::kLowestPriority);

  thread.Stop();  // a second Stop does nothing
  EXPECT_FALSE(thread.HasThread());
  EXPECT_TRUE(thread.StopRequested().load());
  EXPECT_EQ(owner.runs.load(), 1);
}

TEST(WorkerThreadTest, RoutineThatReturnedByItselfKeepsItsThreadUntilStop) {
  TestOwner owner(false);
  WorkerThread<TestOwner>& thread = owner.thread;
  thread.Start(&owner);
  WaitUntil([&] { return thread.Ended(); });

  EXPECT_TRUE(thread.HasThread());  // ended, not yet joined
  EXPECT_EQ(thread.ExitCode(), 0);
  EXPECT_FALSE(thread.StopRequested().load());

  thread.Stop();
  EXPECT_FALSE(thread.HasThread());
  EXPECT_TRUE(thread.StopRequested().load());
  EXPECT_EQ(thread.ExitCode(), 0);
  EXPECT_EQ(owner.runs.load(), 1);
}

TEST(WorkerThreadTest, StartWhileAThreadExistsChangesNothing) {
  TestOwner owner(true);
  TestOwner other(true);
  WorkerThread<TestOwner>& thread = owner.thread;
  thread.Start(&owner);
  WaitUntil([&] { return owner.started.load(); });
  const std::thread::id running = thread.ThreadId();

  // Running.
  thread.Start(&other);
  EXPECT_EQ(thread.GetOwner(), &owner);
  EXPECT_EQ(thread.ThreadId(), running);
  EXPECT_FALSE(thread.StopRequested().load());
  thread.Stop();
  EXPECT_EQ(other.runs.load(), 0);
  EXPECT_EQ(owner.runs.load(), 1);

  // Ended by itself, not yet stopped.
  TestOwner once(false);
  once.thread.Start(&once);
  WaitUntil([&] { return once.thread.Ended(); });
  const std::thread::id ended = once.thread.ThreadId();
  once.thread.Start(&other);
  EXPECT_EQ(once.thread.GetOwner(), &once);
  EXPECT_EQ(once.thread.ThreadId(), ended);
  EXPECT_TRUE(once.thread.Ended());
  once.thread.Stop();
  EXPECT_EQ(other.runs.load(), 0);
  EXPECT_EQ(once.runs.load(), 1);
}

TEST(WorkerThreadTest, RoutineRunsOnItsOwnThreadAtTheLowestPriority) {
  const int callerNiceValue = ThreadNiceValue();
  TestOwner owner(false);
  owner.thread.Start(&owner);
  owner.thread.Stop();

  EXPECT_NE(owner.routineThread, std::this_thread::get_id());
  EXPECT_EQ(owner.routineNiceValue, 19);
  EXPECT_EQ(ThreadNiceValue(), callerNiceValue);  // the caller is not lowered
}

TEST(WorkerThreadTest, CanBeStartedAgainAfterStop) {
  TestOwner owner(true);
  owner.thread.Start(&owner);
  owner.thread.Stop();
  ASSERT_TRUE(owner.thread.StopRequested().load());

  owner.started.store(false);
  owner.stopFlagClearAtStart = false;
  owner.thread.Start(&owner);
  WaitUntil([&] { return owner.started.load(); });
  EXPECT_TRUE(owner.thread.HasThread());
  EXPECT_FALSE(owner.thread.Ended());
  EXPECT_TRUE(owner.stopFlagClearAtStart);
  owner.thread.Stop();
  EXPECT_EQ(owner.runs.load(), 2);
  EXPECT_EQ(owner.thread.ExitCode(), 0);
}

TEST(WorkerThreadTest, DestructionStopsAndJoins) {
  std::atomic<bool> returned{false};
  struct Owner {
    std::atomic<bool>* returned;
    WorkerThread<Owner>* thread;
    void Routine() {
      while (!thread->StopRequested().load()) std::this_thread::yield();
      returned->store(true);
    }
  };
  Owner owner{&returned, nullptr};
  {
    WorkerThread<Owner> thread(&Owner::Routine);
    owner.thread = &thread;
    thread.Start(&owner);
  }
  EXPECT_TRUE(returned.load());
}

// The program's arrangement: a counted owner with a lock member and a worker
// that holds the lock for its whole run, yielding it between generations,
// while another thread reads its data under the lock.
class MiniOptimizer : public virtual RefCounted {
 public:
  // Observations that outlive the optimiser.
  struct Report {
    std::atomic<bool> returned{false};
    std::atomic<int> lockCountAtReturn{0};
  };

  explicit MiniOptimizer(Report* report) : report(report) { thread.Start(this); }
  ~MiniOptimizer() override { thread.Stop(); }

  int ReadGenerations() {
    lock.Lock();
    const int count = generations;
    lock.Unlock();
    return count;
  }

 private:
  void RunGenerations() {
    {
      ScopedLock hold(&lock);
      while (!thread.StopRequested().load()) {
        YieldLock(lock, 0);
        ++generations;
      }
    }
    report->lockCountAtReturn.store(lock.RefCount());
    report->returned.store(true);
  }

  WorkerThread<MiniOptimizer> thread{&MiniOptimizer::RunGenerations};
  Report* report;
  CriticalSectionLock lock;
  int generations = 0;  // guarded by lock
};

TEST(WorkerThreadTest, DestroyingTheOwnerMidRunWaitsUntilTheWorkerHasLetGoAndEnded) {
  MiniOptimizer::Report report;
  RefPtr<MiniOptimizer> current;
  current.Adopt(new MiniOptimizer(&report));

  int seen = 0;
  for (int reads = 0; reads < 3; ++reads) {
    WaitUntil([&] { return current->ReadGenerations() > seen; });
    seen = current->ReadGenerations();
  }
  EXPECT_FALSE(report.returned.load());

  current.Reset();
  EXPECT_TRUE(report.returned.load());
  EXPECT_EQ(report.lockCountAtReturn.load(), 1);  // the ScopedLock had let go
}

}  // namespace
}  // namespace reflector
