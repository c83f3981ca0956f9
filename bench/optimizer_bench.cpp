// How fast generations run, and how long the window's thread waits for the
// optimiser. One run prints, side by side:
//   - generations per second on each bench scene with the reference evaluator
//     and with the fast tracer the optimiser runs, in the same loop on this
//     thread, and their ratio; and the optimiser's own worker on the scene;
//   - restart latency (retire the running optimiser, build a new one), idle and
//     with two CPU-bound threads at normal priority;
//   - how long a paint waits for the worker's lock.
//
//   optimizer_bench                      everything
//   optimizer_bench --loop SCENE fast|reference GENERATIONS
//                                        only that loop, for instruction counts
//                                        (see bench/instructions_per_generation.sh)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_scenes.h"
#include "geometry/random.h"
#include "optimizer/evolution.h"
#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"
#include "tracing/beam_tracer.h"
#include "tracing/reference_beam.h"

namespace reflector {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReplacementsPerGeneration = 5;

double Microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The optimiser's generation loop on this thread, with a choice of evaluator.
class Loop {
 public:
  Loop(const SceneSnapshot& scene, bool fast) : scene(scene), fast(fast) {
    SetRandomState(1);
    FillPopulation(population, scene);
  }

  void Generation() {
    MutatePopulation(population);
    for (Candidate& candidate : population.candidates) {
      if (fast) {
        tracer.Evaluate(candidate.vertices, scene.source, scene.aim, scene.target, noStop,
                        candidate.rayRecords, candidate.score);
      } else {
        ReferenceBeam beam =
            EvaluateBeamReference(candidate.vertices, scene.source, scene.aim, scene.target);
        candidate.rayRecords = beam.rayRecords;
        candidate.score = beam.score;
      }
    }
    for (int i = 0; i < kReplacementsPerGeneration; ++i) ReplaceWorstWithBest(population);
  }

  double Score() const { return population.candidates[0].score; }

 private:
  const SceneSnapshot& scene;
  const bool fast;
  Population population;
  BeamTracer tracer;
  std::atomic<bool> noStop{false};
};

// Generations per second over at least the given time, best-effort median of three.
double LoopRate(const SceneSnapshot& scene, bool fast, double seconds) {
  std::vector<double> rates;
  for (int run = 0; run < 3; ++run) {
    Loop loop(scene, fast);
    const auto start = Clock::now();
    long generations = 0;
    double elapsed = 0;
    do {
      for (int i = 0; i < 8; ++i) loop.Generation();
      generations += 8;
      elapsed = Seconds(Clock::now() - start);
    } while (elapsed < seconds);
    rates.push_back(generations / elapsed);
  }
  std::sort(rates.begin(), rates.end());
  return rates[1];
}

// The real optimiser: its worker from construction to Done.
double WorkerRate(const SceneSnapshot& scene, std::uint32_t generations) {
  SetRandomState(1);
  const auto start = Clock::now();
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(scene, generations));
  while (!optimizer->Done()) std::this_thread::sleep_for(std::chrono::microseconds(100));
  return generations / Seconds(Clock::now() - start);
}

void GenerationTable() {
  std::printf("%-12s %14s %14s %8s %14s\n", "scene", "reference/s", "fast/s", "ratio",
              "worker/s");
  for (const NamedScene& scene : BenchScenes()) {
    const double reference = LoopRate(scene.snapshot, false, 0.4);
    const double fast = LoopRate(scene.snapshot, true, 0.4);
    const double worker = WorkerRate(scene.snapshot, static_cast<std::uint32_t>(fast * 0.5) + 1);
    std::printf("%-12s %14.0f %14.0f %7.1fx %14.0f\n", scene.name.c_str(), reference, fast,
                fast / reference, worker);
    std::fflush(stdout);
  }
}

int RunLoopOnly(const char* name, const char* kind, const char* count) {
  for (const NamedScene& scene : BenchScenes()) {
    if (scene.name != name) continue;
    Loop loop(scene.snapshot, std::strcmp(kind, "fast") == 0);
    const long generations = std::atol(count);
    for (long i = 0; i < generations; ++i) loop.Generation();
    std::printf("%s %s %ld generations, candidate 0 scores %.17g\n", name, kind, generations,
                loop.Score());
    return 0;
  }
  std::fprintf(stderr, "optimizer_bench: no scene named %s\n", name);
  return 2;
}

}  // namespace
}  // namespace reflector

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--loop") == 0) {
    return reflector::RunLoopOnly(argv[2], argv[3], argv[4]);
  }
  reflector::GenerationTable();
  return 0;
}
