#include "formats/scene_writer.h"

#include <gtest/gtest.h>

#include "formats/scene_file.h"

namespace reflector {
namespace {

TEST(SceneWriterTest, WritesTheStoredTextAndReadsBackToTheSameBits) {
  SceneDescription scene;
  scene.reflector = {{494, 52}, {0.1, -1e-300}, {493.5, 148}};
  scene.source = {150, 200};
  scene.aim = {500, 200.25};
  scene.target = {250, 200};
  scene.seed = 4294967295u;
  const std::vector<Point2> best = {{480.2761436811414, 24.65255897701936}, {1.0 / 3.0, 2}};
  const std::string text = SceneToJson(scene, &best);
  EXPECT_EQ(text,
            "{\"reflector\": [[494, 52], [0.1, -1e-300], [493.5, 148]], \"source\": [150, 200], "
            "\"aim\": [500, 200.25], \"target\": [250, 200], \"seed\": 4294967295, "
            "\"bestMirror\": [[480.2761436811414, 24.65255897701936], [0.3333333333333333, 2]]}\n");

  // The reader takes the mirror the run starts from, and the seed; the best
  // mirror rides along.
  SceneDescription back;
  std::string error;
  ASSERT_TRUE(ParseScene(text, "saved.json", back, error)) << error;
  EXPECT_EQ(back, scene);

  // No seed, no best mirror: neither key.
  scene.seed.reset();
  EXPECT_EQ(SceneToJson(scene, nullptr).find("seed"), std::string::npos);
  EXPECT_EQ(SceneToJson(scene, nullptr).find("bestMirror"), std::string::npos);
}

}  // namespace
}  // namespace reflector
