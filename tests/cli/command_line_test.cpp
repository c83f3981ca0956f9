#include "cli/command_line.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

bool Parse(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  return ParseCommandLine(args, out, error);
}

TEST(ParseCommandLine, NoArgumentsOpensTheWindow) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({}, c, error));
  EXPECT_EQ(c.mode, CommandLine::Mode::Window);
  ASSERT_TRUE(Parse({"--seed", "7"}, c, error)) << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Window);
  EXPECT_EQ(c.seed, 7u);
  // A scene opens the window, as a file or with --scene.
  ASSERT_TRUE(Parse({"my.json", "--reset-settings"}, c, error)) << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Window);
  EXPECT_EQ(c.sceneFile, "my.json");
  EXPECT_TRUE(c.resetSettings);
  ASSERT_TRUE(Parse({"--scene", "my.json"}, c, error)) << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Window);
  EXPECT_EQ(c.sceneFile, "my.json");
}

TEST(ParseCommandLine, HeadlessOptions) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"--headless", "--generations", "0", "--scene", "a.json", "--json=-",
                     "--seed", "4294967295", "--checkpoint", "c.json", "--history", "h.csv",
                     "--png", "f.png", "--svg", "f.svg", "--size", "640x480", "--plot", "p.svg"},
                    c, error))
      << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Headless);
  EXPECT_EQ(c.generations, 0u);
  EXPECT_EQ(c.seed, 4294967295u);
  EXPECT_EQ(c.sceneFile, "a.json");
  EXPECT_EQ(c.jsonFile, "-");
  EXPECT_EQ(c.checkpointFile, "c.json");
  EXPECT_EQ(c.historyFile, "h.csv");
  EXPECT_EQ(c.pngFile, "f.png");
  EXPECT_EQ(c.svgFile, "f.svg");
  EXPECT_EQ(c.plotFile, "p.svg");
  EXPECT_EQ(c.width, 640);
  EXPECT_EQ(c.height, 480);

  ASSERT_TRUE(Parse({"--generations=4294967295", "--headless"}, c, error)) << error;
  EXPECT_EQ(c.generations, 4294967295u);
  ASSERT_TRUE(Parse({"--headless"}, c, error));
  EXPECT_FALSE(c.generations);
  EXPECT_FALSE(c.seed);
  ASSERT_TRUE(Parse({"--headless", "--resume", "c.json", "--generations", "10"}, c, error));
  EXPECT_EQ(c.resumeFile, "c.json");
}

TEST(ParseCommandLine, CheckpointsComeEveryTenMinutesUnlessToldOtherwise) {
  using std::chrono::milliseconds;
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"--headless"}, c, error));
  EXPECT_EQ(c.checkpointEvery, milliseconds(0));
  ASSERT_TRUE(Parse({"--headless", "--checkpoint", "c.json"}, c, error));
  EXPECT_EQ(c.checkpointEvery, milliseconds(600000));
  const std::pair<const char*, long> durations[] = {
      {"250ms", 250}, {"30", 30000}, {"30s", 30000}, {"2m", 120000}, {"1h", 3600000},
      {"0", 0},       {"168h", 604800000}};
  for (const auto& [text, expected] : durations) {
    ASSERT_TRUE(Parse({"--headless", "--checkpoint", "c.json", "--checkpoint-every", text}, c, error))
        << text << ": " << error;
    EXPECT_EQ(c.checkpointEvery, milliseconds(expected)) << text;
  }
  for (const char* bad : {"", "m", "-5s", "1.5m", "10 m", "10min", "169h", "4294967296ms"}) {
    EXPECT_FALSE(Parse({"--headless", "--checkpoint", "c.json", "--checkpoint-every", bad}, c, error))
        << bad;
    EXPECT_NE(error.find("--checkpoint-every needs a duration"), std::string::npos) << error;
  }
  EXPECT_FALSE(Parse({"--headless", "--checkpoint-every", "1m"}, c, error));
  EXPECT_EQ(error, "option --checkpoint-every needs --checkpoint");
}

TEST(ParseCommandLine, Batch) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"batch", "--jobs", "3", "--seeds", "2-5", "--generations", "9", "--out",
                     "results", "a.json", "b.json"},
                    c, error))
      << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Batch);
  EXPECT_EQ(c.jobs, 3u);
  EXPECT_EQ(c.firstSeed, 2u);
  EXPECT_EQ(c.lastSeed, 5u);
  EXPECT_EQ(c.generations, 9u);
  EXPECT_EQ(c.outDir, "results");
  EXPECT_EQ(c.sceneFiles, (std::vector<std::string>{"a.json", "b.json"}));

  ASSERT_TRUE(Parse({"batch", "--out", "r", "a.json"}, c, error)) << error;
  EXPECT_EQ(c.jobs, 0u);
  EXPECT_EQ(c.firstSeed, 1u);
  EXPECT_EQ(c.lastSeed, 1u);
}

TEST(ParseCommandLine, ThreadsAreOnePerCoreUnlessToldForEveryKindOfRun) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"--headless", "--threads", "3"}, c, error)) << error;
  EXPECT_EQ(c.threads, 3u);
  EXPECT_EQ(RunThreads(c), 3u);
  ASSERT_TRUE(Parse({"--threads", "2", "scene.json"}, c, error)) << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Window);
  EXPECT_EQ(c.threads, 2u);
  ASSERT_TRUE(Parse({"batch", "--threads", "4", "--out", "r", "a.json"}, c, error)) << error;
  EXPECT_EQ(c.threads, 4u);
  ASSERT_TRUE(Parse({"--headless"}, c, error)) << error;
  EXPECT_EQ(c.threads, 0u);
  EXPECT_GE(RunThreads(c), 1u);
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--headless", "--threads", "0"},
        {"--headless", "--threads", "1025"},
        {"--headless", "--threads", "two"},
        {"--headless", "--threads", "1", "--threads", "2"},
        {"--threads", "2", "batch", "--out", "r", "a.json"}}) {
    EXPECT_FALSE(Parse(bad, c, error)) << bad.back();
    EXPECT_NE(error.find("--threads"), std::string::npos) << error;
  }
}

TEST(ParseCommandLine, HelpWinsOverEverythingElse) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"--headless", "-h"}, c, error));
  EXPECT_EQ(c.mode, CommandLine::Mode::Help);
  for (const char* option : {"--generations N", "--seed S", "--checkpoint FILE", "--resume FILE",
                             "--history", "--png FILE", "--svg FILE", "--plot", "--size WxH",
                             "batch", "Exit status", "130"}) {
    EXPECT_NE(c.helpText.find(option), std::string::npos) << option;
  }
  ASSERT_TRUE(Parse({"batch", "--help"}, c, error));
  EXPECT_EQ(c.mode, CommandLine::Mode::Help);
  for (const char* option : {"Usage: reflector batch", "--jobs N", "--seeds A-B", "--out DIR"}) {
    EXPECT_NE(c.helpText.find(option), std::string::npos) << option;
  }
  ASSERT_TRUE(Parse({"--version"}, c, error));
  EXPECT_EQ(c.mode, CommandLine::Mode::Version);
}

// The window goes on with a checkpoint's run as the headless runner does;
// like it, it takes no other scene or seed then.
TEST(ParseCommandLine, TheWindowResumesACheckpoint) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"--resume", "c.json"}, c, error)) << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Window);
  EXPECT_EQ(c.resumeFile, "c.json");
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--resume", "c.json", "s.json"}, {"--resume", "c.json", "--seed", "3"},
        {"--resume", "c.json", "--scene", "s.json"}, {"--resume", ""}}) {
    CommandLine refused;
    EXPECT_FALSE(Parse(bad, refused, error)) << bad[0] << " " << bad[1];
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST(ParseCommandLine, RefusesBadInputWithOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {"--headless", "--generations"},
      {"--headless", "--generations", "-1"},
      {"--headless", "--generations", "12x"},
      {"--headless", "--generations", "1e5"},
      {"--headless", "--generations", "4294967296"},
      {"--headless", "--generations", ""},
      {"--headless", "--seed", "4294967296"},
      {"--headless", "--seed", "-3"},
      {"--headless", "--scene", ""},
      {"--headless", "--json", ""},
      {"--headless", "--size", "0x5", "--png", "a.png"},
      {"--headless", "--size", "800", "--png", "a.png"},
      {"--headless", "--size", "800x600"},
      {"--headless", "--resume", "c.json", "--seed", "3"},
      {"--headless", "--resume", "c.json", "--scene", "s.json"},
      {"--frobnicate"},
      {"--headless", "stray"},
      {"a.json", "--scene", "b.json"},
      {"a.json", "b.json"},
      {"--headless", "--reset-settings"},
      {"--generations", "5"},
      {"--json", "out.json"},
      {"--png", "out.png"},
      {"batch", "a.json"},
      {"batch", "--out", "r"},
      {"batch", "--out", "r", "--seeds", "5-2", "a.json"},
      {"batch", "--out", "r", "--jobs", "0", "a.json"},
      {"--seed", "3", "batch", "--out", "r", "a.json"},
      {"--headless", "--scene", "a.json", "--scene", "b.json"},
      {"--headless", "--seed=1", "--seed", "2"},
  };
  for (const auto& args : bad) {
    CommandLine c;
    std::string error;
    EXPECT_FALSE(Parse(args, c, error)) << args.back();
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(ParseCommandLine, MessagesNameTheOptionAndEscapeTheValue) {
  CommandLine c;
  std::string error;
  EXPECT_FALSE(Parse({"--headless", "--scene", "a.json", "--scene", "b.json"}, c, error));
  EXPECT_EQ(error, "option --scene is given more than once");
  EXPECT_FALSE(Parse({"--headless", "--seed", "1\x1b[31m"}, c, error));
  EXPECT_EQ(error, "--seed needs a whole number from 0 to 4294967295, not '1\\x1b[31m'");
  EXPECT_FALSE(Parse({"--json", "x.json"}, c, error));
  EXPECT_EQ(error, "option --json needs --headless");
}

// Another optimiser runs headless within a budget of scorings; for the
// built-in scheme a budget is ten scorings a generation.
TEST(ParseCommandLine, AlgorithmsTakeABudgetOfEvaluations) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"--headless", "--algorithm", "cmaes", "--evaluations", "20000", "--radius", "7.5"}, c, error))
      << error;
  EXPECT_EQ(c.algorithm, "cmaes");
  EXPECT_EQ(c.evaluations, std::optional<std::uint64_t>(20000));
  EXPECT_EQ(c.radius, 7.5);
  ASSERT_TRUE(Parse({"--headless", "--evaluations", "25"}, c, error)) << error;
  EXPECT_EQ(c.algorithm, "reflector");
  EXPECT_EQ(c.generations, std::optional<std::uint32_t>(3));
  ASSERT_TRUE(Parse({"--list-algorithms"}, c, error)) << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::ListAlgorithms);

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--headless", "--algorithm", "nelder"}, "no algorithm 'nelder' ('reflector --list-algorithms' lists them)"},
      {{"--algorithm", "de"}, "--algorithm de runs with --headless (the window runs the built-in scheme)"},
      {{"--headless", "--algorithm", "de", "--checkpoint", "c.json"},
       "--checkpoint is for the built-in scheme, not --algorithm de"},
      {{"--headless", "--evaluations", "0"}, "--evaluations needs a whole number of at least 1, not '0'"},
      {{"--headless", "--evaluations", "10", "--generations", "1"}, "give --generations or --evaluations, not both"},
      {{"--headless", "--radius", "-1"}, "--radius needs a positive number of pixels, not '-1'"},
      {{"--headless", "--radius", "nan"}, "--radius needs a positive number of pixels, not 'nan'"},
  };
  for (const auto& [args, message] : refused) {
    EXPECT_FALSE(Parse(args, c, error)) << message;
    EXPECT_EQ(error, message);
  }
}

TEST(ParseCommandLine, CompareRunsAlgorithmsTimesSeedsOrSummarisesAFolder) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"compare", "--scene", "s.json", "--algorithms", "reflector,cmaes,de", "--seeds", "1-30",
                     "--evaluations", "200000", "--jobs", "2", "--out", "d", "--radius", "20", "--levels",
                     "2000,1e3"},
                    c, error))
      << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Compare);
  EXPECT_EQ(c.sceneFile, "s.json");
  EXPECT_EQ(c.algorithms, (std::vector<std::string>{"reflector", "cmaes", "de"}));
  EXPECT_EQ(c.firstSeed, 1u);
  EXPECT_EQ(c.lastSeed, 30u);
  EXPECT_EQ(c.evaluations, std::optional<std::uint64_t>(200000));
  EXPECT_EQ(c.jobs, 2u);
  EXPECT_EQ(c.outDir, "d");
  EXPECT_EQ(c.radius, 20.0);
  EXPECT_EQ(c.levels, (std::vector<double>{2000, 1000}));
  EXPECT_TRUE(c.summariseDir.empty());
  ASSERT_TRUE(Parse({"compare", "--summarise", "gathered"}, c, error)) << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Compare);
  EXPECT_EQ(c.summariseDir, "gathered");
  ASSERT_TRUE(Parse({"compare", "--help"}, c, error));
  EXPECT_NE(c.helpText.find("Usage: reflector compare"), std::string::npos) << c.helpText;
  EXPECT_NE(c.helpText.find("--summarise DIR"), std::string::npos) << c.helpText;

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"compare", "--out", "d"}, "compare needs --algorithms (see 'reflector --list-algorithms')"},
      {{"compare", "--algorithms", "de"}, "compare needs an output folder (--out DIR)"},
      {{"compare", "--algorithms", "de,nelder", "--out", "d"},
       "no algorithm 'nelder' ('reflector --list-algorithms' lists them)"},
      {{"compare", "--algorithms", "de,", "--out", "d"}, "no algorithm '' ('reflector --list-algorithms' lists them)"},
      {{"compare", "--algorithms", "de,pso,de", "--out", "d"}, "--algorithms names de twice"},
      {{"compare", "--summarise", "g", "--jobs", "2"}, "--summarise only reads the runs there: drop --jobs"},
      {{"compare", "--summarise", "g", "--levels", "1,x"}, "--levels needs scores separated by commas, not '1,x'"},
      {{"--headless", "compare", "--algorithms", "de", "--out", "d"},
       "compare runs are headless already: drop --headless"},
      {{"--seed", "3", "compare", "--algorithms", "de", "--out", "d"},
       "option --seed goes after 'compare', or is not a compare option"},
  };
  for (const auto& [args, message] : refused) {
    EXPECT_FALSE(Parse(args, c, error)) << message;
    EXPECT_EQ(error, message);
  }
}

TEST(ParseCommandLine, ThePlotScaleIsOneOfThreeAndGoesWithAPlot) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"--headless", "--plot", "p.png", "--plot-scale", "linear"}, c, error)) << error;
  EXPECT_EQ(c.plotScale, PlotScale::kLinear);
  EXPECT_FALSE(Parse({"--headless", "--plot", "p.png", "--plot-scale", "logarithmic"}, c, error));
  EXPECT_EQ(error, "--plot-scale takes auto, linear or log, not 'logarithmic'");
  EXPECT_FALSE(Parse({"--headless", "--plot-scale", "log"}, c, error));
  EXPECT_EQ(error, "option --plot-scale needs --plot");
}

}  // namespace
}  // namespace reflector
