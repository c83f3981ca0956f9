#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "geometry/point2.h"
#include "optimizer/scene_snapshot.h"
#include "scene/default_scene.h"

namespace reflector {

// A scene as files hold it: the starting mirror, where the beam leaves from and
// aims, and the target. Coordinates are doubles, so that a result's fractional
// mirror can start a new run; integer scenes convert exactly, as in the window.
struct SceneDescription {
  std::vector<Point2> reflector = DefaultReflector();
  Point2 source = ToPoint2(kDefaultSource);
  Point2 aim = ToPoint2(kDefaultAim);
  Point2 target = ToPoint2(kDefaultTarget);
  // The generator state a run of this scene starts from when the command line
  // names none (a saved scene or a result remembers its run's seed).
  std::optional<std::uint32_t> seed;

  static std::vector<Point2> DefaultReflector();
  friend bool operator==(const SceneDescription&, const SceneDescription&) = default;
};

// The optimiser's view of a scene. The one conversion from a scene to a
// snapshot: the window's scene state goes through it too.
SceneSnapshot ToSnapshot(const SceneDescription& scene);

}  // namespace reflector
