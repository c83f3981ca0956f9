#include "cli/interrupts.h"

#include <signal.h>

#include <atomic>

namespace reflector {

namespace {

std::atomic<int> caught{0};

// The first signal decides the status; later ones change nothing, since the
// next generation boundary is never more than a generation away.
void OnInterrupt(int signal) {
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

int InterruptSignal() { return caught.load(); }

int InterruptStatus() { return 128 + caught.load(); }

}  // namespace reflector
