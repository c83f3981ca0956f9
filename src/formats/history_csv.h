#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "optimizer/run_record.h"

namespace reflector {

// The run's scores as CSV: the header "generation,best,mean,worst,best_ever",
// then one row per generation the record holds, in order, doubles in shortest
// round-trip form.
std::string HistoryToCsv(const RunRecord& record);

inline constexpr std::string_view kHistoryHeader = "generation,best,mean,worst,best_ever\n";

// Appends the rows of generations firstGeneration, firstGeneration + 1, ...
void AppendHistoryRows(std::string& out, const std::vector<GenerationScores>& rows,
                       std::uint32_t firstGeneration);

// Reads one row as AppendHistoryRows writes it, without its line end.
bool ParseHistoryRow(std::string_view line, std::uint32_t& generation, GenerationScores& row);

}  // namespace reflector
