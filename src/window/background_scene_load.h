#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "scene/scene_description.h"

namespace reflector {

// Reads a scene file on a thread of its own, so that a large file never holds
// the window; Cancel stops the reading within a moment (the parser looks at
// the request every few thousand values).
//
//   BackgroundSceneLoad load(path);
//   ... later, on a timer: if (load.Finished()) use load.Succeeded(), Scene(), Error()
//
// Thread safety: one owner thread calls everything; the reading thread only
// fills the result before Finished turns true.
class BackgroundSceneLoad {
 public:
  explicit BackgroundSceneLoad(std::string path);
  BackgroundSceneLoad(const BackgroundSceneLoad&) = delete;
  BackgroundSceneLoad& operator=(const BackgroundSceneLoad&) = delete;
  // Cancels and waits for the reading thread: a moment at most.
  ~BackgroundSceneLoad();

  void Cancel() { cancel_.store(true); }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

  // Once Finished.
  bool Succeeded() const { return succeeded_; }
  const SceneDescription& Scene() const { return scene_; }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

 private:
  const std::string path_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> finished_{false};
  bool succeeded_ = false;
  SceneDescription scene_;
  std::string error_;
  std::thread thread_;  // last: it starts once everything it fills exists
};

}  // namespace reflector
