#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace reflector {

// Threads at the lowest ordinary priority (nice 19) that stay parked between
// routines, so that starting a worker is a hand-over and a wake-up instead of
// a thread creation. A restart happens on every pointer move; creating and
// joining a thread there takes locks inside the C library (the stack cache,
// the address space) that a descheduled low-priority thread may be holding,
// and the window's thread would wait for it.
//
//   WorkerPool::Job job = WorkerPool::Run(&Routine, argument);  // returns at once
//   ...
//   WorkerPool::Wait(job);  // Routine(argument) has returned
//
// A routine runs on a parked thread when one is free; otherwise a new thread
// is made (and parked afterwards), up to kMaxThreads. At that bound the
// routine waits, in the order routines were handed out, for the first thread
// to come free: however fast restarts come, however long old workers take to
// see that they must stop, the pool holds at most kMaxThreads threads. Pool
// threads are never joined: they wait for the next routine until the process
// ends.
//
// A routine may wait for one handed out before it, never for one handed out
// after it: that one may be waiting for a thread this one holds.
//
// Thread safety: Run, Wait and ThreadId may be called from any thread. A job
// is waited for by one thread at a time. A child forked without exec must not
// start routines: the pool's threads are not in it.
class WorkerPool {
 public:
  struct Slot;

  // The most threads the pool makes. The program has one worker running and
  // the retired ones finishing their current ray; a few threads serve them.
  static constexpr int kMaxThreads = 8;

  // A routine handed to a pool thread. Default-constructed: no routine.
  struct Job {
    Slot* slot = nullptr;
    std::uint32_t number = 0;  // the slot's hand-over count for this routine
  };

  // Runs routine(argument) on a pool thread, at once or once one is free.
  // When no parked thread is free, the bound is not reached and no thread can
  // be made (or there is no memory for a slot), throws std::system_error and
  // runs nothing.
  static Job Run(void (*routine)(void*), void* argument);

  // Takes back a routine still waiting for a thread: it will never run, and
  // Wait returns at once. False when it has started (or returned) already.
  static bool Cancel(const Job& job);

  // Blocks until the job's routine has returned. Does nothing for an empty job.
  static void Wait(const Job& job);

  // The thread the job runs on; the default id for an empty job, and for a
  // job still waiting for a thread.
  static std::thread::id ThreadId(const Job& job);

  // Pool threads made so far, parked or busy, and routines handed out that
  // have not returned (running or waiting for a thread). For tests and
  // benchmarks.
  static int ThreadCount();
  static int BusyCount();
};

}  // namespace reflector
