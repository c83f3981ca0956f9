#include "formats/result_json.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "formats/json_value.h"

namespace reflector {
namespace {

std::uint64_t Bits(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

TEST(FormatDouble, ReadsBackAsTheIdenticalDouble) {
  std::mt19937_64 gen(99);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = gen();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    const std::string text = FormatDouble(x);
    double back = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_TRUE(ec == std::errc() && end == text.data() + text.size()) << text;
    ASSERT_EQ(Bits(back), bits) << text;
  }
  EXPECT_EQ(FormatDouble(0.1), "0.1");
  EXPECT_EQ(FormatDouble(150000.0), "150000");
  EXPECT_EQ(FormatDouble(-0.0), "-0.0");
  EXPECT_EQ(FormatDouble(std::numeric_limits<double>::quiet_NaN()), "null");
  EXPECT_EQ(FormatDouble(-std::numeric_limits<double>::infinity()), "null");
}

Population TwoCandidates() {
  Population p;
  p.bestIndex = 1;
  p.candidates.resize(2);
  p.candidates[0].score = 12.5;
  p.candidates[0].vertices = {{1, 2}, {3.25, -4}};
  p.candidates[1].score = 0.1;
  p.candidates[1].vertices = {{0.30000000000000004, 1e-7}, {-0.0, 5e-324}};
  return p;
}

TEST(ResultToJson, WritesTheStoredLayout) {
  const Population population = TwoCandidates();
  RunResult result;
  result.scene.reflector = {{1, 2}, {3, 4}};
  result.seed = 4294967295u;
  result.generations = 7;
  result.population = &population;
  result.bestEver = BestEver{0.1, 5, {{0.5, 2}, {3, 4.75}}};
  EXPECT_EQ(ResultToJson(result),
            "{\"generations\": 7, \"seed\": 4294967295, \"numerics\": \"IEEE 754 double, correctly "
            "rounded atan and tan\", \"bestIndex\": 1, \"bestEver\": "
            "{\"score\": 0.1, \"generation\": 5, \"vertices\": [[0.5, 2], [3, 4.75]]}, \"scene\": "
            "{\"reflector\": [[1, 2], [3, 4]], \"source\": [150, 200], \"aim\": [500, 200], "
            "\"target\": [250, 200]}, \"candidates\": [\n"
            "  {\"score\": 12.5, \"vertices\": [[1, 2], [3.25, -4]]},\n"
            "  {\"score\": 0.1, \"vertices\": [[0.30000000000000004, 1e-07], [-0.0, 5e-324]]}\n"
            "]}\n");

  // Before the first generation: no scores, no best ever.
  result.generations = 0;
  result.bestEver.reset();
  const std::string start = ResultToJson(result);
  EXPECT_NE(start.find("\"bestEver\": null, \"scene\""), std::string::npos) << start;
  EXPECT_NE(start.find("{\"score\": null, \"vertices\": [[1, 2]"), std::string::npos) << start;
  EXPECT_EQ(start.find("12.5"), std::string::npos) << start;

  const Population empty;
  result.population = &empty;
  EXPECT_EQ(ResultToJson(result).substr(ResultToJson(result).size() - 18), "\"candidates\": []}\n");
}

TEST(ResultToJson, EveryDoubleReadsBackBitForBit) {
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> coordinate(-1000, 1000);
  Population population;
  population.bestIndex = 3;
  population.candidates.resize(10);
  for (Candidate& c : population.candidates) {
    c.score = std::ldexp(coordinate(gen), -20);
    for (int v = 0; v < 6; ++v) c.vertices.push_back({coordinate(gen), coordinate(gen)});
  }
  RunResult result;
  result.generations = 123;
  result.population = &population;
  const std::string json = ResultToJson(result);

  JsonValue root;
  JsonError e;
  ASSERT_TRUE(ParseJson(json, root, e)) << e.message;
  ASSERT_EQ(root.members.size(), 7u);
  const char* keys[] = {"generations", "seed",  "numerics",  "bestIndex",
                        "bestEver",    "scene", "candidates"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(root.members[i].key, keys[i]);
  auto read = [](const JsonValue& v) {
    double x = std::numeric_limits<double>::quiet_NaN();
    std::from_chars(v.text.data(), v.text.data() + v.text.size(), x);
    return Bits(x);
  };
  const JsonValue& candidates = root.members[6].value;
  ASSERT_EQ(candidates.items.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    const Candidate& c = population.candidates[i];
    const JsonValue& item = candidates.items[i];
    EXPECT_EQ(read(item.members[0].value), Bits(c.score));
    const JsonValue& vertices = item.members[1].value;
    ASSERT_EQ(vertices.items.size(), c.vertices.size());
    for (std::size_t v = 0; v < c.vertices.size(); ++v) {
      EXPECT_EQ(read(vertices.items[v].items[0]), Bits(c.vertices[v].x));
      EXPECT_EQ(read(vertices.items[v].items[1]), Bits(c.vertices[v].y));
    }
  }
}

}  // namespace
}  // namespace reflector
