#pragma once

#include <span>

#include "scene/canvas.h"
#include "scene/scene_description.h"
#include "scene/scene_state.h"
#include "geometry/point2.h"
#include "optimizer/population.h"
#include "optimizer/scene_snapshot.h"

namespace reflector {

// What a frame shows besides the optimiser's state.
struct FrameScene {
  ScreenPoint aim;
  ScreenPoint source;
  std::span<const ScreenPoint> reflector;  // the user's polyline
  bool drawing = false;                    // a rubber band runs from anchor to aim
  ScreenPoint anchor;
  bool running = true;  // the optimiser's state is shown
};

// Draws one frame onto a canvas already cleared to the background: the mouse
// coordinates, the user's reflector, the rubber band while drawing and, while
// running and given a population, the optimiser's state. Only reads.
void RenderFrame(Canvas& canvas, const FrameScene& frame, const Population* population,
                 const SceneSnapshot* snapshot);

// The window's frame of the scene: the live run (another algorithm's best so
// far, when one runs), or the generation a rewind shows. The optimiser's lock is held only while its population is drawn.
// Call scene.PrepareFrame() first.
void RenderFrame(Canvas& canvas, const SceneState& scene);

// The frame the window would show for a scene's final population, as the
// headless runner draws it: the scene's mirror as the user's polyline, the aim
// as the pointer.
FrameScene FrameOfScene(const SceneDescription& scene, std::vector<ScreenPoint>& reflectorPixels);

// The part of a frame drawn under the optimiser's lock: the source disc, the
// shown candidate's rays and reflector, the score list and the target disc.
// The shown candidate is the best one, or candidate 0 before the first
// selection.
void PaintOptimizerState(Canvas& canvas, ScreenPoint source, const Population& population,
                         const SceneSnapshot& snapshot);

}  // namespace reflector
