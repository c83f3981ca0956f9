#include "formats/file_identity.h"

#include <sys/stat.h>

namespace reflector {

std::optional<FileIdentity> IdentifyFile(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return FileIdentity{info.st_dev, info.st_ino, ""};
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || stat(folder.c_str(), &info) != 0) return std::nullopt;
  return FileIdentity{info.st_dev, info.st_ino, name};
}

bool SameFile(const std::string& a, const std::string& b) {
  const std::optional<FileIdentity> first = IdentifyFile(a);
  return first && first == IdentifyFile(b);
}

}  // namespace reflector
