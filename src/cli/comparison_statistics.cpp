#include "cli/comparison_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "formats/result_json.h"

namespace reflector {

namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();

std::string Number(double x) {
  // Medians of whole evaluations are whole or halves: no exponent for them.
  if (x == std::floor(x) && std::fabs(x) < 1e15) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", x);
    return text;
  }
  return FormatDouble(x);
}

}  // namespace

std::optional<double> Quantile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return std::nullopt;
  const double h = static_cast<double>(sorted.size() - 1) * p;
  const std::size_t low = static_cast<std::size_t>(std::floor(h));
  const double fraction = h - static_cast<double>(low);
  if (fraction == 0.0 || low + 1 >= sorted.size()) return sorted[low];
  if (std::isinf(sorted[low + 1]) || std::isinf(sorted[low])) return kNever;
  return sorted[low] + fraction * (sorted[low + 1] - sorted[low]);
}

std::optional<std::uint64_t> EvaluationsToReach(const ComparedRun& run, double level) {
  for (std::size_t i = 0; i < run.bestEver.size(); ++i) {
    if (run.bestEver[i] <= level) return run.evaluations[i];
  }
  return std::nullopt;
}

std::string LevelText(double level) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", level);
  // Three significant digits, written without an exponent where the shortest
  // form has none: 2250 rather than 2.25e+03.
  return FormatDouble(std::strtod(text, nullptr));
}

std::vector<double> DefaultLevels(const std::vector<ComparedRun>& runs) {
  std::vector<double> finals;
  for (const ComparedRun& run : runs) {
    if (std::isfinite(run.FinalScore())) finals.push_back(run.FinalScore());
  }
  std::sort(finals.begin(), finals.end());
  std::vector<double> levels;
  for (double p : {0.75, 0.5, 0.25}) {
    const std::optional<double> q = Quantile(finals, p);
    if (!q) break;
    // The level is the number as written, so that the file's header says
    // exactly what was counted.
    const double level = std::strtod(LevelText(*q).c_str(), nullptr);
    if (levels.empty() || levels.back() != level) levels.push_back(level);
  }
  return levels;
}

std::vector<AlgorithmSummary> Summarise(const std::vector<ComparedRun>& runs,
                                        const std::vector<std::string>& algorithms,
                                        const std::vector<double>& levels) {
  std::vector<AlgorithmSummary> summaries;
  for (const std::string& algorithm : algorithms) {
    std::vector<const ComparedRun*> own;
    for (const ComparedRun& run : runs) {
      if (run.algorithm == algorithm) own.push_back(&run);
    }
    if (own.empty()) continue;
    AlgorithmSummary& summary = summaries.emplace_back();
    summary.algorithm = algorithm;
    summary.runs = own.size();
    std::vector<double> finals;
    for (const ComparedRun* run : own) finals.push_back(run->FinalScore());
    std::sort(finals.begin(), finals.end());
    summary.best = finals.front();
    summary.q1 = *Quantile(finals, 0.25);
    summary.median = *Quantile(finals, 0.5);
    summary.q3 = *Quantile(finals, 0.75);
    summary.worst = finals.back();
    for (double level : levels) {
      LevelStatistic& statistic = summary.levels.emplace_back();
      statistic.level = level;
      std::vector<double> needed;
      for (const ComparedRun* run : own) {
        const std::optional<std::uint64_t> at = EvaluationsToReach(*run, level);
        needed.push_back(at ? static_cast<double>(*at) : kNever);
        if (at) ++statistic.reached;
      }
      std::sort(needed.begin(), needed.end());
      const double median = *Quantile(needed, 0.5);
      if (std::isfinite(median)) statistic.medianEvaluations = median;
    }
  }
  return summaries;
}

std::string SummaryCsvText(const std::vector<AlgorithmSummary>& summaries) {
  std::string csv = "algorithm,runs,best,q1,median,q3,worst";
  if (!summaries.empty()) {
    for (const LevelStatistic& level : summaries.front().levels) {
      const std::string text = LevelText(level.level);
      csv += ",median_evaluations_to_" + text + ",reached_" + text;
    }
  }
  csv += "\n";
  for (const AlgorithmSummary& summary : summaries) {
    csv += summary.algorithm + "," + std::to_string(summary.runs) + "," + FormatDouble(summary.best) +
           "," + FormatDouble(summary.q1) + "," + FormatDouble(summary.median) + "," +
           FormatDouble(summary.q3) + "," + FormatDouble(summary.worst);
    for (const LevelStatistic& level : summary.levels) {
      csv += "," + (level.medianEvaluations ? Number(*level.medianEvaluations) : std::string("never")) +
             "," + std::to_string(level.reached);
    }
    csv += "\n";
  }
  return csv;
}

}  // namespace reflector
