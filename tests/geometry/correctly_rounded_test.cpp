#include "geometry/correctly_rounded.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "geometry/correctly_rounded_phases.h"
#include "geometry/mpfr_oracle.h"
#include "geometry/test_arguments.h"

namespace reflector {
namespace {

using testing::MpfrAtan;
using testing::kStride;
using testing::LogUniform;
using testing::MpfrTan;


constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

std::uint64_t Bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Equal bits, or both NaN.
bool Same(double a, double b) { return Bits(a) == Bits(b) || (std::isnan(a) && std::isnan(b)); }

struct Function {
  const char* name;
  double (*rounded)(double);
  std::optional<double> (*fast)(double);
  double (*exact)(double);
  double (*oracle)(double);
};
const Function kAtan{"atan", CorrectlyRoundedAtan, correctly_rounded::FastAtan,
                     correctly_rounded::ExactAtan, MpfrAtan};
const Function kTan{"tan", CorrectlyRoundedTan, correctly_rounded::FastTan,
                    correctly_rounded::ExactTan, MpfrTan};

// Compares the function, and its fast phase where that decides, with MPFR on
// every argument, split between two threads; fails with the first few
// arguments that differ. Returns how many the fast phase left undecided.
long ExpectMatchesMpfr(const Function& f, const std::vector<double>& arguments) {
  std::atomic<long> undecided{0};
  std::mutex mutex;
  std::vector<std::string> failures;
  long failureCount = 0;
  auto check = [&](std::size_t begin, std::size_t end) {
    long localUndecided = 0;
    for (std::size_t i = begin; i < end; ++i) {
      const double x = arguments[i];
      const double expected = f.oracle(x);
      const double got = f.rounded(x);
      const std::optional<double> fast = f.fast(x);
      if (!fast) ++localUndecided;
      if (!Same(got, expected) || (fast && !Same(*fast, expected))) {
        std::lock_guard lock(mutex);
        if (++failureCount <= 5) {
          char line[200];
          std::snprintf(line, sizeof line, "%s(%a): %a, fast phase %s%a, MPFR %a", f.name, x, got,
                        fast ? "" : "undecided ", fast ? *fast : 0.0, expected);
          failures.push_back(line);
        }
      }
    }
    undecided += localUndecided;
    testing::FreeMpfrCaches();
  };
  const std::size_t half = arguments.size() / 2;
  std::thread other(check, half, arguments.size());
  check(0, half);
  other.join();
  for (const std::string& failure : failures) ADD_FAILURE() << failure;
  EXPECT_EQ(failureCount, 0) << "of " << arguments.size() << " arguments";
  return undecided;
}

// x and its neighbours up to `ulps` doubles away on either side.
void AddWithNeighbours(std::vector<double>& out, double x, int ulps) {
  out.push_back(x);
  double below = x, above = x;
  for (int i = 0; i < ulps; ++i) {
    below = std::nextafter(below, -kInf);
    above = std::nextafter(above, kInf);
    out.push_back(below);
    out.push_back(above);
  }
}

std::vector<double> ReadDoubles(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  std::vector<double> values;
  double x;
  while (in.read(reinterpret_cast<char*>(&x), sizeof x)) values.push_back(x);
  return values;
}

// Each line: a hexadecimal double, then anything.
std::vector<double> ReadHardCases(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::vector<double> values;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    values.push_back(std::strtod(line.c_str(), nullptr));
  }
  return values;
}

TEST(CorrectlyRounded, SpecialValues) {
  for (const Function* f : {&kAtan, &kTan}) {
    SCOPED_TRACE(f->name);
    EXPECT_EQ(Bits(f->rounded(0.0)), Bits(0.0));
    EXPECT_EQ(Bits(f->rounded(-0.0)), Bits(-0.0));
    EXPECT_TRUE(std::isnan(f->rounded(kNan)));
    EXPECT_TRUE(std::isnan(f->rounded(-kNan)));
    // Subnormals and the smallest normals are their own value.
    for (double x : {5e-324, -5e-324, 0x1p-1022, 0x1.fffffffffffffp-1023, -1e-310, 0x1p-28}) {
      EXPECT_EQ(Bits(f->rounded(x)), Bits(x)) << std::hexfloat << x;
    }
  }
  EXPECT_EQ(CorrectlyRoundedAtan(kInf), 0x1.921fb54442d18p+0);
  EXPECT_EQ(CorrectlyRoundedAtan(-kInf), -0x1.921fb54442d18p+0);
  EXPECT_EQ(CorrectlyRoundedAtan(std::numeric_limits<double>::max()), 0x1.921fb54442d18p+0);
  EXPECT_TRUE(std::isnan(CorrectlyRoundedTan(kInf)));
  EXPECT_TRUE(std::isnan(CorrectlyRoundedTan(-kInf)));
  // Where the phases hand over: 2^-27, 2^54 (atan), 2^20 (tan), 2^-9 and 1024
  // (atan's table), and the largest double.
  std::vector<double> edges;
  for (double x : {0x1p-27, 0x1p54, 0x1p20, 0x1p-9, 0x1p10, 1.0, 0x1.921fb54442d18p-1,
                   std::numeric_limits<double>::max()}) {
    AddWithNeighbours(edges, x, 3);
    AddWithNeighbours(edges, -x, 3);
  }
  ExpectMatchesMpfr(kAtan, edges);
  ExpectMatchesMpfr(kTan, edges);
}

// The arguments real runs gave: a sample of 200000 distinct ones of each
// function, logged from the default scene, the examples and random scenes
// (tests/golden/machine_independence/ARGUMENTS.txt), with their neighbours.
TEST(CorrectlyRounded, MatchesMpfrOnArgumentsFromRealRuns) {
  for (const Function* f : {&kAtan, &kTan}) {
    SCOPED_TRACE(f->name);
    std::vector<double> arguments;
    const std::vector<double> logged =
        ReadDoubles(std::string(REFLECTOR_NUMERICS_DATA) + "/" + f->name + "_arguments.f64");
    ASSERT_GE(logged.size(), 200000u);
    for (std::size_t i = 0; i < logged.size(); i += kStride) AddWithNeighbours(arguments, logged[i], 2);
    ExpectMatchesMpfr(*f, arguments);
  }
}

// Uniform and log-uniform over the ranges the program gives each function:
// atan's arguments lie between 2^-54 and 2^46, most between 2^-6 and 2^7;
// tan's between 1e-5 and 6.2, most between 2 and 4.
TEST(CorrectlyRounded, MatchesMpfrOverTheProgramsRanges) {
  std::mt19937_64 gen(2026);
  std::vector<double> atanArguments, tanArguments;
  for (int i = 0; i < 1000000 / kStride; ++i) {
    atanArguments.push_back(LogUniform(gen, -54, 46));
    atanArguments.push_back(LogUniform(gen, -6, 7));
    atanArguments.push_back(std::uniform_real_distribution<double>(-16, 16)(gen));
    tanArguments.push_back(std::uniform_real_distribution<double>(-6.3, 6.3)(gen));
    tanArguments.push_back(std::uniform_real_distribution<double>(2, 4)(gen));
    tanArguments.push_back(LogUniform(gen, -17, 3));
  }
  ExpectMatchesMpfr(kAtan, atanArguments);
  ExpectMatchesMpfr(kTan, tanArguments);
}

// Where tan's argument reduction cancels most (next to multiples of pi/2) and
// where its table's ends meet (next to odd multiples of pi/4): every multiple
// of pi/4 up to 10^6, the doubles nearest it and one ulp either side.
TEST(CorrectlyRounded, MatchesMpfrAroundEveryMultipleOfAQuarterPi) {
  std::vector<double> arguments;
  const long multiples = static_cast<long>(1e6 / 0.7853981633974483);
  arguments.reserve(3 * multiples);
  for (long k = 1; k <= multiples; k += kStride) {
    // The nearest double to k pi/4, through MPFR.
    mpfr_t value;
    mpfr_init2(value, 128);
    mpfr_const_pi(value, MPFR_RNDN);
    mpfr_mul_si(value, value, k, MPFR_RNDN);
    mpfr_div_2ui(value, value, 2, MPFR_RNDN);
    AddWithNeighbours(arguments, mpfr_get_d(value, MPFR_RNDN), 1);
    mpfr_clear(value);
  }
  ExpectMatchesMpfr(kTan, arguments);
  std::vector<double> sample;
  for (std::size_t i = 0; i < arguments.size(); i += 3) sample.push_back(arguments[i]);
  ExpectMatchesMpfr(kAtan, sample);
}

// Every magnitude the format has: log-uniform from the subnormals to the
// largest double, and random subnormal bit patterns.
TEST(CorrectlyRounded, MatchesMpfrFromSubnormalsToTheLargestDouble) {
  std::mt19937_64 gen(7);
  std::vector<double> arguments;
  for (int i = 0; i < 400000 / kStride; ++i) {
    arguments.push_back(LogUniform(gen, -1074, 1024));
    arguments.push_back(std::bit_cast<double>(gen() & 0x800fffffffffffffull));
    arguments.push_back(std::bit_cast<double>(gen()));
  }
  ExpectMatchesMpfr(kAtan, arguments);
  ExpectMatchesMpfr(kTan, arguments);
}

// Arguments whose exact results lie within 2^-72 of their own size of a
// midpoint between two doubles, found by searching about 10^10 arguments
// (tests/geometry/data): where a fast phase that rounds wrongly or a rounding
// test that is too bold would show. Each phase on its own, too.
TEST(CorrectlyRounded, MatchesMpfrOnHardCases) {
  for (const Function* f : {&kAtan, &kTan}) {
    SCOPED_TRACE(f->name);
    const std::vector<double> hard =
        ReadHardCases(std::string(REFLECTOR_HARD_CASES) + "/" + f->name + "_hard_cases.txt");
    ASSERT_GE(hard.size(), 20u);
    // The fast phase must decline these, its error bound being larger than
    // their distance to a midpoint.
    const long undecided = ExpectMatchesMpfr(*f, hard);
    EXPECT_EQ(undecided, static_cast<long>(hard.size()));
    for (double x : hard) {
      EXPECT_TRUE(Same(f->exact(x), f->oracle(x))) << f->name << std::hexfloat << "(" << x << ")";
    }
  }
}

// The fast phase decides nearly everything: a bound grown too cautious, or a
// fast phase less accurate than it claims, would send many arguments to
// MPFR and cost the run's speed.
TEST(CorrectlyRounded, FastPhaseDecidesAllButAFewArguments) {
  std::mt19937_64 gen(11);
  long undecidedAtan = 0, undecidedTan = 0;
  constexpr int kCount = 200000;
  for (int i = 0; i < kCount; ++i) {
    if (!correctly_rounded::FastAtan(LogUniform(gen, -30, 60))) ++undecidedAtan;
    if (!correctly_rounded::FastTan(std::uniform_real_distribution<double>(-7, 7)(gen))) {
      ++undecidedTan;
    }
  }
  EXPECT_LT(undecidedAtan, kCount / 1000);
  EXPECT_LT(undecidedTan, kCount / 1000);
}

TEST(CorrectlyRounded, ExactPhaseMatchesMpfr) {
  std::mt19937_64 gen(12);
  for (int i = 0; i < 20000; ++i) {
    const double x = LogUniform(gen, -40, 40);
    ASSERT_TRUE(Same(correctly_rounded::ExactAtan(x), MpfrAtan(x))) << std::hexfloat << x;
    ASSERT_TRUE(Same(correctly_rounded::ExactTan(x), MpfrTan(x))) << std::hexfloat << x;
  }
  // Beyond 2^20 tan is the exact phase's alone, up to the largest double.
  for (int i = 0; i < 20000; ++i) {
    const double x = LogUniform(gen, 20, 1024);
    ASSERT_TRUE(Same(CorrectlyRoundedTan(x), MpfrTan(x))) << std::hexfloat << x;
  }
}

TEST(CorrectlyRounded, SafeFromManyThreads) {
  // MPFR keeps its state per thread; so does nothing else here. Each thread
  // goes through the exact phase too (arguments beyond 2^20).
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      std::mt19937_64 gen(100 + t);
      for (int i = 0; i < 5000; ++i) {
        const double x = LogUniform(gen, -5, 30);
        if (!Same(CorrectlyRoundedTan(x), MpfrTan(x)) ||
            !Same(CorrectlyRoundedAtan(x), MpfrAtan(x))) {
          ++failures;
        }
      }
      testing::FreeMpfrCaches();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace reflector
