#pragma once

#include <atomic>
#include <system_error>
#include <thread>

#include "threading/worker_pool.h"

namespace reflector {

// Runs one member routine of its owner on a thread of its own, at the lowest
// ordinary priority, until the routine returns; Stop asks it to return and
// waits for it. The thread comes from the WorkerPool: parked before and
// after, so starting and stopping never create or join one.
//
//   class Optimizer : public virtual RefCounted {
//    public:
//     Optimizer() { ...; thread.Start(this); }  // last
//     ~Optimizer() override { thread.Stop(); ... }  // first
//    private:
//     void RunGenerations() {
//       while (!thread.StopRequested().load()) { ... }
//     }
//     WorkerThread<Optimizer> thread{&Optimizer::RunGenerations};
//   };
//
// Contract: the owner calls Start last in its constructor and Stop first in
// its destructor, so the thread never sees it half built or half destroyed;
// the block holds no reference to its owner. The routine must poll
// StopRequested() often, since Stop waits for it without a time limit. Never
// call Stop (or destroy the owner) from the worker thread itself: it would
// wait for itself. The routine must not throw.
//
// States: Idle (no thread), Running, Ended (the routine returned by itself;
// the block keeps its thread until Stop). Start does nothing unless Idle; Stop
// does nothing when Idle and otherwise leaves the block Idle. A block may be
// started again after Stop.
//
// Thread safety: Start, Stop and the accessors other than StopRequested() and
// Ended() belong to the controlling thread (the one that builds and destroys
// the owner); RequestStop may be called from any thread. The worker reads only StopRequested(). The controlling thread
// must not hold a lock the routine waits for while it is in Stop.
template <typename Owner>
class WorkerThread {
 public:
  using Entry = void (Owner::*)();

  // The lowest priority of an ordinary thread; the only one the program uses.
  static constexpr int kLowestPriority = -2;
  // The result of every worker thread.
  static constexpr int kExitCode = 0;

  explicit WorkerThread(Entry entry) : entry(entry) {}
  ~WorkerThread() { Stop(); }

  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts a thread running (owner->*entry)(). Does nothing at all if a
  // thread exists, even one whose routine has returned. If no thread is free
  // and the platform cannot create one, the block stays Idle and
  // std::system_error is thrown: a caller waiting for a routine that never
  // runs would wait forever.
  void Start(Owner* newOwner) {
    if (hasThread) return;
    owner = newOwner;
    stopRequested.store(false);
    ended.store(false);
    job = WorkerPool::Run(&WorkerThread::ThreadProc, this);
    hasThread = true;
  }

  // Asks the routine to return and waits until it has; a routine that has not
  // started yet never will. Does nothing when no thread exists.
  // StopRequested() stays true afterwards.
  void Stop() {
    if (!hasThread) return;
    stopRequested.store(true);
    // A routine still waiting for a pool thread is taken back unrun (a
    // restart storm retires many such): there is nothing to wait for.
    if (!WorkerPool::Cancel(job)) WorkerPool::Wait(job);
    hasThread = false;
  }

  // Takes back a routine that is still waiting for a pool thread: true when
  // it will never run, and the block is then Idle, as after Stop. False when
  // it has started, or when no thread exists.
  bool CancelUnstarted() {
    if (!hasThread || !WorkerPool::Cancel(job)) return false;
    stopRequested.store(true);
    hasThread = false;
    return true;
  }

  // Asks the routine to return without waiting for it; Stop still joins.
  // For handing the owner to another thread that destroys it (see Reaper).
  void RequestStop() { stopRequested.store(true); }

  // True while a thread exists: from Start until Stop, also after the
  // routine has returned by itself.
  bool HasThread() const { return hasThread; }

  // True once the routine of the last thread started has returned.
  bool Ended() const { return ended.load(); }

  // The last thread's exit code, once Ended(); -1 before any thread ended.
  int ExitCode() const { return ended.load() ? exitCode : -1; }

  // Read afresh at every check; set by Stop, cleared by Start.
  const std::atomic<bool>& StopRequested() const { return stopRequested; }

  int Priority() const { return priority; }
  Owner* GetOwner() const { return owner; }
  std::thread::id ThreadId() const {
    return hasThread ? WorkerPool::ThreadId(job) : std::thread::id();
  }

 private:
  // Runs on a pool thread, which stays at the lowest ordinary priority
  // (nice 19) all its life. Touches the block only until ended is set: Stop
  // returns once the pool has seen the routine return.
  static void ThreadProc(void* argument) {
    auto* block = static_cast<WorkerThread*>(argument);
    (block->owner->*block->entry)();
    block->exitCode = kExitCode;
    block->ended.store(true);
  }

  WorkerPool::Job job;      // the routine's hand-over, while hasThread
  bool hasThread = false;   // from Start until Stop
  std::atomic<bool> stopRequested{false};
  const int priority = kLowestPriority;
  Owner* owner = nullptr;
  const Entry entry;
  std::atomic<bool> ended{false};
  int exitCode = -1;  // written by the worker before it sets ended
};

}  // namespace reflector
