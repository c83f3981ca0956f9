#include "app/window_main.h"

#include <cstdio>

namespace reflector {

int RunWindow(int, char**) {
  std::fprintf(stderr, "reflector: the window is not built yet; run 'reflector --headless'\n");
  return 2;
}

}  // namespace reflector
