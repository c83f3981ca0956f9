#pragma once

#include <atomic>
#include <cstdint>

#include "optimizer/generator_turn.h"
#include "optimizer/population.h"
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
// Thread safety: the worker writes the population only while it holds the
// lock, which it gives up once per generation; readers take the lock with
// LockState. The snapshot never changes after construction. Destroy the
// optimiser on a thread that does not hold its lock, and never on its worker.
class ReflectorOptimizer : public virtual RefCounted {
 public:
  static constexpr std::uint32_t kDefaultGenerationLimit = 100000;

  // Copies the snapshot and starts the worker, which runs generationLimit
  // generations (0: fill the population and stop).
  explicit ReflectorOptimizer(const SceneSnapshot& snapshot,
                              std::uint32_t generationLimit = kDefaultGenerationLimit);
  ReflectorOptimizer(const ReflectorOptimizer&) = delete;
  ReflectorOptimizer& operator=(const ReflectorOptimizer&) = delete;

  // Stops and joins the worker first: it notices at its next ray.
  ~ReflectorOptimizer() override;

  // Asks the worker to stop without waiting for it; the destructor still
  // joins. See RetireOptimizer, which destroys it on another thread.
  void RequestStop();

  // Takes the lock, then hands out the population and the snapshot through the
  // outputs that are not null. Read them, then call UnlockState.
  void LockState(const Population** populationOut, const SceneSnapshot** snapshotOut);
  void UnlockState();

  // Progress, readable without the lock.
  std::uint32_t CompletedGenerations() const { return completedGenerations.load(); }
  // The worker has returned: the run is complete (or was stopped).
  bool Done() const { return done.load(); }

 private:
  // The worker's routine: fills the population, waits for its generator turn
  // without the lock, then holds the lock for the generations, giving it up
  // only between them.
  void RunGenerations();
  void YieldLock(unsigned milliseconds);
  void FillPopulation();
  void MutatePopulation();
  bool EvaluateCandidate(int candidateIndex);
  void ReplaceWorstWithBest();

  WorkerThread<ReflectorOptimizer> thread;
  CriticalSectionLock lock;
  Population population;
  SceneSnapshot snapshot;
  GeneratorTurn turn;  // taken at construction, before the worker starts
  BeamTracer tracer;   // the worker's own
  const std::uint32_t generationLimit;
  std::atomic<std::uint32_t> completedGenerations{0};
  std::atomic<bool> done{false};
};

}  // namespace reflector
