#include "formats/history_stream.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "formats/history_csv.h"

namespace reflector {
namespace {

std::vector<GenerationScores> Rows(std::uint32_t from, std::uint32_t to) {
  std::vector<GenerationScores> rows;
  for (std::uint32_t g = from; g <= to; ++g) {
    const double d = g;
    rows.push_back({1000.0 / d, 2000.0 / d + 0.1, 3000.0 / d, 1000.0 / d});
  }
  return rows;
}

// The bytes a straight run of generations 1..last writes.
std::string Straight(std::uint32_t last) {
  RunRecord record;
  record.history = Rows(1, last);
  return HistoryToCsv(record);
}

class HistoryStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "history_stream_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/history.csv";
  }
  void TearDown() override {
    if (DIR* dir = opendir(dir_.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") unlink((dir_ + "/" + name).c_str());
      }
      closedir(dir);
    }
    rmdir(dir_.c_str());
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  static bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
  }
  // Resumes at generation `at` and writes the rest of a run of `last`.
  bool Continue(std::uint32_t at, std::uint32_t last, std::string& error,
                RunRecord* earlier = nullptr) {
    HistoryStream stream;
    const double bestEver = 1000.0 / at;
    if (!stream.Open(path_, at, bestEver, earlier, error)) return false;
    return stream.Append(Rows(at + 1, last), at + 1, error) && stream.Commit(error);
  }

  std::string dir_;
  std::string path_;
};

TEST_F(HistoryStreamTest, RowsGrowInThePartialFileUntilCommitted) {
  HistoryStream stream;
  std::string error;
  Write(path_, "an older history\n");
  ASSERT_TRUE(stream.Open(path_, 0, std::nullopt, nullptr, error)) << error;
  ASSERT_TRUE(stream.Append(Rows(1, 3), 1, error)) << error;
  ASSERT_TRUE(stream.Append(Rows(4, 7), 4, error)) << error;
  ASSERT_TRUE(stream.Sync(error)) << error;
  EXPECT_EQ(Read(path_ + ".partial"), Straight(7));
  EXPECT_EQ(Read(path_), "an older history\n");  // untouched until the run ends
  // Rows must follow on: a skipped generation is a fault, not a hole.
  EXPECT_FALSE(stream.Append(Rows(9, 9), 9, error));
  EXPECT_NE(error.find("rows of generation 9 where 8 was due"), std::string::npos) << error;
  ASSERT_TRUE(stream.Commit(error)) << error;
  EXPECT_EQ(Read(path_), Straight(7));
  EXPECT_FALSE(Exists(path_ + ".partial"));
}

TEST_F(HistoryStreamTest, AResumedRunContinuesTheRowsOfTheRunBefore) {
  std::string error;
  // Interrupted: the history so far was committed at the checkpoint's generation.
  Write(path_, Straight(40));
  RunRecord earlier;
  ASSERT_TRUE(Continue(40, 90, error, &earlier)) << error;
  EXPECT_EQ(Read(path_), Straight(90));
  EXPECT_EQ(earlier.firstGeneration, 1u);
  EXPECT_EQ(earlier.history, Rows(1, 40));

  // A history written before the evaluations column goes on in its own form.
  auto withoutEvaluations = [](std::uint32_t last) {
    std::string text(kHistoryHeaderWithoutEvaluations);
    AppendHistoryRows(text, Rows(1, last), 1, false);
    return text;
  };
  Write(path_, withoutEvaluations(40));
  ASSERT_TRUE(Continue(40, 90, error)) << error;
  EXPECT_EQ(Read(path_), withoutEvaluations(90));

  // Killed: the partial file has rows past the checkpoint and a cut last
  // line; it takes precedence over an older committed history.
  Write(path_, Straight(10));
  Write(path_ + ".partial", Straight(55) + "56,1.5,2");
  ASSERT_TRUE(Continue(50, 90, error)) << error;
  EXPECT_EQ(Read(path_), Straight(90));
  EXPECT_FALSE(Exists(path_ + ".partial"));

  // A history that began at the resumed generation's successor keeps no row;
  // one that does not exist starts there too.
  RunRecord first;
  first.firstGeneration = 31;
  first.history = Rows(31, 35);
  Write(path_, HistoryToCsv(first));
  ASSERT_TRUE(Continue(30, 32, error)) << error;
  first.history = Rows(31, 32);
  EXPECT_EQ(Read(path_), HistoryToCsv(first));
  unlink(path_.c_str());
  ASSERT_TRUE(Continue(30, 32, error)) << error;
  EXPECT_EQ(Read(path_), HistoryToCsv(first));
}

TEST_F(HistoryStreamTest, RowsThatCannotBeContinuedAreRefusedAndLeftAlone) {
  struct Case {
    const char* what;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"a gap", Straight(20), "rows end at generation 20, before the checkpoint's 30"},
      {"another run", Straight(29) + "30,300,1,2,3,4\n", "not the checkpoint's: it belongs to another run"},
      {"not a history", "name,score\n1,2\n", "first line is not the history's header"},
      {"a bad row", Straight(5) + "6,x,1,1,1\n", "line 7 is not the row that follows"},
      {"out of order", Straight(5) + "8,80,1,1,1,1\n", "line 7 is not the row that follows"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write(path_, c.text);
    HistoryStream stream;
    std::string error;
    EXPECT_FALSE(stream.Open(path_, 30, 1000.0 / 30, nullptr, error));
    EXPECT_TRUE(stream.RowsRefused());
    EXPECT_NE(error.find(path_ + ": cannot continue this history: "), std::string::npos) << error;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(Read(path_), c.text);
    EXPECT_FALSE(Exists(path_ + ".partial"));
  }
}

TEST_F(HistoryStreamTest, NonFiniteScoresReadBackAsWritten) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::string text;
  AppendHistoryRows(text, {{nan, inf, -inf, 5e-324}}, 4294967295u);
  std::uint32_t generation = 0;
  GenerationScores row;
  ASSERT_TRUE(ParseHistoryRow(std::string_view(text).substr(0, text.size() - 1), generation, row));
  EXPECT_EQ(generation, 4294967295u);
  EXPECT_TRUE(std::isnan(row.best));
  EXPECT_EQ(row.mean, inf);
  EXPECT_EQ(row.worst, -inf);
  EXPECT_EQ(row.bestEver, 5e-324);
  EXPECT_EQ(text.substr(0, 22), "4294967295,42949672950");
  for (const char* bad : {"1,10,2,3,4", "1,10,2,3,4,5,6", "x,10,1,2,3,4", "1,10,,2,3,4",
                          "1,10,2,3,4,5 ", "1,11,2,3,4,5", "1,,2,3,4,5"}) {
    EXPECT_FALSE(ParseHistoryRow(bad, generation, row)) << bad;
  }
  // The form before the evaluations column.
  EXPECT_TRUE(ParseHistoryRow("7,2,3,4,5", generation, row, false));
  EXPECT_EQ(generation, 7u);
  EXPECT_EQ(row.bestEver, 5.0);
  EXPECT_FALSE(ParseHistoryRow("7,70,2,3,4,5", generation, row, false));
}

}  // namespace
}  // namespace reflector
