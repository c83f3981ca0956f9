#include "optimizer/reflector_optimizer.h"

#include "optimizer/evolution.h"
#include "threading/scoped_lock.h"
#include "threading/yield_lock.h"

namespace reflector {

namespace {

constexpr int kReplacementsPerGeneration = 5;

}  // namespace

ReflectorOptimizer::ReflectorOptimizer(const SceneSnapshot& sceneSnapshot,
                                       std::uint32_t generations)
    : thread(&ReflectorOptimizer::RunGenerations),
      snapshot(sceneSnapshot),
      generationLimit(generations) {
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

void ReflectorOptimizer::LockState(const Population** populationOut,
                                   const SceneSnapshot** snapshotOut) {
  static_cast<Lockable&>(lock).Lock();
  if (populationOut) *populationOut = &population;
  if (snapshotOut) *snapshotOut = &snapshot;
}

void ReflectorOptimizer::UnlockState() { static_cast<Lockable&>(lock).Unlock(); }

void ReflectorOptimizer::YieldLock(unsigned milliseconds) {
  reflector::YieldLock(lock, milliseconds);
}

void ReflectorOptimizer::RunGenerations() {
  {
    ScopedLock hold(&lock);
    FillPopulation();
  }
  // The fill draws nothing; the generations draw from the process-wide
  // generator, so they wait until every optimiser built before has ended.
  // Readers may look at the filled population meanwhile.
  if (generationLimit > 0 && turn.Wait(thread.StopRequested())) {
    ScopedLock hold(&lock);
    for (std::uint32_t generation = 0; generation < generationLimit; ++generation) {
      // The one moment of a generation at which a reader can take the lock.
      YieldLock(0);
      MutatePopulation();
      bool stopped = false;
      for (int i = 0; i < kPopulationSize && !stopped; ++i) stopped = !EvaluateCandidate(i);
      if (stopped) break;
      for (int i = 0; i < kReplacementsPerGeneration; ++i) ReplaceWorstWithBest();
      completedGenerations.store(generation + 1);
    }
  }
  turn.End();
  done.store(true);
}

void ReflectorOptimizer::FillPopulation() { reflector::FillPopulation(population, snapshot); }

void ReflectorOptimizer::MutatePopulation() { reflector::MutatePopulation(population); }

bool ReflectorOptimizer::EvaluateCandidate(int candidateIndex) {
  Candidate& candidate = population.candidates[candidateIndex];
  return tracer.Evaluate(candidate.vertices, snapshot.source, snapshot.aim, snapshot.target,
                         thread.StopRequested(), candidate.rayRecords, candidate.score);
}

void ReflectorOptimizer::ReplaceWorstWithBest() { reflector::ReplaceWorstWithBest(population); }

}  // namespace reflector
