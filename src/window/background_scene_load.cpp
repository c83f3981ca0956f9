#include "window/background_scene_load.h"

#include <new>
#include <utility>

#include "formats/scene_file.h"

namespace reflector {

BackgroundSceneLoad::BackgroundSceneLoad(std::string path)
    : path_(std::move(path)), thread_([this] {
        try {
          succeeded_ = LoadSceneFile(path_, scene_, error_, &cancel_);
        } catch (const std::bad_alloc&) {
          succeeded_ = false;
          error_ = path_ + ": not enough memory to open this scene";
        }
        finished_.store(true, std::memory_order_release);
      }) {}

BackgroundSceneLoad::~BackgroundSceneLoad() {
  Cancel();
  thread_.join();
}

}  // namespace reflector
