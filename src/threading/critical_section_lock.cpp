#include "threading/critical_section_lock.h"

namespace reflector {

CriticalSectionLock::CriticalSectionLock() = default;

CriticalSectionLock::~CriticalSectionLock() = default;

void CriticalSectionLock::Lock() {
  std::unique_lock<std::mutex> guard(mutex);
  const std::uint32_t ticket = nextTicket++;
  if (ticket == nowServing) return;

  ++waiting;
  turnChanged.wait(guard, [&] { return nowServing == ticket; });
  --waiting;
}

void CriticalSectionLock::Unlock() {
  std::lock_guard<std::mutex> guard(mutex);
  ++nowServing;
  // Nobody waiting is the common case (YieldLock(0) between generations):
  // skip the notify. Every waiter wakes and rechecks, since each waits for a
  // ticket of its own; the program has at most one. Notifying under the mutex
  // keeps the condition variable alive: once we let go, the served thread may
  // destroy the lock.
  if (waiting > 0) turnChanged.notify_all();
}

int CriticalSectionLock::WaitingCount() const {
  std::lock_guard<std::mutex> guard(mutex);
  return waiting;
}

}  // namespace reflector
