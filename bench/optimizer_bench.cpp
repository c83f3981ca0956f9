// How fast generations run, and how long the window's thread waits for the
// optimiser. One run prints, side by side:
//   - generations per second on each bench scene of the plain generation
//     loop with the reference evaluator and of the optimiser's own loop with
//     the fast tracer, on this thread (per second of its processor time),
//     and their ratio; the optimiser's own loop again with the C library's
//     atan and tan in place of the correctly rounded ones, and what the
//     correctly rounded ones cost against it (its populations take other
//     paths, but do the same kind of work); and the
//     optimiser's own worker on the scene (wall time, at its low priority);
//   - restart latency (retire the running optimiser, build a new one), idle and
//     with two CPU-bound threads at normal priority;
//   - how long a paint waits for the worker's lock.
//
//   optimizer_bench                      everything
//   optimizer_bench --sizes              only the cost against the mirror's size
//                                        (mirrors of 6 to 10,000 vertices, the
//                                        reference, one thread and two)
//   optimizer_bench --loop SCENE fast|reference|libm GENERATIONS
//                                        (SCENE: a bench scene, or line24, line48, line100,
//                                        line1000, line1500, line2000, line3000, line4000, line10000)
//                                        only that loop, for instruction counts
//                                        (see bench/instructions_per_generation.sh)
#include <time.h>

#include <cmath>
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
#include "optimizer/retire_optimizer.h"
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

// A generation loop on this thread: the optimiser's own (the fast tracer,
// and selection that copies only the rays it must), or the plain one it is
// measured against (the reference evaluator, and every copy whole). Both
// leave the same vertices, scores and best.
class Loop {
 public:
  Loop(const SceneSnapshot& scene, bool fast, SlopeFunctions functions = {})
      : scene(scene), fast(fast), tracer(BeamTracer::Width::kEightLanes, functions) {
    FillPopulation(population, scene);
  }

  // Each loop draws from the generator as if it ran alone, from state 1.
  void Generation() {
    SetRandomState(generatorState);
    MutatePopulation(population);
    generatorState = RandomState();
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
    if (fast) {
      SelectSurvivors(population, kReplacementsPerGeneration);
    } else {
      for (int i = 0; i < kReplacementsPerGeneration; ++i) ReplaceWorstWithBest(population);
    }
  }

  double Score() const { return population.candidates[0].score; }

 private:
  const SceneSnapshot& scene;
  const bool fast;
  Population population;
  std::uint32_t generatorState = 1;
  BeamTracer tracer;
  std::atomic<bool> noStop{false};
};

// This thread's processor time: other processes on a busy machine take
// turns on the processor without counting here.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Generations per second of this thread's processor time, the loop going on
// from where it is for at least the given time.
double LoopRate(Loop& loop, double seconds) {
  const double start = ThreadSeconds();
  long generations = 0;
  double elapsed = 0;
  do {
    for (int i = 0; i < 8; ++i) loop.Generation();
    generations += 8;
    elapsed = ThreadSeconds() - start;
  } while (elapsed < seconds);
  return generations / elapsed;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The C library's atan and tan, for what the correctly rounded ones cost.
double LibraryAtan(double x) { return std::atan(x); }
double LibraryTan(double x) { return std::tan(x); }
constexpr SlopeFunctions kLibraryFunctions{LibraryAtan, LibraryTan};

struct LoopComparison {
  double reference, fast, ratio, library, cost;
};

// The two loops in turns, a short run of each per round, each going on from
// where it was: on a virtual machine whose speed drifts from one second to
// the next, each round's two runs see nearly the same machine, so the ratio
// is the median of the rounds' ratios. Both first run past the early
// generations, which cost less (fewer rays reach the mirror), so that both
// are timed where a generation costs what it goes on costing.
LoopComparison CompareLoops(const SceneSnapshot& scene) {
  constexpr int kWarmGenerations = 1500;
  constexpr int kRounds = 7;
  constexpr double kSeconds = 0.15;
  Loop reference(scene, false), fast(scene, true), library(scene, true, kLibraryFunctions);
  for (int g = 0; g < kWarmGenerations; ++g) reference.Generation();
  for (int g = 0; g < kWarmGenerations; ++g) fast.Generation();
  for (int g = 0; g < kWarmGenerations; ++g) library.Generation();
  std::vector<double> referenceRates, fastRates, ratios, libraryRates, costs;
  for (int round = 0; round < kRounds; ++round) {
    referenceRates.push_back(LoopRate(reference, kSeconds));
    fastRates.push_back(LoopRate(fast, kSeconds));
    libraryRates.push_back(LoopRate(library, kSeconds));
    ratios.push_back(fastRates.back() / referenceRates.back());
    costs.push_back(1 - fastRates.back() / libraryRates.back());
  }
  return {Median(referenceRates), Median(fastRates), Median(ratios), Median(libraryRates),
          Median(costs)};
}

// The real optimiser: its worker from construction to Done.
double WorkerRate(const SceneSnapshot& scene, std::uint32_t generations) {
  SetRandomState(1);
  const auto start = Clock::now();
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(scene, generations));
  while (!optimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return generations / Seconds(Clock::now() - start);
}

void GenerationTable() {
  std::printf("%-12s %14s %14s %8s %14s %9s %14s\n", "scene", "reference/s", "fast/s", "ratio",
              "libm fast/s", "cr cost", "worker/s");
  for (const NamedScene& scene : BenchScenes()) {
    const LoopComparison loops = CompareLoops(scene.snapshot);
    const double worker =
        WorkerRate(scene.snapshot, static_cast<std::uint32_t>(loops.fast * 0.5) + 1);
    std::printf("%-12s %14.0f %14.0f %7.1fx %14.0f %8.1f%% %14.0f\n", scene.name.c_str(),
                loops.reference, loops.fast, loops.ratio, loops.library, 100 * loops.cost, worker);
    std::fflush(stdout);
  }
}

// The real optimiser with the given threads: generations per second of wall
// time from construction to Done, past the first `warm` generations. Looked
// at once a millisecond: on two cores, a watcher waking every 100 us took a
// tenth of a core from a run on both.
double WorkerRate(const SceneSnapshot& scene, std::uint32_t warm, std::uint32_t generations,
                  int threads) {
  SetRandomState(1);
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(scene, warm + generations, std::nullopt, false,
                                         std::nullopt, threads));
  while (optimizer->CompletedGenerations() < warm) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const auto start = Clock::now();
  while (!optimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return generations / Seconds(Clock::now() - start);
}

// Cost against the mirror's size: the reference loop, the optimiser's own
// loop on this thread, and the optimiser's worker with one thread and with
// two, on LineScene(n). Each is first run past the early generations (fewer
// for large mirrors, whose reference generations take long), then the two
// loops take five turns of at least 0.3 s and 8 generations each (the
// median rates, and the median of the turns' ratios). Prints a table, and the same figures as CSV lines
// starting with "csv," for bench/plot_cost.py.
void SizeTable() {
  std::printf("%8s %14s %14s %8s %14s %14s %8s\n", "vertices", "reference/s", "fast/s",
              "ratio", "1 thread/s", "2 threads/s", "2 vs 1");
  std::vector<std::string> csv;
  for (int n : {6, 100, 1000, 10000}) {
    const SceneSnapshot scene = LineScene(n);
    const int warm = std::max(8, 1500 * 6 / n);
    Loop reference(scene, false), fast(scene, true);
    for (int g = 0; g < warm; ++g) reference.Generation();
    for (int g = 0; g < warm; ++g) fast.Generation();
    // Turns of each, as in CompareLoops: the machine's pace drifts, and a
    // ratio of two turns side by side drifts less than either rate.
    std::vector<double> referenceRates, fastRates, ratios;
    for (int round = 0; round < 5; ++round) {
      referenceRates.push_back(LoopRate(reference, 0.3));
      fastRates.push_back(LoopRate(fast, 0.3));
      ratios.push_back(fastRates.back() / referenceRates.back());
    }
    const double referenceRate = Median(referenceRates);
    const double fastRate = Median(fastRates);
    const double ratio = Median(ratios);
    const auto generations = static_cast<std::uint32_t>(std::max(8.0, fastRate * 1.0));
    const double one = WorkerRate(scene, static_cast<std::uint32_t>(warm), generations, 1);
    const double two = WorkerRate(scene, static_cast<std::uint32_t>(warm), generations, 2);
    std::printf("%8d %14.1f %14.1f %7.1fx %14.1f %14.1f %7.2fx\n", n, referenceRate, fastRate,
                ratio, one, two, two / one);
    std::fflush(stdout);
    csv.push_back("csv," + std::to_string(n) + "," + std::to_string(referenceRate) + "," +
                  std::to_string(fastRate) + "," + std::to_string(one) + "," +
                  std::to_string(two));
  }
  for (const std::string& line : csv) std::printf("%s\n", line.c_str());
}

// Two CPU-bound threads at normal priority, for as long as the object lives.
class Load {
 public:
  Load() {
    for (int i = 0; i < 2; ++i) {
      spinners.emplace_back([this] {
        volatile unsigned long n = 0;
        while (!stop.load(std::memory_order_relaxed)) n = n + 1;
      });
    }
  }
  ~Load() {
    stop.store(true);
    for (std::thread& t : spinners) t.join();
  }

 private:
  std::atomic<bool> stop{false};
  std::vector<std::thread> spinners;
};

struct Quantiles {
  double median, p99, max;
};

Quantiles Summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[times.size() * 99 / 100], times.back()};
}

// What the window does on every mouse move: retire the running optimiser and
// build a new one, at moments unrelated to the worker's loop.
Quantiles RestartLatency(const SceneSnapshot& scene, int restarts) {
  std::mt19937 gen(5);
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(restarts));
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(scene));
  for (int i = 0; i < restarts; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(100 + gen() % 400));
    const auto start = Clock::now();
    RetireOptimizer(optimizer);
    optimizer.Adopt(new ReflectorOptimizer(scene));
    times.push_back(Microseconds(Clock::now() - start));
  }
  RetireOptimizer(optimizer);
  return Summarise(times);
}

// What paint does: take the running optimiser's lock, read, give it back.
Quantiles PaintWait(const SceneSnapshot& scene, int paints) {
  std::mt19937 gen(9);
  std::vector<double> times;
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(scene));
  for (int i = 0; i < paints; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(200 + gen() % 600));
    const Population* population = nullptr;
    const auto start = Clock::now();
    optimizer->LockState(&population, nullptr);
    times.push_back(Microseconds(Clock::now() - start));
    optimizer->UnlockState();
  }
  RetireOptimizer(optimizer);
  return Summarise(times);
}

void Latencies() {
  constexpr int kRestarts = 2000;
  const SceneSnapshot scene = BenchScenes()[0].snapshot;
  const auto print = [](const char* what, Quantiles q) {
    std::printf("%s: median %.0f us, p99 %.0f us, max %.0f us\n", what, q.median, q.p99, q.max);
    std::fflush(stdout);
  };
  WaitForRetiredOptimizers();
  print("restart idle", RestartLatency(scene, kRestarts));
  WaitForRetiredOptimizers();
  {
    Load load;
    print("restart under load", RestartLatency(scene, kRestarts));
  }
  WaitForRetiredOptimizers();
  print("paint lock wait idle", PaintWait(scene, 1000));
  WaitForRetiredOptimizers();
  {
    Load load;
    print("paint lock wait under load", PaintWait(scene, 1000));
  }
  const auto start = Clock::now();
  WaitForRetiredOptimizers();
  std::printf("retired optimisers all joined %.0f us after the last restart\n",
              Microseconds(Clock::now() - start));
}

int RunLoopOnly(const char* name, const char* kind, const char* count) {
  std::vector<NamedScene> scenes = BenchScenes();
  for (int n : {24, 48, 100, 1000, 1500, 2000, 3000, 4000, 10000}) scenes.push_back({"line" + std::to_string(n), LineScene(n)});
  for (const NamedScene& scene : scenes) {
    if (scene.name != name) continue;
    const bool library = std::strcmp(kind, "libm") == 0;
    Loop loop(scene.snapshot, library || std::strcmp(kind, "fast") == 0,
              library ? kLibraryFunctions : SlopeFunctions{});
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
  if (argc == 2 && std::strcmp(argv[1], "--sizes") == 0) {
    reflector::SizeTable();
    return 0;
  }
  reflector::GenerationTable();
  reflector::Latencies();
  return 0;
}
