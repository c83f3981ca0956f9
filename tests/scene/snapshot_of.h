#pragma once

#include "scene/scene_state.h"

namespace reflector {

// The scene the current optimiser was started from, copied under its lock.
inline SceneSnapshot SnapshotOf(SceneState& scene) {
  const SceneSnapshot* snapshot = nullptr;
  scene.currentOptimizer->LockState(nullptr, &snapshot);
  SceneSnapshot copy = *snapshot;
  scene.currentOptimizer->UnlockState();
  return copy;
}

}  // namespace reflector
