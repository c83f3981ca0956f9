#pragma once

#include <chrono>
#include <thread>

#include "threading/lockable.h"

namespace reflector {

// Gives a held lock up, pauses for the given number of milliseconds if that
// is not 0, and takes the lock back. With a fair lock (CriticalSectionLock),
// a thread already waiting in Lock() gets its turn in between.
//
//   ScopedLock hold(&lock);
//   for (...) {
//     YieldLock(lock, 0);  // let the painter in between generations
//     ...
//   }
//
// sleep is called as sleep(milliseconds) and only when milliseconds != 0,
// so a 0 costs one Unlock and one Lock and nothing else.
//
// Thread safety: call it only on the thread that holds the lock.
template <typename SleepFunction>
void YieldLock(Lockable& lock, unsigned milliseconds, SleepFunction&& sleep) {
  lock.Unlock();
  if (milliseconds != 0) sleep(milliseconds);
  lock.Lock();
}

inline void YieldLock(Lockable& lock, unsigned milliseconds) {
  YieldLock(lock, milliseconds, [](unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  });
}

}  // namespace reflector
