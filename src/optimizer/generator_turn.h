#pragma once

#include <atomic>
#include <cstdint>

namespace reflector {

// The order in which optimisers draw from the process-wide random generator:
// each takes a turn when it is built, and its worker draws only once every
// turn taken before has ended. So a new optimiser continues the generator
// exactly where its predecessors stopped, even when the predecessor's worker
// is still finishing on another thread, and two workers never draw at once.
//
//   GeneratorTurn turn;                    // in the constructor: queues up
//   if (turn.Wait(stopRequested)) { ... draw ... }
//   turn.End();                            // the next turn may go
//
// A turn that ends without waiting (stopped first, or never run) lets later
// turns go as soon as the ones before it have ended; it must not draw.
//
// Thread safety: the constructor orders turns by the moment it runs, on any
// thread; Wait and End are for the one thread that draws in this turn.
class GeneratorTurn {
 public:
  GeneratorTurn();
  ~GeneratorTurn();  // Ends the turn if it has not ended.
  GeneratorTurn(const GeneratorTurn&) = delete;
  GeneratorTurn& operator=(const GeneratorTurn&) = delete;

  // Blocks until every earlier turn has ended: true. Returns false instead,
  // at once, when stopRequested is seen set (checked again on every Wake).
  bool Wait(const std::atomic<bool>& stopRequested);

  // Ends the turn; later calls do nothing.
  void End();

  // Makes every waiting Wait look at its stop flag again; call it after
  // setting one.
  static void Wake();

 private:
  const std::uint64_t ticket;
  bool ended = false;
};

}  // namespace reflector
