#pragma once

#include <string>
#include <vector>

#include "cli/comparison_statistics.h"

namespace reflector {

// A line per algorithm, with an optional band around it.
struct ComparisonSeries {
  std::string name;
  std::vector<double> x;
  std::vector<double> y;
  std::vector<double> low;   // the band's lower edge at each x; empty for no band
  std::vector<double> high;
  bool steps = false;        // drawn as a staircase (a distribution function)
};

// A plot of a comparison, drawn by whatever draws pictures for the command
// line. Values on a logarithmic axis are positive.
struct ComparisonPlot {
  std::string title;
  std::string xLabel;
  std::string yLabel;
  bool logX = false;
  bool logY = false;
  std::vector<ComparisonSeries> series;
};

// Best so far against scorings, log axes: per algorithm the median over its
// runs with the band from the lower to the upper quartile, at about
// kConvergencePoints scorings spaced evenly on the log axis. The score axis is
// logarithmic when the scores are positive and span more than a decade.
ComparisonPlot ConvergencePlot(const std::vector<ComparedRun>& runs,
                               const std::vector<std::string>& algorithms, const std::string& title);

// The empirical distribution of final scores: per algorithm, the share of its
// runs that ended at or below each score (its x axis logarithmic as above).
ComparisonPlot FinalScoreDistributionPlot(const std::vector<ComparedRun>& runs,
                                          const std::vector<std::string>& algorithms,
                                          const std::string& title);

inline constexpr int kConvergencePoints = 200;

}  // namespace reflector
