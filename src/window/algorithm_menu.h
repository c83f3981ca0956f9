#pragma once

#include <functional>
#include <string>

class QActionGroup;
class QMenu;

namespace reflector {

// Run > Algorithm: the built-in scheme first, then the catalogue's other
// optimisers, each with its description as status tip, exactly one checked.
// A build without the library lists the others disabled, saying why.
// choose is called with the name picked.
QActionGroup* AddAlgorithmMenu(QMenu* run, const std::function<void(const std::string&)>& choose);

// Checks the named algorithm's entry (the built-in scheme's, for a name the
// menu does not offer).
void CheckAlgorithm(QActionGroup* group, const std::string& name);

// Whether this build can run the named algorithm: a saved choice from
// another build may name one it cannot.
bool AlgorithmOffered(const std::string& name);

}  // namespace reflector
