#include "optimizer/retire_optimizer.h"

#include "threading/reaper.h"

namespace reflector {

namespace {

// Built on first use; destroyed at exit after main returns, which releases
// what is left and joins every retired worker before the process ends.
Reaper& SharedReaper() {
  static Reaper reaper;
  return reaper;
}

}  // namespace

void RetireOptimizer(RefPtr<ReflectorOptimizer>& holder) {
  ReflectorOptimizer* optimizer = holder.Get();
  if (!optimizer) return;
  // A worker that never started (every pool thread was busy) has nothing to
  // wait for: the optimiser goes here and now. In a restart storm that is
  // nearly all of them, so few wait for the reaper and memory stays flat.
  if (optimizer->StopBeforeStart()) {
    holder.Reset();
    return;
  }
  // One reference for the reaper, then the holder's own goes: the count
  // never reaches zero on this thread.
  AddRef(optimizer);
  holder.Reset();
  SharedReaper().Hand(optimizer);
}

void WaitForRetiredOptimizers() { SharedReaper().WaitUntilEmpty(); }

std::size_t RetiredOptimizersPending() { return SharedReaper().Pending(); }

}  // namespace reflector
