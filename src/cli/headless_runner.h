#pragma once

#include <cstdio>

#include "cli/command_line.h"

namespace reflector {

// Runs the optimiser without a window, as the command line asks: loads the
// scene, restarts the random generator at its start state, runs the generations
// on the optimiser's worker thread, writes the final population as JSON if asked
// and a one-line summary to messages. A progress line is drawn on messages
// while it runs when showProgress is set. Returns the exit status: 0 on success,
// 1 if the JSON could not be written, 2 if the scene or output is unusable.
int RunHeadless(const CommandLine& options, std::FILE* messages, bool showProgress);

}  // namespace reflector
