// A restart storm as a restless user makes one: pointer moves and space
// presses replace the optimiser over and over while another thread paints.
// Run under ThreadSanitizer and LeakSanitizer too: no report, no hang, and
// every worker returned when the scene goes.
#include <gtest/gtest.h>

#include <atomic>
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

TEST(RestartStorm, TenThousandRestartsWithPaintsFromAnotherThread) {
  ASSERT_EQ(WorkerPool::BusyCount(), 0);
  const auto started = std::chrono::steady_clock::now();
  std::atomic<int> paints{0};
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
        std::this_thread::yield();
      }
    });

    std::mt19937 random(5);
    for (int i = 0; i < 10000; ++i) {
      std::lock_guard<std::mutex> hold(eventLoop);
      if (i % 7 == 0) {
        scene.OnKeyEvent(true, kSpaceKey);
      } else {
        scene.OnMouseEvent(MouseEventKind::MouseMove, 300 + static_cast<int>(random() % 400),
                           100 + static_cast<int>(random() % 200));
      }
    }
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
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("10000 restarts and %d paints in %.2f s on %d pool threads\n", paints.load(),
              seconds, WorkerPool::ThreadCount());
}

}  // namespace
}  // namespace reflector
