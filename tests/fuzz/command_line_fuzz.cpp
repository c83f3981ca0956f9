// Any arguments given to the command line (the input split at NUL bytes):
// options or one line of error, never a crash, a leak or a hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  reflector::CommandLine options;
  std::string error;
  if (!reflector::ParseCommandLine(args, options, error)) {
    if (error.empty() || error.find('\n') != std::string::npos) __builtin_trap();
  }
  return 0;
}
