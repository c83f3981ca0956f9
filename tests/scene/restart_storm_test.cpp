// A restart storm as a restless user makes one: pointer moves and space
// presses replace the optimiser over and over while another thread paints.
// Run under ThreadSanitizer and LeakSanitizer too: no report, no hang, and
// every worker joined when the scene goes.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <mutex>
#include <random>
#include <thread>

#include "optimizer/retire_optimizer.h"
#include "scene/recording_canvas.h"
#include "scene/scene_renderer.h"
#include "scene/scene_state.h"

namespace reflector {
namespace {

// Optimiser workers still alive: the threads of this process that run at
// the workers' low priority (nice 19), read from /proc. Other threads (the
// reaper, a sanitizer's own) run at normal priority and are not counted.
int LowPriorityThreads() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(tasks)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream stat(std::string("/proc/self/task/") + entry->d_name + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      // Field 19 is the nice value; fields after the parenthesised name.
      const std::size_t close = text.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream fields(text.substr(close + 2));
      std::string field;
      for (int i = 3; i <= 19 && fields >> field; ++i) {
        if (i == 19 && field == "19") ++count;
      }
    }
    closedir(tasks);
  }
  return count;
}

TEST(RestartStorm, TenThousandRestartsWithPaintsFromAnotherThread) {
  ASSERT_EQ(LowPriorityThreads(), 0);
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
    // The count sees workers: the current run's is alive (its nice value is
    // set as its first act, so give it a moment).
    for (int i = 0; i < 2000 && LowPriorityThreads() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_GT(LowPriorityThreads(), 0);
  }
  // Every retired optimiser is destroyed and its worker joined; what may
  // remain is the reaper's own thread, which lives until exit.
  WaitForRetiredOptimizers();
  EXPECT_EQ(RetiredOptimizersPending(), 0u);
  EXPECT_EQ(LowPriorityThreads(), 0);
  EXPECT_GT(paints.load(), 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("10000 restarts and %d paints in %.2f s\n", paints.load(), seconds);
}

}  // namespace
}  // namespace reflector
