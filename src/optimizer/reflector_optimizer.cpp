#include "optimizer/reflector_optimizer.h"

#include <algorithm>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "geometry/random.h"
#include "optimizer/evolution.h"
#include "optimizer/scoring_team.h"
#include "threading/scoped_lock.h"

namespace reflector {

namespace {

constexpr int kReplacementsPerGeneration = 5;

// Measured with bench/threads_bench.sh: below this many vertices a second
// thread does not pay for the hand-over.
constexpr std::size_t kTeamFromVertices = 12;

}  // namespace

ReflectorOptimizer::ReflectorOptimizer(const SceneSnapshot& sceneSnapshot,
                                       std::uint32_t generations, std::optional<RunStart> resume,
                                       bool keepRewind,
                                       std::optional<std::uint32_t> startState, int threads)
    : thread(&ReflectorOptimizer::RunGenerations),
      snapshot(sceneSnapshot),
      generationLimit(generations),
      resumed(resume.has_value()),
      generatorState(startState),
      scoringThreads(ScoringThreadsFor(sceneSnapshot, threads)) {
  if (resume) {
    // Readers see the resumed population at once, not an empty one until the
    // worker first runs: a run captured again before then (undo, then redo at
    // once) keeps everything it goes on from.
    population = std::move(resume->population);
    record = std::move(resume->record);
    // A history that does not reach the resumed generation starts afresh after it.
    if (record.firstGeneration + record.history.size() != record.completedGenerations + 1) {
      record.firstGeneration = record.completedGenerations + 1;
      record.history.clear();
      record.rewind.Clear();
    }
    completedGenerations.store(record.completedGenerations);
  }
  record.keepRewind = keepRewind;
  if (!keepRewind) record.rewind.Clear();
  // Last: the worker may start reading before this constructor returns.
  thread.Start(this);
}

ReflectorOptimizer::~ReflectorOptimizer() {
  // First: the worker reads the snapshot and writes the population until it ends.
  thread.Stop();
}

void ReflectorOptimizer::RequestStop() {
  thread.RequestStop();
  // A worker still waiting for its turn gives it up at once.
  GeneratorTurn::Wake();
}

bool ReflectorOptimizer::StopBeforeStart() {
  RequestStop();
  return thread.CancelUnstarted();
}

void ReflectorOptimizer::LockState(const Population** populationOut,
                                   const SceneSnapshot** snapshotOut, const RunRecord** recordOut) {
  static_cast<Lockable&>(lock).Lock();
  if (populationOut) *populationOut = &population;
  if (snapshotOut) *snapshotOut = &snapshot;
  if (recordOut) *recordOut = &record;
}

void ReflectorOptimizer::UnlockState() { static_cast<Lockable&>(lock).Unlock(); }

std::size_t ReflectorOptimizer::TakeHistory(std::vector<GenerationScores>& rows,
                                            std::uint32_t& firstGeneration) {
  ScopedLock hold(&lock);
  const std::size_t count = record.history.size();
  firstGeneration = record.firstGeneration;
  rows.insert(rows.end(), record.history.begin(), record.history.end());
  record.history.clear();
  record.rewind.Clear();
  record.firstGeneration = record.completedGenerations + 1;
  return count;
}

void ReflectorOptimizer::RunGenerations() {
  std::uint32_t first = 0;
  bool stopped = false;
  // Built on the worker's own copy like every generation, so that a reader
  // waits only for the swap, not for the fill or for the resumed rays.
  {
    if (resumed) {
      first = record.completedGenerations;  // the worker alone writes it
      working = population;  // only this thread writes it: read unlocked
      // Scores come with the population; the rays are traced again, for
      // painting. Tracing draws nothing from the generator.
      if (first > 0) {
        const int n = static_cast<int>(working.candidates.size());
        std::vector<double> scores;
        for (const Candidate& candidate : working.candidates) scores.push_back(candidate.score);
        for (int i = 0; i < n && !stopped; ++i) stopped = !EvaluateCandidate(working, i);
        // Stopped half way, the rays are not all there, but the scores must
        // stay whole: the run may be saved from here.
        if (stopped) {
          for (int i = 0; i < n; ++i) working.candidates[static_cast<std::size_t>(i)].score = scores[static_cast<std::size_t>(i)];
        }
      }
    } else {
      reflector::FillPopulation(working, snapshot);
    }
    ScopedLock hold(&lock);
    std::swap(population, working);
  }
  // The fill draws nothing; the generations draw from the process-wide
  // generator, so they wait until every optimiser built before has ended.
  // Readers may look at the filled population meanwhile.
  if (!stopped && generationLimit > first && turn.Wait(thread.StopRequested())) {
    // Only now is the generator this run's own to set.
    if (generatorState) SetRandomState(*generatorState);
    {
      ScopedLock hold(&lock);
      if (!record.startState) record.startState = RandomState();
      record.boundaryState = RandomState();
      if (record.keepRewind) record.rewind.Start(population, first, RandomState());
      // Enough for a short run; a long one grows it, or has its rows taken.
      record.history.reserve(std::min<std::uint32_t>(generationLimit - first, 1u << 14));
    }
    // Helpers, if any, for this run only: they end before the turn does.
    std::optional<ScoringTeam> team;
    if (scoringThreads > 1) {
      try {
        team.emplace(snapshot, scoringThreads, thread.StopRequested());
      } catch (const std::system_error&) {
        // No thread to be had: the worker alone gives the same bits.
      }
    }
    // Only this thread writes the population, so it may read it unlocked.
    working = population;
    // With helpers, each candidate is brought over from the published
    // generation by the thread that scores it next.
    bool broughtOver = true;
    for (std::uint32_t generation = first; generation < generationLimit; ++generation) {
      if (stopAtBoundary.load()) break;
      // The clock only for a paced run: a pace set during this generation
      // takes effect from the next.
      const auto began =
          pace.load() > 0 ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
      // The generation runs on the worker's own copy, without the lock: a
      // reader never waits for a generation, however slowly this low-priority
      // thread gets through one. A generation stopped half way is dropped.
      if (team) {
        RandomGenerator generator{RandomState()};
        stopped = !team->JitterAndScore(working, generator, broughtOver ? nullptr : &population);
        SetRandomState(generator.state);
      } else {
        reflector::MutatePopulation(working);
        for (int i = 0; i < kPopulationSize && !stopped; ++i) stopped = !EvaluateCandidate(working, i);
      }
      if (stopped) break;
      Survivors survivors;
      reflector::SelectSurvivors(working, kReplacementsPerGeneration,
                                 record.keepRewind ? &survivors : nullptr);
      PublishGeneration(generation + 1, survivors);
      if (pace.load() > 0) WaitForPace(began);
      // The next generation starts from the one just published. Every
      // candidate's rays are traced again, so the vertices and scores are
      // all that must be brought over.
      working.bestIndex = population.bestIndex;
      if (team) {
        broughtOver = false;  // by the threads, as they take their candidates
        continue;
      }
      for (int i = 0; i < kPopulationSize; ++i) {
        const std::size_t at = static_cast<std::size_t>(i);
        working.candidates[at].vertices = population.candidates[at].vertices;
        working.candidates[at].score = population.candidates[at].score;
      }
    }
  }
  turn.End();
  {
    // Under the mutex, so that a waiter between its look and its wait
    // cannot miss the notification. Destruction waits for this routine to
    // return, so the condition outlives the notification.
    std::lock_guard<std::mutex> guard(doneMutex);
    done.store(true);
  }
  doneChanged.notify_all();
}

bool ReflectorOptimizer::WaitUntilDone(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(doneMutex);
  return doneChanged.wait_for(hold, timeout, [this] { return done.load(); });
}

void ReflectorOptimizer::WaitForPace(std::chrono::steady_clock::time_point began) {
  // Read again at every slice: a new pace acts at once, a long wait at 1
  // generation a second included.
  constexpr auto kSlice = std::chrono::milliseconds(20);
  for (;;) {
    const std::uint32_t perSecond = pace.load();
    if (perSecond == 0 || thread.StopRequested().load() || stopAtBoundary.load()) return;
    const auto due = began + std::chrono::nanoseconds(1000000000 / perSecond);
    const auto now = std::chrono::steady_clock::now();
    if (now >= due) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(due - now, kSlice));
  }
}

// The one moment of a generation at which the worker holds the lock: the
// finished generation becomes the one readers see (a swap of two vectors),
// and the record takes note of it.
void ReflectorOptimizer::PublishGeneration(std::uint32_t completed, const Survivors& survivors) {
  ScopedLock hold(&lock);
  std::swap(population, working);
  record.history.push_back(RecordGeneration(population, completed, record.bestEver));
  record.completedGenerations = completed;
  // The worker is the generator's only user while it runs generations.
  record.boundaryState = RandomState();
  if (record.keepRewind) record.rewind.Record(population, survivors, completed, RandomState());
  completedGenerations.store(completed);
}

bool ReflectorOptimizer::EvaluateCandidate(Population& into, int candidateIndex) {
  Candidate& candidate = into.candidates[static_cast<std::size_t>(candidateIndex)];
  if (!tracer) {
    // Without memory for it the run stops here, as if asked to: what it has
    // done so far stays whole.
    tracer.reset(new (std::nothrow) BeamTracer);
    if (!tracer) return false;
  }
  return tracer->Evaluate(candidate.vertices, snapshot.source, snapshot.aim, snapshot.target,
                         thread.StopRequested(), candidate.rayRecords, candidate.score);
}

int ScoringThreadsFor(const SceneSnapshot& snapshot, int threads) {
  if (threads <= 1 || snapshot.vertices.size() < kTeamFromVertices) return 1;
  return std::min(threads, kPopulationSize);
}

OptimizerState CopyState(ReflectorOptimizer& optimizer) {
  const Population* population = nullptr;
  const SceneSnapshot* snapshot = nullptr;
  const RunRecord* record = nullptr;
  optimizer.LockState(&population, &snapshot, &record);
  OptimizerState copy{*population, *snapshot, *record};
  optimizer.UnlockState();
  return copy;
}

}  // namespace reflector
