#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "formats/opened_file.h"
#include "scene/scene_description.h"

namespace reflector {

// Reads a scene file (or a checkpoint) on a thread of its own, so that a large file (or a pipe
// whose writer takes its time) never holds the window. Cancel stops a
// reading within a moment: the parser looks at the request every few
// thousand values. A read blocked on a silent pipe cannot look, so the
// destructor leaves such a thread to end by itself, with the state it
// shares, rather than wait for it.
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
  ~BackgroundSceneLoad();

  void Cancel() { state_->cancel.store(true); }
  bool Finished() const { return state_->finished.load(std::memory_order_acquire); }

  // Once Finished.
  bool Succeeded() const { return state_->succeeded; }
  const SceneDescription& Scene() const { return state_->opened.scene; }
  // A checkpoint, when the file is one (Scene is then unread).
  const std::optional<Checkpoint>& Resumed() const { return state_->opened.checkpoint; }
  const std::string& Error() const { return state_->error; }
  const std::string& Path() const { return state_->path; }

 private:
  struct State {
    std::string path;
    std::atomic<bool> cancel{false};
    std::atomic<bool> finished{false};
    bool succeeded = false;
    OpenedFile opened;
    std::string error;
  };
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace reflector
