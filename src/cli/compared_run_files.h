#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/comparison_statistics.h"

namespace reflector {

// One run of a comparison as its two files hold it: NAME.json, the result
// `reflector --headless` writes (the built-in scheme's, or another
// algorithm's), and NAME.csv, its history with the evaluations column.
struct ComparedRunFiles {
  ComparedRun run;
  // What the run was asked for, to tell runs of one comparison from others'.
  std::uint64_t generations = 0;  // the budget as the built-in scheme counts it: E/10 rounded up
  std::optional<double> radius;   // another algorithm's box
  std::string numerics;           // the built-in scheme's numerics; empty for the others
  std::string scene;              // the scene it started from, in one canonical form
};

// Reads both files. False with "PATH: PROBLEM" when either is missing,
// unreadable, not such a file, or when the history does not reach the
// result's budget (a run cut short).
bool ReadComparedRun(const std::string& jsonFile, const std::string& historyFile, ComparedRunFiles& out,
                     std::string& error);

// The scene file's scene in the canonical form of ComparedRunFiles::scene;
// the default scene for an empty name.
bool CanonicalSceneOf(const std::string& sceneFile, std::string& canonical, std::string& error);

}  // namespace reflector
