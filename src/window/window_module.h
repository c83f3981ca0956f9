#pragma once

#include "cli/command_line.h"
#include "cli/picture_output.h"

namespace reflector {

// The window and the command line's pictures live in a module of their own,
// loaded the first time one is wanted: Qt and the fifty libraries it brings
// take some 25 ms to load and relocate in every process that links them,
// which every headless run and every run of a batch would otherwise pay,
// most of them drawing nothing. The module exports two functions, by these
// names.
inline constexpr const char* kWindowModule = "libreflector-window.so";

// RunWindow (window_main.h).
inline constexpr const char* kRunWindowEntry = "reflector_run_window";
using RunWindowEntry = int (*)(const CommandLine& options, int argc, char** argv);

// A new QtPictureOutput, for the caller to delete; nullptr without memory.
inline constexpr const char* kNewPictureOutputEntry = "reflector_new_picture_output";
using NewPictureOutputEntry = PictureOutput* (*)();

}  // namespace reflector
