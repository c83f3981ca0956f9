#pragma once

#include <cstdio>

#include "cli/command_line.h"
#include "cli/picture_output.h"

namespace reflector {

// Runs the optimiser without a window, as the command line asks: loads the
// scene (or the checkpoint to resume), checks every output can be written,
// starts the generator from the seed, runs the generations on the optimiser's
// worker thread, then writes the outputs asked for and a one-line summary to
// messages. A progress line is drawn on messages while it runs when
// showProgress is set. pictures draws PNG frames and plots; null in a build
// without them. Returns the exit status: 0 on success, 1 if an output could
// not be written or the run could not start, 2 if the scene, checkpoint or
// options are unusable.
int RunHeadless(const CommandLine& options, PictureOutput* pictures, std::FILE* messages,
                bool showProgress);

}  // namespace reflector
