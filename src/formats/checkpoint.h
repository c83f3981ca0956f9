#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "optimizer/population.h"
#include "optimizer/run_record.h"
#include "scene/scene_description.h"

namespace reflector {

// Everything a run needs to continue exactly where it stopped.
struct Checkpoint {
  SceneDescription scene;            // the starting scene
  std::uint32_t seed = 1;            // the state the run started from
  std::uint32_t generations = 0;     // generations completed
  std::uint32_t generationLimit = 0; // generations the run was asked for in all
  std::uint32_t randomState = 1;     // the generator's state after them
  Population population;             // vertices and scores (no ray records), bestIndex
  std::optional<BestEver> bestEver;
};

// The checkpoint as text: JSON with a format name, the program's version and a
// checksum over everything before it, every double in shortest round-trip form.
std::string CheckpointToText(const Checkpoint& checkpoint);

// Reads a checkpoint. A damaged file (bad JSON, a wrong checksum, missing or
// inconsistent fields) or one from another version of the program is refused
// with one line naming it: "NAME: problem" or "NAME:LINE:COLUMN: problem".
bool ParseCheckpoint(std::string_view text, const std::string& name, Checkpoint& checkpoint,
                     std::string& error);
bool LoadCheckpointFile(const std::string& path, Checkpoint& checkpoint, std::string& error);

}  // namespace reflector
