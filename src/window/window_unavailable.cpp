// Stands in for the window in builds without Qt.
#include <cstdio>

#include "window/window_loader.h"

namespace reflector {

int OpenWindow(const CommandLine&, int, char**) {
  std::fprintf(stderr,
               "reflector: this build has no window; run 'reflector --headless' instead\n");
  return 2;
}

std::unique_ptr<PictureOutput> MakePictureOutput() { return nullptr; }

}  // namespace reflector
