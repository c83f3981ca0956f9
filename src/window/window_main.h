#pragma once

namespace reflector {

// Opens the window and runs its event loop until it is closed; returns the
// exit status. With no display to open it on, prints one line saying so and
// how to run instead, and returns 2.
int RunWindow(int argc, char** argv);

}  // namespace reflector
