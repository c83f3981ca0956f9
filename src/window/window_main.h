#pragma once

#include "cli/command_line.h"

namespace reflector {

// Opens the window and runs its event loop until it is closed; returns the
// exit status. With no display to open it on, prints one line saying so and
// how to run instead, and returns 2.
// The generator starts from options.seed (default 1).
int RunWindow(const CommandLine& options, int argc, char** argv);

}  // namespace reflector
