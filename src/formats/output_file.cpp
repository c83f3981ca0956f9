#include "formats/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace reflector {

namespace {

std::string CannotWrite(const std::string& path, int error, const std::string& context = {}) {
  std::string message = path + ": cannot write: " + std::strerror(error);
  if (!context.empty()) message += " (" + context + ")";
  return message;
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

// The file a replacement is written to before it takes the target's place.
// Unnamed (O_TMPFILE) where the folder's filesystem allows, so that no exit,
// not even SIGKILL, can leave a partial file behind; it gets a name only
// once complete, for the rename. Elsewhere a mkstemp file, whose O_EXCL
// never follows a link planted at the name, and whose name cannot be guessed.
struct Temporary {
  int fd = -1;
  std::string name;  // empty while unnamed
};

std::string CannotCreate(const std::string& path, int failure) {
  // A missing folder says enough by itself; an existing one that takes no
  // new file is named, since the target itself may well be writable.
  // (/proc answers "No such file or directory" for a file that is there.)
  const std::string directory = DirectoryOf(path);
  struct stat info;
  const bool folderExists = stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  return CannotWrite(path, failure,
                     folderExists ? "cannot create a file in " + directory : std::string());
}

// The filesystem (or the kernel) has no unnamed files.
bool NoUnnamedFiles(int failure) {
  return failure == EOPNOTSUPP || failure == EISDIR || failure == EINVAL;
}

bool CreateNamedTemporary(const std::string& path, Temporary& temporary, std::string& error) {
  temporary.name = TemporaryTemplate(path);
  temporary.fd = mkstemp(temporary.name.data());
  if (temporary.fd < 0) {
    error = CannotCreate(path, errno);
    temporary.name.clear();
    return false;
  }
  return true;
}

bool CreateTemporary(const std::string& path, Temporary& temporary, std::string& error) {
  temporary = {};
  temporary.fd = open(DirectoryOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (temporary.fd >= 0) return true;
  const int failure = errno;
  if (NoUnnamedFiles(failure)) return CreateNamedTemporary(path, temporary, error);
  error = CannotCreate(path, failure);
  return false;
}

// Closes the temporary and removes it if it has a name.
void Discard(Temporary& temporary) {
  if (temporary.fd >= 0) close(temporary.fd);
  if (!temporary.name.empty()) unlink(temporary.name.c_str());
  temporary = {};
}

// Sets the temporary's permission bits, then writes text to it; on failure,
// the failing call's errno and, for the permissions, what was being done.
void Fill(const Temporary& temporary, mode_t mode, std::string_view text, int& failure,
          std::string& context) {
  if (fchmod(temporary.fd, mode) != 0) {
    failure = errno;
    context = "cannot set the permissions of " +
              (temporary.name.empty() ? std::string("the new file") : temporary.name);
    return;
  }
  WriteAll(temporary.fd, text, failure);
}

// Gives an unnamed temporary a fresh name beside path, exclusively (linkat
// never follows a link at its new name). ENOENT when /proc is not there.
int NameTemporary(const std::string& path, Temporary& temporary) {
  const std::string self = "/proc/self/fd/" + std::to_string(temporary.fd);
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TemporaryTemplate(path);
    unsigned char random[6];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
      const auto clock = static_cast<unsigned long long>(std::time(nullptr)) ^
                         (static_cast<unsigned long long>(getpid()) << 16) ^
                         static_cast<unsigned long long>(attempt) * 0x9E3779B97F4A7C15ull;
      for (std::size_t i = 0; i < sizeof random; ++i) random[i] = (clock >> (8 * i)) & 0xFF;
    }
    for (std::size_t i = 0; i < sizeof random; ++i) {
      name[name.size() - sizeof random + i] = kLetters[random[i] % (sizeof kLetters - 1)];
    }
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temporary.name = std::move(name);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
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
  // Not blocking on a pipe that nobody reads, which would hang the process
  // past any signal: such a pipe is an error, said as one.
  const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int failure = errno;
    error = failure == ENXIO ? path + ": cannot write: no process is reading this pipe"
                             : CannotWrite(path, failure);
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error = CannotWrite(path, errno);
    close(fd);
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

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
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
  Temporary temporary;
  if (!CreateTemporary(path, temporary, error)) return false;
  close(temporary.fd);
  if (!temporary.name.empty() && unlink(temporary.name.c_str()) != 0) {
    error = CannotWrite(path, errno, "cannot remove " + temporary.name);
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

  Temporary temporary;
  if (!CreateTemporary(path, temporary, error)) return false;
  int failure = 0;
  std::string context;
  Fill(temporary, mode, text, failure, context);
  if (failure == 0 && temporary.name.empty()) {
    failure = NameTemporary(path, temporary);
    if (failure == ENOENT) {
      // No /proc to name the file by: write it again, to a named temporary.
      Discard(temporary);
      failure = 0;
      if (!CreateNamedTemporary(path, temporary, error)) return false;
      Fill(temporary, mode, text, failure, context);
    } else if (failure != 0) {
      context = "cannot name the new file beside it";
    }
  }
  // On disk before it takes the old file's name, so that a crash of the
  // machine leaves the old file or the whole new one, never an empty one.
  if (failure == 0 && fsync(temporary.fd) != 0) {
    failure = errno;
    context = "cannot flush it to disk";
  }
  const int closed = close(temporary.fd);
  temporary.fd = -1;
  if (closed != 0 && failure == 0) failure = errno;
  if (failure == 0 && rename(temporary.name.c_str(), path.c_str()) != 0) {
    failure = errno;
    context = "cannot rename " + temporary.name + " to it";
  }
  if (failure != 0) {
    Discard(temporary);
    error = CannotWrite(path, failure, context);
    return false;
  }
  // And the new name on disk too. A folder on a filesystem that cannot sync
  // folders (EINVAL) keeps its names as well as it can.
  const int folder = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 || (fsync(folder) != 0 && errno != EINVAL)) {
    const int folderError = errno;
    if (folder >= 0) close(folder);
    error = CannotWrite(path, folderError, "cannot flush its folder to disk");
    return false;
  }
  close(folder);
  return true;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  return directory.ends_with('/') ? directory + name : directory + "/" + name;
}

bool MakeOutputDirectory(const std::string& directory, std::string& error) {
  struct stat info;
  if (stat(directory.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    error = directory + ": cannot create: " + std::strerror(ENOTDIR);
    return false;
  }
  if (mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
    error = directory + ": cannot create: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace reflector
