#pragma once

#include "app/canvas.h"
#include "app/scene_state.h"
#include "geometry/point2.h"
#include "optimizer/population.h"
#include "optimizer/scene_snapshot.h"

namespace reflector {

// Draws one frame onto a canvas already cleared to the background: the mouse
// coordinates, the user's reflector, the rubber band while drawing and, while
// optimising, the optimiser's state. The first frame appends the default
// reflector; a frame that finds no optimiser while running starts one. The
// optimiser's lock is held only while its population is drawn.
void RenderFrame(Canvas& canvas, SceneState& scene);

// The part of a frame drawn under the optimiser's lock: the source disc, the
// shown candidate's rays and reflector, the score list and the target disc.
// The shown candidate is the best one, or candidate 0 before the first
// selection.
void PaintOptimizerState(Canvas& canvas, ScreenPoint source, const Population& population,
                         const SceneSnapshot& snapshot);

}  // namespace reflector
