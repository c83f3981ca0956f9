#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "optimizer/generator_turn.h"
#include "optimizer/population.h"
#include "optimizer/run_record.h"
#include "optimizer/scene_snapshot.h"
#include "threading/critical_section_lock.h"
#include "threading/ref_counted.h"
#include "threading/worker_thread.h"
#include "tracing/beam_tracer.h"

namespace reflector {

// One optimisation run: a private copy of the scene, a population of ten
// candidate reflectors, and a worker thread that evolves them generation after
// generation until the generation limit, or until the optimiser is destroyed.
//
//   RefPtr<ReflectorOptimizer> current;
//   current.Adopt(new ReflectorOptimizer(snapshot));   // the worker starts
//   const Population* population = nullptr;
//   current->LockState(&population, nullptr);          // between two generations
//   ... read *population, never write it ...
//   current->UnlockState();
//   current.Reset();                                   // stops and joins the worker
//
// Thread safety: readers take the lock with LockState and see the population
// as the last complete generation left it. The worker runs each generation on
// a copy of its own and holds the lock only to swap the finished generation
// in, so a reader never waits for a generation to be computed. The snapshot
// never changes after construction. Destroy the optimiser on a thread that
// does not hold its lock, and never on its worker.
// Where a resumed run continues from: the population as an earlier run left it
// after record.completedGenerations generations (scored when that is above 0),
// and that run's record: the best it had seen and whatever history it kept.
// The generator must stand where that run left it.
struct RunStart {
  Population population;
  RunRecord record;
};

class ReflectorOptimizer : public virtual RefCounted {
 public:
  static constexpr std::uint32_t kDefaultGenerationLimit = 100000;

  // Copies the snapshot and starts the worker, which fills the population (or
  // takes the one resumed from) and runs generations until generationLimit
  // generations are complete in all (0: fill the population and stop).
  // Throws std::system_error when no thread can be created.
  // keepRewind records what the window's rewind needs to show any
  // generation's best again; the headless runner does without.
  // startState, when given, is set as the generator's state once this run's
  // turn to draw has come (so an old worker still finishing is not disturbed);
  // otherwise the run continues the generator where the runs before it left it.
  // threads: how many threads score a generation's candidates (the worker
  // and threads - 1 helpers kept for the run), where the mirror is large
  // enough for that to pay (ScoringThreadsFor); the bits are the same.
  explicit ReflectorOptimizer(const SceneSnapshot& snapshot,
                              std::uint32_t generationLimit = kDefaultGenerationLimit,
                              std::optional<RunStart> resumeFrom = std::nullopt,
                              bool keepRewind = false,
                              std::optional<std::uint32_t> startState = std::nullopt,
                              int threads = 1);
  ReflectorOptimizer(const ReflectorOptimizer&) = delete;
  ReflectorOptimizer& operator=(const ReflectorOptimizer&) = delete;

  // Stops and joins the worker first: it notices at its next ray.
  ~ReflectorOptimizer() override;

  // Asks the worker to stop without waiting for it; the destructor still
  // joins. See RetireOptimizer, which destroys it on another thread.
  void RequestStop();

  // Asks the worker to stop; when it has not even started (all pool threads
  // busy), it never will, and true is returned: destroying the optimiser then
  // waits for nothing. Call it on the thread that built the optimiser.
  bool StopBeforeStart();

  // Takes the lock, then hands out the population, the snapshot and the run's
  // record through the outputs that are not null. Read them, then call
  // UnlockState.
  void LockState(const Population** populationOut, const SceneSnapshot** snapshotOut,
                 const RunRecord** recordOut = nullptr);
  void UnlockState();

  // Moves the rows recorded since the last call to the end of rows, with the
  // generation of the first of them; the record then holds none, so that a
  // run whose rows are written out as they come keeps no more than a few.
  // Returns how many were moved.
  std::size_t TakeHistory(std::vector<GenerationScores>& rows, std::uint32_t& firstGeneration);

  // Asks the worker to stop before its next generation begins, leaving the
  // population, the record and the generator as a complete generation left
  // them, ready to be resumed with the same bits. Returns at once; Done()
  // tells when the worker has stopped.
  void StopAtGenerationBoundary() { stopAtBoundary.store(true); }

  // At most this many generations a second from now on (0: as fast as it
  // goes), for watching a run. The worker waits between generations, in
  // short sleeps that a stop ends; waiting changes no bit.
  void SetPace(std::uint32_t generationsPerSecond) { pace.store(generationsPerSecond); }

  // Threads waiting in LockState, the worker included when it waits to
  // publish a generation. For tests that hold a worker still.
  int LockWaiters() const { return lock.WaitingCount(); }

  // Progress, readable without the lock.
  std::uint32_t CompletedGenerations() const { return completedGenerations.load(); }
  // The worker has returned: the run is complete (or was stopped).
  bool Done() const { return done.load(); }
  // Waits until Done() or for the timeout, whichever comes first; returns
  // Done(). A waiting caller learns of the end at once, not at its next look.
  // The worker holds the mutex only to say it is done; still, not for the
  // window's thread, which never waits on a worker.
  bool WaitUntilDone(std::chrono::milliseconds timeout);

 private:
  // The worker's routine: fills the population, waits for its generator turn
  // without the lock, then runs each generation on its own copy and takes the
  // lock only to publish the finished one.
  void RunGenerations();
  bool EvaluateCandidate(Population& into, int candidateIndex);
  void PublishGeneration(std::uint32_t completed, const Survivors& survivors);

  WorkerThread<ReflectorOptimizer> thread;
  CriticalSectionLock lock;
  Population population;  // what readers see: the last complete generation
  Population working;     // the worker's own, for the generation under way
  SceneSnapshot snapshot;
  GeneratorTurn turn;  // taken at construction, before the worker starts
  // The worker's own, made when it first traces: a run retired before its
  // worker starts (a restart storm makes thousands) costs no tracer.
  std::unique_ptr<BeamTracer> tracer;
  const std::uint32_t generationLimit;
  const bool resumed;  // the population came from a RunStart; its rays are traced again
  RunRecord record;  // guarded by the lock, like the population
  const std::optional<std::uint32_t> generatorState;
  const int scoringThreads;
  std::atomic<std::uint32_t> completedGenerations{0};
  std::atomic<bool> done{false};
  std::mutex doneMutex;  // for WaitUntilDone's waits on doneChanged
  std::condition_variable doneChanged;
  std::atomic<bool> stopAtBoundary{false};
  std::atomic<std::uint32_t> pace{0};
  // Waits, after a generation begun at began, until the pace allows the
  // next one (or a stop comes).
  void WaitForPace(std::chrono::steady_clock::time_point began);
};

// The threads worth scoring a generation with, at most `threads`: one for a
// mirror so small that a generation takes tens of microseconds, where
// handing candidates to another thread costs more than it saves.
int ScoringThreadsFor(const SceneSnapshot& snapshot, int threads);

// A copy of everything a reader may see, taken under the optimiser's lock:
// where a finished or paused run is saved or continued from.
struct OptimizerState {
  Population population;
  SceneSnapshot snapshot;
  RunRecord record;
};
OptimizerState CopyState(ReflectorOptimizer& optimizer);

}  // namespace reflector
