#include "threading/worker_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <new>
#include <system_error>

namespace reflector {

// One routine's record, and perhaps a pool thread. A slot with a thread
// parks it there between routines; a slot without one holds a routine that
// waits for a thread while the pool is at its bound.
//   Empty:   no thread, no routine.
//   Idle:    a parked thread, no routine.
//   Busy:    its thread runs its routine (or is about to), or runs queued
//            routines of other slots after its own.
//   Queued:  no thread; a routine waits for one.
//   Adopted: no thread; another slot's thread is running its routine.
struct WorkerPool::Slot {
  enum State : std::uint32_t { kEmpty, kIdle, kBusy, kQueued, kAdopted };

  std::atomic<std::uint32_t> state{kEmpty};
  // Bumped (release) after routine and argument are written; a parked thread
  // sleeps on it.
  std::atomic<std::uint32_t> handedOver{0};
  // The hand-over count of the last routine that returned (release); Wait
  // sleeps on it. A job's number is its hand-over count.
  std::atomic<std::uint32_t> finished{0};
  // While Queued: the order in which queued routines are taken, first first.
  std::atomic<std::uint64_t> queuedAs{0};
  void (*routine)(void*) = nullptr;
  void* argument = nullptr;
  bool counted = true;  // false for the pool's own wake-up routine
  // The thread that runs this slot's routines: its own, or the one that
  // adopted the queued routine (the default id until one has).
  std::atomic<std::thread::id> runsOn{};
  std::atomic<bool> hasThread{false};
  // Written once, before the first hand-over, which orders it for readers.
  std::thread thread;
};

namespace {

using Slot = WorkerPool::Slot;

// Slots come in blocks that are linked on and never freed, so a slot's
// address stays valid for every job handed to it. Queued routines take slots
// too, so a restart storm on a busy machine may link on a few blocks.
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

std::atomic<int> threadsMade{0};
std::atomic<int> unfinished{0};       // routines handed out that have not returned
std::atomic<std::uint64_t> queueOrder{0};
std::atomic<int> queuedCount{0};      // slots Queued, so that finding none is cheap

// Calls visit(slot) on every slot in order until it returns true; true then.
template <typename Visit>
bool ForEachSlot(Visit visit) {
  for (SlotBlock* block = &FirstBlock(); block;
       block = block->next.load()) {
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
    SlotBlock* next = block->next.load();
    if (!next) {
      auto* grown = new (std::nothrow) SlotBlock;
      if (!grown) throw std::system_error(ENOMEM, std::generic_category(), "no memory for a worker");
      if (block->next.compare_exchange_strong(next, grown)) return;
      delete grown;  // another thread linked one first
      return;
    }
    block = next;
  }
}

bool Take(Slot& slot, Slot::State from, Slot::State to) {
  std::uint32_t expected = from;
  return slot.state.load() == from &&
         slot.state.compare_exchange_strong(expected, to);
}

// Takes an Empty slot (linking on blocks as needed) into the given state.
Slot& TakeEmpty(Slot::State to) {
  Slot* taken = nullptr;
  while (!ForEachSlot([&](Slot& slot) { return Take(slot, Slot::kEmpty, to) && (taken = &slot); })) {
    GrowPool();
  }
  return *taken;
}

// Marks the slot's routine returned: its waiters may go. counted is the
// slot's, read before the slot was let go (a new routine may be handed to it
// since).
void Finish(Slot& slot, std::uint32_t number, bool counted) {
  if (counted) unfinished.fetch_sub(1);
  slot.finished.store(number);
  slot.finished.notify_all();
}

// Takes the routine queued first, if any: Queued becomes Adopted.
Slot* AdoptQueued() {
  if (queuedCount.load() == 0) return nullptr;
  for (;;) {
    Slot* first = nullptr;
    std::uint64_t firstOrder = 0;
    ForEachSlot([&](Slot& slot) {
      if (slot.state.load() == Slot::kQueued) {
        const std::uint64_t order = slot.queuedAs.load();
        if (!first || order < firstOrder) {
          first = &slot;
          firstOrder = order;
        }
      }
      return false;
    });
    if (!first) return nullptr;
    if (Take(*first, Slot::kQueued, Slot::kAdopted)) {
      queuedCount.fetch_sub(1);
      return first;
    }
    // Another thread took it first: look again.
  }
}

// Runs queued routines, first queued first, until none is left.
void RunQueued() {
  while (Slot* queued = AdoptQueued()) {
    const std::uint32_t number = queued->handedOver.load();
    queued->runsOn.store(std::this_thread::get_id());
    queued->routine(queued->argument);
    const bool counted = queued->counted;
    // Empty before finished, as a thread's own slot goes Idle before it.
    queued->state.store(Slot::kEmpty);
    Finish(*queued, number, counted);
  }
}

// seen: the slot's hand-over count when the thread was made (a slot that
// once held a queued routine has counted some).
void ParkedLoop(Slot* slot, std::uint32_t seen) {
  // Once for the thread's whole life; every routine it runs is a worker's.
  // Failure leaves it at normal priority, which only costs fairness.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
  for (;;) {
    std::uint32_t now = slot->handedOver.load();
    while (now == seen) {
      slot->handedOver.wait(now);
      now = slot->handedOver.load();
    }
    seen = now;
    slot->routine(slot->argument);
    const bool counted = slot->counted;
    if (queuedCount.load() == 0) {
      // Idle before finished: whoever waited for this routine may hand out
      // the next one at once and must find this thread free.
      slot->state.store(Slot::kIdle);
      Finish(*slot, seen, counted);
      // A routine queued as this thread went Idle, when no thread was: take
      // this thread back for it, unless a Run has just handed it one.
      if (queuedCount.load() == 0 || !Take(*slot, Slot::kIdle, Slot::kBusy)) {
        continue;
      }
    } else {
      Finish(*slot, seen, counted);
    }
    RunQueued();
    slot->state.store(Slot::kIdle);
    // The same check again: something may have been queued since.
    while (queuedCount.load() > 0 && Take(*slot, Slot::kIdle, Slot::kBusy)) {
      RunQueued();
      slot->state.store(Slot::kIdle);
    }
  }
}

WorkerPool::Job HandOver(Slot& slot, void (*routine)(void*), void* argument, bool counted = true) {
  slot.routine = routine;
  slot.argument = argument;
  slot.counted = counted;
  if (counted) unfinished.fetch_add(1);
  const WorkerPool::Job job{&slot, slot.handedOver.fetch_add(1) + 1};
  slot.handedOver.notify_one();
  return job;
}

// A routine that does nothing: handed to an Idle thread so that it wakes
// and looks at the queue.
void LookAtTheQueue(void*) {}

}  // namespace

WorkerPool::Job WorkerPool::Run(void (*routine)(void*), void* argument) {
  Slot* taken = nullptr;
  if (ForEachSlot([&](Slot& slot) { return Take(slot, Slot::kIdle, Slot::kBusy) && (taken = &slot); })) {
    return HandOver(*taken, routine, argument);
  }
  // Every thread is busy (old workers still finishing their current ray):
  // make one more while the bound allows.
  int made = threadsMade.load();
  while (made < kMaxThreads &&
         !threadsMade.compare_exchange_weak(made, made + 1)) {
  }
  if (made < kMaxThreads) {
    Slot* fresh = nullptr;
    try {
      fresh = &TakeEmpty(Slot::kBusy);
      fresh->thread = std::thread(&ParkedLoop, fresh, fresh->handedOver.load());
    } catch (...) {
      if (fresh) fresh->state.store(Slot::kEmpty);
      threadsMade.fetch_sub(1);
      throw;
    }
    fresh->runsOn.store(fresh->thread.get_id());
    fresh->hasThread.store(true);
    return HandOver(*fresh, routine, argument);
  }
  // At the bound: the routine waits for the first thread to come free.
  // Adopted while it is filled in: nobody takes an Adopted slot.
  Slot& queued = TakeEmpty(Slot::kAdopted);
  queued.routine = routine;
  queued.argument = argument;
  queued.counted = true;
  queued.runsOn.store(std::thread::id());
  unfinished.fetch_add(1);
  const Job job{&queued, queued.handedOver.fetch_add(1) + 1};
  queued.queuedAs.store(queueOrder.fetch_add(1));
  queuedCount.fetch_add(1);
  queued.state.store(Slot::kQueued);
  // Every thread may have gone Idle since it was found busy: wake one.
  if (ForEachSlot([&](Slot& slot) { return Take(slot, Slot::kIdle, Slot::kBusy) && (taken = &slot); })) {
    HandOver(*taken, &LookAtTheQueue, nullptr, false);
  }
  return job;
}

bool WorkerPool::Cancel(const Job& job) {
  if (!job.slot || job.slot->handedOver.load() != job.number) return false;
  // Taken the way a thread adopts it, so that no thread can.
  if (!Take(*job.slot, Slot::kQueued, Slot::kAdopted)) return false;
  if (job.slot->handedOver.load() != job.number) {
    // This job ran and its slot was queued again since the look above: the
    // routine taken is another's. It goes back at once.
    job.slot->state.store(Slot::kQueued);
    return false;
  }
  queuedCount.fetch_sub(1);
  job.slot->state.store(Slot::kEmpty);
  Finish(*job.slot, job.number, true);
  return true;
}

void WorkerPool::Wait(const Job& job) {
  if (!job.slot) return;
  for (;;) {
    const std::uint32_t now = job.slot->finished.load();
    // Counts wrap; the difference says which side of the job they are on.
    if (static_cast<std::int32_t>(now - job.number) >= 0) return;
    job.slot->finished.wait(now);
  }
}

std::thread::id WorkerPool::ThreadId(const Job& job) {
  return job.slot ? job.slot->runsOn.load() : std::thread::id();
}

int WorkerPool::ThreadCount() { return threadsMade.load(); }

int WorkerPool::BusyCount() { return unfinished.load(); }

}  // namespace reflector
