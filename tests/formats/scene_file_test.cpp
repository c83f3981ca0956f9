#include "formats/scene_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace reflector {
namespace {

std::string ErrorOf(const std::string& text) {
  SceneDescription scene;
  std::string error;
  EXPECT_FALSE(ParseScene(text, "s.json", scene, error)) << text;
  return error;
}

TEST(ParseScene, ReadsEveryKey) {
  SceneDescription scene;
  std::string error;
  ASSERT_TRUE(ParseScene(R"({"reflector": [[1, 2], [-32768, 32767]], "source": [3, 4],
                            "aim": [5, 6], "target": [7, -8]})",
                         "s.json", scene, error))
      << error;
  EXPECT_EQ(scene.reflector, (std::vector<Point2>{{1, 2}, {-32768, 32767}}));
  EXPECT_EQ(scene.source, (Point2{3, 4}));
  EXPECT_EQ(scene.aim, (Point2{5, 6}));
  EXPECT_EQ(scene.target, (Point2{7, -8}));
}

TEST(ParseScene, MissingPointsTakeTheWindowDefaults) {
  for (const char* text : {R"({"reflector": []})", R"({"reflector": [[9, 9]]})"}) {
    SceneDescription scene;
    std::string error;
    ASSERT_TRUE(ParseScene(text, "s.json", scene, error)) << error;
    EXPECT_EQ(scene.source, (Point2{150, 200}));
    EXPECT_EQ(scene.aim, (Point2{500, 200}));
    EXPECT_EQ(scene.target, (Point2{250, 200}));
    EXPECT_LE(scene.reflector.size(), 1u);
  }
}

TEST(ParseScene, ErrorsNameTheFileThePlaceAndTheProblem) {
  EXPECT_EQ(ErrorOf("[1, 2]"), "s.json:1:1: a scene must be a JSON object, not an array");
  EXPECT_EQ(ErrorOf("{}"), "s.json:1:1: the scene has no \"reflector\" (an array of [x, y] pairs)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "mirror": []})"),
            "s.json:1:19: unknown key \"mirror\" (expected \"reflector\", \"source\", \"aim\" or "
            "\"target\")");
  EXPECT_EQ(ErrorOf(R"({"reflector": [[1, 2.5]]})"),
            "s.json:1:20: the y of reflector vertex 0 must be an integer, not 2.5");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "source": [1, 1e2]})"),
            "s.json:1:33: the y of \"source\" must be an integer, not 1e2");
  EXPECT_EQ(ErrorOf(R"({"reflector": [[32768, 0]]})"),
            "s.json:1:17: the x of reflector vertex 0 32768 is out of range (-32768 to 32767)");
  EXPECT_EQ(ErrorOf(R"({"reflector": [[-99999999999999999999999, 0]]})").substr(0, 17),
            "s.json:1:17: the ");
  EXPECT_EQ(ErrorOf(R"({"reflector": [[1, 2, 3]]})"),
            "s.json:1:16: reflector vertex 0 must be an [x, y] pair of integers, not an array of 3");
  EXPECT_EQ(ErrorOf(R"({"reflector": {}})"),
            "s.json:1:15: \"reflector\" must be an array of [x, y] pairs, not an object");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "aim": "here"})"),
            "s.json:1:26: \"aim\" must be an [x, y] pair of integers, not a string");
  EXPECT_EQ(ErrorOf(R"({"reflector": [["1", 2]]})"),
            "s.json:1:17: the x of reflector vertex 0 must be an integer, not a string");
  EXPECT_EQ(ErrorOf(R"({"reflector": [], "reflector": []})"),
            "s.json:1:19: \"reflector\" is given twice");
  EXPECT_EQ(ErrorOf("{\"reflector\": [\n  [1, 2],\n  [3, 4"),
            "s.json:3:8: not valid JSON: unexpected end of file inside an array");
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
