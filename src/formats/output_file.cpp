#include "formats/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace reflector {

namespace {

std::string CannotWrite(const std::string& path, int error, const std::string& context = {}) {
  std::string message = path + ": cannot write: " + std::strerror(error);
  if (!context.empty()) message += " (" + context + ")";
  return message;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// ".NAME.XXXXXX" beside the target, for mkstemp. Long names are cut so that
// the temporary's name stays within the 255 bytes a name may have.
std::string TemporaryTemplate(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1, 200);
  return directory + "." + name + ".XXXXXX";
}

// The mode a new file gets from open(..., 0666): the umask applied. Read from
// /proc, since setting the umask to learn it would race with other threads.
mode_t NewFileMode() {
  mode_t mask = 022;
  bool found = false;
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    unsigned int value;
    while (std::fgets(line, sizeof line, status)) {
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = value;
        found = true;
        break;
      }
    }
    std::fclose(status);
  }
  if (!found) {
    mask = umask(022);
    umask(mask);
  }
  return 0666 & ~mask;
}

bool WriteAll(int fd, std::string_view text, int& error) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Creates a temporary file beside path, exclusively: mkstemp's O_EXCL never
// follows a link planted at the name, and the name cannot be guessed.
int CreateTemporary(const std::string& path, std::string& temporary, std::string& error) {
  temporary = TemporaryTemplate(path);
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    // A missing folder says enough by itself; an existing one that takes no
    // new file is named, since the target itself may well be writable.
    // (/proc answers "No such file or directory" for a file that is there.)
    const int failure = errno;
    const std::string directory = DirectoryOf(path);
    struct stat info;
    const bool folderExists = stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    error = CannotWrite(path, failure,
                        folderExists ? "cannot create a file in " + directory : std::string());
    temporary.clear();
  }
  return fd;
}

// What to do with an existing target: replace it (a regular file, a link or
// nothing there) or write into it (a device, a pipe).
enum class Target { Replace, InPlace };

bool Classify(const std::string& path, Target& target, mode_t& mode, std::string& error) {
  struct stat info;
  if (path.empty()) {
    error = CannotWrite(path, ENOENT);
    return false;
  }
  mode = NewFileMode();
  target = Target::Replace;
  if (lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;
    error = CannotWrite(path, errno);
    return false;
  }
  // A link is looked through to tell a device from a file; a link to a file
  // is itself replaced, so a link planted at the name cannot redirect the
  // output onto another file.
  const bool link = S_ISLNK(info.st_mode);
  if (link && stat(path.c_str(), &info) != 0) return true;  // dangling
  if (S_ISDIR(info.st_mode)) {
    error = CannotWrite(path, EISDIR);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    target = Target::InPlace;
    return true;
  }
  if (access(path.c_str(), W_OK) != 0) {
    error = CannotWrite(path, errno);
    return false;
  }
  mode = info.st_mode & 0777;
  return true;
}

// Writes into an existing device or pipe. False with fd -1 when the name
// turned out to hold a regular file after all (it changed since it was
// looked at): that one is replaced instead.
bool WriteInPlace(const std::string& path, std::string_view text, bool& regular,
                  std::string& error) {
  regular = false;
  const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = CannotWrite(path, errno);
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    close(fd);
    regular = true;
    return false;
  }
  int failure = 0;
  const bool written = WriteAll(fd, text, failure);
  const int closed = close(fd);
  if (!written || closed != 0) {
    error = CannotWrite(path, written ? errno : failure);
    return false;
  }
  return true;
}

bool WriteStandardOutput(std::string_view text, std::string& error) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    error = CannotWrite("standard output", errno);
    return false;
  }
  return true;
}

}  // namespace

bool CheckOutputWritable(const std::string& path, std::string& error) {
  if (path == "-") return true;
  Target target;
  mode_t mode;
  if (!Classify(path, target, mode, error)) return false;
  if (target == Target::InPlace) {
    if (access(path.c_str(), W_OK) != 0) {
      error = CannotWrite(path, errno);
      return false;
    }
    return true;
  }
  // The only sure test that the folder takes a new file is making one.
  std::string temporary;
  const int fd = CreateTemporary(path, temporary, error);
  if (fd < 0) return false;
  close(fd);
  if (unlink(temporary.c_str()) != 0) {
    error = CannotWrite(path, errno, "cannot remove " + temporary);
    return false;
  }
  return true;
}

bool WriteOutputFile(const std::string& path, std::string_view text, std::string& error) {
  if (path == "-") return WriteStandardOutput(text, error);
  Target target;
  mode_t mode;
  if (!Classify(path, target, mode, error)) return false;
  if (target == Target::InPlace) {
    bool regular;
    if (WriteInPlace(path, text, regular, error)) return true;
    if (!regular) return false;
  }

  std::string temporary;
  const int fd = CreateTemporary(path, temporary, error);
  if (fd < 0) return false;
  int failure = 0;
  std::string context;
  if (fchmod(fd, mode) != 0) {
    failure = errno;
    context = "cannot set the permissions of " + temporary;
  } else {
    WriteAll(fd, text, failure);
  }
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && rename(temporary.c_str(), path.c_str()) != 0) {
    failure = errno;
    context = "cannot rename " + temporary + " to it";
  }
  if (failure != 0) {
    unlink(temporary.c_str());
    error = CannotWrite(path, failure, context);
    return false;
  }
  return true;
}

}  // namespace reflector
