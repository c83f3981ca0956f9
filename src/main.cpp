// The reflector program: the window, or the headless runner with --headless.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/headless_runner.h"
#include "window/window_main.h"

int main(int argc, char** argv) {
  using reflector::CommandLine;

  std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine options;
  std::string error;
  if (!reflector::ParseCommandLine(args, options, error)) {
    std::fprintf(stderr, "reflector: %s (try 'reflector --help')\n", error.c_str());
    return 2;
  }
  switch (options.mode) {
    case CommandLine::Mode::Help:
      std::fputs(reflector::UsageText().c_str(), stdout);
      return 0;
    case CommandLine::Mode::Version:
      std::printf("reflector %s\n", REFLECTOR_VERSION);
      return 0;
    case CommandLine::Mode::Headless:
      return reflector::RunHeadless(options, stderr, isatty(STDERR_FILENO) != 0);
    case CommandLine::Mode::Window:
      break;
  }
  return reflector::RunWindow(argc, argv);
}
