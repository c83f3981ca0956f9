#include "threading/reaper.h"

namespace reflector {

Reaper::Reaper() : thread(&Reaper::Run, this) {}

Reaper::~Reaper() {
  {
    std::lock_guard<std::mutex> guard(mutex);
    stopping = true;
  }
  work.notify_one();
  thread.join();
}

void Reaper::Hand(RefCounted* object) {
  if (!object) return;
  {
    std::lock_guard<std::mutex> guard(mutex);
    queue.push_back(object);
  }
  work.notify_one();
}

void Reaper::WaitUntilEmpty() {
  std::unique_lock<std::mutex> guard(mutex);
  emptied.wait(guard, [&] { return queue.empty() && releasing == 0; });
}

std::size_t Reaper::Pending() const {
  std::lock_guard<std::mutex> guard(mutex);
  return queue.size() + releasing;
}

void Reaper::Run() {
  std::unique_lock<std::mutex> guard(mutex);
  for (;;) {
    work.wait(guard, [&] { return !queue.empty() || stopping; });
    if (queue.empty()) return;  // stopping, and nothing left to release
    RefCounted* object = queue.front();
    queue.pop_front();
    ++releasing;
    // Released without the mutex: the destructor may take as long as it needs
    // while Hand goes on queueing.
    guard.unlock();
    Release(object);
    guard.lock();
    --releasing;
    if (queue.empty()) emptied.notify_all();
  }
}

}  // namespace reflector
