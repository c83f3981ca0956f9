#include "optimizer/scoring_team.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>

#include "optimizer/evolution.h"

namespace reflector {

namespace {

// Waits for value to leave `from` by looking at it for up to a fifth of a
// millisecond before sleeping: rounds follow each other within tens of
// microseconds, less than a sleeping thread may take to be woken.
template <typename T>
void AwaitChange(const std::atomic<T>& value, T from) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
  for (int look = 1;; ++look) {
    if (value.load(std::memory_order_acquire) != from) return;
#if defined(__x86_64__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
    if (look % 64 == 0 && std::chrono::steady_clock::now() >= until) break;
  }
  value.wait(from, std::memory_order_acquire);
}

}  // namespace

ScoringTeam::ScoringTeam(const SceneSnapshot& scene, int threads, const std::atomic<bool>& stop)
    : snapshot(scene), stopRequested(stop) {
  try {
    for (int i = 1; i < threads; ++i) helpers.emplace_back(&ScoringTeam::Helper, this);
  } catch (...) {
    ending.store(true);
    round.fetch_add(1, std::memory_order_release);
    round.notify_all();
    for (std::thread& helper : helpers) helper.join();
    throw;
  }
}

ScoringTeam::~ScoringTeam() {
  ending.store(true);
  round.fetch_add(1, std::memory_order_release);
  round.notify_all();
  for (std::thread& helper : helpers) helper.join();
}

bool ScoringTeam::Score(Population& scored) {
  jitterFrom.clear();
  bringOver = nullptr;
  return Run(scored);
}

bool ScoringTeam::JitterAndScore(Population& scored, RandomGenerator& generator,
                                 const Population* from) {
  jitterFrom.resize(scored.candidates.size());
  bringOver = from;
  for (std::size_t i = 0; i < scored.candidates.size(); ++i) {
    const bool brought = from && i < from->candidates.size();
    const std::size_t vertices =
        (brought ? from->candidates[i] : scored.candidates[i]).vertices.size();
    jitterFrom[i] = generator.state;
    generator.Skip(2 * std::uint64_t{vertices});
  }
  return Run(scored);
}

bool ScoringTeam::Run(Population& scored) {
  const std::uint32_t next = round.load(std::memory_order_relaxed) + 1;
  population.store(&scored, std::memory_order_relaxed);
  const int count = static_cast<int>(scored.candidates.size());
  candidateCount.store(count, std::memory_order_relaxed);
  finished.store(0, std::memory_order_relaxed);
  stopped.store(false, std::memory_order_relaxed);
  claims.store(std::uint64_t{next} << 32, std::memory_order_release);
  if (!helpers.empty()) {
    round.store(next, std::memory_order_release);
    round.notify_all();
  } else {
    round.store(next, std::memory_order_relaxed);
  }
  TakePart(next, callerTracer);
  // Only candidates a helper has claimed can be left: each is being traced.
  for (int done = finished.load(std::memory_order_acquire); done < count;
       done = finished.load(std::memory_order_acquire)) {
    AwaitChange(finished, done);
  }
  return !stopped.load(std::memory_order_relaxed);
}

void ScoringTeam::TakePart(std::uint32_t ofRound, BeamTracer& tracer) {
  for (;;) {
    std::uint64_t claim = claims.load(std::memory_order_acquire);
    int index = 0;
    do {
      if (static_cast<std::uint32_t>(claim >> 32) != ofRound) return;  // a later round
      index = static_cast<int>(claim & 0xFFFFFFFFu);
      if (index >= candidateCount.load(std::memory_order_relaxed)) return;
    } while (!claims.compare_exchange_weak(claim, claim + 1, std::memory_order_acq_rel));
    // Claimed in this round: the population stays this round's until this
    // candidate is counted finished.
    const int count = candidateCount.load(std::memory_order_relaxed);
    Candidate& candidate =
        population.load(std::memory_order_relaxed)->candidates[static_cast<std::size_t>(index)];
    const auto at = static_cast<std::size_t>(index);
    if (bringOver && at < bringOver->candidates.size()) {
      candidate.vertices = bringOver->candidates[at].vertices;
      candidate.score = bringOver->candidates[at].score;
    }
    if (!jitterFrom.empty()) {
      RandomGenerator generator{jitterFrom[at]};
      MutateCandidate(candidate, generator);
    }
    if (!stopped.load(std::memory_order_relaxed) &&
        !tracer.Evaluate(candidate.vertices, snapshot.source, snapshot.aim, snapshot.target,
                         stopRequested, candidate.rayRecords, candidate.score)) {
      stopped.store(true, std::memory_order_relaxed);
    }
    if (finished.fetch_add(1, std::memory_order_acq_rel) + 1 == count) finished.notify_one();
  }
}

void ScoringTeam::Helper() {
  // Helpers work for the run's worker, at its priority (nice 19).
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
  BeamTracer tracer;
  std::uint32_t seen = 0;
  for (;;) {
    std::uint32_t now = round.load(std::memory_order_acquire);
    while (now == seen) {
      AwaitChange(round, now);
      now = round.load(std::memory_order_acquire);
    }
    seen = now;
    if (ending.load(std::memory_order_acquire)) return;
    TakePart(now, tracer);
  }
}

}  // namespace reflector
