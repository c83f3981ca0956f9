#include "optimizer/evolution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "geometry/random.h"

namespace reflector {
namespace {

// A population whose candidates carry their own index as their only vertex's x,
// so that copies can be told apart.
Population WithScores(const std::vector<double>& scores) {
  Population p;
  for (std::size_t i = 0; i < scores.size(); ++i) {
    Candidate c;
    c.vertices = {{static_cast<double>(i), 0}};
    c.rayRecords.push_back(RayRecord{1, 1.0, {{static_cast<double>(i), 1}, {2, 3}}});
    c.score = scores[i];
    p.candidates.push_back(c);
  }
  return p;
}

double Origin(const Population& p, int i) { return p.candidates[i].vertices[0].x; }

TEST(ReplaceWorstWithBest, FiveCallsOnDescendingScores) {
  Population p = WithScores({9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
  ReplaceWorstWithBest(p);
  EXPECT_EQ(p.bestIndex, 9);
  EXPECT_EQ(Origin(p, 0), 9);
  for (int call = 1; call < 5; ++call) ReplaceWorstWithBest(p);
  EXPECT_EQ(p.bestIndex, 0);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Origin(p, i), 9) << i;
    EXPECT_EQ(p.candidates[i].score, 0) << i;
    EXPECT_EQ(p.candidates[i].rayRecords[0].path[0].x, 9) << i;
  }
  for (int i = 5; i < 10; ++i) EXPECT_EQ(Origin(p, i), i) << i;
}

TEST(ReplaceWorstWithBest, EqualScoresCopyNothing) {
  Population p = WithScores(std::vector<double>(10, 150000.0));
  ReplaceWorstWithBest(p);
  EXPECT_EQ(p.bestIndex, 0);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Origin(p, i), i);
}

TEST(ReplaceWorstWithBest, FewerThanTwoCandidatesChangeNothing) {
  Population empty;
  ReplaceWorstWithBest(empty);
  EXPECT_EQ(empty.bestIndex, -1);
  Population one = WithScores({3});
  one.bestIndex = 7;
  ReplaceWorstWithBest(one);
  EXPECT_EQ(one.bestIndex, 7);
}

TEST(ReplaceWorstWithBest, NotANumberNeverBecomesTheBest) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Population p = WithScores({nan, 8, 7, nan, 5, 4, 3, 2, 1, 9});
  ReplaceWorstWithBest(p);
  EXPECT_EQ(p.bestIndex, 8);
  EXPECT_EQ(Origin(p, 0), 8);  // the first NaN counts as the worst
  ReplaceWorstWithBest(p);
  EXPECT_EQ(Origin(p, 3), 8);  // then the second one
  for (int call = 2; call < 5; ++call) ReplaceWorstWithBest(p);
  for (const Candidate& c : p.candidates) EXPECT_FALSE(std::isnan(c.score));
  EXPECT_EQ(p.candidates[p.bestIndex].score, 1);

  // A NaN in front of the best does not hide it.
  Population q = WithScores({nan, nan, 3, 2});
  ReplaceWorstWithBest(q);
  EXPECT_EQ(q.bestIndex, 3);
  EXPECT_EQ(Origin(q, 0), 3);
}

// A candidate's rays, told apart by their first point's x.
double RaysOrigin(const Population& p, int i) {
  return p.candidates[i].rayRecords[0].path[0].x;
}

TEST(SelectSurvivors, CopiesTheRaysOfOnlyTheCandidateNamedBest) {
  // Candidate 0 copies 9 in the first round and is named best in the last.
  Population p = WithScores({9, 8, 7, 6, 5, 4, 3, 2, 1, 0});
  SelectSurvivors(p, 5);
  EXPECT_EQ(p.bestIndex, 0);
  EXPECT_EQ(RaysOrigin(p, 0), 9);
  for (int i = 1; i < 5; ++i) {
    EXPECT_EQ(Origin(p, i), 9) << i;
    EXPECT_EQ(RaysOrigin(p, i), i) << i;  // stale until traced again
  }
  for (int i = 5; i < 10; ++i) EXPECT_EQ(RaysOrigin(p, i), i) << i;
}

TEST(SelectSurvivors, LeavesWhatFiveReplacementsLeaveButTheOtherCopiesRays) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::mt19937 gen(8);
  for (int trial = 0; trial < 2000; ++trial) {
    const int n = 2 + static_cast<int>(gen() % 9);
    std::vector<double> scores;
    for (int i = 0; i < n; ++i) {
      const unsigned kind = gen() % 8;
      scores.push_back(kind == 0 ? nan : static_cast<double>(gen() % (kind < 4 ? 3 : 100)));
    }
    const int rounds = static_cast<int>(gen() % 7);
    Population selected = WithScores(scores);
    Population replaced = WithScores(scores);
    SelectSurvivors(selected, rounds);
    for (int round = 0; round < rounds; ++round) ReplaceWorstWithBest(replaced);
    ASSERT_EQ(selected.bestIndex, replaced.bestIndex) << trial;
    for (int i = 0; i < n; ++i) {
      const Candidate& a = selected.candidates[i];
      const Candidate& b = replaced.candidates[i];
      ASSERT_EQ(a.vertices, b.vertices) << trial << " candidate " << i;
      ASSERT_TRUE(a.score == b.score || (std::isnan(a.score) && std::isnan(b.score))) << trial;
      if (i == replaced.bestIndex || Origin(replaced, i) == i) {
        ASSERT_EQ(RaysOrigin(selected, i), RaysOrigin(replaced, i)) << trial << " candidate " << i;
      } else {
        ASSERT_EQ(RaysOrigin(selected, i), i) << trial << " candidate " << i;
      }
    }
  }
}

TEST(Candidate, CopiesAreDeep) {
  Population p = WithScores({1, 2});
  Candidate copy;
  copy = p.candidates[0];
  p.candidates[0].vertices[0].x = 100;
  p.candidates[0].rayRecords[0].path[0].x = 100;
  EXPECT_EQ(copy.vertices[0].x, 0);
  EXPECT_EQ(copy.rayRecords[0].path[0].x, 0);
}

class PopulationStepsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRandomState(1); }
  void TearDown() override { SetRandomState(1); }
};

TEST_F(PopulationStepsTest, FillGivesTenOwnCopies) {
  SceneSnapshot snapshot;
  snapshot.vertices = {{1, 2}, {3, 4}};
  Population p;
  FillPopulation(p, snapshot);
  ASSERT_EQ(p.candidates.size(), 10u);
  EXPECT_EQ(p.bestIndex, -1);
  for (const Candidate& c : p.candidates) {
    EXPECT_EQ(c.vertices, snapshot.vertices);
    EXPECT_TRUE(c.rayRecords.empty());
    EXPECT_EQ(c.score, 0);
    EXPECT_NE(c.vertices.data(), snapshot.vertices.data());
  }
}

TEST_F(PopulationStepsTest, MutateDrawsXThenYForEveryVertexInOrder) {
  SceneSnapshot snapshot;
  snapshot.vertices = {{100, 200}, {300, 400}};
  Population p;
  FillPopulation(p, snapshot);
  MutatePopulation(p);

  SetRandomState(1);
  for (const Candidate& c : p.candidates) {
    for (std::size_t v = 0; v < c.vertices.size(); ++v) {
      const double dx = RandomUniform(-0.4, 0.4);
      const double dy = RandomUniform(-0.4, 0.4);
      EXPECT_EQ(c.vertices[v].x, snapshot.vertices[v].x + dx);
      EXPECT_EQ(c.vertices[v].y, snapshot.vertices[v].y + dy);
    }
  }
  // 10 candidates x 2 vertices x 2 draws were consumed, no more.
  const std::uint32_t after = RandomState();
  SetRandomState(1);
  for (int i = 0; i < 40; ++i) NextRandom();
  EXPECT_EQ(RandomState(), after);
  EXPECT_EQ(p.candidates[0].vertices[0].x, 100 + (-0.4 + (41 * (1.0 / 32767.0)) * 0.8));
}

}  // namespace
}  // namespace reflector
