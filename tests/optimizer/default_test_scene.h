#pragma once

#include "optimizer/scene_snapshot.h"

namespace reflector {

// The window's start-up scene.
inline SceneSnapshot DefaultTestScene() {
  SceneSnapshot s;
  s.vertices = {{494, 52}, {494, 105}, {493, 148}, {494, 189}, {493, 244}, {489, 304}};
  s.source = {150, 200};
  s.aim = {500, 200};
  s.target = {250, 200};
  return s;
}

}  // namespace reflector
