#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "optimizer/reflector_optimizer.h"
#include "optimizer/scene_snapshot.h"
#include "other_optimizers/algorithm_catalogue.h"
#include "scene/screen_point.h"

namespace reflector {

// Where a paused run continues from: the scene it was started on and its state
// at the generation boundary where it stopped.
struct Resumption {
  SceneSnapshot snapshot;
  RunStart start;
  // The run's own generation limit; 0: the window's.
  std::uint32_t generationLimit = 0;
  // Where the generator must stand for the run, set when its turn to draw
  // comes (a checkpoint's state); none: it goes on where it stands.
  std::optional<std::uint32_t> generatorState;
};

// What a restart throws away, kept so that undo can bring it back: the scene
// as the run saw it, in pixels, and the run at its last generation boundary.
// Brought back, the run goes on with the bits it would have had.
struct RunMemento {
  std::vector<ScreenPoint> reflector;
  ScreenPoint source;
  ScreenPoint aim;
  ScreenPoint target;
  std::uint32_t runSeed = 1;  // what the run started from
  bool paused = false;
  std::uint32_t runGenerationLimit = 0;
  // The algorithm it ran. Another algorithm's run is never kept: it starts
  // again from its scene and seed, and goes the same way.
  std::string algorithm = kBuiltInAlgorithm;
  // None when the run had not drawn yet: it starts again from runSeed.
  std::optional<Resumption> run;

  // Roughly what it holds on the heap.
  std::size_t Bytes() const;
  // Keeps what the run goes on from (population, best ever, generator) and
  // drops its rows and rewind record, the bulk of a long run: brought back,
  // its plot begins where it stood.
  void DropHistory();
};

}  // namespace reflector
