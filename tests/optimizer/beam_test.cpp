#include "tracing/beam.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "geometry/distance.h"

namespace reflector {
namespace {

struct Scored {
  bool completed = false;
  std::vector<RayRecord> records;
  double score = -1;
};

Scored Evaluate(const std::vector<Point2>& vertices, Point2 source, Point2 aim, Point2 target,
                bool stop = false) {
  std::atomic<bool> stopRequested{stop};
  Scored s;
  s.completed = EvaluateBeam(vertices, source, aim, target, stopRequested, s.records, s.score);
  return s;
}

TEST(EvaluateBeam, FewerThanTwoVerticesMissEveryRay) {
  for (const std::vector<Point2>& vertices :
       {std::vector<Point2>{}, std::vector<Point2>{{400, 200}}}) {
    const Scored s = Evaluate(vertices, {150, 200}, {500, 200}, {250, 200});
    ASSERT_TRUE(s.completed);
    ASSERT_EQ(s.records.size(), 150u);
    EXPECT_EQ(s.score, 150 * 1000.0);
    for (const RayRecord& r : s.records) {
      EXPECT_EQ(r.hitFlag, 0);
      EXPECT_EQ(r.path.size(), 2u);
    }
    // Ray i starts and aims 2 (i - 75) pixels lower; x is not shifted.
    EXPECT_EQ(s.records[0].path, (RayPath{{150, 50}, {500, 50}}));
    EXPECT_EQ(s.records[75].path, (RayPath{{150, 200}, {500, 200}}));
    EXPECT_EQ(s.records[149].path, (RayPath{{150, 348}, {500, 348}}));
  }
}

TEST(EvaluateBeam, VerticalMirrorSendsEveryRayStraightBack) {
  const Scored s = Evaluate({{400, 0}, {400, 400}}, {100, 200}, {300, 200}, {250, 200});
  ASSERT_TRUE(s.completed);
  double expected = 0;
  for (int i = 0; i < 150; ++i) {
    const RayRecord& r = s.records[i];
    ASSERT_EQ(r.hitFlag, 1) << i;
    ASSERT_EQ(r.path.size(), 3u) << i;
    EXPECT_NEAR(r.cost, std::abs(2.0 * (i - 75)), 1e-9) << i;
    expected += std::abs(2.0 * (i - 75));
  }
  EXPECT_NEAR(s.score, expected, 1e-6);
}

TEST(EvaluateBeam, SecondReflectionCostsFiveHundredMore) {
  // A corner that turns rays back after two reflections, and below it a vertical
  // mirror that turns rays back after one.
  const std::vector<Point2> vertices{{300, 100}, {400, 200}, {300, 300}, {300, 400}};
  const Point2 target{250, 200};
  const Scored s = Evaluate(vertices, {100, 200}, {200, 200}, target);
  ASSERT_TRUE(s.completed);
  int three = 0;
  int four = 0;
  double sum = 0;
  for (const RayRecord& r : s.records) {
    const std::size_t n = r.path.size();
    if (n == 3) ++three;
    if (n == 4) ++four;
    if (n >= 3) {
      ASSERT_EQ(r.hitFlag, 1);
      const double line = DistanceToLine(target, r.path[n - 1], r.path[n - 2]);
      EXPECT_EQ(r.cost, n >= 4 ? line + 500.0 : line);
      sum += r.cost;
    } else {
      ASSERT_EQ(r.hitFlag, 0);
      sum += 1000.0;
    }
  }
  EXPECT_GT(three, 0);
  EXPECT_GT(four, 0);
  // Summed one record at a time, in ray order.
  EXPECT_EQ(s.score, sum);
}

TEST(EvaluateBeam, StopAlreadyRequestedTracesNothing) {
  std::vector<RayRecord> records(3);
  double score = 42;
  std::atomic<bool> stop{true};
  EXPECT_FALSE(EvaluateBeam(std::vector<Point2>{{400, 0}, {400, 400}}, {100, 200}, {300, 200},
                            {250, 200}, stop, records, score));
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(score, 0.0);
}

TEST(EvaluateBeam, ReusesTheRecordArrayAcrossEvaluations) {
  std::vector<RayRecord> records;
  double score = 0;
  std::atomic<bool> stop{false};
  const std::vector<Point2> mirror{{400, 0}, {400, 400}};
  ASSERT_TRUE(EvaluateBeam(mirror, {100, 200}, {300, 200}, {250, 200}, stop, records, score));
  const RayRecord* storage = records.data();
  const double first = score;
  ASSERT_TRUE(EvaluateBeam(mirror, {100, 200}, {300, 200}, {250, 200}, stop, records, score));
  EXPECT_EQ(records.data(), storage);
  EXPECT_EQ(records.size(), 150u);
  EXPECT_EQ(score, first);

  // Nothing of the earlier evaluation survives in the records it overwrites.
  ASSERT_TRUE(EvaluateBeam(std::vector<Point2>{}, {100, 200}, {300, 200}, {250, 200}, stop,
                           records, score));
  EXPECT_EQ(score, 150000.0);
  for (const RayRecord& r : records) {
    EXPECT_EQ(r.hitFlag, 0);
    EXPECT_EQ(r.cost, 0.0);
    EXPECT_EQ(r.path.size(), 2u);
  }
}

}  // namespace
}  // namespace reflector
