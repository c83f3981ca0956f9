#include "cli/comparison_statistics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "cli/compared_run_files.h"
#include "cli/comparison_plot.h"

namespace reflector {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();

ComparedRun MakeRun(const std::string& algorithm, std::uint32_t seed, std::vector<double> bestEver) {
  ComparedRun run;
  run.algorithm = algorithm;
  run.seed = seed;
  for (std::size_t i = 0; i < bestEver.size(); ++i) run.evaluations.push_back(10 * (i + 1));
  run.bestEver = std::move(bestEver);
  return run;
}

// Four runs of a, three tied runs of b, one of c; the figures below were
// worked out by hand.
std::vector<ComparedRun> SmallSet() {
  return {MakeRun("a", 1, {9, 6, 4, 4}), MakeRun("a", 2, {8, 3, 1, 1}), MakeRun("a", 3, {9, 9, 5, 3}),
          MakeRun("a", 4, {2, 2, 2, 2}), MakeRun("b", 1, {5, 5, 5, 5}), MakeRun("b", 2, {6, 5, 5, 5}),
          MakeRun("b", 3, {5, 5, 5, 5}), MakeRun("c", 1, {7, 7, 7, 7})};
}

TEST(ComparisonStatisticsTest, QuantilesInterpolateBetweenOrderStatisticsAndNeverIsNever) {
  EXPECT_FALSE(Quantile({}, 0.5));
  EXPECT_EQ(*Quantile({1, 2, 3, 4}, 0.25), 1.75);
  EXPECT_EQ(*Quantile({1, 2, 3, 4}, 0.5), 2.5);
  EXPECT_EQ(*Quantile({1, 2, 3, 4}, 0.75), 3.25);
  EXPECT_EQ(*Quantile({1, 2, 3, 4}, 0.0), 1.0);
  EXPECT_EQ(*Quantile({1, 2, 3, 4}, 1.0), 4.0);
  EXPECT_EQ(*Quantile({7}, 0.25), 7.0);
  EXPECT_EQ(*Quantile({5, 5, 5}, 0.75), 5.0);
  // A quantile that lands on a "never", or between one and a number, is never.
  EXPECT_EQ(*Quantile({10, kNever}, 0.0), 10.0);
  EXPECT_EQ(*Quantile({10, kNever}, 0.5), kNever);
  EXPECT_EQ(*Quantile({10, 20, 40, kNever}, 0.5), 30.0);
  EXPECT_EQ(*Quantile({10, 30, kNever, kNever}, 0.5), kNever);
}

TEST(ComparisonStatisticsTest, TheSummaryOfASmallSetIsTheOneWorkedOutByHand) {
  const std::vector<ComparedRun> runs = SmallSet();
  // A level is reached by a score at or below it: run a1 reaches 4 at 30.
  EXPECT_EQ(EvaluationsToReach(runs[0], 4.0), 30u);
  EXPECT_EQ(EvaluationsToReach(runs[0], 3.9), std::nullopt);
  EXPECT_EQ(EvaluationsToReach(runs[3], 100.0), 10u);

  const std::vector<AlgorithmSummary> summaries = Summarise(runs, {"a", "b", "c", "absent"}, {4, 3, 2});
  ASSERT_EQ(summaries.size(), 3u);  // an algorithm without runs is left out
  EXPECT_EQ(SummaryCsvText(summaries),
            "algorithm,runs,best,q1,median,q3,worst,median_evaluations_to_4,reached_4,"
            "median_evaluations_to_3,reached_3,median_evaluations_to_2,reached_2\n"
            // Level 4: 30, 20, 40, 10; level 3: never, 20, 40, 10; level 2:
            // never, 30, never, 10, so its median falls on a never.
            "a,4,1,1.75,2.5,3.25,4,25,4,30,3,never,2\n"
            "b,3,5,5,5,5,5,never,0,never,0,never,0\n"
            "c,1,7,7,7,7,7,never,0,never,0,never,0\n");
  // Every final score together: 1 2 3 4 5 5 5 7; their quartiles from the top.
  EXPECT_EQ(DefaultLevels(runs), (std::vector<double>{5, 4.5, 2.75}));
  EXPECT_EQ(DefaultLevels({MakeRun("a", 1, {3})}), (std::vector<double>{3}));
  EXPECT_EQ(DefaultLevels({}), std::vector<double>{});
}

TEST(ComparisonStatisticsTest, LevelsAreWrittenToThreeDigitsWithoutAnExponent) {
  EXPECT_EQ(LevelText(2249.9999999979023), "2250");
  EXPECT_EQ(LevelText(1618.4024267838563), "1620");
  EXPECT_EQ(LevelText(0.000123456), "0.000123");
  EXPECT_EQ(LevelText(4.5), "4.5");
  // The default levels are the numbers as written.
  EXPECT_EQ(DefaultLevels({MakeRun("a", 1, {1618.4024267838563})}), (std::vector<double>{1620}));
}

TEST(ComparisonStatisticsTest, PlotsShowMediansWithQuartileBandsAndTheDistributionOfFinalScores) {
  const std::vector<ComparedRun> runs = SmallSet();
  const ComparisonPlot convergence = ConvergencePlot(runs, {"a", "b", "c"}, "title");
  ASSERT_EQ(convergence.series.size(), 3u);
  const ComparisonSeries& a = convergence.series[0];
  EXPECT_EQ(a.name, "a");
  ASSERT_FALSE(a.x.empty());
  EXPECT_EQ(a.x.front(), 10.0);
  EXPECT_EQ(a.x.back(), 40.0);
  EXPECT_EQ(a.y.back(), 2.5);
  EXPECT_EQ(a.low.back(), 1.75);
  EXPECT_EQ(a.high.back(), 3.25);
  EXPECT_EQ(a.y.front(), 8.5);  // 9 8 9 2 at the first row
  EXPECT_TRUE(convergence.logX);
  EXPECT_FALSE(convergence.logY);  // 1 to 9: less than a decade

  const ComparisonPlot finals = FinalScoreDistributionPlot(runs, {"a", "b", "c"}, "title");
  ASSERT_EQ(finals.series.size(), 3u);
  EXPECT_TRUE(finals.series[0].steps);
  EXPECT_EQ(finals.series[0].x, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(finals.series[0].y, (std::vector<double>{0.25, 0.5, 0.75, 1}));
  // Tied finals make one step.
  EXPECT_EQ(finals.series[1].x, std::vector<double>{5});
  EXPECT_EQ(finals.series[1].y, std::vector<double>{1});
}

class ComparedRunFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "compared_runs_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (const char* name : {"/run.json", "/run.csv"}) unlink((dir_ + name).c_str());
    rmdir(dir_.c_str());
  }
  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ + "/" + name) << text; }
  bool Read(ComparedRunFiles& files, std::string& error) {
    return ReadComparedRun(dir_ + "/run.json", dir_ + "/run.csv", files, error);
  }
  std::string dir_;
};

TEST_F(ComparedRunFilesTest, ARunIsReadWholeOrNotAtAll) {
  Write("run.json",
        "{\"algorithm\": \"de\", \"parameters\": {}, \"radius\": 50, \"seed\": 3, \"evaluations\": 25, "
        "\"startScore\": 9, \"bestEver\": {\"score\": 4}, \"scene\": {\"reflector\": [[1, 2], [3, 4]], "
        "\"seed\": 8}}\n");
  Write("run.csv", "generation,evaluations,best,mean,worst,best_ever\n1,10,9,9,9,9\n2,20,4,5,6,4\n3,25,5,5,5,4\n");
  ComparedRunFiles files;
  std::string error;
  ASSERT_TRUE(Read(files, error)) << error;
  EXPECT_EQ(files.run.algorithm, "de");
  EXPECT_EQ(files.run.seed, 3u);
  EXPECT_EQ(files.generations, 3u);
  EXPECT_EQ(files.radius, 50.0);
  EXPECT_EQ(files.run.evaluations, (std::vector<std::uint64_t>{10, 20, 25}));
  EXPECT_EQ(files.run.FinalScore(), 4.0);
  EXPECT_EQ(files.scene, "{\"reflector\":[[1,2],[3,4]]}");

  const struct {
    const char* what;
    const char* history;
    const char* message;
  } cases[] = {
      {"cut short by a kill", "generation,evaluations,best,mean,worst,best_ever\n1,10,9,9,9,9\n2,20,4,5,6,4\n",
       "its rows end at 20 evaluations, not at the result's 30"},
      {"a row cut in the middle", "generation,evaluations,best,mean,worst,best_ever\n1,10,9,9,9,9\n2,20,4",
       "line 3 is cut short"},
      {"no evaluations column", "generation,best,mean,worst,best_ever\n1,9,9,9,9\n",
       "not a history with an evaluations column"},
      {"rows out of order", "generation,evaluations,best,mean,worst,best_ever\n1,20,9,9,9,9\n2,10,4,5,6,4\n",
       "line 3 is not a history row that follows"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Write("run.csv", c.history);
    EXPECT_FALSE(Read(files, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace reflector
