#include "window/background_scene_load.h"

#include <chrono>
#include <new>
#include <utility>


namespace reflector {

BackgroundSceneLoad::BackgroundSceneLoad(std::string path)
    : state_(std::make_shared<State>()) {
  state_->path = std::move(path);
  thread_ = std::thread([state = state_] {
    try {
      state->succeeded =
          LoadSceneOrCheckpointFile(state->path, state->opened, state->error, &state->cancel);
    } catch (const std::bad_alloc&) {
      state->succeeded = false;
      state->error = state->path + ": not enough memory to open this scene";
    }
    state->finished.store(true, std::memory_order_release);
  });
}

BackgroundSceneLoad::~BackgroundSceneLoad() {
  Cancel();
  // A parse notices at once; a read blocked on a pipe that nobody writes to
  // does not, and the window must not wait for it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  while (!Finished() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (Finished()) {
    thread_.join();
  } else {
    thread_.detach();  // it ends when the read returns, and frees the state
  }
}

}  // namespace reflector
