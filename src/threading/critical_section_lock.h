#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "threading/lockable.h"

namespace reflector {

// The program's one lock: a fair mutual-exclusion lock with a reference count.
//
//   CriticalSectionLock lock;      // as a member; or new, then Release
//   lock.Lock();
//   ... touch the shared data ...
//   lock.Unlock();
//
// Threads get the lock in the order they asked for it (a ticket lock), so a
// thread waiting in Lock() gets it at the holder's next Unlock(), however
// quickly the holder locks again. Without that, a worker that gives the lock
// up and takes it straight back would starve a waiting UI thread.
//
// Not recursive: a thread that calls Lock() while holding the lock waits for
// itself forever. Nothing in the program re-enters.
//
// Destroy it only when nobody holds it or waits for it.
//
// Thread safety: Lock, Unlock and WaitingCount may be called from any thread;
// Unlock only by the holder.
class CriticalSectionLock : public Lockable {
 public:
  CriticalSectionLock();
  ~CriticalSectionLock() override;

  void Lock() override;
  void Unlock() override;

  // How many threads are blocked in Lock(), waiting for their turn. For tests
  // and benchmarks that need to know a waiter has queued.
  int WaitingCount() const;

 private:
  mutable std::mutex mutex;
  std::condition_variable turnChanged;
  // Tickets only ever compare for equality, so wrap-around is harmless.
  std::uint32_t nextTicket = 0;
  std::uint32_t nowServing = 0;
  int waiting = 0;
};

}  // namespace reflector
