#pragma once

#include <chrono>
#include <cstring>
#include <thread>

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

// The current run's population once its worker has stopped.
inline Population FinalPopulation(SceneState& scene) {
  while (!scene.currentOptimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const Population* population = nullptr;
  scene.currentOptimizer->LockState(&population, nullptr);
  Population copy = *population;
  scene.currentOptimizer->UnlockState();
  return copy;
}

// Same mirrors, same scores to the bit, same best.
inline bool SameBits(const Population& a, const Population& b) {
  if (a.bestIndex != b.bestIndex || a.candidates.size() != b.candidates.size()) return false;
  for (std::size_t i = 0; i < a.candidates.size(); ++i) {
    if (a.candidates[i].vertices != b.candidates[i].vertices) return false;
    if (std::memcmp(&a.candidates[i].score, &b.candidates[i].score, sizeof(double)) != 0) return false;
  }
  return true;
}

}  // namespace reflector
