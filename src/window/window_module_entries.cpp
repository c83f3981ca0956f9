// The window module's entries (see window_module.h).
#include <new>
#include <type_traits>

#include "window/picture_output_qt.h"
#include "window/window_main.h"
#include "window/window_module.h"

extern "C" __attribute__((visibility("default"))) int reflector_run_window(
    const reflector::CommandLine& options, int argc, char** argv) {
  return reflector::RunWindow(options, argc, argv);
}

extern "C" __attribute__((visibility("default"))) reflector::PictureOutput*
reflector_new_picture_output() {
  return new (std::nothrow) reflector::QtPictureOutput;
}

static_assert(std::is_same_v<decltype(&reflector_run_window), reflector::RunWindowEntry>);
static_assert(
    std::is_same_v<decltype(&reflector_new_picture_output), reflector::NewPictureOutputEntry>);
