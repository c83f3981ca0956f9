#include "tracing/beam_tracer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "geometry/correctly_rounded.h"
#include "geometry/exact_memo.h"
#include "geometry/exact_pair_memo.h"
#include "golden/golden_scenes.h"
#include "tracing/beam.h"
#include "tracing/reference_beam.h"

namespace reflector {
namespace {

bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// A record array that lives across checks, as a candidate's does.
std::vector<RayRecord>& scratch() {
  static std::vector<RayRecord> records;
  return records;
}

// Every record, cost and path point of the fast tracer against the reference.
::testing::AssertionResult SameAsReference(BeamTracer& tracer, const SceneSnapshot& scene,
                                           const std::vector<Point2>& vertices) {
  const ReferenceBeam expected =
      EvaluateBeamReference(vertices, scene.source, scene.aim, scene.target);
  std::vector<RayRecord>& records = scratch();
  double score = -1;
  const std::atomic<bool> noStop{false};
  if (!tracer.Evaluate(vertices, scene.source, scene.aim, scene.target, noStop, records, score)) {
    return ::testing::AssertionFailure() << "stopped without a stop request";
  }
  if (records.size() != expected.rayRecords.size()) {
    return ::testing::AssertionFailure() << records.size() << " records";
  }
  for (std::size_t r = 0; r < records.size(); ++r) {
    const RayRecord& a = records[r];
    const RayRecord& b = expected.rayRecords[r];
    if (a.hitFlag != b.hitFlag || !SameBits(a.cost, b.cost) || a.path.size() != b.path.size()) {
      return ::testing::AssertionFailure()
             << "ray " << r << ": flag " << int(a.hitFlag) << "/" << int(b.hitFlag) << ", cost "
             << a.cost << "/" << b.cost << ", points " << a.path.size() << "/" << b.path.size();
    }
    for (std::size_t p = 0; p < a.path.size(); ++p) {
      if (!SameBits(a.path[p].x, b.path[p].x) || !SameBits(a.path[p].y, b.path[p].y)) {
        return ::testing::AssertionFailure() << "ray " << r << " point " << p << ": ("
                                             << a.path[p].x << ", " << a.path[p].y << ") vs ("
                                             << b.path[p].x << ", " << b.path[p].y << ")";
      }
    }
  }
  if (!SameBits(score, expected.score)) {
    return ::testing::AssertionFailure() << "score " << score << " vs " << expected.score;
  }
  return ::testing::AssertionSuccess();
}

// The optimiser's kind of jitter, drawn from the test's own generator.
std::vector<Point2> Jittered(const std::vector<Point2>& vertices, std::mt19937& gen, double size) {
  std::vector<Point2> out = vertices;
  for (Point2& v : out) {
    v.x += (static_cast<double>(gen() % 32768) / 32767.0 - 0.5) * size;
    v.y += (static_cast<double>(gen() % 32768) / 32767.0 - 0.5) * size;
  }
  return out;
}

// Scenes of the awkward kinds: horizontal, slanted and vertical beams,
// vertical, zero-length and doubled-back segments, 0 to 12 vertices,
// coordinates at the ends of the 16-bit range.
SceneSnapshot GeneratedScene(std::mt19937& gen, int index) {
  const auto in = [&](int low, int high) {
    return static_cast<double>(low + static_cast<int>(gen() % static_cast<unsigned>(high - low + 1)));
  };
  const bool big = index % 7 == 5;
  const double cx = big ? (gen() % 2 ? 32000 : -32000) : 400;
  const double cy = big ? (gen() % 2 ? 32000 : -32000) : 200;
  SceneSnapshot s;
  s.source = {cx - in(50, 300), cy + in(-100, 100)};
  switch (index % 3) {
    case 0: s.aim = {s.source.x + in(100, 400), s.source.y}; break;   // horizontal
    case 1: s.aim = {s.source.x, s.source.y + in(-400, 400)}; break;  // vertical
    default: s.aim = {s.source.x + in(-400, 400), s.source.y + in(-400, 400)}; break;
  }
  s.target = {cx + in(-150, 150), cy + in(-150, 150)};
  const int count = index % 13;
  const double span = big ? 800 : 300;
  for (int i = 0; i < count; ++i) {
    const int kind = static_cast<int>(gen() % 6);
    if (i > 0 && kind == 0) {  // vertical segment
      s.vertices.push_back({s.vertices.back().x, s.vertices.back().y + in(-200, 200)});
    } else if (i > 0 && kind == 1) {  // zero length
      s.vertices.push_back(s.vertices.back());
    } else if (i > 1 && kind == 2) {  // back along the last segment
      const Point2 a = s.vertices[s.vertices.size() - 2];
      const Point2 b = s.vertices.back();
      s.vertices.push_back({b.x + (a.x - b.x) / 2, b.y + (a.y - b.y) / 2});
    } else if (big && kind == 3) {
      s.vertices.push_back({gen() % 2 ? 32767.0 : -32768.0, cy + in(-800, 800)});
    } else {
      s.vertices.push_back({cx + in(-200, 200) + span / 4, cy + in(-200, 200)});
    }
  }
  return s;
}

// Each vector width the tracer has, on this processor.
class BeamTracerWidth : public ::testing::TestWithParam<BeamTracer::Width> {
 protected:
  void SetUp() override {
    if (!BeamTracer::Available(GetParam())) {
      GTEST_SKIP() << "this processor has no "
                   << (GetParam() == BeamTracer::Width::kFourLanes ? "AVX" : "AVX-512");
    }
    ASSERT_EQ(BeamTracer(GetParam()).RunningWidth(), GetParam());
  }
};

INSTANTIATE_TEST_SUITE_P(Lanes, BeamTracerWidth,
                         ::testing::Values(BeamTracer::Width::kTwoLanes,
                                           BeamTracer::Width::kFourLanes,
                                           BeamTracer::Width::kEightLanes),
                         [](const auto& info) {
                           switch (info.param) {
                             case BeamTracer::Width::kTwoLanes: return "Two";
                             case BeamTracer::Width::kFourLanes: return "Four";
                             case BeamTracer::Width::kEightLanes: break;
                           }
                           return "Eight";
                         });

TEST_P(BeamTracerWidth, MatchesTheReferenceOnTheStoredScenes) {
  const std::vector<GoldenScene> scenes = LoadGoldenScenes(REFLECTOR_GOLDEN_SCENES);
  ASSERT_GE(scenes.size(), 44u);
  BeamTracer tracer(GetParam());  // one for all, as the worker keeps one: memo entries carry over
  std::mt19937 gen(1);
  for (const GoldenScene& scene : scenes) {
    ASSERT_TRUE(SameAsReference(tracer, scene.snapshot, scene.snapshot.vertices)) << scene.name;
    for (int i = 0; i < 6; ++i) {
      ASSERT_TRUE(SameAsReference(tracer, scene.snapshot,
                                  Jittered(scene.snapshot.vertices, gen, i < 3 ? 0.8 : 40)))
          << scene.name << " jittered " << i;
    }
  }
}

TEST_P(BeamTracerWidth, MatchesTheReferenceOnGeneratedScenes) {
  BeamTracer tracer(GetParam());
  std::mt19937 gen(2);
  for (int index = 0; index < 400; ++index) {
    const SceneSnapshot scene = GeneratedScene(gen, index);
    ASSERT_TRUE(SameAsReference(tracer, scene, scene.vertices)) << "scene " << index;
    ASSERT_TRUE(SameAsReference(tracer, scene, Jittered(scene.vertices, gen, 0.8)))
        << "scene " << index << " jittered";
  }
}

// Large mirrors of the awkward kinds for the runs that are skipped: long
// zigzags and circles, clouds of random segments, near-parallel folds,
// near-vertical segments whose slopes pass the skipping bound, and
// coordinates on either side of its bound.
SceneSnapshot LargeScene(std::mt19937& gen, int index) {
  const auto uniform = [&](double low, double high) {
    return low + (high - low) * static_cast<double>(gen() % 1000001) / 1000000.0;
  };
  SceneSnapshot s{{}, {150, 200}, {500, 200}, {250, 200}};
  const int count = 40 + static_cast<int>(gen() % 300);
  switch (index % 6) {
    case 0:  // a zigzag across the beam
      for (int i = 0; i < count; ++i) s.vertices.push_back({480 + (i % 2) * uniform(1, 30), 40 + 1.1 * i});
      break;
    case 1:  // a circle around the target
      for (int i = 0; i < count; ++i) {
        const double angle = 6.283185307179586 * i / count;
        s.vertices.push_back({250 + 200 * std::cos(angle), 200 + 200 * std::sin(angle)});
      }
      break;
    case 2:  // a cloud
      for (int i = 0; i < count; ++i) s.vertices.push_back({uniform(200, 700), uniform(0, 400)});
      break;
    case 3:  // folds nearly parallel to the beam, some segments repeated
      for (int i = 0; i < count; ++i) {
        s.vertices.push_back({300 + uniform(0, 400), 150 + i * 1e-7 + (i % 3) * 40});
        if (i % 11 == 10) s.vertices.push_back(s.vertices[s.vertices.size() - 2]);
      }
      break;
    case 4:  // near-vertical segments: slopes beyond the bound, and vertical ones
      for (int i = 0; i < count; ++i) {
        const double x = 450 + (i / 2) * 3.0;
        s.vertices.push_back({x + (i % 4 == 1 ? 1e-9 : 0.0), (i % 2) ? 20.0 : 380.0});
      }
      break;
    default: {  // coordinates about the bound, 2^40, and a beam from far off
      const double far = (gen() % 2 ? 1.0 : -1.0) * std::ldexp(1.0, 40 + static_cast<int>(gen() % 3) - 1);
      s.source = {far, 200};
      s.aim = {far + 1000, 210};
      for (int i = 0; i < count; ++i) {
        s.vertices.push_back({far + uniform(500, 50000), uniform(-5000, 5000)});
      }
      s.target = {far + 100, 200};
    }
  }
  return s;
}

// Skipping runs of segments no ray of a batch can meet changes no bit:
// against the reference on every stored and generated scene and on large
// mirrors, with runs of every small size, skipped on any mirror.
TEST_P(BeamTracerWidth, SkippingRunsOfSegmentsChangesNoBit) {
  const std::vector<GoldenScene> scenes = LoadGoldenScenes(REFLECTOR_GOLDEN_SCENES);
  // Negative: runs of its size, walked ray by ray, on every mirror (32 is
  // the size large mirrors are walked with; 19 leaves padding in a vector).
  for (int setting : {1, 2, 3, 5, 16, -1, -19, -BeamTracer::kOneRayRunSize}) {
    const int size = setting < 0 ? -setting : setting;
    BeamTracer tracer(GetParam());
    tracer.SetRuns(size, 0);
    if (setting < 0) tracer.SetOneRayFrom(0, size);
    std::mt19937 gen(static_cast<unsigned>(setting));
    for (const GoldenScene& scene : scenes) {
      ASSERT_TRUE(SameAsReference(tracer, scene.snapshot, scene.snapshot.vertices))
          << scene.name << ", runs of " << size;
      ASSERT_TRUE(SameAsReference(tracer, scene.snapshot, Jittered(scene.snapshot.vertices, gen, 40)))
          << scene.name << " jittered, runs of " << size;
    }
    for (int index = 0; index < 120; ++index) {
      const SceneSnapshot scene = GeneratedScene(gen, index);
      ASSERT_TRUE(SameAsReference(tracer, scene, Jittered(scene.vertices, gen, 0.8)))
          << "scene " << index << ", runs of " << size;
    }
    for (int index = 0; index < 24; ++index) {
      const SceneSnapshot scene = LargeScene(gen, index);
      ASSERT_TRUE(SameAsReference(tracer, scene, scene.vertices))
          << "large scene " << index << ", runs of " << size;
      ASSERT_TRUE(SameAsReference(tracer, scene, Jittered(scene.vertices, gen, 0.8)))
          << "large scene " << index << " jittered, runs of " << size
          << (setting < 0 ? ", ray by ray" : "");
    }
  }
}

// The tracer keeps the beam's starting rays while the source and aim stay;
// a change of either, even only of a zero's sign, must start new ones.
TEST_P(BeamTracerWidth, StartsNewRaysWhenTheSourceOrTheAimChanges) {
  BeamTracer tracer(GetParam());
  SceneSnapshot scene{{{0, 0}, {60, 400}, {300, 380}}, {-200, 200}, {100, 200}, {50, 200}};
  for (const Point2 aim :
       {Point2{100, 200}, Point2{100, 260}, Point2{-200, 500}, Point2{100, 200}}) {
    scene.aim = aim;
    ASSERT_TRUE(SameAsReference(tracer, scene, scene.vertices)) << aim.x << ", " << aim.y;
  }
  scene.source = {0.0, 200};
  scene.aim = {0.0, 600};
  ASSERT_TRUE(SameAsReference(tracer, scene, scene.vertices));
  scene.source = {-0.0, 200};
  ASSERT_TRUE(SameAsReference(tracer, scene, scene.vertices)) << "source x -0";
  scene.aim = {-0.0, 600};
  ASSERT_TRUE(SameAsReference(tracer, scene, scene.vertices)) << "aim x -0";
}

// A beam that meets two collinear copies of a segment at the same points: the
// later segment must win every tie, and a ray that ends exactly on a vertex
// shared by two segments must go the way FindNearestHit sends it.
// With runs of one segment and nearest first, every such tie is between
// runs taken in any order.
TEST_P(BeamTracerWidth, EqualDistancesGoToTheLaterSegment) {
  for (int setting : {BeamTracer::kChunkSize, 1, 2, 3, -1, -3}) {
    // Negative: runs of its size, walked ray by ray.
    const int runs = setting < 0 ? -setting : setting;
    BeamTracer tracer(GetParam());
    tracer.SetRuns(runs, runs == BeamTracer::kChunkSize ? BeamTracer::kSkipRunsFrom : 0);
    if (setting < 0) tracer.SetOneRayFrom(0, runs);
    SceneSnapshot scene{{{400, 0}, {400, 400}, {400, 100}, {400, 500}}, {150, 200}, {500, 200},
                        {250, 200}};
    ASSERT_TRUE(SameAsReference(tracer, scene, scene.vertices)) << "runs of " << runs;
    scene.vertices = {{350, 0}, {450, 400}, {400, 200}, {350, 0}};
    ASSERT_TRUE(SameAsReference(tracer, scene, scene.vertices)) << "runs of " << runs;
    scene.vertices = {{400, 100}, {420, 200}, {400, 300}, {380, 200}, {400, 100}};
    ASSERT_TRUE(SameAsReference(tracer, scene, scene.vertices)) << "runs of " << runs;
  }
}

// Mirrors that make nearest first work hard: tangled scribbles that every
// ray's line crosses many times, a mirror drawn twice (each segment has an
// equal copy far later in index order), and stars whose segments all pass
// through the points the beam's rays hit; all with runs of several sizes,
// and jittered.
TEST_P(BeamTracerWidth, NearestFirstKeepsTheFullPassesHit) {
  std::mt19937 gen(11);
  const auto uniform = [&](double low, double high) {
    return low + (high - low) * static_cast<double>(gen() % 1000001) / 1000000.0;
  };
  std::vector<SceneSnapshot> scenes;
  for (int i = 0; i < 4; ++i) {  // scribbles in a band across the beam
    SceneSnapshot s{{}, {150, 200}, {500, 200}, {250, 200}};
    Point2 p{480, 200};
    for (int k = 0; k < 400 + 300 * i; ++k) {
      p = {std::clamp(p.x + uniform(-12, 12), 440.0, 540.0), std::clamp(p.y + uniform(-12, 12), 40.0, 360.0)};
      s.vertices.push_back(p);
    }
    scenes.push_back(s);
  }
  {  // drawn twice
    SceneSnapshot s{{}, {150, 200}, {500, 200}, {250, 200}};
    for (int k = 0; k < 200; ++k) s.vertices.push_back({494.0 + (k % 3), 40.0 + 2 * k});
    const std::vector<Point2> once = s.vertices;
    s.vertices.insert(s.vertices.end(), once.rbegin(), once.rend());
    scenes.push_back(s);
  }
  {  // stars: spokes through the points (480, 200 + 2j) the rays reach
    SceneSnapshot s{{}, {150, 200}, {500, 200}, {250, 200}};
    for (int j = -20; j <= 20; j += 4) {
      for (int spoke = 0; spoke < 6; ++spoke) {
        const double angle = 0.5 * spoke;
        s.vertices.push_back({480 + 30 * std::cos(angle), 200 + 2 * j + 30 * std::sin(angle)});
        s.vertices.push_back({480 - 30 * std::cos(angle), 200 + 2 * j - 30 * std::sin(angle)});
      }
    }
    scenes.push_back(s);
  }
  for (int setting : {1, 4, 16, -1, -4, -16}) {
    // Negative: runs of its size, walked ray by ray.
    const int runs = setting < 0 ? -setting : setting;
    BeamTracer tracer(GetParam());
    tracer.SetRuns(runs, 0);
    tracer.SetOneRayFrom(setting < 0 ? 0 : 1 << 30, runs);
    for (std::size_t i = 0; i < scenes.size(); ++i) {
      ASSERT_TRUE(SameAsReference(tracer, scenes[i], scenes[i].vertices))
          << "scene " << i << ", runs of " << runs;
      ASSERT_TRUE(SameAsReference(tracer, scenes[i], Jittered(scenes[i].vertices, gen, 0.8)))
          << "scene " << i << " jittered, runs of " << runs;
    }
  }
}

TEST(BeamTracer, StopRequestReturnsNoRecordsAndNoScore) {
  BeamTracer tracer;
  std::vector<RayRecord> records(3);
  double score = 42;
  const std::atomic<bool> stop{true};
  EXPECT_FALSE(tracer.Evaluate(std::vector<Point2>{{400, 0}, {400, 400}}, {100, 200}, {300, 200},
                               {250, 200}, stop, records, score));
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(score, 0.0);
}

double CountingAtan(double x);
int atanCalls = 0;
double CountingAtan(double x) {
  ++atanCalls;
  return CorrectlyRoundedAtan(x);
}

// Signed zeros, infinities, a NaN, subnormals and a value next to 1, then
// random bit patterns.
std::vector<double> AwkwardArguments(std::uint64_t seed, int randomCount) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values{0.0, -0.0, 1.0, -1.0, inf, -inf, nan, 1e-300, 5e-324,
                             std::nextafter(1.0, 2.0)};
  std::mt19937_64 gen(seed);
  for (int i = 0; i < randomCount; ++i) values.push_back(std::bit_cast<double>(gen()));
  return values;
}

// The same bits, or both NaN (whose payloads libm need not keep).
bool SameResult(double got, double expected) {
  return SameBits(got, expected) || (std::isnan(got) && std::isnan(expected));
}

TEST(ExactMemo, GivesTheFunctionsOwnBitsForEveryArgument) {
  ExactMemo<4> memo(CountingAtan);  // 16 entries: collisions are certain
  atanCalls = 0;
  const std::vector<double> arguments = AwkwardArguments(3, 200);
  for (int round = 0; round < 3; ++round) {
    for (double x : arguments) {
      ASSERT_TRUE(SameResult(memo(x), CorrectlyRoundedAtan(x))) << std::hexfloat << x;
    }
  }
  // -0 is its own key: atan(-0) is -0, not the +0 every entry starts with.
  EXPECT_TRUE(std::signbit(memo(-0.0)));
  // A repeated argument is answered from the table.
  memo(0.75);
  const int before = atanCalls;
  memo(0.75);
  EXPECT_EQ(atanCalls, before);
}

// Not symmetric, so that swapped arguments must be told apart.
struct CountingTurn {
  int* calls;
  double operator()(double a, double b) {
    ++*calls;
    return CorrectlyRoundedAtan(a) - 2 * CorrectlyRoundedTan(b);
  }
};

TEST(ExactPairMemo, GivesTheFunctionsOwnBitsForEveryPairOfArguments) {
  int calls = 0;
  ExactPairMemo<CountingTurn, 4> memo(CountingTurn{&calls});  // 16 entries: collisions certain
  const std::vector<double> values = AwkwardArguments(4, 20);
  for (int round = 0; round < 2; ++round) {
    for (double a : values) {
      for (double b : values) {
        ASSERT_TRUE(SameResult(memo(a, b), CorrectlyRoundedAtan(a) - 2 * CorrectlyRoundedTan(b)))
            << std::hexfloat << a << ", " << b;
      }
    }
  }
  // Each argument's sign is part of the key, in either place.
  EXPECT_TRUE(std::signbit(memo(-0.0, 0.0)));
  EXPECT_FALSE(std::signbit(memo(0.0, -0.0)));
  // A repeated pair is answered from the table; the same two the other way
  // round are not.
  memo(0.25, 0.75);
  const int before = calls;
  memo(0.25, 0.75);
  EXPECT_EQ(calls, before);
  memo(0.75, 0.25);
  EXPECT_EQ(calls, before + 1);
}

}  // namespace
}  // namespace reflector
