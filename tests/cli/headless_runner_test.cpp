#include "cli/headless_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "formats/result_json.h"
#include "geometry/random.h"
#include "optimizer/evolution.h"
#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"
#include "tracing/beam.h"

namespace reflector {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class RunHeadlessTest : public ::testing::Test {
 protected:
  RunHeadlessTest() {
    char pattern[] = "/tmp/headless_runner_test.XXXXXX";
    folder_ = mkdtemp(pattern);
  }
  ~RunHeadlessTest() override { std::filesystem::remove_all(folder_); }

  std::string Path(const std::string& name) const { return folder_ + "/" + name; }

  // Runs headless; the messages it printed land in messages_.
  int Run(CommandLine options) {
    options.mode = CommandLine::Mode::Headless;
    std::FILE* messages = std::tmpfile();
    const int status = RunHeadless(options, nullptr, messages, false);
    std::rewind(messages);
    messages_.clear();
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, messages)) > 0) messages_.append(buffer, n);
    std::fclose(messages);
    return status;
  }

  // The result JSON of a run of the scene.
  std::string ResultOf(std::uint32_t generations, std::optional<std::uint32_t> seed,
                       const std::string& scene = "") {
    CommandLine options;
    options.generations = generations;
    options.seed = seed;
    options.sceneFile = scene;
    options.jsonFile = Path("result.json");
    EXPECT_EQ(Run(options), 0) << messages_;
    return ReadFile(options.jsonFile);
  }

  std::string folder_;
  std::string messages_;
};

TEST_F(RunHeadlessTest, SeedOneIsTheDefaultAndOtherSeedsDiffer) {
  const std::string unseeded = ResultOf(200, std::nullopt);
  EXPECT_EQ(ResultOf(200, 1), unseeded);
  const std::string seven = ResultOf(200, 7);
  EXPECT_NE(seven, unseeded);
  EXPECT_NE(ResultOf(200, 8), seven);
  EXPECT_NE(seven.find("\"seed\": 7"), std::string::npos);
  // A scene's own seed is used when the command line names none.
  WriteFile(Path("seeded.json"),
            R"({"reflector": [[494, 52], [494, 105], [493, 148], [494, 189], [493, 244],
                [489, 304]], "seed": 7})");
  EXPECT_EQ(ResultOf(200, std::nullopt, Path("seeded.json")), seven);
}

TEST_F(RunHeadlessTest, AResumedRunWritesTheBytesOfAStraightRun) {
  WriteFile(Path("concave.json"),
            R"({"reflector": [[330, 60], [400, 110], [440, 170], [450, 230], [440, 290],
                [400, 350], [330, 400], [300, 420]], "target": [300, 230]})");
  for (const std::string& scene : {std::string(), Path("concave.json")}) {
    CommandLine straight;
    straight.generations = 300;
    straight.sceneFile = scene;
    straight.seed = 5;
    straight.jsonFile = Path("straight.json");
    straight.checkpointFile = Path("straight.checkpoint");
    ASSERT_EQ(Run(straight), 0) << messages_;
    const std::string json = ReadFile(straight.jsonFile);
    const std::string checkpoint = ReadFile(straight.checkpointFile);

    for (std::uint32_t split : {0u, 1u, 137u, 299u}) {
      CommandLine first = straight;
      first.generations = split;
      first.jsonFile.clear();
      first.checkpointFile = Path("first.checkpoint");
      ASSERT_EQ(Run(first), 0) << messages_;

      CommandLine rest;
      rest.resumeFile = first.checkpointFile;
      rest.generations = 300 - split;
      rest.jsonFile = Path("resumed.json");
      rest.checkpointFile = Path("resumed.checkpoint");
      ASSERT_EQ(Run(rest), 0) << messages_;
      EXPECT_EQ(ReadFile(rest.jsonFile), json) << "scene '" << scene << "' split " << split;
      EXPECT_EQ(ReadFile(rest.checkpointFile), checkpoint) << "split " << split;

      // Without --generations a resumed run goes on to the total it was started for.
      CommandLine planned;
      planned.resumeFile = Path("resumed.checkpoint");
      planned.jsonFile = Path("planned.json");
      ASSERT_EQ(Run(planned), 0) << messages_;
      EXPECT_EQ(ReadFile(planned.jsonFile), json);
    }
  }
}

TEST_F(RunHeadlessTest, ADamagedCheckpointIsOneLineAndStatusTwo) {
  CommandLine options;
  options.generations = 20;
  options.checkpointFile = Path("run.checkpoint");
  ASSERT_EQ(Run(options), 0) << messages_;
  std::string text = ReadFile(options.checkpointFile);
  const std::size_t digit = text.find("\"randomState\": ") + 15;
  text[digit] = text[digit] == '1' ? '2' : '1';
  WriteFile(Path("damaged.checkpoint"), text);

  CommandLine resume;
  resume.resumeFile = Path("damaged.checkpoint");
  EXPECT_EQ(Run(resume), 2);
  EXPECT_EQ(messages_.rfind("reflector: " + resume.resumeFile + ": ", 0), 0u) << messages_;
  EXPECT_EQ(messages_.find('\n'), messages_.size() - 1) << messages_;

  resume.resumeFile = Path("missing.checkpoint");
  EXPECT_EQ(Run(resume), 2);
  EXPECT_NE(messages_.find("missing.checkpoint"), std::string::npos);
}

TEST_F(RunHeadlessTest, NoGenerationsMeansNoScores) {
  const std::string json = ResultOf(0, std::nullopt);
  EXPECT_NE(json.find("\"bestIndex\": -1"), std::string::npos);
  EXPECT_NE(json.find("\"bestEver\": null"), std::string::npos);
  EXPECT_NE(json.find("{\"score\": null, \"vertices\": "), std::string::npos);
  EXPECT_EQ(json.find("\"score\": 0"), std::string::npos);
}

TEST_F(RunHeadlessTest, AResultStartsANewRunFromItsBestEverMirror) {
  const std::string result = ResultOf(150, 3);
  WriteFile(Path("first.json"), result);
  CommandLine again;
  again.sceneFile = Path("first.json");
  again.generations = 0;
  again.jsonFile = Path("second.json");
  ASSERT_EQ(Run(again), 0) << messages_;
  const std::string second = ReadFile(again.jsonFile);
  // The new run starts from the best-ever vertices, with the result's seed.
  const std::size_t at = result.find("\"bestEver\": ");
  const std::size_t from = result.find("\"vertices\": ", at);
  const std::string vertices = result.substr(from, result.find("]]", from) + 2 - from);
  EXPECT_NE(second.find("\"reflector\": " + vertices.substr(12)), std::string::npos) << second;
  EXPECT_NE(second.find("\"seed\": 3"), std::string::npos);
}

TEST_F(RunHeadlessTest, HistoryRowsFollowTheGenerations) {
  CommandLine options;
  options.generations = 50;
  options.historyFile = Path("history.csv");
  options.jsonFile = Path("result.json");
  ASSERT_EQ(Run(options), 0) << messages_;
  std::istringstream csv(ReadFile(options.historyFile));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "generation,evaluations,best,mean,worst,best_ever");

  // The same generations stepped by hand: row k holds the population after
  // generation k, and the best-ever column never rises above any best.
  SetRandomState(1);
  SceneSnapshot snapshot = ToSnapshot(SceneDescription{});
  Population population;
  FillPopulation(population, snapshot);
  std::optional<BestEver> bestEver;
  const std::atomic<bool> never{false};
  double lowestBest = 1e300;
  for (int k = 1; k <= 50; ++k) {
    MutatePopulation(population);
    for (Candidate& c : population.candidates) {
      EvaluateBeam(c.vertices, snapshot.source, snapshot.aim, snapshot.target, never, c.rayRecords,
                   c.score);
    }
    for (int i = 0; i < 5; ++i) ReplaceWorstWithBest(population);
    const GenerationScores row = RecordGeneration(population, k, bestEver);
    lowestBest = std::min(lowestBest, row.best);
    EXPECT_EQ(row.bestEver, lowestBest);
    ASSERT_TRUE(std::getline(csv, line));
    EXPECT_EQ(line, std::to_string(k) + "," + std::to_string(k * 10) + "," +
                        FormatDouble(population.candidates[population.bestIndex].score) +
                        "," + FormatDouble(row.mean) + "," + FormatDouble(row.worst) + "," +
                        FormatDouble(row.bestEver));
  }
  EXPECT_FALSE(std::getline(csv, line));
  SetRandomState(1);
}

TEST_F(RunHeadlessTest, RefusesAnUnwritableOutputBeforeRunning) {
  CommandLine options;
  options.jsonFile = "/nonexistent-dir/out.json";
  EXPECT_EQ(Run(options), 1);
  EXPECT_EQ(messages_, "reflector: /nonexistent-dir/out.json: cannot write: No such file or directory\n");

  options.jsonFile = "/";
  EXPECT_EQ(Run(options), 1);
  EXPECT_EQ(messages_, "reflector: /: cannot write: Is a directory\n");

  options.jsonFile = Path("same");
  options.historyFile = Path("same");
  EXPECT_EQ(Run(options), 2);
  EXPECT_NE(messages_.find("named by two outputs"), std::string::npos);
}

// Paths are compared by the file they reach, not by their text: an output
// never overwrites another output or an input, whatever the spelling or link.
TEST_F(RunHeadlessTest, RefusesOutputsThatReachAnotherOutputOrAnInput) {
  const std::string scene = R"({"reflector": [[494, 52], [494, 105]]})";
  WriteFile(Path("my.json"), scene);
  const std::string folder = Path("");
  auto refused = [&](CommandLine options, const std::string& message) {
    options.generations = 3;
    EXPECT_EQ(Run(options), 2) << message;
    EXPECT_EQ(messages_, "reflector: " + message + "\n");
  };

  CommandLine twoOutputs;
  twoOutputs.jsonFile = Path("same.json");
  twoOutputs.checkpointFile = folder + "./same.json";
  refused(twoOutputs, folder + "./same.json: named by two outputs (--json and --checkpoint)");

  CommandLine sceneAsCheckpoint;
  sceneAsCheckpoint.sceneFile = Path("my.json");
  sceneAsCheckpoint.checkpointFile = folder + "../" +
                                     std::filesystem::path(folder_).filename().string() +
                                     "/my.json";
  refused(sceneAsCheckpoint,
          sceneAsCheckpoint.checkpointFile + ": --checkpoint would overwrite the --scene file");
  std::filesystem::create_symlink(Path("my.json"), Path("link.json"));
  CommandLine sceneThroughLink;
  sceneThroughLink.sceneFile = Path("my.json");
  sceneThroughLink.historyFile = Path("link.json");
  refused(sceneThroughLink, Path("link.json") + ": --history would overwrite the --scene file");
  EXPECT_EQ(ReadFile(Path("my.json")), scene);

  // A checkpoint to resume, then written over by --json: refused; written
  // over by --checkpoint, it is the run going on in place.
  CommandLine first;
  first.sceneFile = Path("my.json");
  first.generations = 3;
  first.checkpointFile = Path("c.ckpt");
  ASSERT_EQ(Run(first), 0) << messages_;
  CommandLine resumeOverJson;
  resumeOverJson.resumeFile = Path("c.ckpt");
  resumeOverJson.jsonFile = Path("c.ckpt");
  refused(resumeOverJson, Path("c.ckpt") + ": --json would overwrite the --resume file");
  CommandLine resumeInPlace;
  resumeInPlace.resumeFile = Path("c.ckpt");
  resumeInPlace.checkpointFile = Path("c.ckpt");
  resumeInPlace.generations = 2;
  EXPECT_EQ(Run(resumeInPlace), 0) << messages_;
}

TEST_F(RunHeadlessTest, WarnsWhenNoScoreCanComeOut) {
  WriteFile(Path("lonely.json"), R"({"reflector": [[400, 200]]})");
  CommandLine options;
  options.sceneFile = Path("lonely.json");
  options.generations = 1;
  ASSERT_EQ(Run(options), 0);
  EXPECT_EQ(messages_.rfind("reflector: warning: the mirror has fewer than 2 vertices", 0), 0u)
      << messages_;
  WriteFile(Path("pointless.json"), R"({"reflector": [[400, 0], [400, 400]], "aim": [150, 200]})");
  options.sceneFile = Path("pointless.json");
  ASSERT_EQ(Run(options), 0);
  EXPECT_NE(messages_.find("warning: the aim equals the source"), std::string::npos);
}

// What the window's worker does, with a painter taking the lock at random
// moments, must end exactly where the headless runner ends.
TEST_F(RunHeadlessTest, MatchesAWorkerThatIsReadWhileItRuns) {
  const std::string headless = ResultOf(300, std::nullopt);

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
  const RunRecord* record = nullptr;
  optimizer->LockState(&population, nullptr, &record);
  RunResult result;
  result.generations = record->completedGenerations;
  result.population = population;
  result.bestEver = record->bestEver;
  const std::string watched = ResultToJson(result);
  optimizer->UnlockState();
  SetRandomState(1);

  EXPECT_EQ(watched, headless);
}

}  // namespace
}  // namespace reflector
