#pragma once

#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"

namespace reflector {

// Restarts without waiting for the worker. The window's thread must never
// wait on the low-priority worker, so the old optimiser is told to stop and
// handed to a process-wide reaper thread, which destroys it (joining its
// worker); the next optimiser can be built at once. One whose worker has not
// started yet (the pool's threads were all busy) never will: it is destroyed
// at once, which waits for nothing. Its worker does not draw
// until the retired ones have ended (see GeneratorTurn), so at most one
// worker runs generations at a time and the generator's sequence is the same
// as with a blocking restart.
//
//   RetireOptimizer(current);                        // returns at once; current is empty
//   current.Adopt(new ReflectorOptimizer(snapshot)); // starts, then waits its turn
//
// Thread safety: any thread, but one at a time per holder.

// Asks the held optimiser's worker to stop and gives the holder's reference
// to the reaper, or drops it when the worker never started. An empty holder
// is left as it is.
void RetireOptimizer(RefPtr<ReflectorOptimizer>& holder);

// Blocks until every optimiser retired so far is destroyed. For tests,
// benchmarks, and orderly shutdown; the reaper also drains itself at exit.
void WaitForRetiredOptimizers();

// Optimisers retired and not yet destroyed.
std::size_t RetiredOptimizersPending();

}  // namespace reflector
