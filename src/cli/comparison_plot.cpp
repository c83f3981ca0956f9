#include "cli/comparison_plot.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace reflector {

namespace {

// The best so far of a run after `evaluations` scorings: its last row at or
// before them; none before its first row.
std::optional<double> BestAfter(const ComparedRun& run, std::uint64_t evaluations) {
  const auto after = std::upper_bound(run.evaluations.begin(), run.evaluations.end(), evaluations);
  if (after == run.evaluations.begin()) return std::nullopt;
  return run.bestEver[static_cast<std::size_t>(after - run.evaluations.begin()) - 1];
}

// A log axis when the values are positive and span more than a decade:
// within one, a log axis has too few round ticks to read.
bool LogAxisSuits(const std::vector<double>& values) {
  double low = std::numeric_limits<double>::infinity();
  double high = 0.0;
  for (double value : values) {
    if (!std::isfinite(value)) continue;
    if (!(value > 0.0)) return false;
    low = std::min(low, value);
    high = std::max(high, value);
  }
  return high > 10.0 * low;
}

}  // namespace

ComparisonPlot ConvergencePlot(const std::vector<ComparedRun>& runs,
                               const std::vector<std::string>& algorithms, const std::string& title) {
  ComparisonPlot plot;
  plot.title = title;
  plot.xLabel = "evaluations";
  plot.yLabel = "best score so far";
  plot.logX = true;
  std::vector<double> scores;
  for (const ComparedRun& run : runs) scores.insert(scores.end(), run.bestEver.begin(), run.bestEver.end());
  plot.logY = LogAxisSuits(scores);

  std::uint64_t first = 0;
  std::uint64_t last = 0;
  for (const ComparedRun& run : runs) {
    if (run.evaluations.empty()) continue;
    first = first ? std::min(first, run.evaluations.front()) : run.evaluations.front();
    last = std::max(last, run.evaluations.back());
  }
  // Scorings spaced evenly on the log axis, each a row's count, repeats dropped.
  std::vector<std::uint64_t> grid;
  if (first > 0) {
    const double span = std::log(static_cast<double>(last) / static_cast<double>(first));
    for (int k = 0; k <= kConvergencePoints; ++k) {
      const double at = static_cast<double>(first) * std::exp(span * k / kConvergencePoints);
      std::uint64_t point = std::clamp<std::uint64_t>(static_cast<std::uint64_t>(std::llround(at)), first, last);
      if (grid.empty() || point > grid.back()) grid.push_back(point);
    }
  }
  for (const std::string& algorithm : algorithms) {
    std::vector<const ComparedRun*> own;
    for (const ComparedRun& run : runs) {
      if (run.algorithm == algorithm) own.push_back(&run);
    }
    if (own.empty()) continue;
    ComparisonSeries& series = plot.series.emplace_back();
    series.name = algorithm;
    for (std::uint64_t point : grid) {
      std::vector<double> values;
      for (const ComparedRun* run : own) {
        if (const std::optional<double> best = BestAfter(*run, point); best && std::isfinite(*best)) {
          values.push_back(*best);
        }
      }
      if (values.empty()) continue;
      std::sort(values.begin(), values.end());
      series.x.push_back(static_cast<double>(point));
      series.y.push_back(*Quantile(values, 0.5));
      series.low.push_back(*Quantile(values, 0.25));
      series.high.push_back(*Quantile(values, 0.75));
    }
  }
  return plot;
}

ComparisonPlot FinalScoreDistributionPlot(const std::vector<ComparedRun>& runs,
                                          const std::vector<std::string>& algorithms,
                                          const std::string& title) {
  ComparisonPlot plot;
  plot.title = title;
  plot.xLabel = "final score";
  plot.yLabel = "share of runs at or below";
  std::vector<double> finals;
  for (const ComparedRun& run : runs) finals.push_back(run.FinalScore());
  plot.logX = LogAxisSuits(finals);
  for (const std::string& algorithm : algorithms) {
    std::vector<double> finals;
    for (const ComparedRun& run : runs) {
      if (run.algorithm == algorithm && std::isfinite(run.FinalScore())) finals.push_back(run.FinalScore());
    }
    if (finals.empty()) continue;
    std::sort(finals.begin(), finals.end());
    ComparisonSeries& series = plot.series.emplace_back();
    series.name = algorithm;
    series.steps = true;
    const double n = static_cast<double>(finals.size());
    for (std::size_t i = 0; i < finals.size(); ++i) {
      // Equal scores make one step.
      if (i + 1 < finals.size() && finals[i + 1] == finals[i]) continue;
      series.x.push_back(finals[i]);
      series.y.push_back(static_cast<double>(i + 1) / n);
    }
  }
  return plot;
}

}  // namespace reflector
