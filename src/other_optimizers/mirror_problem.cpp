#include "other_optimizers/mirror_problem.h"

#include <cmath>
#include <limits>

namespace reflector {

MirrorProblem::MirrorProblem(std::shared_ptr<ScoringLedger> scoring, double radius)
    : ledger(std::move(scoring)) {
  for (double value : CoordinatesOf(ledger->snapshot().vertices)) {
    lower.push_back(value - radius);
    upper.push_back(value + radius);
  }
}

std::vector<double> MirrorProblem::fitness(const std::vector<double>& coordinates) const {
  const double score = ledger->Score(coordinates);
  // A score that is not a number would stall the library's comparisons: it
  // ranks last instead. The ledger keeps the score as it was.
  return {std::isnan(score) ? std::numeric_limits<double>::infinity() : score};
}

std::pair<std::vector<double>, std::vector<double>> MirrorProblem::get_bounds() const { return {lower, upper}; }

std::vector<double> CoordinatesOf(const std::vector<Point2>& mirror) {
  std::vector<double> coordinates;
  coordinates.reserve(2 * mirror.size());
  for (Point2 p : mirror) {
    coordinates.push_back(p.x);
    coordinates.push_back(p.y);
  }
  return coordinates;
}

}  // namespace reflector
