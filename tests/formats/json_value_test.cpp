#include "formats/json_value.h"

#include <gtest/gtest.h>

#include <string>

namespace reflector {
namespace {

TEST(ParseJson, ReadsNestedValuesWithPositions) {
  JsonValue v;
  JsonError e;
  ASSERT_TRUE(ParseJson("{\"a\": [1, -2.5e3, true, null],\n \"b\": \"x\\u00e9\\n\"}", v, e))
      << e.message;
  ASSERT_EQ(v.kind, JsonValue::Kind::Object);
  ASSERT_EQ(v.members.size(), 2u);
  const JsonValue& a = v.members[0].value;
  ASSERT_EQ(a.items.size(), 4u);
  EXPECT_EQ(a.items[1].text, "-2.5e3");
  EXPECT_TRUE(a.items[2].boolean);
  EXPECT_EQ(a.items[3].kind, JsonValue::Kind::Null);
  const JsonValue& b = v.members[1].value;
  EXPECT_EQ(b.text, "x\xC3\xA9\n");
  EXPECT_EQ(b.line, 2);
  EXPECT_EQ(b.column, 7);
}

TEST(ParseJson, RefusesMalformedTextWithAPosition) {
  const struct {
    const char* text;
    int line;
    int column;
  } cases[] = {
      {"", 1, 1},
      {"{", 1, 2},
      {"[1, 2", 1, 6},
      {"[1,]", 1, 4},
      {"{\"a\" 1}", 1, 6},
      {"{\"a\": 1,\n \"b\": }", 2, 7},
      {"[01]", 1, 3},
      {"[1.]", 1, 4},
      {"[-]", 1, 3},
      {"\"abc", 1, 5},
      {"tru", 1, 4},
      {"[1] x", 1, 5},
      {"\"\\q\"", 1, 3},
      {"[\"a\tb\"]", 1, 4},
      {"{'a': 1}", 1, 2},
  };
  for (const auto& c : cases) {
    JsonValue v;
    JsonError e;
    EXPECT_FALSE(ParseJson(c.text, v, e)) << c.text;
    EXPECT_EQ(e.line, c.line) << c.text << ": " << e.message;
    EXPECT_EQ(e.column, c.column) << c.text << ": " << e.message;
    EXPECT_FALSE(e.message.empty());
  }
}

TEST(ParseJson, RefusesDeepNestingInsteadOfOverflowingTheStack) {
  JsonValue v;
  JsonError e;
  EXPECT_FALSE(ParseJson(std::string(100000, '['), v, e));
  EXPECT_NE(e.message.find("deep"), std::string::npos);
  EXPECT_TRUE(ParseJson(std::string(60, '[') + std::string(60, ']'), v, e));
}

}  // namespace
}  // namespace reflector
