// The pool behind every worker: a routine runs on a parked thread when one is
// free, a new thread only when all are busy and the bound allows, else waits
// its turn for a thread; and Wait returns once the routine has returned, not
// before.
#include "threading/worker_pool.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace reflector {
namespace {

struct Probe {
  std::atomic<bool> mayReturn{true};
  std::atomic<bool> started{false};
  std::atomic<bool> returned{false};
  std::thread::id thread;
  int niceValue = 0;
};

void Routine(void* argument) {
  auto* probe = static_cast<Probe*>(argument);
  probe->thread = std::this_thread::get_id();
  probe->niceValue = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  probe->started.store(true);
  while (!probe->mayReturn.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
  probe->returned.store(true);
}

TEST(WorkerPoolTest, OneRoutineAfterAnotherReusesTheParkedThread) {
  Probe first;
  WorkerPool::Job job = WorkerPool::Run(&Routine, &first);
  WorkerPool::Wait(job);
  ASSERT_TRUE(first.returned.load());
  EXPECT_EQ(WorkerPool::ThreadId(job), first.thread);
  EXPECT_NE(first.thread, std::this_thread::get_id());
  EXPECT_EQ(first.niceValue, 19);

  const int threads = WorkerPool::ThreadCount();
  for (int i = 0; i < 200; ++i) {
    Probe next;
    WorkerPool::Wait(WorkerPool::Run(&Routine, &next));
    ASSERT_TRUE(next.returned.load());
    EXPECT_EQ(next.niceValue, 19);
  }
  // A parked thread was free every time; nothing new was made.
  EXPECT_EQ(WorkerPool::ThreadCount(), threads);
  EXPECT_EQ(WorkerPool::BusyCount(), 0);
  WorkerPool::Wait(WorkerPool::Job{});  // an empty job: nothing to wait for
  EXPECT_EQ(WorkerPool::ThreadId(WorkerPool::Job{}), std::thread::id());
}

int StartedCount(const std::vector<Probe>& probes) {
  int started = 0;
  for (const Probe& probe : probes) started += probe.started.load() ? 1 : 0;
  return started;
}

TEST(WorkerPoolTest, AtTheBoundRoutinesWaitForAThreadInTheOrderTheyCame) {
  // More routines held busy at once than the pool may have threads.
  constexpr int kMax = WorkerPool::kMaxThreads;
  constexpr int kHeld = kMax + 20;
  std::vector<Probe> probes(kHeld);
  std::vector<WorkerPool::Job> jobs;
  for (Probe& probe : probes) {
    probe.mayReturn.store(false);
    jobs.push_back(WorkerPool::Run(&Routine, &probe));
  }
  while (StartedCount(probes) < kMax) std::this_thread::sleep_for(std::chrono::microseconds(200));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(StartedCount(probes), kMax);
  EXPECT_LE(WorkerPool::ThreadCount(), kMax);
  EXPECT_EQ(WorkerPool::BusyCount(), kHeld);
  std::set<std::thread::id> threads;
  for (int i = 0; i < kMax; ++i) threads.insert(probes[static_cast<std::size_t>(i)].thread);
  EXPECT_EQ(threads.size(), static_cast<std::size_t>(kMax));
  // A routine still waiting has no thread yet.
  EXPECT_EQ(WorkerPool::ThreadId(jobs.back()), std::thread::id());

  // Letting one go ends its own wait and gives its thread to the routine
  // that came first of those waiting, and to that one only.
  probes[3].mayReturn.store(true);
  WorkerPool::Wait(jobs[3]);
  EXPECT_TRUE(probes[3].returned.load());
  while (!probes[kMax].started.load()) std::this_thread::sleep_for(std::chrono::microseconds(200));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(probes[kMax + 1].started.load());
  EXPECT_EQ(probes[kMax].thread, probes[3].thread);
  EXPECT_EQ(WorkerPool::ThreadId(jobs[kMax]), probes[3].thread);

  // Every wait returns, each once its own routine has returned.
  for (Probe& probe : probes) probe.mayReturn.store(true);
  for (int i = kHeld - 1; i >= 0; --i) {
    WorkerPool::Wait(jobs[static_cast<std::size_t>(i)]);
    EXPECT_TRUE(probes[static_cast<std::size_t>(i)].returned.load()) << i;
  }
  EXPECT_EQ(WorkerPool::BusyCount(), 0);
  EXPECT_LE(WorkerPool::ThreadCount(), kMax);

  // A routine handed out now takes a parked thread: no thread is made while
  // one is free.
  const int made = WorkerPool::ThreadCount();
  Probe extra;
  WorkerPool::Wait(WorkerPool::Run(&Routine, &extra));
  EXPECT_EQ(WorkerPool::ThreadCount(), made);
  // Waiting again for a job long done returns at once, even though its
  // slot may have served other routines since.
  WorkerPool::Wait(jobs[0]);
  WorkerPool::Wait(jobs[kHeld - 1]);
}

TEST(WorkerPoolTest, ARoutineStillWaitingForAThreadCanBeTakenBackAndNeverRuns) {
  constexpr int kMax = WorkerPool::kMaxThreads;
  std::vector<Probe> held(kMax);
  std::vector<WorkerPool::Job> jobs;
  for (Probe& probe : held) {
    probe.mayReturn.store(false);
    jobs.push_back(WorkerPool::Run(&Routine, &probe));
  }
  while (StartedCount(held) < kMax) std::this_thread::sleep_for(std::chrono::microseconds(200));
  // A started routine cannot be taken back.
  EXPECT_FALSE(WorkerPool::Cancel(jobs[0]));
  Probe waiting, after;
  const WorkerPool::Job waitingJob = WorkerPool::Run(&Routine, &waiting);
  const WorkerPool::Job afterJob = WorkerPool::Run(&Routine, &after);
  EXPECT_TRUE(WorkerPool::Cancel(waitingJob));
  EXPECT_FALSE(WorkerPool::Cancel(waitingJob));  // once only
  WorkerPool::Wait(waitingJob);                  // at once: there is nothing to wait for
  for (Probe& probe : held) probe.mayReturn.store(true);
  WorkerPool::Wait(afterJob);
  EXPECT_TRUE(after.returned.load());
  for (const WorkerPool::Job& job : jobs) WorkerPool::Wait(job);
  EXPECT_FALSE(waiting.started.load());
  EXPECT_EQ(WorkerPool::BusyCount(), 0);
}

TEST(WorkerPoolTest, RunsHandedOutFromManyThreadsAtOnceAllComplete) {
  constexpr int kHanders = 4;
  constexpr int kEach = 250;
  std::atomic<int> returned{0};
  std::vector<std::thread> handers;
  for (int h = 0; h < kHanders; ++h) {
    handers.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        Probe probe;
        WorkerPool::Wait(WorkerPool::Run(&Routine, &probe));
        if (probe.returned.load()) returned.fetch_add(1);
      }
    });
  }
  for (std::thread& hander : handers) hander.join();
  EXPECT_EQ(returned.load(), kHanders * kEach);
  EXPECT_EQ(WorkerPool::BusyCount(), 0);
}

}  // namespace
}  // namespace reflector
