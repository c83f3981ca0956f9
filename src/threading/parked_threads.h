#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <thread>

namespace reflector {

// Threads at the lowest ordinary priority (nice 19), made ahead of need and
// kept waiting for work, so that starting a worker never makes a thread on
// the caller's thread. Making a thread takes locks inside the C library and
// the kernel that a low-priority thread may hold while it ends, and a busy
// machine can leave that thread without a processor for a long time; the
// window's thread must never wait for it. Claiming a parked thread is a few
// atomic operations and one wake.
//
//   ParkedThreads::Job job{&Routine, context};
//   if (ParkedThread* thread = ParkedThreads::Shared().Claim()) {
//     thread->Run(job);   // Routine(context) starts on that thread
//     ...
//     thread->Wait();     // until it has returned; the thread parks again
//   } else {
//     ...make a thread of your own...
//   }
//
// A thread of its own (the keeper, at normal priority) makes new threads
// while fewer than two are parked, up to kCapacity in all. At exit every
// parked thread is woken and joined; a thread that is still running a job
// then is waited for.
//
// Thread safety: Claim from any thread; Run and Wait by the claimer only.
class ParkedThread {
 public:
  struct Job {
    void (*routine)(void*);
    void* context;
  };

  // Starts job on this thread. Once only per Claim.
  void Run(Job job);
  // Blocks until the job has returned; the thread is then free to claim again.
  void Wait();
  std::thread::id Id() const { return thread.get_id(); }

 private:
  friend class ParkedThreads;
  enum State : int { kFree, kClaimed, kRunning, kFinished, kExit };

  void Loop();

  std::atomic<int> state{kFree};
  Job job{};
  std::thread thread;  // set by the keeper; joinable once made
};

class ParkedThreads {
 public:
  static constexpr std::size_t kCapacity = 16;

  static ParkedThreads& Shared();

  // A parked thread now claimed for the caller, or nullptr when none is
  // parked (the keeper is asked for more).
  ParkedThread* Claim();

  // Threads made so far (each at nice 19, parked or running a job), and
  // those of them claimed and not yet waited for.
  std::size_t Threads() const { return made.load(); }
  std::size_t Busy() const;

  ~ParkedThreads();

 private:
  ParkedThreads();
  void Keep();
  std::size_t Parked() const;

  std::array<ParkedThread, kCapacity> threads;
  std::atomic<std::size_t> made{0};
  std::atomic<unsigned> wanted{0};  // bumped to ask the keeper for threads
  std::atomic<bool> stopping{false};
  std::thread keeper;
};

}  // namespace reflector
