#pragma once

#include "threading/ref_counted.h"

namespace reflector {

// A lock that is itself reference-counted, so a ScopedLock can keep it alive
// for as long as it holds it. Lock and Unlock are always called through this
// interface.
class Lockable : public virtual RefCounted {
 public:
  // Blocks until the calling thread holds the lock.
  virtual void Lock() = 0;
  // Gives the lock up; only the holding thread calls it.
  virtual void Unlock() = 0;
};

}  // namespace reflector
