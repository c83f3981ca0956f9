#pragma once

#include <cstdio>
#include <string>

#include "cli/command_line.h"

namespace reflector {

// Runs every scene x seed of the command line as its own headless process of
// this program (program is its path, /proc/self/exe), options.jobs at a time:
// each writes DIR/<scene>-<seed>.json exactly as `reflector --headless` would,
// and DIR/summary.csv (scene,seed,generations,best,best_ever,seconds) is
// written atomically at the end. A failed run is reported on messages with its
// scene and reason and the others go on. Draws a progress bar over the runs on
// messages when showProgress is set. Returns 0, or 1 if any run failed, or 2
// for unusable options (no scenes, a bad output folder).
int RunBatch(const CommandLine& options, const std::string& program, std::FILE* messages,
             bool showProgress);

}  // namespace reflector
