// Stands in for the window in builds without Qt.
#include <cstdio>

#include "window/window_main.h"

namespace reflector {

int RunWindow(const CommandLine&, int, char**) {
  std::fprintf(stderr,
               "reflector: this build has no window; run 'reflector --headless' instead\n");
  return 2;
}

}  // namespace reflector
