#include "cli/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace reflector {

namespace {

std::atomic<int> caught{0};
std::atomic<bool> endAtOnce{false};

// The first signal decides the status; later ones change nothing, since the
// run stops within a ray of the first.
void OnInterrupt(int signal) {
  if (endAtOnce.load()) {
    static constexpr char kMessage[] = "reflector: interrupted before the run began; nothing written\n";
    const ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)ignored;
    _exit(128 + signal);
  }
  int expected = 0;
  caught.compare_exchange_strong(expected, signal);
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

void EndAtOnceOnInterrupt(bool atOnce) { endAtOnce.store(atOnce); }

int InterruptSignal() { return caught.load(); }

int InterruptStatus() { return 128 + caught.load(); }

}  // namespace reflector
