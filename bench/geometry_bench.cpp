// The innermost loop of the optimiser: segment tests, reflections and whole
// traced rays against the default reflector.
#include <benchmark/benchmark.h>

#include <vector>

#include "geometry/intersect_lines.h"
#include "geometry/reflect_ray.h"
#include "tracing/trace_path.h"

namespace reflector {
namespace {

const std::vector<Point2> kDefaultReflector{{494, 52},  {494, 105}, {493, 148},
                                            {494, 189}, {493, 244}, {489, 304}};
const Point2 kSource{150, 200};
const Point2 kAim{500, 200};

void BM_IntersectLines(benchmark::State& state) {
  Point2 a = kDefaultReflector[3], b = kDefaultReflector[4], c = kSource, d = kAim;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(c);
    Point2 hit;
    bool inside = false;
    IntersectLines(a, b, c, d, &hit, &inside, nullptr);
    benchmark::DoNotOptimize(hit);
    benchmark::DoNotOptimize(inside);
  }
}
BENCHMARK(BM_IntersectLines);

void BM_ReflectRay(benchmark::State& state) {
  Point2 a = kDefaultReflector[3], b = kDefaultReflector[4], s = kSource;
  const Point2 h{494.0 - 11.0 / 55.0, 200.0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(s);
    Point2 out;
    ReflectRay(a, b, s, h, &out);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ReflectRay);

void BM_TracePathCentralRay(benchmark::State& state) {
  std::vector<Point2> path;
  for (auto _ : state) {
    path.clear();
    TracePath(kDefaultReflector, 5, kSource, kAim, path);
    benchmark::DoNotOptimize(path.data());
  }
}
BENCHMARK(BM_TracePathCentralRay);

// As the beam does it: a fresh path for every ray.
void BM_TracePathCentralRayFreshPath(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Point2> path;
    TracePath(kDefaultReflector, 5, kSource, kAim, path);
    benchmark::DoNotOptimize(path.data());
  }
}
BENCHMARK(BM_TracePathCentralRayFreshPath);

}  // namespace
}  // namespace reflector
