#include "formats/result_json.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "formats/json_value.h"

namespace reflector {
namespace {

TEST(FormatDouble, ReadsBackAsTheIdenticalDouble) {
  std::mt19937_64 gen(99);
  for (int i = 0; i < 100000; ++i) {
    std::uint64_t bits = gen();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    const std::string text = FormatDouble(x);
    const double back = std::strtod(text.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&back, &x, sizeof x), 0) << text;
  }
  EXPECT_EQ(FormatDouble(0.1), "0.1");
  EXPECT_EQ(FormatDouble(150000.0), "150000");
  EXPECT_EQ(FormatDouble(std::numeric_limits<double>::quiet_NaN()), "null");
}

TEST(PopulationToJson, HasTheDocumentedShape) {
  Population p;
  p.bestIndex = 1;
  p.candidates.resize(2);
  p.candidates[0].score = 12.5;
  p.candidates[0].vertices = {{1, 2}, {3.25, -4}};
  p.candidates[1].score = 0.1;
  const std::string json = PopulationToJson(7, p);

  JsonValue v;
  JsonError e;
  ASSERT_TRUE(ParseJson(json, v, e)) << e.message << "\n" << json;
  ASSERT_EQ(v.members.size(), 3u);
  EXPECT_EQ(v.members[0].first, "generations");
  EXPECT_EQ(v.members[0].second.text, "7");
  EXPECT_EQ(v.members[1].first, "bestIndex");
  EXPECT_EQ(v.members[1].second.text, "1");
  const JsonValue& candidates = v.members[2].second;
  ASSERT_EQ(candidates.items.size(), 2u);
  EXPECT_EQ(candidates.items[0].members[0].first, "score");
  EXPECT_EQ(candidates.items[0].members[0].second.text, "12.5");
  EXPECT_EQ(candidates.items[0].members[1].second.items[1].items[0].text, "3.25");
  EXPECT_EQ(candidates.items[1].members[1].second.items.size(), 0u);

  Population empty;
  ASSERT_TRUE(ParseJson(PopulationToJson(0, empty), v, e)) << e.message;
}

}  // namespace
}  // namespace reflector
