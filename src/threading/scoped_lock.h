#pragma once

#include "threading/lockable.h"
#include "threading/ref_ptr.h"

namespace reflector {

// Holds a lock, and a reference to it, for its own lifetime.
//
//   void Optimizer::RunGenerations() {
//     ScopedLock hold(&lock);  // reference taken, then the lock
//     ...
//   }                          // unlocked, then the reference dropped
//
// The reference keeps the lock alive while it is held; it is taken before the
// lock and dropped only after the unlock, because dropping it may destroy the
// lock. A null lock gives a ScopedLock that holds nothing.
//
// Thread safety: lives on the stack of the thread that uses it.
class ScopedLock {
 public:
  // If Lock() throws, the exception goes on and the holder member, being
  // destroyed, gives the reference back; there is nothing to unlock.
  explicit ScopedLock(Lockable* lock) {
    if (!lock) return;
    held.Assign(lock);
    lock->Lock();
  }

  // Unlocks, then empties the holder and releases. If Unlock() throws, the
  // exception goes on and the holder member still releases. A lock that
  // throws from Unlock during unwinding ends the program, as any throwing
  // destructor would; CriticalSectionLock never throws there.
  ~ScopedLock() noexcept(false) {
    if (!held) return;
    held->Unlock();
    held.Reset();
  }

  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

  // The lock held, or null.
  Lockable* Held() const { return held.Get(); }

 private:
  RefPtr<Lockable> held;
};

}  // namespace reflector
