#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "scene/scene_description.h"

namespace reflector {

// Reads a scene from JSON text (a UTF-8 byte-order mark may precede it):
//   {"reflector": [[x, y], ...], "source": [x, y], "aim": [x, y], "target": [x, y],
//    "seed": S, "bestMirror": [[x, y], ...]}
// "reflector" is required (any length); the points default to the window's
// start-up scene, the seed to none; "bestMirror" is checked and not used. Coordinates are numbers of magnitude at
// most 1000000, read to the correctly rounded double (integers exactly); the
// seed is an integer from 0 to 4294967295.
// A result file (result_json.h) is a scene too: its "scene" with the mirror of
// "bestEver" (the starting mirror when that is null), and its "seed".
// Anything else is refused: returns false with error set to
// "NAME:LINE:COLUMN: what is wrong" (a checkpoint: "NAME: this is a checkpoint;
// use --resume NAME").
// With cancel given, a parse that sees it set fails with kOpeningCancelled.
bool ParseScene(std::string_view text, const std::string& name, SceneDescription& scene,
                std::string& error, const std::atomic<bool>* cancel = nullptr);

// Reads and parses the file at path; errors name the file.
bool LoadSceneFile(const std::string& path, SceneDescription& scene, std::string& error,
                   const std::atomic<bool>* cancel = nullptr);

inline constexpr const char* kOpeningCancelled = "opening cancelled";

}  // namespace reflector
