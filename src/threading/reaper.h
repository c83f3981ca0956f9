#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "threading/ref_counted.h"

namespace reflector {

// Drops references on a thread of its own, so that whoever hands one over
// never waits for the destructor the last release may run (an optimiser's
// destructor waits for its worker, which can take as long as the scheduler
// likes).
//
//   Reaper reaper;
//   reaper.Hand(object);        // takes over one reference; returns at once
//   reaper.WaitUntilEmpty();    // every reference handed over is released
//
// References are released one at a time, in the order they were handed over.
// The destructor releases whatever is still queued and joins the thread.
//
// Hand takes no lock and allocates nothing: the queue is linked through the
// objects themselves and pushed with a compare-and-swap, and the reaper is
// woken through a futex. A hander therefore never waits for a thread that
// holds a lock and was descheduled.
//
// Thread safety: Hand, WaitUntilEmpty and Pending may be called from any
// thread, except from a destructor the reaper itself runs. An object is in at
// most one reaper's queue at a time.
class Reaper {
 public:
  Reaper();
  ~Reaper();
  Reaper(const Reaper&) = delete;
  Reaper& operator=(const Reaper&) = delete;

  // Takes over one reference to object (null is ignored). Never waits.
  void Hand(RefCounted* object);

  // Blocks until every reference handed over before the call is released.
  void WaitUntilEmpty();

  // References handed over and not yet released.
  std::size_t Pending() const;

 private:
  void Run();

  std::atomic<RefCounted*> newest{nullptr};  // handed over, newest first
  // Counts wrap; only their difference matters. 32 bits so that waiting on
  // them is a plain futex wait.
  std::atomic<std::uint32_t> handedCount{0};
  std::atomic<std::uint32_t> releasedCount{0};  // WaitUntilEmpty sleeps on it
  std::atomic<std::uint32_t> wakeups{0};        // the reaper sleeps on it
  std::atomic<bool> stopping{false};
  std::thread thread;  // last: starts once the rest is built
};

}  // namespace reflector
