// A restart storm as a restless user makes one: pointer moves and space
// presses replace the optimiser over and over while another thread paints.
// Run under ThreadSanitizer and LeakSanitizer too: no report, no hang, and
// every worker returned when the scene goes.
#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

#include "optimizer/retire_optimizer.h"
#include "scene/recording_canvas.h"
#include "scene/scene_renderer.h"
#include "scene/scene_state.h"
#include "threading/worker_pool.h"

namespace reflector {
namespace {

// Resident memory, in bytes, once the C library has handed back the free
// memory it caches (what it keeps depends on how the frees fell, not on what
// the program holds).
std::size_t ResidentBytes() {
  malloc_trim(0);
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (!file) return 0;
  unsigned long size = 0, resident = 0;
  const int read = std::fscanf(file, "%lu %lu", &size, &resident);
  std::fclose(file);
  return read == 2 ? resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) : 0;
}

TEST(RestartStorm, TenThousandRestartsWithPaintsFromAnotherThread) {
  ASSERT_EQ(WorkerPool::BusyCount(), 0);
  const auto started = std::chrono::steady_clock::now();
  std::atomic<int> paints{0};
  std::atomic<int> mostThreads{0};
  std::size_t residentBefore = 0;
  {
    // The window's thread owns the scene; here a mutex stands in for the
    // event loop that keeps input and paint apart.
    std::mutex eventLoop;
    SceneState scene(ReflectorOptimizer::kDefaultGenerationLimit, nullptr);
    scene.PrepareFrame();

    std::atomic<bool> stop{false};
    std::thread painter([&] {
      while (!stop.load()) {
        RecordingCanvas canvas;
        {
          std::lock_guard<std::mutex> hold(eventLoop);
          scene.PrepareFrame();
          RenderFrame(canvas, scene);
        }
        paints.fetch_add(1);
        int threads = WorkerPool::ThreadCount();
        for (int most = mostThreads.load(); threads > most && !mostThreads.compare_exchange_weak(most, threads);) {
        }
        std::this_thread::yield();
      }
    });

    std::mt19937 random(5);
    auto storm = [&](int restarts) {
      for (int i = 0; i < restarts; ++i) {
        std::lock_guard<std::mutex> hold(eventLoop);
        if (i % 7 == 0) {
          scene.OnKeyEvent(true, kSpaceKey);
        } else {
          scene.OnMouseEvent(MouseEventKind::MouseMove, 300 + static_cast<int>(random() % 400),
                             100 + static_cast<int>(random() % 200));
        }
      }
    };
    // A first storm brings the pool, the reaper and the allocator to their
    // working size; the second must not grow them.
    storm(1000);
    WaitForRetiredOptimizers();
    residentBefore = ResidentBytes();
    storm(10000);
    stop.store(true);
    painter.join();
    // The count sees workers: the current run's is busy.
    EXPECT_GT(WorkerPool::BusyCount(), 0);
  }
  // Every retired optimiser is destroyed and its worker has returned; what
  // remains are parked pool threads and the reaper's, which live until exit.
  WaitForRetiredOptimizers();
  EXPECT_EQ(RetiredOptimizersPending(), 0u);
  EXPECT_EQ(WorkerPool::BusyCount(), 0);
  EXPECT_GT(paints.load(), 0);
  // However fast the restarts came, the pool kept to its bound.
  EXPECT_LE(mostThreads.load(), WorkerPool::kMaxThreads);
  EXPECT_LE(WorkerPool::ThreadCount(), WorkerPool::kMaxThreads);
  const std::size_t residentAfter = ResidentBytes();
  const double growth = (static_cast<double>(residentAfter) - static_cast<double>(residentBefore)) / 1048576.0;
#ifndef REFLECTOR_SANITIZED
  EXPECT_LT(growth, 2.0) << "resident memory grew by " << growth << " MiB";
#endif
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("11000 restarts and %d paints in %.2f s on %d pool threads (at most %d); "
              "resident memory %+.2f MiB over the last 10000\n",
              paints.load(), seconds, WorkerPool::ThreadCount(), mostThreads.load(), growth);
}

}  // namespace
}  // namespace reflector
