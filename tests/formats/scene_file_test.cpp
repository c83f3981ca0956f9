#include "formats/scene_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "formats/result_json.h"

namespace reflector {
namespace {

std::string ErrorOf(const std::string& text) {
  SceneDescription scene;
  std::string error;
  EXPECT_FALSE(ParseScene(text, "s.json", scene, error)) << text;
  return error;
}

SceneDescription SceneOf(const std::string& text) {
  SceneDescription scene;
  std::string error;
  EXPECT_TRUE(ParseScene(text, "s.json", scene, error)) << text << "\n" << error;
  return scene;
}

std::uint64_t Bits(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

TEST(ParseScene, ReadsEveryKey) {
  const SceneDescription scene = SceneOf(R"({"reflector": [[1, 2], [-1000000, 1000000]],
      "source": [3, 4], "aim": [5, 6], "target": [7, -8], "seed": 4294967295})");
  EXPECT_EQ(scene.reflector, (std::vector<Point2>{{1, 2}, {-1000000, 1000000}}));
  EXPECT_EQ(scene.source, (Point2{3, 4}));
  EXPECT_EQ(scene.aim, (Point2{5, 6}));
  EXPECT_EQ(scene.target, (Point2{7, -8}));
  EXPECT_EQ(scene.seed, 4294967295u);
  EXPECT_EQ(SceneOf("\xEF\xBB\xBF{\"reflector\": [], \"seed\": 0}").seed, 0u);
  EXPECT_EQ(SceneOf(R"({"reflector": [[1, 2]], "bestMirror": [[1.5, 2]]})").reflector,
            (std::vector<Point2>{{1, 2}}));
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "bestMirror": [[1.5]]})"),
            "s.json:1:34: best-mirror vertex 0 must be an [x, y] pair of numbers, not an array of 1");
}

TEST(ParseScene, MissingPointsTakeTheWindowDefaults) {
  for (const char* text : {R"({"reflector": []})", R"({"reflector": [[9, 9]]})"}) {
    const SceneDescription scene = SceneOf(text);
    EXPECT_EQ(scene.source, (Point2{150, 200}));
    EXPECT_EQ(scene.aim, (Point2{500, 200}));
    EXPECT_EQ(scene.target, (Point2{250, 200}));
    EXPECT_LE(scene.reflector.size(), 1u);
    EXPECT_FALSE(scene.seed);
  }
}

TEST(ParseScene, DecimalsReadAsTheCorrectlyRoundedDouble) {
  const SceneDescription scene = SceneOf(
      R"({"reflector": [[0.1, 2.5], [1e3, -1E-3], [0.30000000000000004, 999999.99999999994],
      [-0, -0.0], [1e-400, -2e-324], [4.9e-324, 1000000.00000000001]]})");
  ASSERT_EQ(scene.reflector.size(), 6u);
  const std::vector<Point2>& r = scene.reflector;
  EXPECT_EQ(Bits(r[0].x), Bits(0.1));
  EXPECT_EQ(Bits(r[0].y), Bits(2.5));
  EXPECT_EQ(Bits(r[1].x), Bits(1000.0));
  EXPECT_EQ(Bits(r[1].y), Bits(-0.001));
  EXPECT_EQ(Bits(r[2].x), Bits(0.1 + 0.2));
  EXPECT_EQ(Bits(r[2].y), Bits(999999.99999999994));
  EXPECT_EQ(Bits(r[3].x), Bits(0.0));   // the integer 0, as integer scenes always read
  EXPECT_EQ(Bits(r[3].y), Bits(-0.0));  // a decimal keeps its sign
  EXPECT_EQ(Bits(r[4].x), Bits(0.0));   // too small for a double: rounds to zero
  EXPECT_EQ(Bits(r[4].y), Bits(-0.0));
  EXPECT_EQ(Bits(r[5].x), Bits(4.9e-324));
  EXPECT_EQ(Bits(r[5].y), Bits(1e6));  // rounds to 1e6 exactly, so in range
}

TEST(ParseScene, ErrorsNameTheFileThePlaceAndTheProblem) {
  EXPECT_EQ(ErrorOf("[1, 2]"), "s.json:1:1: a scene must be a JSON object, not an array");
  EXPECT_EQ(ErrorOf("{}"), "s.json:1:1: the scene has no \"reflector\" (an array of [x, y] pairs)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "mirror": []})"),
            "s.json:1:19: unknown key \"mirror\" (expected \"reflector\", \"source\", \"aim\", "
            "\"target\", \"seed\" or \"bestMirror\")");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "source": [1, 1e7]})"),
            "s.json:1:33: the y of \"source\" 1e7 is out of range (-1000000 to 1000000)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "source": [1e7, 1]})"),
            "s.json:1:30: the x of \"source\" 1e7 is out of range (-1000000 to 1000000)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [[1000001, 0]]})"),
            "s.json:1:17: the x of reflector vertex 0 1000001 is out of range (-1000000 to "
            "1000000)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [[0, -1e400]]})"),
            "s.json:1:20: the y of reflector vertex 0 -1e400 is out of range (-1000000 to 1000000)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [[-99999999999999999999999999999999999999999999999999, 0]]})"),
            "s.json:1:17: the x of reflector vertex 0 -99999999999999999999999999999999999999\xE2\x80\xA6"
            " is out of range (-1000000 to 1000000)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [[1, 2, 3]]})"),
            "s.json:1:16: reflector vertex 0 must be an [x, y] pair of numbers, not an array of 3");
  EXPECT_EQ(ErrorOf(R"({"reflector": {}})"),
            "s.json:1:15: \"reflector\" must be an array of [x, y] pairs, not an object");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "aim": "here"})"),
            "s.json:1:26: \"aim\" must be an [x, y] pair of numbers, not a string");
  EXPECT_EQ(ErrorOf(R"({"reflector": [["1", 2]]})"),
            "s.json:1:17: the x of reflector vertex 0 must be a number, not a string");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "reflector": []})"),
            "s.json:1:19: \"reflector\" is given twice");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "seed": 4294967296})"),
            "s.json:1:27: \"seed\" 4294967296 is out of range (0 to 4294967295)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "seed": -1})"),
            "s.json:1:27: \"seed\" -1 is out of range (0 to 4294967295)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "seed": 1.0})"),
            "s.json:1:27: \"seed\" must be an integer, not 1.0");
  EXPECT_EQ(ErrorOf("{\"reflector\": [\n  [1, 2],\n  [3, 4"),
            "s.json:3:8: not valid JSON: unexpected end of file inside an array");
  // Echoed keys cannot break the message's line or fill a screen.
  EXPECT_EQ(ErrorOf("{\"a\\nb\\u001b[2J\\u007f\": 1}"),
            "s.json:1:2: unknown key \"a\\x0ab\\x1b[2J\\x7f\" (expected \"reflector\", \"source\", "
            "\"aim\", \"target\", \"seed\" or \"bestMirror\")");
  // Nor act on the terminal in other ways: C1 controls, bytes of no valid
  // UTF-8 (an overlong form, a lone continuation, 0xFF) and marks that
  // reorder text are shown by value; other characters as they are.
  EXPECT_EQ(ErrorOf("{\"\\u0085\xc2\x9b\xff\xc0\xaf\x80\\u202eé\": 1}"),
            "s.json:1:2: unknown key \"\\x85\\x9b\\xff\\xc0\\xaf\\x80\\u202eé\" (expected "
            "\"reflector\", \"source\", \"aim\", \"target\", \"seed\" or \"bestMirror\")");
  EXPECT_EQ(ErrorOf("{\"" + std::string(100, 'k') + "\": 1}"),
            "s.json:1:2: unknown key \"" + std::string(39, 'k') +
                "\xE2\x80\xA6\" (expected \"reflector\", \"source\", \"aim\", \"target\", "
                "\"seed\" or \"bestMirror\")");
  EXPECT_EQ(ErrorOf(R"({"format": "reflector-checkpoint", "version": "0.1"})"),
            "s.json: this is a checkpoint; use --resume s.json");
}

TEST(ParseScene, AResultStartsARunFromItsBestMirror) {
  Population population;
  population.bestIndex = 0;
  population.candidates.resize(10);
  for (Candidate& c : population.candidates) c.vertices = {{1, 1}, {2, 2}};
  RunResult result;
  result.scene.reflector = {{10, 20}, {30, 40}};
  result.scene.source = {1.5, -2};
  result.scene.aim = {600, 0.25};
  result.scene.target = {7, 8};
  result.seed = 77;
  result.generations = 3;
  result.population = &population;
  result.bestEver = BestEver{0.5, 2, {{10.000000000000002, 19.5}, {30.1, 40}}};

  const SceneDescription scene = SceneOf(ResultToJson(result));
  EXPECT_EQ(scene.reflector, result.bestEver->vertices);
  EXPECT_EQ(scene.source, result.scene.source);
  EXPECT_EQ(scene.aim, result.scene.aim);
  EXPECT_EQ(scene.target, result.scene.target);
  EXPECT_EQ(scene.seed, 77u);

  result.generations = 0;
  result.bestEver.reset();
  EXPECT_EQ(SceneOf(ResultToJson(result)).reflector, result.scene.reflector);

  EXPECT_EQ(ErrorOf(R"({"candidates": [], "scene": {"reflector": [], "seed": 1}})"),
            "s.json:1:47: unknown key \"seed\" (expected \"reflector\", \"source\", \"aim\" or "
            "\"target\")");
  EXPECT_EQ(ErrorOf(R"({"candidates": {}, "scene": {"reflector": []}})"),
            "s.json:1:16: \"candidates\" must be an array, not an object");
  EXPECT_EQ(ErrorOf(R"({"candidates": [], "scene": {"reflector": []}, "bestEver": {"vertices": [[1e9, 0]]}})"),
            "s.json:1:75: the x of best-ever vertex 0 1e9 is out of range (-1000000 to 1000000)");
  EXPECT_EQ(ErrorOf(R"({"candidates": [], "scene": {"reflector": []}, "bestIndex": 10})"),
            "s.json:1:61: \"bestIndex\" 10 is out of range (-1 to 9)");
  EXPECT_EQ(ErrorOf(R"({"candidates": [], "scene": {"reflector": []}, "runtime": 10})"),
            "s.json:1:48: unknown key \"runtime\" in a result (expected \"generations\", \"seed\", "
            "\"numerics\", \"bestIndex\", \"bestEver\", \"scene\" or \"candidates\")");
  EXPECT_EQ(ErrorOf(R"({"candidates": [], "scene": {"reflector": []}, "numerics": 2})"),
            "s.json:1:60: \"numerics\" must be a string, not a number");
}

TEST(LoadSceneFile, ReportsFilesThatCannotBeRead) {
  SceneDescription scene;
  std::string error;
  EXPECT_FALSE(LoadSceneFile("/nonexistent/scene.json", scene, error));
  EXPECT_EQ(error, "/nonexistent/scene.json: cannot open: No such file or directory");
  EXPECT_FALSE(LoadSceneFile("/", scene, error));
  EXPECT_EQ(error, "/: cannot read: Is a directory");
}

TEST(LoadSceneFile, ReadsAFileAndConvertsExactly) {
  const std::string path = ::testing::TempDir() + "scene_file_test.json";
  std::ofstream(path) << R"({"reflector": [[400, 0], [400, 400]], "source": [-7, 200]})";
  SceneDescription scene;
  std::string error;
  ASSERT_TRUE(LoadSceneFile(path, scene, error)) << error;
  std::remove(path.c_str());
  const SceneSnapshot snapshot = ToSnapshot(scene);
  EXPECT_EQ(snapshot.vertices, (std::vector<Point2>{{400, 0}, {400, 400}}));
  EXPECT_EQ(snapshot.source, (Point2{-7, 200}));
  EXPECT_EQ(snapshot.aim, (Point2{500, 200}));
}

}  // namespace
}  // namespace reflector
