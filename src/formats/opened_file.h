#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "formats/checkpoint.h"
#include "optimizer/reflector_optimizer.h"
#include "scene/scene_description.h"

namespace reflector {

// What the window's File > Open found: a scene (or a result, read as its
// scene), or a checkpoint, whose run goes on where it stopped.
struct OpenedFile {
  SceneDescription scene;
  std::optional<Checkpoint> checkpoint;
};

// Reads the file once and parses it as what it says it is: a checkpoint
// names its format in its first member, as the program writes it. The errors
// are the scene's or the checkpoint's reader's. cancel stops a scene's
// parse within a moment (a checkpoint's is checked by its checksum first).
bool LoadSceneOrCheckpointFile(const std::string& path, OpenedFile& opened, std::string& error,
                               const std::atomic<bool>* cancel = nullptr);

// Where the run a checkpoint holds goes on from: its population after its
// generations, and the best it had seen.
RunStart ResumedStart(Checkpoint checkpoint);

// Whether text begins as a checkpoint does.
bool LooksLikeCheckpoint(std::string_view text);

}  // namespace reflector
