#include "threading/worker_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <new>
#include <system_error>

namespace reflector {

// One pool thread and the hand-over between it and whoever starts routines.
// Empty: no thread yet. Idle: parked, waiting on handedOver. Busy: taken by
// a Run, running its routine or about to.
struct WorkerPool::Slot {
  enum State : std::uint32_t { kEmpty, kIdle, kBusy };

  std::atomic<std::uint32_t> state{kEmpty};
  // Bumped (release) after routine and argument are written; the thread
  // sleeps on it while parked.
  std::atomic<std::uint32_t> handedOver{0};
  // The hand-over count of the last routine that returned (release); Wait
  // sleeps on it. A job's number is its hand-over count.
  std::atomic<std::uint32_t> finished{0};
  void (*routine)(void*) = nullptr;
  void* argument = nullptr;
  // Written once, before the first hand-over, which orders it for readers.
  std::thread thread;
};

namespace {

using Slot = WorkerPool::Slot;

// Slots come in blocks that are linked on and never freed, so a slot's
// address stays valid for every job handed to it. A restart storm on a busy
// machine keeps hundreds of old workers finishing at once.
struct SlotBlock {
  static constexpr int kSlots = 128;
  std::array<Slot, kSlots> slots;
  std::atomic<SlotBlock*> next{nullptr};
};

// Never destroyed: parked threads wait on its slots until the process ends,
// and routines still finishing during exit (a retired optimiser the reaper
// is destroying) must find it intact.
SlotBlock& FirstBlock() {
  static SlotBlock* const first = new SlotBlock;
  return *first;
}

// Calls visit(slot) on every slot in order until it returns true; true then.
template <typename Visit>
bool ForEachSlot(Visit visit) {
  for (SlotBlock* block = &FirstBlock(); block;
       block = block->next.load(std::memory_order_acquire)) {
    for (Slot& slot : block->slots) {
      if (visit(slot)) return true;
    }
  }
  return false;
}

// Links one more block on at the end (or finds that another thread did).
void GrowPool() {
  SlotBlock* block = &FirstBlock();
  for (;;) {
    SlotBlock* next = block->next.load(std::memory_order_acquire);
    if (!next) {
      auto* grown = new (std::nothrow) SlotBlock;
      if (!grown) throw std::system_error(ENOMEM, std::generic_category(), "no memory for a worker");
      if (block->next.compare_exchange_strong(next, grown, std::memory_order_acq_rel)) return;
      delete grown;  // another thread linked one first
      return;
    }
    block = next;
  }
}

bool Take(Slot& slot, Slot::State from) {
  std::uint32_t expected = from;
  return slot.state.load(std::memory_order_relaxed) == from &&
         slot.state.compare_exchange_strong(expected, Slot::kBusy, std::memory_order_acq_rel);
}

void ParkedLoop(Slot* slot) {
  // Once for the thread's whole life; every routine it runs is a worker's.
  // Failure leaves it at normal priority, which only costs fairness.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
  std::uint32_t seen = 0;
  for (;;) {
    std::uint32_t now = slot->handedOver.load(std::memory_order_acquire);
    while (now == seen) {
      slot->handedOver.wait(now, std::memory_order_acquire);
      now = slot->handedOver.load(std::memory_order_acquire);
    }
    seen = now;
    slot->routine(slot->argument);
    // Idle before finished: whoever waited for this routine may hand out the
    // next one at once and must find this thread free.
    slot->state.store(Slot::kIdle, std::memory_order_release);
    slot->finished.store(seen, std::memory_order_release);
    slot->finished.notify_all();
  }
}

WorkerPool::Job HandOver(Slot& slot, void (*routine)(void*), void* argument) {
  slot.routine = routine;
  slot.argument = argument;
  const WorkerPool::Job job{&slot, slot.handedOver.fetch_add(1, std::memory_order_release) + 1};
  slot.handedOver.notify_one();
  return job;
}

}  // namespace

WorkerPool::Job WorkerPool::Run(void (*routine)(void*), void* argument) {
  Slot* taken = nullptr;
  if (ForEachSlot([&](Slot& slot) { return Take(slot, Slot::kIdle) && (taken = &slot); })) {
    return HandOver(*taken, routine, argument);
  }
  // Every thread is busy (old workers still finishing their current ray):
  // make one more, in a new block if need be.
  while (!ForEachSlot([&](Slot& slot) { return Take(slot, Slot::kEmpty) && (taken = &slot); })) {
    GrowPool();
  }
  try {
    taken->thread = std::thread(&ParkedLoop, taken);
  } catch (...) {
    taken->state.store(Slot::kEmpty, std::memory_order_release);
    throw;
  }
  return HandOver(*taken, routine, argument);
}

void WorkerPool::Wait(const Job& job) {
  if (!job.slot) return;
  for (;;) {
    const std::uint32_t now = job.slot->finished.load(std::memory_order_acquire);
    // Counts wrap; the difference says which side of the job they are on.
    if (static_cast<std::int32_t>(now - job.number) >= 0) return;
    job.slot->finished.wait(now, std::memory_order_acquire);
  }
}

std::thread::id WorkerPool::ThreadId(const Job& job) {
  return job.slot ? job.slot->thread.get_id() : std::thread::id();
}

namespace {

int CountSlots(bool busyOnly) {
  int count = 0;
  ForEachSlot([&](const Slot& slot) {
    const std::uint32_t state = slot.state.load(std::memory_order_acquire);
    if (busyOnly ? state == Slot::kBusy : state != Slot::kEmpty) ++count;
    return false;
  });
  return count;
}

}  // namespace

int WorkerPool::ThreadCount() { return CountSlots(false); }

int WorkerPool::BusyCount() { return CountSlots(true); }

}  // namespace reflector
