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
// is made (and parked afterwards). Pool threads are never joined: they wait
// for the next routine until the process ends.
//
// Thread safety: Run, Wait and ThreadId may be called from any thread. A job
// is waited for by one thread at a time. A child forked without exec must not
// start routines: the pool's threads are not in it.
class WorkerPool {
 public:
  struct Slot;

  // A routine handed to a pool thread. Default-constructed: no routine.
  struct Job {
    Slot* slot = nullptr;
    std::uint32_t number = 0;  // the slot's hand-over count for this routine
  };

  // Runs routine(argument) on a pool thread. When no parked thread is free and
  // none can be made (no thread, or no memory for more slots), throws
  // std::system_error and runs nothing.
  static Job Run(void (*routine)(void*), void* argument);

  // Blocks until the job's routine has returned. Does nothing for an empty job.
  static void Wait(const Job& job);

  // The thread the job runs on; the default id for an empty job.
  static std::thread::id ThreadId(const Job& job);

  // Pool threads made so far, parked or busy, and those running a routine
  // (or about to). For tests and benchmarks.
  static int ThreadCount();
  static int BusyCount();
};

}  // namespace reflector
