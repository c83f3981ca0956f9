#include "threading/parked_threads.h"

#include <sys/resource.h>
#include <unistd.h>

#include <system_error>

namespace reflector {

namespace {

constexpr std::size_t kSpares = 2;
constexpr int kLowestNice = 19;

}  // namespace

void ParkedThread::Run(Job newJob) {
  job = newJob;
  state.store(kRunning);
  state.notify_all();
}

void ParkedThread::Wait() {
  for (int seen = state.load(); seen != kFinished; seen = state.load()) state.wait(seen);
  state.store(kFree);
}

void ParkedThread::Loop() {
  // Lowered before it can be claimed, so that waking it never takes the
  // processor from the thread that does.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kLowestNice);
  state.store(kFree);
  for (;;) {
    int seen = state.load();
    while (seen != kRunning && seen != kExit) {
      state.wait(seen);
      seen = state.load();
    }
    if (seen == kExit) return;
    job.routine(job.context);
    state.store(kFinished);
    state.notify_all();
  }
}

ParkedThreads& ParkedThreads::Shared() {
  static ParkedThreads shared;
  return shared;
}

ParkedThreads::ParkedThreads() {
  // Slots not yet made are claimed by nobody: they start as kExit.
  for (ParkedThread& slot : threads) slot.state.store(ParkedThread::kExit);
  keeper = std::thread(&ParkedThreads::Keep, this);
}

ParkedThreads::~ParkedThreads() {
  stopping.store(true);
  wanted.fetch_add(1);
  wanted.notify_one();
  keeper.join();
  const std::size_t count = made.load();
  for (std::size_t i = 0; i < count; ++i) {
    ParkedThread& slot = threads[i];
    // A thread still running a job finishes it first; its claimer waits for it.
    int expected = ParkedThread::kFree;
    while (!slot.state.compare_exchange_weak(expected, ParkedThread::kExit)) {
      if (expected == ParkedThread::kExit) break;
      if (expected != ParkedThread::kFree) {
        slot.state.wait(expected);
        expected = ParkedThread::kFree;
      }
    }
    slot.state.notify_all();
    slot.thread.join();
  }
}

std::size_t ParkedThreads::Parked() const {
  std::size_t parked = 0;
  const std::size_t count = made.load();
  for (std::size_t i = 0; i < count; ++i) {
    if (threads[i].state.load() == ParkedThread::kFree) ++parked;
  }
  return parked;
}

std::size_t ParkedThreads::Busy() const {
  const std::size_t count = made.load();
  return count - Parked();
}

ParkedThread* ParkedThreads::Claim() {
  ParkedThread* claimed = nullptr;
  const std::size_t count = made.load();
  for (std::size_t i = 0; i < count && !claimed; ++i) {
    int expected = ParkedThread::kFree;
    if (threads[i].state.compare_exchange_strong(expected, ParkedThread::kClaimed)) {
      claimed = &threads[i];
    }
  }
  // The keeper makes more when few are left; asked with atomics alone, since
  // the keeper may hold its mutex while it makes a thread.
  if (made.load() < kCapacity) {
    wanted.fetch_add(1);
    wanted.notify_one();
  }
  return claimed;
}

void ParkedThreads::Keep() {
  for (;;) {
    const unsigned seen = wanted.load();
    if (stopping.load()) return;
    while (made.load() < kCapacity && Parked() < kSpares) {
      ParkedThread& slot = threads[made.load()];
      // Not claimable until its thread runs: the slot stays kExit until then.
      try {
        slot.thread = std::thread(&ParkedThread::Loop, &slot);
      } catch (const std::system_error&) {
        break;  // no thread to be had now: claimers make their own
      }
      // Counted only once the thread is running and parked.
      for (int state = slot.state.load(); state != ParkedThread::kFree; state = slot.state.load()) {
        std::this_thread::yield();
      }
      made.fetch_add(1);
    }
    // Sleeps until asked again (or told to stop, which also asks).
    wanted.wait(seen);
  }
}

}  // namespace reflector
