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
}

TEST(ParseCommandLine, HeadlessOptions) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"--headless", "--generations", "0", "--scene", "a.json", "--json=-"}, c,
                    error))
      << error;
  EXPECT_EQ(c.mode, CommandLine::Mode::Headless);
  EXPECT_EQ(c.generations, 0u);
  EXPECT_EQ(c.sceneFile, "a.json");
  EXPECT_EQ(c.jsonFile, "-");

  ASSERT_TRUE(Parse({"--generations=4294967295", "--headless"}, c, error)) << error;
  EXPECT_EQ(c.generations, 4294967295u);
  ASSERT_TRUE(Parse({"--headless"}, c, error));
  EXPECT_EQ(c.generations, 100000u);
}

TEST(ParseCommandLine, HelpWinsOverEverythingElse) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(Parse({"--headless", "-h"}, c, error));
  EXPECT_EQ(c.mode, CommandLine::Mode::Help);
  EXPECT_NE(UsageText().find("--generations N"), std::string::npos);
}

TEST(ParseCommandLine, RefusesBadInputWithOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {"--headless", "--generations"},
      {"--headless", "--generations", "-1"},
      {"--headless", "--generations", "12x"},
      {"--headless", "--generations", "1e5"},
      {"--headless", "--generations", "4294967296"},
      {"--headless", "--generations", ""},
      {"--headless", "--scene", ""},
      {"--frobnicate"},
      {"stray"},
      {"--generations", "5"},
      {"--headless=yes"},
  };
  for (const auto& args : bad) {
    CommandLine c;
    std::string error;
    EXPECT_FALSE(Parse(args, c, error)) << args.back();
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

}  // namespace
}  // namespace reflector
