#pragma once

#include <string>

namespace reflector {

// Where the program's own modules are, from the program's folder: the build
// tree and an installed package are laid out alike (src/ or bin/ beside
// lib/reflector/modules/).
inline constexpr const char* kProgramModuleFolder = "../lib/reflector/modules";

// A shared object of the program's own, opened from kProgramModuleFolder.
// Parts of the program that cost much to start (a large library and all it
// links) live in one, so that a process that never needs them never pays
// for them. A module stays loaded for the rest of the process: what it
// started may be running on any thread.
class ProgramModule {
 public:
  // Opens fileName (say "libreflector-window.so"); Error() says why not
  // when it cannot.
  explicit ProgramModule(const std::string& fileName);

  const std::string& Error() const { return error; }

  // The address of a symbol the module exports, or nullptr (and Error()
  // says so) when it has none.
  void* Symbol(const char* name);

 private:
  std::string path;
  void* handle = nullptr;
  std::string error;
};

}  // namespace reflector
