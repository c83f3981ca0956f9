#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "optimizer/run_record.h"

namespace reflector {

// The run's scores as CSV: the header
// "generation,evaluations,best,mean,worst,best_ever", then one row per
// generation the record holds, in order, doubles in shortest round-trip form.
// evaluations counts the scorings up to the end of the generation (ten a
// generation), the budget every optimiser shares.
std::string HistoryToCsv(const RunRecord& record);

inline constexpr std::string_view kHistoryHeader = "generation,evaluations,best,mean,worst,best_ever\n";
// Histories written before the evaluations column; still continued as they are.
inline constexpr std::string_view kHistoryHeaderWithoutEvaluations = "generation,best,mean,worst,best_ever\n";

// Scorings the built-in scheme makes in a generation.
inline constexpr std::uint64_t kEvaluationsPerGeneration = 10;

// Appends the rows of generations firstGeneration, firstGeneration + 1, ...,
// with the evaluations column unless withEvaluations is false.
void AppendHistoryRows(std::string& out, const std::vector<GenerationScores>& rows,
                       std::uint32_t firstGeneration, bool withEvaluations = true);

// Reads one row as AppendHistoryRows writes it, without its line end; with
// withEvaluations, its evaluations must be the generation's.
bool ParseHistoryRow(std::string_view line, std::uint32_t& generation, GenerationScores& row,
                     bool withEvaluations = true);

}  // namespace reflector
