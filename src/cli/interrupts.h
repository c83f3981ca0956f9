#pragma once

namespace reflector {

// SIGINT, SIGTERM and SIGHUP (a terminal or ssh session that goes away),
// caught so that a run can stop where its work is whole (at a generation
// boundary) instead of dying in the middle of it.
//
//   CatchInterrupts();
//   while (working) { if (InterruptSignal()) { ...stop cleanly...; break; } }
//   return InterruptStatus();  // 130, 143 or 129
//
// The handler only records the signal; the run looks at it between
// generations. Lock-free, so safe in a handler.
void CatchInterrupts();

// While set (the default is unset), a signal ends the process at once with
// its status and one line on standard error: for the time before a run has
// anything to save, such as reading a large scene.
void EndAtOnceOnInterrupt(bool atOnce);

// The signal caught, or 0.
int InterruptSignal();

// The exit status for the signal caught: 128 + its number.
int InterruptStatus();

}  // namespace reflector
