// The batch runner against a stand-in program: a shell script that behaves as
// its scene's name says, so that every way a run can end is tried in a
// fraction of a second. The real program is tried by batch_runs.sh.
#include "cli/batch_runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace reflector {
namespace {

// Writes the result file a real run would, with scores made from the seed;
// "fail" complains on two lines and exits 2, "killed" kills itself, "silent"
// exits 3 saying nothing, "nofile" exits 0 without a result, "fresh" has no
// score yet. Every run notes how many runs were going on when it started.
constexpr const char* kFakeProgram = R"(#!/bin/sh
echo "$@" > "$FAKE_DIR/args-$$"
mkdir -p "$FAKE_DIR/running"
touch "$FAKE_DIR/running/$$"
ls "$FAKE_DIR/running" | wc -l > "$FAKE_DIR/count-$$"
while [ $# -gt 0 ]; do
  case $1 in --scene) scene=$2; shift;; --seed) seed=$2; shift;; --json) json=$2; shift;; esac
  shift
done
name=$(basename "$scene" .json)
case $name in slow) [ "$seed" = 1 ] && sleep 0.3;; *) sleep 0.05;; esac
rm "$FAKE_DIR/running/$$"
case $name in
  fail) echo "reflector: first complaint" >&2; echo "reflector: $scene: cannot open: No such file or directory" >&2; exit 2;;
  killed) kill -9 $$;;
  silent) exit 3;;
  nofile) exit 0;;
  fresh) printf '{"generations": 0, "seed": %s, "bestIndex": -1, "bestEver": null, "candidates": [{"score": null, "vertices": []}]}\n' "$seed" > "$json";;
  *) printf '{"generations": 7, "seed": %s, "bestIndex": 1, "bestEver": {"score": %s.1, "generation": 3, "vertices": []}, "candidates": [{"score": 9, "vertices": []}, {"score": %s.25, "vertices": []}]}\n' "$seed" "$seed" "$seed" > "$json";;
esac
)";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The summary with each seconds field checked (a plain %.3f) and replaced by
// "S", so that the rest can be compared exactly.
std::string UntimedSummary(const std::string& csv) {
  std::string out;
  std::istringstream lines(csv);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t comma = line.rfind(',');
    const std::string seconds = line.substr(comma + 1);
    const std::size_t point = seconds.find('.');
    const bool timed = point != std::string::npos && point > 0 && seconds.size() == point + 4 &&
                       seconds.find_first_not_of("0123456789.") == std::string::npos;
    out += timed ? line.substr(0, comma + 1) + "S\n" : line + "\n";
  }
  return out;
}

class BatchRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/batch_runner_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    program_ = dir_ + "/fake-reflector";
    std::ofstream(program_) << kFakeProgram;
    ASSERT_EQ(chmod(program_.c_str(), 0755), 0);
    setenv("FAKE_DIR", dir_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  CommandLine Batch(std::vector<std::string> scenes, std::uint32_t firstSeed,
                    std::uint32_t lastSeed) {
    CommandLine options;
    options.mode = CommandLine::Mode::Batch;
    options.jobs = 2;
    options.generations = 7;
    options.firstSeed = firstSeed;
    options.lastSeed = lastSeed;
    options.outDir = dir_ + "/out";
    for (const std::string& scene : scenes) {
      // A real scene, which the batch reads before it starts any run.
      const std::string path = dir_ + "/" + scene;
      if (!std::filesystem::exists(path)) std::ofstream(path) << R"({"reflector": [[1, 2], [3, 4]]})";
      options.sceneFiles.push_back(path);
    }
    return options;
  }

  // Runs the batch; messages_ holds what it said.
  int Run(const CommandLine& options, bool progress = false) {
    std::FILE* messages = std::tmpfile();
    const int status = RunBatch(options, program_, messages, progress);
    std::rewind(messages);
    messages_.clear();
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, messages)) > 0) messages_.append(buffer, n);
    std::fclose(messages);
    return status;
  }

  std::string dir_;
  std::string program_;
  std::string messages_;
};

TEST_F(BatchRunnerTest, RunsEverySceneAndSeedAndSummarisesThemInOrder) {
  // slow seed 1 finishes last: the summary is still in scene-then-seed order.
  ASSERT_EQ(Run(Batch({"slow.json", "b"}, 1, 2)), 0) << messages_;
  EXPECT_EQ(UntimedSummary(ReadFile(dir_ + "/out/summary.csv")),
            "scene,seed,generations,best,best_ever,seconds\n"
            "slow,1,7,1.25,1.1,S\nslow,2,7,2.25,2.1,S\nb,1,7,1.25,1.1,S\nb,2,7,2.25,2.1,S\n");
  for (const char* file : {"slow-1.json", "slow-2.json", "b-1.json", "b-2.json"}) {
    EXPECT_FALSE(ReadFile(dir_ + "/out/" + file).empty()) << file;
  }
  EXPECT_NE(messages_.find("reflector: batch: 4 runs (0 failed) in "), std::string::npos);
  EXPECT_NE(messages_.find("; summary in " + dir_ + "/out/summary.csv\n"), std::string::npos);
  EXPECT_EQ(messages_.find('\r'), std::string::npos) << "a progress bar though not asked for";

  // The child's command line, exactly, and never more than two at a time.
  std::string args;
  int most = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    const std::string name = entry.path().filename();
    const std::string text = ReadFile(entry.path());
    if (name.starts_with("count-")) most = std::max(most, std::atoi(text.c_str()));
    if (name.starts_with("args-") && text.find("/b --seed 2") != std::string::npos) args = text;
  }
  // Two runs side by side share the cores.
  const unsigned threads = std::max(1u, std::max(1u, std::thread::hardware_concurrency()) / 2);
  EXPECT_EQ(args, "--headless --scene " + dir_ + "/b --seed 2 --threads " +
                      std::to_string(threads) + " --generations 7 --json " + dir_ +
                      "/out/b-2.json\n");
  EXPECT_GE(most, 1);
  EXPECT_LE(most, 2);
}

TEST_F(BatchRunnerTest, RunsTakeTheThreadsAskedForOrTheCoresOfTheRunsSideBySide) {
  auto childArgs = [&](const std::string& scene) {
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      const std::string text = ReadFile(entry.path());
      if (entry.path().filename().string().starts_with("args-") &&
          text.find("/" + scene + " --seed 1") != std::string::npos) {
        return text;
      }
    }
    return std::string();
  };
  CommandLine asked = Batch({"c"}, 1, 1);
  asked.threads = 3;
  ASSERT_EQ(Run(asked), 0) << messages_;
  EXPECT_NE(childArgs("c").find(" --threads 3 "), std::string::npos) << childArgs("c");
  // One run alone has every core, however many jobs were allowed.
  CommandLine alone = Batch({"d"}, 1, 1);
  alone.outDir = dir_ + "/out-alone";
  ASSERT_EQ(Run(alone), 0) << messages_;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  EXPECT_NE(childArgs("d").find(" --threads " + std::to_string(cores) + " "), std::string::npos)
      << childArgs("d");
}

TEST_F(BatchRunnerTest, FailedRunsAreReportedAndTheOthersGoOn) {
  CommandLine options =
      Batch({"fail.json", "killed.json", "silent.json", "nofile.json", "fresh.json", "ok.json"}, 4, 4);
  options.jobs = 3;
  ASSERT_EQ(Run(options), 1);
  const std::string d = dir_;
  for (const std::string& line :
       {"reflector: batch: " + d + "/fail.json seed 4 failed: " + d +
            "/fail.json: cannot open: No such file or directory\n",
        "reflector: batch: " + d + "/killed.json seed 4 failed: killed by signal 9\n",
        "reflector: batch: " + d + "/silent.json seed 4 failed: exit status 3\n",
        "reflector: batch: " + d + "/nofile.json seed 4 failed: " + d +
            "/out/nofile-4.json: cannot read: No such file or directory\n",
        std::string("reflector: batch: 6 runs (4 failed) in ")}) {
    EXPECT_NE(messages_.find(line), std::string::npos) << line << "\nin:\n" << messages_;
  }
  EXPECT_EQ(UntimedSummary(ReadFile(dir_ + "/out/summary.csv")),
            "scene,seed,generations,best,best_ever,seconds\n"
            "fail,4,,failed,,\nkilled,4,,failed,,\nsilent,4,,failed,,\nnofile,4,,failed,,\n"
            "fresh,4,0,,,S\nok,4,7,4.25,4.1,S\n");

  // A program that cannot be started fails every run the same way.
  program_ = dir_ + "/no-such-program";
  ASSERT_EQ(Run(Batch({"ok.json"}, 1, 1)), 1);
  EXPECT_NE(messages_.find("ok.json seed 1 failed: " + program_ +
                           ": cannot start: No such file or directory\n"),
            std::string::npos)
      << messages_;
}

TEST_F(BatchRunnerTest, RefusesUnusableOptionsBeforeStartingAnything) {
  EXPECT_EQ(Run(Batch({}, 1, 1)), 2);
  EXPECT_NE(messages_.find("no scene files"), std::string::npos) << messages_;

  EXPECT_EQ(Run(Batch({"a/x.json", "b/x.json"}, 1, 1)), 2);
  EXPECT_NE(messages_.find(dir_ + "/a/x.json and " + dir_ + "/b/x.json"), std::string::npos)
      << messages_;

  CommandLine options = Batch({"ok.json"}, 1, 1);
  options.outDir = dir_ + "/missing/out";
  EXPECT_EQ(Run(options), 2);
  EXPECT_EQ(messages_, "reflector: " + options.outDir + ": cannot create: No such file or directory\n");

  std::ofstream(dir_ + "/plain") << "x";
  options.outDir = dir_ + "/plain";
  EXPECT_EQ(Run(options), 2);
  EXPECT_EQ(messages_, "reflector: " + options.outDir + ": cannot create: Not a directory\n");
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("args-")) << "a run was started";
  }
}

// A result named like a scene file of the batch would replace that scene, and
// a later run would read the result as its scene: refused before anything
// runs, and the message names both files. Links reach the same file.
TEST_F(BatchRunnerTest, RefusesResultsThatWouldOverwriteAScene) {
  std::filesystem::create_directory(dir_ + "/out");
  const std::string scene = R"({"reflector": [[494, 52], [494, 105]]})";
  std::ofstream(dir_ + "/out/a.json") << scene;
  std::ofstream(dir_ + "/out/a-1.json") << scene;
  CommandLine options = Batch({"out/a.json", "out/a-1.json"}, 1, 2);
  EXPECT_EQ(Run(options), 2);
  EXPECT_EQ(messages_, "reflector: batch: " + dir_ + "/out/a-1.json would be overwritten by the "
                       "batch's " + dir_ + "/out/a-1.json; put the results in another folder "
                       "(--out)\n");
  EXPECT_EQ(ReadFile(dir_ + "/out/a-1.json"), scene);

  // Outside the seeds' range, no result takes the name: the batch runs.
  options.firstSeed = options.lastSeed = 2;
  EXPECT_EQ(Run(options), 0) << messages_;
  EXPECT_EQ(ReadFile(dir_ + "/out/a-1.json"), scene);

  // A scene elsewhere, reached through a link named like a result, and the
  // summary's name.
  std::filesystem::create_directory(dir_ + "/scenes");
  std::ofstream(dir_ + "/scenes/b.json") << scene;
  std::filesystem::create_symlink(dir_ + "/scenes/b.json", dir_ + "/out/b-7.json");
  EXPECT_EQ(Run(Batch({"scenes/b.json"}, 5, 9)), 2);
  EXPECT_NE(messages_.find("scenes/b.json would be overwritten by the batch's " + dir_ +
                           "/out/b-7.json"),
            std::string::npos)
      << messages_;
  std::filesystem::create_hard_link(dir_ + "/scenes/b.json", dir_ + "/scenes/summary.csv");
  CommandLine intoScenes = Batch({"scenes/summary.csv"}, 1, 1);
  intoScenes.outDir = dir_ + "/scenes";
  EXPECT_EQ(Run(intoScenes), 2);
  EXPECT_NE(messages_.find("would be overwritten by the batch's " + dir_ + "/scenes/summary.csv"),
            std::string::npos)
      << messages_;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    const std::string name = entry.path().filename();
    EXPECT_FALSE(name.starts_with("args-") && ReadFile(entry.path()).find("b.json") != std::string::npos)
        << "a run was started";
  }
}

TEST_F(BatchRunnerTest, DrawsAProgressBarAndClearsIt) {
  CommandLine options = Batch({"ok.json"}, 1, 3);
  options.jobs = 1;  // seed 1 first: the best after one run is known
  ASSERT_EQ(Run(options, true), 0);
  EXPECT_NE(messages_.find("\r\033[K[--------------------] 0/3 runs"), std::string::npos);
  // The ETA is a few seconds at most, whatever the load.
  EXPECT_NE(messages_.find("] 1/3 runs  best 1.25  best ever 1.10  ETA 0:0"), std::string::npos)
      << messages_;
  EXPECT_NE(messages_.find("[####################] 3/3 runs  best 1.25  best ever 1.10\r\033[Kreflector: batch: 3 runs"),
            std::string::npos)
      << messages_;
}

}  // namespace
}  // namespace reflector
