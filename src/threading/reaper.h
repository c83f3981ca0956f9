#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

#include "threading/ref_counted.h"

namespace reflector {

// Drops references on a thread of its own, so that whoever hands one over
// never waits for the destructor the last release may run (an optimiser's
// destructor joins its worker, which can take as long as the scheduler likes).
//
//   Reaper reaper;
//   reaper.Hand(object);        // takes over one reference; returns at once
//   reaper.WaitUntilEmpty();    // every reference handed over is released
//
// References are released one at a time, in the order they were handed over.
// The destructor releases whatever is still queued and joins the thread.
//
// Thread safety: Hand, WaitUntilEmpty and Pending may be called from any
// thread, except from a destructor the reaper itself runs.
class Reaper {
 public:
  Reaper();
  ~Reaper();
  Reaper(const Reaper&) = delete;
  Reaper& operator=(const Reaper&) = delete;

  // Takes over one reference to object (null is ignored). Never waits for a
  // release; only for the queue's own short critical section.
  void Hand(RefCounted* object);

  // Blocks until every reference handed over before the call is released.
  void WaitUntilEmpty();

  // References handed over and not yet released.
  std::size_t Pending() const;

 private:
  void Run();

  mutable std::mutex mutex;
  std::condition_variable work;     // something queued, or stopping
  std::condition_variable emptied;  // the queue ran dry
  std::deque<RefCounted*> queue;
  std::size_t releasing = 0;        // taken off the queue, release under way
  bool stopping = false;
  std::thread thread;               // last: starts once the rest is built
};

}  // namespace reflector
