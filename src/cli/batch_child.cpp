#include "cli/batch_child.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string_view>

extern char** environ;

namespace reflector {

namespace {

constexpr std::string_view kBatchVariable = "REFLECTOR_BATCH_PID";

}  // namespace

std::vector<std::string> BatchChildEnvironment() {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string_view text(*entry);
    if (!text.starts_with(std::string(kBatchVariable) + "=")) environment.emplace_back(text);
  }
  environment.push_back(std::string(kBatchVariable) + "=" + std::to_string(getpid()));
  return environment;
}

void EndWithTheBatch() {
  const char* value = std::getenv(std::string(kBatchVariable).c_str());
  if (!value) return;
  const long batch = std::strtol(value, nullptr, 10);
  unsetenv(std::string(kBatchVariable).c_str());
  if (batch <= 0) return;
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  // The batch may have died before the request was made.
  if (getppid() != static_cast<pid_t>(batch)) raise(SIGTERM);
}

}  // namespace reflector
