#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace reflector {

// Which file a path names, so that two paths can be compared by the file
// they reach rather than by their text ("same.json", "./same.json", a hard
// link and a symbolic link all reach one file). An existing file is its
// device and inode; a file yet to be made is its folder's device and inode
// and its name there.
//
//   if (IdentifyFile(jsonPath) == IdentifyFile(scenePath)) ...  // one file
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  std::string newName;  // empty for an existing file

  bool operator==(const FileIdentity&) const = default;
};

// Nothing when neither the file nor its folder exists (no file can be made
// there, and so none can be the same as another).
std::optional<FileIdentity> IdentifyFile(const std::string& path);

// Whether the two paths reach one file, or would make one.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace reflector
