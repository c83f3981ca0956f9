#include "threading/ref_counted.h"

namespace reflector {

// The creator owns the first reference.
RefCounted::RefCounted() : refCount(0) { AddRef(this); }

// Out of line on purpose: counts change a few times per optimiser run, and
// inlined atomics behind a virtual-base conversion trip GCC 12's
// -Wstringop-overflow with a false positive.

void AddRef(RefCounted* object) {
  // Relaxed is enough: whoever passes the pointer on already has it ordered.
  object->refCount.fetch_add(1, std::memory_order_relaxed);
}

void Release(RefCounted* object) {
  // acq_rel: our earlier writes to the object must be visible to whichever
  // thread runs the destructor, and that thread must see everyone else's.
  if (object->refCount.fetch_sub(1, std::memory_order_acq_rel) - 1 <= 0) {
    delete object;
  }
}

}  // namespace reflector
