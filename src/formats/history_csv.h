#pragma once

#include <string>

#include "optimizer/run_record.h"

namespace reflector {

// The run's scores as CSV: the header "generation,best,mean,worst,best_ever",
// then one row per generation the record holds, in order, doubles in shortest
// round-trip form.
std::string HistoryToCsv(const RunRecord& record);

}  // namespace reflector
