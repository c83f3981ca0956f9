// How fast the optimiser runs on the default scene, and how long a restart
// (destroy the running optimiser, build a new one) keeps the caller waiting.
// Prints its own figures; run it on an otherwise idle machine.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "geometry/random.h"
#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"

namespace {

using reflector::RefPtr;
using reflector::ReflectorOptimizer;
using Clock = std::chrono::steady_clock;

reflector::SceneSnapshot DefaultScene() {
  reflector::SceneSnapshot s;
  s.vertices = {{494, 52}, {494, 105}, {493, 148}, {494, 189}, {493, 244}, {489, 304}};
  s.source = {150, 200};
  s.aim = {500, 200};
  s.target = {250, 200};
  return s;
}

double Microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void GenerationsPerSecond() {
  constexpr std::uint32_t kGenerations = 5000;
  reflector::SetRandomState(1);
  const auto start = Clock::now();
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(DefaultScene(), kGenerations));
  while (!optimizer->Done()) std::this_thread::sleep_for(std::chrono::microseconds(200));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("default scene: %u generations in %.3f s = %.0f generations/s (%.1f us each)\n",
              kGenerations, seconds, kGenerations / seconds, seconds * 1e6 / kGenerations);
}

void Restarts() {
  constexpr int kRestarts = 2000;
  const reflector::SceneSnapshot scene = DefaultScene();
  std::mt19937 gen(5);
  std::vector<double> times;
  times.reserve(kRestarts);

  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(scene));
  for (int i = 0; i < kRestarts; ++i) {
    // Let the worker get into a generation: wait for at least one generation,
    // then a random fraction of another, so the stop lands mid-generation.
    while (optimizer->CompletedGenerations() < 1) std::this_thread::yield();
    const auto until = Clock::now() + std::chrono::microseconds(gen() % 300);
    while (Clock::now() < until) {
    }
    const auto start = Clock::now();
    optimizer.Reset();
    optimizer.Adopt(new ReflectorOptimizer(scene));
    times.push_back(Microseconds(Clock::now() - start));
  }
  optimizer.Reset();

  std::sort(times.begin(), times.end());
  std::printf("restart (destroy a running optimiser, build a new one), %d restarts:\n", kRestarts);
  std::printf("  median %.1f us, p99 %.1f us, max %.1f us\n", times[times.size() / 2],
              times[times.size() * 99 / 100], times.back());
}

}  // namespace

int main() {
  GenerationsPerSecond();
  Restarts();
  return 0;
}
