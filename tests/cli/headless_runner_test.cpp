#include "cli/headless_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "formats/result_json.h"
#include "formats/scene_file.h"
#include "geometry/random.h"
#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"

namespace reflector {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// What the window's worker does, with a painter taking the lock at random
// moments, must end exactly where the headless runner ends.
TEST(RunHeadless, MatchesAWorkerThatIsReadWhileItRuns) {
  const std::string path = ::testing::TempDir() + "headless_runner_test.json";
  CommandLine options;
  options.mode = CommandLine::Mode::Headless;
  options.generations = 300;
  options.jsonFile = path;
  std::FILE* messages = std::tmpfile();
  ASSERT_EQ(RunHeadless(options, messages, false), 0);
  std::fclose(messages);
  const std::string headless = ReadFile(path);
  std::remove(path.c_str());

  SetRandomState(1);
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(ToSnapshot(SceneDescription{}), 300));
  std::mt19937 gen(11);
  while (!optimizer->Done()) {
    const Population* population = nullptr;
    optimizer->LockState(&population, nullptr);
    std::this_thread::sleep_for(std::chrono::microseconds(gen() % 500));
    optimizer->UnlockState();
    std::this_thread::sleep_for(std::chrono::microseconds(gen() % 500));
  }
  const Population* population = nullptr;
  optimizer->LockState(&population, nullptr);
  const std::string watched = PopulationToJson(optimizer->CompletedGenerations(), *population);
  optimizer->UnlockState();
  SetRandomState(1);

  EXPECT_EQ(watched, headless);
}

TEST(RunHeadless, RefusesAnUnwritableOutputBeforeRunning) {
  CommandLine options;
  options.mode = CommandLine::Mode::Headless;
  options.jsonFile = "/nonexistent-dir/out.json";
  std::FILE* messages = std::tmpfile();
  EXPECT_EQ(RunHeadless(options, messages, false), 2);
  std::rewind(messages);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, messages), nullptr);
  std::fclose(messages);
  EXPECT_STREQ(line, "reflector: /nonexistent-dir/out.json: cannot write: No such file or directory\n");

  options.jsonFile = "/";
  messages = std::tmpfile();
  EXPECT_EQ(RunHeadless(options, messages, false), 2);
  std::rewind(messages);
  ASSERT_NE(std::fgets(line, sizeof line, messages), nullptr);
  std::fclose(messages);
  EXPECT_STREQ(line, "reflector: /: cannot write: Is a directory\n");
}

}  // namespace
}  // namespace reflector
