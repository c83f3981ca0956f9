#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace reflector {

// One finished run of a comparison, as its history records it.
struct ComparedRun {
  std::string algorithm;
  std::uint32_t seed = 0;
  // The history's rows: the scorings so far and the best score so far.
  std::vector<std::uint64_t> evaluations;
  std::vector<double> bestEver;

  // The best score the run found within its budget (its last row's).
  double FinalScore() const { return bestEver.empty() ? 0.0 : bestEver.back(); }
};

// The quantile at p (0 to 1) of values sorted ascending, by linear
// interpolation between order statistics: at position h = (n - 1) p counted
// from 0, x[floor h] + (h - floor h) (x[floor h + 1] - x[floor h]). Infinite
// values stand for "never": a quantile that needs one is infinite. None for
// no values.
std::optional<double> Quantile(const std::vector<double>& sorted, double p);

// The scorings a run needed to reach a score at or below level: the first row
// that did; none if it never did.
std::optional<std::uint64_t> EvaluationsToReach(const ComparedRun& run, double level);

struct LevelStatistic {
  double level = 0.0;
  // The median over every run, a run that never reached the level counting
  // as never; none when that median is never.
  std::optional<double> medianEvaluations;
  std::size_t reached = 0;  // runs that reached it
};

// One algorithm's final scores and what it took to reach each level.
struct AlgorithmSummary {
  std::string algorithm;
  std::size_t runs = 0;
  double best = 0, q1 = 0, median = 0, q3 = 0, worst = 0;
  std::vector<LevelStatistic> levels;
};

// Default score levels: the quartiles of every run's final score together
// (worst quartile first), each rounded to three significant digits, repeats
// dropped; a level is then reached by about a quarter, a half and three
// quarters of all runs.
std::vector<double> DefaultLevels(const std::vector<ComparedRun>& runs);

// The summary of each algorithm in order, over its runs in runs; an algorithm
// with no run is left out.
std::vector<AlgorithmSummary> Summarise(const std::vector<ComparedRun>& runs,
                                        const std::vector<std::string>& algorithms,
                                        const std::vector<double>& levels);

// summary.csv: "algorithm,runs,best,q1,median,q3,worst", then for each level
// L "median_evaluations_to_L,reached_L"; one row per algorithm. Scores in
// shortest round-trip form; a median never reached reads "never".
std::string SummaryCsvText(const std::vector<AlgorithmSummary>& summaries);

// A level as it is written: three significant digits, shortest form.
std::string LevelText(double level);

}  // namespace reflector
