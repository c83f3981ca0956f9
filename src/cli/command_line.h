#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reflector {

// What the command line asks for.
struct CommandLine {
  enum class Mode { Window, Headless, Help, Version };
  Mode mode = Mode::Window;
  std::uint32_t generations = 100000;
  std::string sceneFile;  // empty: the default scene
  std::string jsonFile;   // empty: no JSON; "-": standard output
};

// Parses the arguments after the program name. Returns false with a one-line
// error on an unknown option, a missing or bad value, or headless options
// without --headless.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

// The text of --help.
std::string UsageText();

}  // namespace reflector
