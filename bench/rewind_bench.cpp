// How long the window waits to show a past generation: the farthest replay
// (the generation just before a snapshot, interval - 1 generations of
// jitters and copies) for mirrors of 6, 2000 and 10,000 vertices.
#include <benchmark/benchmark.h>

#include "optimizer/evolution.h"
#include "optimizer/rewind_record.h"

namespace reflector {
namespace {

void FarthestReplay(benchmark::State& state) {
  const int vertices = static_cast<int>(state.range(0));
  SceneSnapshot scene;
  for (int i = 0; i < vertices; ++i) scene.vertices.push_back({494.0 + (i % 7) * 0.5, 52.0 + i * 0.126});
  Population population;
  FillPopulation(population, scene);
  RandomGenerator generator{1u};
  RewindRecord rewind;
  rewind.Start(population, 0, generator.state);
  const std::uint32_t farthest = rewind.interval() - 1;
  for (std::uint32_t g = 1; g <= farthest; ++g) {
    MutatePopulation(population, generator);
    // Stand-in scores: the replay's cost does not depend on them.
    for (Candidate& candidate : population.candidates) candidate.score = candidate.vertices.front().x;
    Survivors survivors;
    SelectSurvivors(population, 5, &survivors);
    rewind.Record(population, survivors, g, generator.state);
  }
  const RewindReplay replay = *rewind.ReplayTo(farthest);
  for (auto _ : state) benchmark::DoNotOptimize(Replay(replay));
  state.counters["rewind_MB"] = static_cast<double>(rewind.Bytes()) / 1e6;
}
BENCHMARK(FarthestReplay)->Arg(6)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace reflector
