#include "window/status_text.h"

#include <gtest/gtest.h>

namespace reflector {
namespace {

TEST(StatusTextTest, NamesTheModeAndWhatIsKnownOfTheRun) {
  RunStatus status;
  status.generation = 0;
  EXPECT_EQ(StatusText(status), "Optimising | generation 0");

  status.generation = 1200;
  status.generationsPerSecond = 310.4;
  status.best = 2256.44;
  status.bestEver = 2190.06;
  status.bestEverGeneration = 1104;
  EXPECT_EQ(StatusText(status),
            "Optimising | generation 1200 | 310 gen/s | best 2256.4 | best ever 2190.1 "
            "(generation 1104)");

  // A paused or finished run has no rate; a rewound one says which generation shows.
  status.mode = RunMode::Paused;
  status.rewound = 17;
  EXPECT_EQ(StatusText(status),
            "Paused | generation 1200 | best 2256.4 | best ever 2190.1 (generation 1104) | "
            "showing generation 17 (Escape: live)");
  status.mode = RunMode::Finished;
  status.rewound.reset();
  EXPECT_EQ(StatusText(status).rfind("Finished | generation 1200 | best 2256.4", 0), 0u);

  status.mode = RunMode::Drawing;
  EXPECT_EQ(StatusText(status).rfind("Drawing | right-click adds a vertex", 0), 0u);
}

// Another algorithm's run counts scorings against its budget and names
// itself; a run that could not go on says why instead.
TEST(StatusTextTest, AnotherAlgorithmsRunNamesItselfAndCountsScorings) {
  OtherRunStatus status;
  status.algorithm = "cmaes";
  status.budget = 200000;
  EXPECT_EQ(StatusText(status), "Optimising | cmaes | evaluation 0 of 200000");
  status.evaluations = 5230;
  status.best = 2256.44;
  status.bestEver = 2190.06;
  status.bestEverEvaluation = 4810;
  EXPECT_EQ(StatusText(status),
            "Optimising | cmaes | evaluation 5230 of 200000 | best 2256.4 | best ever 2190.1 "
            "(evaluation 4810)");
  status.mode = RunMode::Paused;
  EXPECT_EQ(StatusText(status).rfind("Paused | cmaes | evaluation 5230", 0), 0u);
  status.error = "a mirror needs at least two vertices for another algorithm";
  EXPECT_EQ(StatusText(status), "Paused | cmaes | a mirror needs at least two vertices for another algorithm");
  status.mode = RunMode::Drawing;
  EXPECT_EQ(StatusText(status).rfind("Drawing | right-click adds a vertex", 0), 0u);
}

}  // namespace
}  // namespace reflector
