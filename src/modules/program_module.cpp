#include "modules/program_module.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace reflector {

namespace {

std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  const std::string program(path, static_cast<std::size_t>(length));
  const std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? "." : program.substr(0, slash);
}

}  // namespace

ProgramModule::ProgramModule(const std::string& fileName)
    : path(ProgramFolder() + "/" + kProgramModuleFolder + "/" + fileName) {
  // Never closed: see the class.
  handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = dlerror();
    error = reason ? reason : path + ": cannot be loaded";
  }
}

void* ProgramModule::Symbol(const char* name) {
  if (!handle) return nullptr;
  void* address = dlsym(handle, name);
  if (!address) error = path + ": has no " + name;
  return address;
}

}  // namespace reflector
