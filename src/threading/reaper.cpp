#include "threading/reaper.h"

namespace reflector {

Reaper::Reaper() : thread(&Reaper::Run, this) {}

Reaper::~Reaper() {
  stopping.store(true);
  wakeups.fetch_add(1);
  wakeups.notify_one();
  thread.join();
}

void Reaper::Hand(RefCounted* object) {
  if (!object) return;
  // Counted before it is queued, so the released count never passes it.
  handedCount.fetch_add(1);
  RefCounted* head = newest.load(std::memory_order_relaxed);
  do {
    object->reaperNext = head;
  } while (!newest.compare_exchange_weak(head, object, std::memory_order_release,
                                         std::memory_order_relaxed));
  wakeups.fetch_add(1);
  wakeups.notify_one();
}

void Reaper::WaitUntilEmpty() {
  const std::uint32_t target = handedCount.load();
  for (;;) {
    const std::uint32_t released = releasedCount.load();
    if (static_cast<std::int32_t>(released - target) >= 0) return;
    releasedCount.wait(released);
  }
}

std::size_t Reaper::Pending() const {
  const std::uint32_t released = releasedCount.load();
  return static_cast<std::uint32_t>(handedCount.load() - released);
}

void Reaper::Run() {
  for (;;) {
    // Read before looking at the queue: a hand-over after this read changes
    // it, so the wait below returns at once.
    const std::uint32_t seen = wakeups.load();
    RefCounted* batch = newest.exchange(nullptr, std::memory_order_acquire);
    if (!batch) {
      if (stopping.load()) return;  // and nothing left to release
      wakeups.wait(seen);
      continue;
    }
    // The batch is newest first; release it oldest first.
    RefCounted* oldest = nullptr;
    while (batch) {
      RefCounted* next = batch->reaperNext;
      batch->reaperNext = oldest;
      oldest = batch;
      batch = next;
    }
    while (oldest) {
      RefCounted* next = oldest->reaperNext;
      oldest->reaperNext = nullptr;
      Release(oldest);
      releasedCount.fetch_add(1);
      releasedCount.notify_all();
      oldest = next;
    }
  }
}

}  // namespace reflector
