#pragma once

#include <string>
#include <vector>

namespace reflector {

// A batch's runs are child processes that must not outlive it: killed with
// SIGKILL, the batch cannot stop them itself, so each child asks the kernel
// for SIGTERM when its parent dies, and stops at a generation boundary.

// The environment a batch gives its children: its own, and its process id
// under the name the child looks for.
std::vector<std::string> BatchChildEnvironment();

// In a run started by a batch: SIGTERM when the batch dies (at once, if it
// has died already). Elsewhere it does nothing.
void EndWithTheBatch();

}  // namespace reflector
