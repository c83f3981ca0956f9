#include "formats/history_csv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

namespace reflector {
namespace {

TEST(HistoryToCsv, WritesARowPerGenerationFromTheFirst) {
  RunRecord record;
  record.firstGeneration = 41;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  record.history = {{0.1, 2.5, 1e300, 0.1}, {-0.0, nan, inf, -inf}, {5e-324, 3, 4, 1.5}};
  EXPECT_EQ(HistoryToCsv(record),
            "generation,evaluations,best,mean,worst,best_ever\n"
            "41,410,0.1,2.5,1e+300,0.1\n"
            "42,420,-0,nan,inf,-inf\n"
            "43,430,5e-324,3,4,1.5\n");
  EXPECT_EQ(HistoryToCsv(RunRecord{}), "generation,evaluations,best,mean,worst,best_ever\n");
}

TEST(HistoryToCsv, EveryValueReadsBackBitForBit) {
  std::mt19937_64 gen(3);
  RunRecord record;
  record.firstGeneration = 4294967290u;  // up to the last generation a run can count
  for (int i = 0; i < 6; ++i) {
    GenerationScores row;
    for (double* x : {&row.best, &row.mean, &row.worst, &row.bestEver}) {
      std::uint64_t bits;
      do {
        bits = gen();
        std::memcpy(x, &bits, sizeof bits);
      } while (!std::isfinite(*x));
    }
    record.history.push_back(row);
  }
  const std::string csv = HistoryToCsv(record);
  const char* p = csv.data() + csv.find('\n') + 1;
  const char* end = csv.data() + csv.size();
  for (std::size_t i = 0; i < record.history.size(); ++i) {
    std::uint32_t generation = 0;
    p = std::from_chars(p, end, generation).ptr;
    EXPECT_EQ(generation, record.firstGeneration + i);
    std::uint64_t evaluations = 0;
    ASSERT_EQ(*p++, ',');
    p = std::from_chars(p, end, evaluations).ptr;
    EXPECT_EQ(evaluations, std::uint64_t{generation} * 10);
    const GenerationScores& row = record.history[i];
    for (double expected : {row.best, row.mean, row.worst, row.bestEver}) {
      ASSERT_EQ(*p++, ',');
      double x = 0;
      p = std::from_chars(p, end, x).ptr;
      EXPECT_EQ(std::memcmp(&x, &expected, sizeof x), 0);
    }
    ASSERT_EQ(*p++, '\n');
  }
  EXPECT_EQ(p, end);
}

// Not a timing test: prints how long a million rows take, for the record.
TEST(HistoryToCsv, AMillionRows) {
  RunRecord record;
  record.history.assign(1'000'000, GenerationScores{1234.5678901234567, 2345.678901234567,
                                                    -3.4567890123456789e-200, 0.30000000000000004});
  const auto start = std::chrono::steady_clock::now();
  const std::string csv = HistoryToCsv(record);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("[ figure   ] 1000000 history rows, %zu bytes, in %.1f ms\n", csv.size(), ms);
  EXPECT_TRUE(csv.ends_with(
      "\n1000000,10000000,1234.5678901234567,2345.678901234567,-3.456789012345679e-200,0.30000000000000004\n"));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1'000'001);
}

}  // namespace
}  // namespace reflector
