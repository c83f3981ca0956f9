#include "formats/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace reflector {
namespace {

// A fresh folder per test, removed with whatever is left in it.
class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "output_file_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0700);
    for (const std::string& name : Entries()) unlink((dir_ + "/" + name).c_str());
    rmdir(dir_.c_str());
  }

  std::set<std::string> Entries() const {
    std::set<std::string> names;
    if (DIR* d = opendir(dir_.c_str())) {
      while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.insert(name);
      }
      closedir(d);
    }
    return names;
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static mode_t ModeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  }

  std::string dir_;
};

TEST_F(OutputFileTest, ReplacesAFileKeepingItsPermissionsAndLeavesNoTemporary) {
  const std::string path = dir_ + "/out.json";
  std::string error;
  for (mode_t mode : {0600, 0640, 0604}) {
    Write(path, "old contents that are longer than the new ones");
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    ASSERT_TRUE(WriteOutputFile(path, "new\n", error)) << error;
    EXPECT_EQ(Read(path), "new\n");
    EXPECT_EQ(ModeOf(path), mode);
    EXPECT_EQ(Entries(), std::set<std::string>{"out.json"});
  }
  // A set-user-ID bit is not carried over: never wider than rw for everyone.
  ASSERT_EQ(chmod(path.c_str(), 04755), 0);
  ASSERT_TRUE(WriteOutputFile(path, "x", error)) << error;
  EXPECT_EQ(ModeOf(path), 0755u);

  const mode_t old = umask(027);
  const std::string fresh = dir_ + "/fresh.csv";
  const bool written = WriteOutputFile(fresh, "a,b\n", error);
  umask(old);
  ASSERT_TRUE(written) << error;
  EXPECT_EQ(ModeOf(fresh), 0640u);
  EXPECT_EQ(Read(fresh), "a,b\n");
}

TEST_F(OutputFileTest, NeverFollowsALinkPlantedInTheFolder) {
  const std::string victim = dir_ + "/victim";
  Write(victim, "precious");
  const std::string path = dir_ + "/out.json";
  // The names an older version used, and the template's own spelling.
  const std::string planted[] = {path + ".tmp" + std::to_string(getpid()), path + ".tmp",
                                 dir_ + "/.out.json.XXXXXX"};
  for (const std::string& link : planted) ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  std::string error;
  ASSERT_TRUE(CheckOutputWritable(path, error)) << error;
  ASSERT_TRUE(WriteOutputFile(path, "result", error)) << error;
  EXPECT_EQ(Read(victim), "precious");
  EXPECT_EQ(Read(path), "result");
  EXPECT_EQ(Entries().size(), 5u);  // victim, three links, out.json: no temporary

  // A link at the output's own name is replaced, not written through.
  const std::string linked = dir_ + "/linked.json";
  ASSERT_EQ(symlink(victim.c_str(), linked.c_str()), 0);
  ASSERT_TRUE(WriteOutputFile(linked, "mine", error)) << error;
  struct stat info;
  ASSERT_EQ(lstat(linked.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(Read(linked), "mine");
  EXPECT_EQ(Read(victim), "precious");
}

TEST_F(OutputFileTest, AFailedWriteKeepsTheOldFileAndRemovesTheTemporary) {
  const std::string path = dir_ + "/out.json";
  Write(path, "old");
  // A file size limit makes the write itself fail, even for root.
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 16;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool written = WriteOutputFile(path, std::string(1000, 'x'), error);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(error, path + ": cannot write: File too large");
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(Entries(), std::set<std::string>{"out.json"});
}

TEST_F(OutputFileTest, RefusesUpFrontWhatCouldNeverBeWritten) {
  std::string error;
  EXPECT_FALSE(CheckOutputWritable(dir_, error));
  EXPECT_EQ(error, dir_ + ": cannot write: Is a directory");
  EXPECT_FALSE(WriteOutputFile(dir_ + "/", "x", error));
  EXPECT_EQ(error, dir_ + "/: cannot write: Is a directory");

  const std::string missing = dir_ + "/no/such/folder/out.json";
  EXPECT_FALSE(CheckOutputWritable(missing, error));
  EXPECT_EQ(error, missing + ": cannot write: No such file or directory");
  EXPECT_FALSE(WriteOutputFile(missing, "x", error));
  EXPECT_EQ(error, missing + ": cannot write: No such file or directory");

  // /proc refuses new files even to root: the message says so rather than
  // blaming the file that exists.
  EXPECT_FALSE(CheckOutputWritable("/proc/version", error));
  EXPECT_EQ(error.rfind("/proc/version: cannot write: ", 0), 0u) << error;
  EXPECT_TRUE(error.ends_with(" (cannot create a file in /proc)")) << error;
  EXPECT_FALSE(WriteOutputFile("/proc/version", "x", error));
  EXPECT_EQ(error.rfind("/proc/version: cannot write: ", 0), 0u) << error;
  EXPECT_EQ(Entries().size(), 0u);
}

// Runs observe as a user that permission bits hold back: in this process
// when it is one, else (root is not held back) in a child that has become
// nobody and owns the test's folder. Returns what observe returned.
std::string ObserveUnprivileged(const std::string& folder, const std::function<std::string()>& observe) {
  if (geteuid() != 0) return observe();
  constexpr uid_t kNobody = 65534;
  if (chown(folder.c_str(), kNobody, kNobody) != 0) return "cannot hand the folder over";
  int channel[2];
  if (pipe(channel) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    std::string seen = "cannot become nobody";
    if (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0) seen = observe();
    const ssize_t ignored = write(channel[1], seen.data(), seen.size());
    (void)ignored;
    _exit(0);
  }
  close(channel[1]);
  std::string seen;
  char buffer[512];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) seen.append(buffer, n);
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return seen;
}

TEST_F(OutputFileTest, RefusesAReadOnlyFolderEvenForAWritableFile) {
  const std::string path = dir_ + "/out.json";
  const std::string fresh = dir_ + "/new.json";
  const std::string seen = ObserveUnprivileged(dir_, [&] {
    std::string log, error;
    const auto note = [&](const char* what, bool ok) {
      log += std::string(what) + ": " + (ok ? "ok" : error) + "\n";
    };
    Write(path, "old");
    chmod(dir_.c_str(), 0555);
    note("check writable file", CheckOutputWritable(path, error));
    note("check new file", CheckOutputWritable(fresh, error));
    note("write writable file", WriteOutputFile(path, "new", error));
    chmod(dir_.c_str(), 0700);
    chmod(path.c_str(), 0444);
    note("check read-only file", CheckOutputWritable(path, error));
    note("write read-only file", WriteOutputFile(path, "new", error));
    log += "content: " + Read(path) + "\n";
    return log;
  });
  const std::string inFolder = " (cannot create a file in " + dir_ + ")";
  EXPECT_EQ(seen, "check writable file: " + path + ": cannot write: Permission denied" + inFolder +
                      "\ncheck new file: " + fresh + ": cannot write: Permission denied" +
                      inFolder + "\nwrite writable file: " + path +
                      ": cannot write: Permission denied" + inFolder +
                      "\ncheck read-only file: " + path +
                      ": cannot write: Permission denied\nwrite read-only file: " + path +
                      ": cannot write: Permission denied\ncontent: old\n");
  EXPECT_EQ(Entries(), std::set<std::string>{"out.json"});
}

// What the child's open files point at, by readlink of /proc/PID/fd/*.
std::vector<std::string> OpenFilesOf(pid_t pid) {
  std::vector<std::string> targets;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR* d = opendir(fds.c_str())) {
    while (dirent* e = readdir(d)) {
      char target[4096];
      const ssize_t n = readlink((fds + "/" + e->d_name).c_str(), target, sizeof target);
      if (n > 0) targets.emplace_back(target, static_cast<std::size_t>(n));
    }
    closedir(d);
  }
  return targets;
}

TEST_F(OutputFileTest, AKillInTheMiddleOfAWriteLeavesNoTemporary) {
  const int probe = open(dir_.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "this filesystem has no unnamed files: " << std::strerror(errno);
  close(probe);
  const std::string path = dir_ + "/out.json";
  Write(path, "old");
  // Up to a few tries, in case a write outruns the watch; one caught mid-way is enough.
  bool caught = false;
  for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::string error;
      const std::string text(std::size_t{256} << 20, 'x');
      _exit(WriteOutputFile(path, text, error) ? 0 : 1);
    }
    // Killed as soon as it has the file open in the folder.
    std::string open;
    for (int poll = 0; poll < 200000 && open.empty(); ++poll) {
      for (const std::string& target : OpenFilesOf(child)) {
        if (target.rfind(dir_ + "/", 0) == 0) open = target;
      }
      int status;
      if (waitpid(child, &status, WNOHANG) == child) break;
    }
    if (!open.empty()) {
      kill(child, SIGKILL);
      caught = true;
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status)) << "the write finished before the kill";
    }
    EXPECT_EQ(Entries(), std::set<std::string>{"out.json"});
    EXPECT_EQ(Read(path), caught ? "old" : std::string(std::size_t{256} << 20, 'x'));
    if (!caught) Write(path, "old");
  }
  EXPECT_TRUE(caught) << "no write was seen in progress";
}

TEST_F(OutputFileTest, WritesDevicesAndPipesInPlace) {
  std::string error;
  EXPECT_TRUE(CheckOutputWritable("/dev/null", error)) << error;
  EXPECT_TRUE(WriteOutputFile("/dev/null", "x", error)) << error;
  EXPECT_TRUE(CheckOutputWritable("/dev/full", error)) << error;
  EXPECT_FALSE(WriteOutputFile("/dev/full", "x", error));
  EXPECT_EQ(error, "/dev/full: cannot write: No space left on device");

  const std::string fifo = dir_ + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Nobody reading: an error at once, never a writer blocked for good.
  EXPECT_FALSE(WriteOutputFile(fifo, "into the void", error));
  EXPECT_EQ(error, fifo + ": cannot write: no process is reading this pipe");
  // A reader waiting: written through the pipe.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const bool written = WriteOutputFile(fifo, "through the pipe", error);
  EXPECT_TRUE(written) << error;
  char received[64] = {};
  EXPECT_EQ(read(reader, received, sizeof received - 1), 16);
  close(reader);
  EXPECT_STREQ(received, "through the pipe");
  struct stat info;
  ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(OutputFileTest, DashIsStandardOutput) {
  std::string error;
  EXPECT_TRUE(CheckOutputWritable("-", error));
  ::testing::internal::CaptureStdout();
  const bool written = WriteOutputFile("-", "{\"to\": \"stdout\"}\n", error);
  const std::string captured = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(written) << error;
  EXPECT_EQ(captured, "{\"to\": \"stdout\"}\n");
  EXPECT_EQ(Entries().size(), 0u);
}

}  // namespace
}  // namespace reflector
