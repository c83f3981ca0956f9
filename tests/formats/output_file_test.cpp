#include "formats/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

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

// Root is not held back by permission bits; such tests would prove nothing.
bool PermissionsAreEnforced() { return geteuid() != 0; }

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

TEST_F(OutputFileTest, RefusesAReadOnlyFolderEvenForAWritableFile) {
  if (!PermissionsAreEnforced()) GTEST_SKIP() << "running as root: permissions are not enforced";
  const std::string path = dir_ + "/out.json";
  Write(path, "old");
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
  std::string error;
  EXPECT_FALSE(CheckOutputWritable(path, error));
  EXPECT_EQ(error, path + ": cannot write: Permission denied (cannot create a file in " + dir_ + ")");
  EXPECT_FALSE(CheckOutputWritable(dir_ + "/new.json", error));
  ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);

  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  EXPECT_FALSE(CheckOutputWritable(path, error));
  EXPECT_EQ(error, path + ": cannot write: Permission denied");
  EXPECT_FALSE(WriteOutputFile(path, "new", error));
  EXPECT_EQ(Read(path), "old");
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
  std::string received;
  std::thread reader([&] { received = Read(fifo); });
  const bool written = WriteOutputFile(fifo, "through the pipe", error);
  reader.join();
  EXPECT_TRUE(written) << error;
  EXPECT_EQ(received, "through the pipe");
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
