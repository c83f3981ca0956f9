#include "formats/checkpoint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "formats/result_json.h"
#include "tracing/beam_tracer.h"

namespace reflector {
namespace {

// What the vertices score on the sample's scene.
double ScoreOf(const Checkpoint& c, const std::vector<Point2>& vertices) {
  BeamTracer tracer;
  const std::atomic<bool> noStop{false};
  std::vector<RayRecord> records;
  double score = 0.0;
  tracer.Evaluate(vertices, c.scene.source, c.scene.aim, c.scene.target, noStop, records, score);
  return score;
}

// A checkpoint that agrees with itself, as a run writes them: every score is
// its vertices' on the scene, bestIndex names the first best, and the best
// ever is it. Candidate 0's vertices are awkward doubles, for the round trip.
Checkpoint Sample(std::uint32_t generations) {
  Checkpoint c;
  c.scene.reflector = {{494, 52}, {494.5, 105}};
  c.seed = 42;
  c.generations = generations;
  c.generationLimit = 5000;
  c.randomState = 0x9e3779b9u;
  std::mt19937_64 gen(generations);
  std::uniform_real_distribution<double> d(30, 60);
  c.population.candidates.resize(10);
  for (Candidate& candidate : c.population.candidates) {
    candidate.vertices = {{494 + d(gen), 52 - d(gen)}, {494.5 - d(gen), 105 + d(gen)}};
  }
  c.population.candidates[0].vertices = {{1e-300, -0.0}, {123456.789, 5e-324}};
  if (generations) {
    int best = 0;
    for (int i = 0; i < 10; ++i) {
      Candidate& candidate = c.population.candidates[i];
      candidate.score = ScoreOf(c, candidate.vertices);
      if (candidate.score < c.population.candidates[best].score) best = i;
    }
    c.population.bestIndex = best;
    const Candidate& winner = c.population.candidates[best];
    c.bestEver = BestEver{winner.score, generations, winner.vertices};
  }
  return c;
}

std::string ErrorOf(const std::string& text) {
  Checkpoint c;
  std::string error;
  EXPECT_FALSE(ParseCheckpoint(text, "run.ckpt", c, error)) << text;
  return error;
}

// The same FNV-1a 64 the format documents, for editing a checkpoint by hand.
std::string Resealed(std::string text) {
  const std::size_t at = text.rfind(", \"checksum\": \"");
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (std::size_t i = 0; i < at; ++i) {
    hash ^= static_cast<unsigned char>(text[i]);
    hash *= 0x100000001b3u;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return text.replace(at + 15, 16, hex);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(Checkpoint, ReadsBackToIdenticalBytesAndValues) {
  for (std::uint32_t generations : {0u, 1u, 4321u}) {
    const Checkpoint original = Sample(generations);
    const std::string text = CheckpointToText(original);
    Checkpoint back;
    std::string error;
    ASSERT_TRUE(ParseCheckpoint(text, "run.ckpt", back, error)) << error << "\n" << text;
    EXPECT_EQ(CheckpointToText(back), text);
    EXPECT_EQ(back.scene, original.scene);
    EXPECT_EQ(back.seed, original.seed);
    EXPECT_EQ(back.generations, original.generations);
    EXPECT_EQ(back.generationLimit, original.generationLimit);
    EXPECT_EQ(back.randomState, original.randomState);
    EXPECT_EQ(back.bestEver, original.bestEver);
    EXPECT_EQ(back.population.bestIndex, original.population.bestIndex);
    for (int i = 0; i < 10; ++i) {
      const Candidate& a = original.population.candidates[i];
      const Candidate& b = back.population.candidates[i];
      EXPECT_EQ(std::memcmp(&a.score, &b.score, sizeof a.score), 0) << i;
      EXPECT_EQ(a.vertices, b.vertices);
    }
  }
  // A score JSON cannot hold is written as null; read back, it is NaN, which
  // no finite score of the vertices matches.
  Checkpoint odd = Sample(3);
  odd.population.candidates[2].score = std::numeric_limits<double>::infinity();
  const std::string text = CheckpointToText(odd);
  EXPECT_NE(text.find("{\"score\": null, \"vertices\""), std::string::npos);
  EXPECT_NE(ErrorOf(text).find("the \"score\" of candidate 2 is not what its vertices score"),
            std::string::npos);
}

// Hand-edited files resealed with a new checksum, whose numbers a run never
// made: each is refused with the field it got wrong, before a run goes on.
TEST(Checkpoint, RefusesScoresThatContradictTheScene) {
  const Checkpoint sample = Sample(4321);
  const std::string text = CheckpointToText(sample);
  Checkpoint back;
  std::string error;
  ASSERT_TRUE(ParseCheckpoint(text, "run.ckpt", back, error)) << error;

  auto scoreText = [](double score) { return "{\"score\": " + FormatDouble(score); };
  const int bestIndex = sample.population.bestIndex;
  const int otherIndex = bestIndex == 7 ? 8 : 7;
  const double best = sample.population.candidates[bestIndex].score;
  const double other = sample.population.candidates[otherIndex].score;
  ASSERT_LT(best, other);
  // A candidate's score edited: it no longer is what its vertices score.
  EXPECT_NE(ErrorOf(Resealed(Replace(text, "\n  " + scoreText(other), "\n  " + scoreText(best))))
                .find("the \"score\" of candidate " + std::to_string(otherIndex) +
                      " is not what its vertices score on this scene (" + FormatDouble(other) + ")"),
            std::string::npos);
  // bestIndex naming a candidate that is not the best.
  EXPECT_NE(ErrorOf(Resealed(Replace(text, "\"bestIndex\": " + std::to_string(bestIndex),
                                     "\"bestIndex\": " + std::to_string(otherIndex))))
                .find("\"bestIndex\" " + std::to_string(otherIndex) + " is not the best: candidate " +
                      std::to_string(bestIndex) + " scores lower"),
            std::string::npos);
  // A best-ever score no mirror of the run reached.
  EXPECT_NE(ErrorOf(Resealed(Replace(text, "\"bestEver\": " + scoreText(best),
                                     "\"bestEver\": {\"score\": 0")))
                .find("the \"score\" of \"bestEver\" is not what its vertices score on this "
                      "scene"),
            std::string::npos);
  // The scene moved under the candidates.
  EXPECT_NE(ErrorOf(Resealed(Replace(text, "\"target\": [250, 200]", "\"target\": [250, 201]")))
                .find("is not what its vertices score on this scene"),
            std::string::npos);
}

TEST(Checkpoint, WritesTheStoredLayout) {
  Checkpoint c;
  c.scene.reflector = {{1, 2.5}};
  c.generationLimit = 10;
  c.population.candidates.resize(10);
  for (Candidate& candidate : c.population.candidates) candidate.vertices = {{0.1, -3}};
  const std::string text = CheckpointToText(c);
  const std::string row = "  {\"score\": null, \"vertices\": [[0.1, -3]]}";
  std::string rows;
  for (int i = 0; i < 10; ++i) rows += (i ? ",\n" : "\n") + row;
  EXPECT_EQ(text.substr(0, text.rfind(", \"checksum\"")),
            "{\"format\": \"reflector-checkpoint\", \"version\": \"" REFLECTOR_VERSION
            "\", \"numerics\": \"IEEE 754 double, correctly rounded atan and tan\", "
            "\"generations\": 0, \"generationLimit\": 10, \"seed\": 1, \"randomState\": 1, "
            "\"scene\": {\"reflector\": [[1, 2.5]], \"source\": [150, 200], \"aim\": [500, 200], "
            "\"target\": [250, 200]}, \"bestIndex\": -1, \"bestEver\": null, \"candidates\": [" +
                rows + "\n]");
  EXPECT_EQ(Resealed(text), text);
  EXPECT_EQ(text.size() - text.rfind(", \"checksum\""), std::string(", \"checksum\": \"\"}\n").size() + 16);
}

TEST(Checkpoint, RefusesDamagedForeignAndInconsistentFiles) {
  const Checkpoint sample = Sample(4321);
  const std::string text = CheckpointToText(sample);

  // Damage: a flipped digit, a cut, a missing checksum.
  std::string flipped = text;
  const std::size_t digit = flipped.find("\"randomState\": ") + 15;
  flipped[digit] = flipped[digit] == '1' ? '2' : '1';
  EXPECT_EQ(ErrorOf(flipped), "run.ckpt: damaged checkpoint: checksum does not match");
  EXPECT_EQ(ErrorOf(text.substr(0, text.size() / 2)).rfind("run.ckpt:", 0), 0u);
  EXPECT_NE(ErrorOf(text.substr(0, text.size() / 2)).find("damaged checkpoint: not valid JSON"),
            std::string::npos);
  EXPECT_EQ(ErrorOf(text.substr(0, text.rfind(", \"checksum\"")) + "}"),
            "run.ckpt: damaged checkpoint: no checksum");
  EXPECT_EQ(ErrorOf(Replace(text, "\"}\n", "\", \"x\": 1}\n")),
            "run.ckpt: damaged checkpoint: checksum does not match");

  // Not this program's checkpoint.
  EXPECT_EQ(ErrorOf(Resealed(Replace(text, "\"version\": \"" REFLECTOR_VERSION "\"",
                                     "\"version\": \"7.3\""))),
            "run.ckpt: checkpoint from reflector 7.3, this is reflector " REFLECTOR_VERSION);
  // 0.1 took atan and tan from the C library (and wrote no "numerics"): its
  // runs cannot go on here with the numbers they began with; the message
  // says so and what to do.
  const std::string earlier =
      Resealed(Replace(Replace(text, "\"version\": \"" REFLECTOR_VERSION "\"", "\"version\": \"0.1\""),
                       ", \"numerics\": \"IEEE 754 double, correctly rounded atan and tan\"", ""));
  EXPECT_EQ(ErrorOf(earlier),
            "run.ckpt: checkpoint from reflector 0.1, this is reflector " REFLECTOR_VERSION
            ", which computes atan and tan correctly rounded where 0.1 took the C library's, so "
            "the run cannot continue as it began: resume it with reflector 0.1, or start it "
            "again from its scene (--scene)");
  EXPECT_EQ(ErrorOf(Resealed(Replace(text, "correctly rounded atan and tan", "libm"))),
            "run.ckpt: checkpoint made with the numerics \"IEEE 754 double, libm\", this build's "
            "are \"IEEE 754 double, correctly rounded atan and tan\": the run cannot continue as "
            "it began; start it again from its scene (--scene)");
  EXPECT_EQ(ErrorOf(Resealed(Replace(text, ", \"numerics\": \"IEEE 754 double, correctly rounded "
                                           "atan and tan\"",
                                     ""))),
            "run.ckpt: damaged checkpoint: no \"numerics\"");
  EXPECT_EQ(ErrorOf(R"({"reflector": []})"),
            "run.ckpt: not a checkpoint (no \"format\": \"reflector-checkpoint\")");
  EXPECT_EQ(ErrorOf(R"({"candidates": [], "scene": {"reflector": []}})"),
            "run.ckpt: this is a result, not a checkpoint (a result can start a run as its scene)");

  // Edited and resealed, but inconsistent.
  const std::string lastCandidate = text.substr(text.rfind(",\n  {\"score\""));
  const std::string nine =
      Resealed(Replace(text, lastCandidate.substr(0, lastCandidate.find("\n]")), ""));
  EXPECT_EQ(ErrorOf(nine).substr(0, 9), "run.ckpt:");
  EXPECT_NE(ErrorOf(nine).find(": \"candidates\" must be an array of 10 candidates, not 9"),
            std::string::npos)
      << ErrorOf(nine);
  const std::string bestIndex = "\"bestIndex\": " + std::to_string(sample.population.bestIndex);
  EXPECT_NE(ErrorOf(Resealed(Replace(text, bestIndex, "\"bestIndex\": 10")))
                .find("\"bestIndex\" 10 is out of range (-1 to 9)"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Resealed(Replace(text, bestIndex, "\"bestIndex\": -1")))
                .find("\"bestIndex\" is -1 after a generation"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Resealed(Replace(text, "\"generationLimit\": 5000", "\"generationLimit\": 4000")))
                .find("\"generations\" 4321 is beyond \"generationLimit\" 4000"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Resealed(Replace(text, "\"reflector\": [[494, 52], [494.5, 105]]",
                                     "\"reflector\": [[494, 52]]")))
                .find("the \"vertices\" of \"bestEver\" has 2 vertices, the scene's reflector 1"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Resealed(Replace(text, "\"seed\": 42", "\"seed\": 4294967296")))
                .find("\"seed\" 4294967296 is out of range (0 to 4294967295)"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Resealed(Replace(text, "\"generation\": 4321", "\"generation\": 4322")))
                .find("the \"generation\" of \"bestEver\" 4322 is out of range (1 to 4321)"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Resealed(Replace(text, "\"seed\": 42, ", ""))).find("has no \"seed\""),
            std::string::npos);
  for (const std::string& error : {ErrorOf(nine), ErrorOf(flipped)}) {
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

// A large file is refused by its checksum before it is parsed (parsing takes
// many times a file's size in memory): one shaped like a checkpoint but
// damaged, and one with no checksum at all.
TEST(Checkpoint, RefusesALargeFileByItsChecksumBeforeParsing) {
  const std::string text = CheckpointToText(Sample(7));
  const std::string padding(8 << 20, ' ');
  const std::string padded = Replace(text, "\"candidates\": [", "\"candidates\": [" + padding);
  EXPECT_EQ(ErrorOf(padded), "run.ckpt: damaged checkpoint: checksum does not match");
  Checkpoint back;
  std::string error;
  EXPECT_TRUE(ParseCheckpoint(Resealed(padded), "run.ckpt", back, error)) << error;
  EXPECT_EQ(ErrorOf("[" + padding + "]"), "run.ckpt: not a checkpoint (no checksum at its end)");
}

TEST(Checkpoint, LoadsAFile) {
  const std::string path = ::testing::TempDir() + "checkpoint_test.ckpt";
  const Checkpoint original = Sample(9);
  std::ofstream(path, std::ios::binary) << CheckpointToText(original);
  Checkpoint back;
  std::string error;
  ASSERT_TRUE(LoadCheckpointFile(path, back, error)) << error;
  std::remove(path.c_str());
  EXPECT_EQ(CheckpointToText(back), CheckpointToText(original));
  EXPECT_FALSE(LoadCheckpointFile(path, back, error));
  EXPECT_EQ(error, path + ": cannot open: No such file or directory");
}

}  // namespace
}  // namespace reflector
