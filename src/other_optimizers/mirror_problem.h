#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "other_optimizers/scoring_ledger.h"

namespace reflector {

// The mirror as a problem for the optimisation library: the decision vector
// is the vertices' coordinates (x0, y0, x1, y1, ...), boxed to the starting
// mirror's plus or minus a radius, and the one objective is the score the
// ledger gives. The library copies problems freely: the copies share one
// ledger.
struct MirrorProblem {
  MirrorProblem() = default;
  MirrorProblem(std::shared_ptr<ScoringLedger> scoring, double radius);

  std::vector<double> fitness(const std::vector<double>& coordinates) const;
  std::pair<std::vector<double>, std::vector<double>> get_bounds() const;
  std::string get_name() const { return "mirror score"; }

  std::shared_ptr<ScoringLedger> ledger;
  std::vector<double> lower;
  std::vector<double> upper;
};

// The starting mirror's coordinates, in the problem's order.
std::vector<double> CoordinatesOf(const std::vector<Point2>& mirror);

}  // namespace reflector
