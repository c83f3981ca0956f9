// How long a thread waiting in Lock() waits while the holder gives the lock up
// and takes it back with YieldLock(0) in a tight loop (the painter against the
// worker), and what YieldLock(0) costs when nobody waits.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "threading/critical_section_lock.h"
#include "threading/yield_lock.h"

namespace {

using Clock = std::chrono::steady_clock;
using reflector::CriticalSectionLock;
using reflector::YieldLock;

double Microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

void MeasureWaits() {
  constexpr int kWaits = 2000;
  CriticalSectionLock lock;
  std::atomic<bool> done{false};
  long holderYields = 0;

  std::thread holder([&] {
    lock.Lock();
    while (!done.load(std::memory_order_relaxed)) {
      YieldLock(lock, 0);
      ++holderYields;
    }
    lock.Unlock();
  });

  std::vector<double> waits;
  waits.reserve(kWaits);
  for (int i = 0; i < kWaits; ++i) {
    // Arrive at a moment unrelated to the holder's loop, as a timer tick does.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    const Clock::time_point start = Clock::now();
    lock.Lock();
    waits.push_back(Microseconds(Clock::now() - start));
    lock.Unlock();
  }
  done.store(true);
  holder.join();

  std::sort(waits.begin(), waits.end());
  const auto at = [&](double q) { return waits[static_cast<std::size_t>(q * (waits.size() - 1))]; };
  std::printf("wait in Lock() against a YieldLock(0) loop, %d waits:\n", kWaits);
  std::printf("  median %8.2f us\n  p99    %8.2f us\n  max    %8.2f us\n", at(0.5), at(0.99),
              waits.back());
  std::printf("  (holder yielded %ld times meanwhile)\n", holderYields);
}

void MeasureUncontendedYield() {
  constexpr long kCalls = 5'000'000;
  CriticalSectionLock lock;
  lock.Lock();
  const Clock::time_point start = Clock::now();
  for (long i = 0; i < kCalls; ++i) YieldLock(lock, 0);
  const double nanoseconds =
      std::chrono::duration<double, std::nano>(Clock::now() - start).count();
  lock.Unlock();
  std::printf("YieldLock(0) with nobody waiting: %.1f ns per call over %ld calls\n",
              nanoseconds / kCalls, kCalls);
}

}  // namespace

int main() {
  MeasureWaits();
  MeasureUncontendedYield();
  return 0;
}
