#include "geometry/random.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace reflector {
namespace {

// The generator is process-wide: every test starts from a known state.
class RandomTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRandomState(1); }
  void TearDown() override { SetRandomState(1); }
};

TEST_F(RandomTest, FixedSequenceFromStateOne) {
  EXPECT_EQ(NextRandom(), 41);
  EXPECT_EQ(NextRandom(), 18467);
  EXPECT_EQ(NextRandom(), 6334);
  EXPECT_EQ(RandomState(), 1u * 214013u * 214013u * 214013u +
                               2531011u * 214013u * 214013u + 2531011u * 214013u + 2531011u);
}

TEST_F(RandomTest, UniformDrawFormula) {
  const double k = 1.0 / 32767.0;
  EXPECT_EQ(k, 3.051850947599719e-05);
  const double first = RandomUniform(-0.4, 0.4);
  EXPECT_EQ(first, -0.4 + (41 * k) * 0.8);
  EXPECT_GT(first, -0.4);
}

TEST_F(RandomTest, BothEndsAreReachable) {
  std::set<int> values;
  bool low = false;
  bool high = false;
  for (int i = 0; i < 1 << 20; ++i) {
    const std::uint32_t before = RandomState();
    const int r = NextRandom();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 32767);
    values.insert(r);
    SetRandomState(before);
    const double u = RandomUniform(-0.4, 0.4);
    ASSERT_GE(u, -0.4);
    ASSERT_LE(u, 0.4 + 1e-16);
    if (r == 0) low = low || u == -0.4;
    if (r == 32767) high = high || u == -0.4 + 0.8;
  }
  EXPECT_EQ(values.size(), 32768u);
  EXPECT_TRUE(low);
  EXPECT_TRUE(high);
}

TEST_F(RandomTest, AGeneratorOfItsOwnDrawsWhatTheProcessWideOneDrawsAndLeavesItAlone) {
  SetRandomState(123456789u);
  RandomGenerator own{123456789u};
  for (int i = 0; i < 1000; ++i) {
    const double expected = RandomUniform(-0.4, 0.4);
    const double drawn = own.Uniform(-0.4, 0.4);
    ASSERT_EQ(std::memcmp(&expected, &drawn, sizeof(double)), 0) << "draw " << i;
  }
  EXPECT_EQ(own.state, RandomState());
  const std::uint32_t before = RandomState();
  own.Next();
  EXPECT_EQ(RandomState(), before);
}

// Skipping ahead lands where drawing one by one does, however far: every
// count up to a few thousand, and past the generator's period of 2^32.
TEST_F(RandomTest, SkippingAheadLandsWhereDrawingDoes) {
  RandomGenerator drawn{987654321u};
  for (std::uint64_t count = 0; count < 5000; ++count) {
    RandomGenerator skipped{987654321u};
    skipped.Skip(count);
    ASSERT_EQ(skipped.state, drawn.state) << count;
    drawn.Next();
  }
  RandomGenerator whole{42u};
  whole.Skip(std::uint64_t{1} << 32);
  EXPECT_EQ(whole.state, 42u);
  RandomGenerator past{42u}, near{42u};
  past.Skip((std::uint64_t{1} << 32) + 3);
  near.Skip(3);
  EXPECT_EQ(past.state, near.state);
}

}  // namespace
}  // namespace reflector
