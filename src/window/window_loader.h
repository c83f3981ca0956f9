#pragma once

#include <memory>

#include "cli/command_line.h"
#include "cli/picture_output.h"

namespace reflector {

// The program's way to the window and the pictures, which live in a module
// loaded on first use (see window_module.h); in a build without Qt, stand-ins
// that say so.

// Opens the window (RunWindow) and returns its exit status; when the module
// cannot be loaded, prints why and returns 2.
int OpenWindow(const CommandLine& options, int argc, char** argv);

// Pictures drawn by the window's own code. The module is loaded by the first
// picture asked for, so a run that draws none never loads Qt; when it cannot
// be, that picture fails with the reason. nullptr in a build without Qt.
std::unique_ptr<PictureOutput> MakePictureOutput();

}  // namespace reflector
