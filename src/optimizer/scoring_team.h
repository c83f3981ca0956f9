#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "geometry/random.h"
#include "optimizer/population.h"
#include "optimizer/scene_snapshot.h"
#include "tracing/beam_tracer.h"

namespace reflector {

// Scores a generation's candidates on several threads: the caller's and a
// few helpers kept for the whole run. Each candidate is traced by exactly one
// thread with a tracer of its own, and a score depends only on the candidate
// and the scene, so the population comes out with the bits one thread gives.
//
//   ScoringTeam team(snapshot, 2, stop);   // the caller and one helper
//   if (!team.Score(population)) { ... stopped ... }
//
// Work is claimed a candidate at a time, and the caller claims too: it never
// waits for a helper that has not started, only for candidates a helper is
// already tracing. So a team whose helpers the scheduler is slow to wake is
// no slower than the caller alone, give or take the candidate in hand.
//
// Thread safety: Score belongs to the thread that built the team, one call
// at a time; the helpers touch the population only inside a call.
class ScoringTeam {
 public:
  // threads counts the caller: threads - 1 helpers are started (none for 1).
  // Throws std::system_error when no thread can be created.
  ScoringTeam(const SceneSnapshot& snapshot, int threads, const std::atomic<bool>& stopRequested);
  ~ScoringTeam();  // Ends and joins the helpers.
  ScoringTeam(const ScoringTeam&) = delete;
  ScoringTeam& operator=(const ScoringTeam&) = delete;

  // Traces every candidate of the population (rays and score). False when a
  // stop was seen: the scores are then not all there.
  bool Score(Population& population);

  // MutatePopulation then Score, with the jitter spread over the threads as
  // well: each candidate's draws start where the generator would be after
  // the candidates before it (RandomGenerator::Skip), so every vertex gets
  // the draw it gets on one thread. The generator ends past them all, stop
  // or not. With bringOver, each candidate first takes the vertices and score
  // of the one at its index there (on the thread that scores it; bringOver is
  // only read).
  bool JitterAndScore(Population& population, RandomGenerator& generator,
                      const Population* bringOver = nullptr);

  int threads() const { return static_cast<int>(helpers.size()) + 1; }

 private:
  bool Run(Population& population);
  // Claims and traces candidates of the round until none is left.
  void TakePart(std::uint32_t round, BeamTracer& tracer);
  void Helper();

  const SceneSnapshot& snapshot;
  const std::atomic<bool>& stopRequested;
  BeamTracer callerTracer;
  // The round's, written before it is announced. Atomic only because a
  // helper late for the last round may read them as the next one begins.
  std::atomic<Population*> population{nullptr};
  std::atomic<int> candidateCount{0};
  // Where each candidate's jitter starts in the generator's sequence; empty:
  // the round only scores.
  std::vector<std::uint32_t> jitterFrom;
  const Population* bringOver = nullptr;  // the round's, if any
  // The round in the high half, the next unclaimed candidate in the low: a
  // helper that wakes late cannot claim in a round that is not the one it saw.
  std::atomic<std::uint64_t> claims{0};
  std::atomic<std::uint32_t> round{0};  // helpers sleep on it
  std::atomic<int> finished{0};         // candidates of the round done; the caller sleeps on it
  std::atomic<bool> stopped{false};
  std::atomic<bool> ending{false};
  std::vector<std::thread> helpers;
};

}  // namespace reflector
