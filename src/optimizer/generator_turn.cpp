#include "optimizer/generator_turn.h"

#include <mutex>
#include <set>

namespace reflector {

namespace {

// Tickets are handed out in order; every ticket below firstOpen has ended,
// and endedAbove holds the ended ones beyond it. The mutex guards endedAbove
// and the writes of firstOpen; only the threads that end turns take it. The
// window's thread takes a ticket and wakes waiters with atomics alone: a
// low-priority worker holding a mutex it needs could keep it waiting.
struct Turns {
  std::atomic<std::uint64_t> nextTicket{0};
  std::atomic<std::uint64_t> firstOpen{0};
  // Bumped at every change a waiter may be waiting for; waiters sleep on it.
  std::atomic<std::uint32_t> epoch{0};
  std::mutex mutex;
  std::set<std::uint64_t> endedAbove;
};

// At namespace scope, so that it is built before and destroyed after any
// function-local static that may still end a turn at exit (the reaper).
Turns turns;

void Bump() {
  turns.epoch.fetch_add(1);
  turns.epoch.notify_all();
}

}  // namespace

GeneratorTurn::GeneratorTurn() : ticket(turns.nextTicket.fetch_add(1)) {}

GeneratorTurn::~GeneratorTurn() { End(); }

bool GeneratorTurn::Wait(const std::atomic<bool>& stopRequested) {
  for (;;) {
    // Read the epoch first: a change after this read makes the wait return.
    const std::uint32_t seen = turns.epoch.load();
    if (stopRequested.load()) return false;
    if (turns.firstOpen.load() == ticket) return true;
    turns.epoch.wait(seen);
  }
}

void GeneratorTurn::End() {
  if (ended) return;
  ended = true;
  {
    std::lock_guard<std::mutex> guard(turns.mutex);
    turns.endedAbove.insert(ticket);
    std::uint64_t open = turns.firstOpen.load();
    while (!turns.endedAbove.empty() && *turns.endedAbove.begin() == open) {
      turns.endedAbove.erase(turns.endedAbove.begin());
      ++open;
    }
    turns.firstOpen.store(open);
  }
  Bump();
}

void GeneratorTurn::Wake() { Bump(); }

}  // namespace reflector
