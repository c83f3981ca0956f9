#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <system_error>
#include <thread>

namespace reflector {

// Runs one member routine of its owner on a thread of its own, at the lowest
// ordinary priority, until the routine returns; Stop asks it to return and
// joins it.
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
// the thread is not joined until Stop). Start does nothing unless Idle; Stop
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
  // thread exists, even one whose routine has returned. If the platform
  // cannot create a thread, the block stays Idle and std::system_error is
  // thrown: a caller waiting for a routine that never runs would wait forever.
  void Start(Owner* newOwner) {
    if (threadHandle.joinable()) return;
    owner = newOwner;
    stopRequested.store(false);
    ended.store(false);
    threadHandle = std::thread(&WorkerThread::ThreadProc, this);
  }

  // Asks the routine to return and waits for the thread to end. Does nothing
  // when no thread exists. StopRequested() stays true afterwards.
  void Stop() {
    if (!threadHandle.joinable()) return;
    stopRequested.store(true);
    threadHandle.join();
  }

  // Asks the routine to return without waiting for it; Stop still joins.
  // For handing the owner to another thread that destroys it (see Reaper).
  void RequestStop() { stopRequested.store(true); }

  // True while a thread exists: from Start until Stop, also after the
  // routine has returned by itself.
  bool HasThread() const { return threadHandle.joinable(); }

  // True once the routine of the last thread started has returned.
  bool Ended() const { return ended.load(); }

  // The last thread's exit code, once Ended(); -1 before any thread ended.
  int ExitCode() const { return ended.load() ? exitCode : -1; }

  // Read afresh at every check; set by Stop, cleared by Start.
  const std::atomic<bool>& StopRequested() const { return stopRequested; }

  int Priority() const { return priority; }
  Owner* GetOwner() const { return owner; }
  std::thread::id ThreadId() const { return threadHandle.get_id(); }

 private:
  // Linux "nice" for a thread priority: the lowest ordinary priority is 19.
  static constexpr int NiceValue(int threadPriority) {
    return threadPriority <= kLowestPriority ? 19 : 0;
  }

  static void ThreadProc(WorkerThread* block) {
    // Lower this thread alone: on Linux a thread id names one thread here.
    // Done first thing, so the routine may run a moment at normal priority
    // before; failure is ignored.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), NiceValue(block->priority));
    (block->owner->*block->entry)();
    block->exitCode = kExitCode;
    block->ended.store(true);
  }

  std::thread threadHandle;  // joinable exactly when a thread exists
  std::atomic<bool> stopRequested{false};
  const int priority = kLowestPriority;
  Owner* owner = nullptr;
  const Entry entry;
  std::atomic<bool> ended{false};
  int exitCode = -1;  // written by the worker before it sets ended
};

}  // namespace reflector
