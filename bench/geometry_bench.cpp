// The innermost loop of the optimiser: segment tests, reflections and whole
// traced rays against the default reflector.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "geometry/correctly_rounded.h"
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

// What a memo miss costs: the correctly rounded atan and tan against the C
// library's, on arguments like the ones runs give (atan: log-uniform between
// 2^-6 and 2^7; tan: between 2 and 4, next to pi), in random order so that
// branches and table look-ups are not learnt.
std::vector<double> Arguments(bool tangent) {
  std::mt19937_64 gen(5);
  std::vector<double> arguments(4096);
  for (double& x : arguments) {
    x = tangent ? std::uniform_real_distribution<double>(2, 4)(gen)
                : std::exp2(std::uniform_real_distribution<double>(-6, 7)(gen));
    if (gen() & 1) x = -x;
  }
  return arguments;
}

void RunOver(benchmark::State& state, double (*function)(double), bool tangent) {
  const std::vector<double> arguments = Arguments(tangent);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(function(arguments[i]));
    i = (i + 1) & (arguments.size() - 1);
  }
}
void BM_CorrectlyRoundedAtan(benchmark::State& state) {
  RunOver(state, reflector::CorrectlyRoundedAtan, false);
}
void BM_LibraryAtan(benchmark::State& state) {
  RunOver(state, [](double x) { return std::atan(x); }, false);
}
void BM_CorrectlyRoundedTan(benchmark::State& state) {
  RunOver(state, reflector::CorrectlyRoundedTan, true);
}
void BM_LibraryTan(benchmark::State& state) {
  RunOver(state, [](double x) { return std::tan(x); }, true);
}
BENCHMARK(BM_CorrectlyRoundedAtan);
BENCHMARK(BM_LibraryAtan);
BENCHMARK(BM_CorrectlyRoundedTan);
BENCHMARK(BM_LibraryTan);
