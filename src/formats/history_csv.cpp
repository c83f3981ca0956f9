#include "formats/history_csv.h"

#include <charconv>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <system_error>

namespace reflector {

namespace {

// The longest row: a 10-digit generation, 11-digit evaluations, four doubles
// of at most 24 characters, five commas and the line end.
constexpr std::size_t kMaxRow = 10 + 11 + 4 * 24 + 5 + 1;

char* PutDouble(char* out, double x) {
  if (std::isnan(x)) return std::strcpy(out, "nan") + 3;
  if (std::isinf(x)) return x > 0 ? std::strcpy(out, "inf") + 3 : std::strcpy(out, "-inf") + 4;
  return std::to_chars(out, out + 24, x).ptr;
}

}  // namespace

void AppendHistoryRows(std::string& out, const std::vector<GenerationScores>& rows,
                       std::uint32_t firstGeneration, bool withEvaluations) {
  // Sized for the longest rows, then cut to what was written: one allocation,
  // no stream formatting, for runs of millions of generations.
  const std::size_t start = out.size();
  out.resize(start + rows.size() * kMaxRow);
  char* p = out.data() + start;
  std::uint32_t generation = firstGeneration;
  for (const GenerationScores& row : rows) {
    p = std::to_chars(p, p + 10, generation).ptr;
    *p++ = ',';
    if (withEvaluations) {
      p = std::to_chars(p, p + 11, generation * kEvaluationsPerGeneration).ptr;
      *p++ = ',';
    }
    ++generation;
    p = PutDouble(p, row.best);
    *p++ = ',';
    p = PutDouble(p, row.mean);
    *p++ = ',';
    p = PutDouble(p, row.worst);
    *p++ = ',';
    p = PutDouble(p, row.bestEver);
    *p++ = '\n';
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
}

std::string HistoryToCsv(const RunRecord& record) {
  std::string out(kHistoryHeader);
  AppendHistoryRows(out, record.history, record.firstGeneration);
  return out;
}

bool ParseHistoryRow(std::string_view line, std::uint32_t& generation, GenerationScores& row,
                     bool withEvaluations) {
  const char* p = line.data();
  const char* const end = line.data() + line.size();
  auto [afterGeneration, generationError] = std::from_chars(p, end, generation);
  if (generationError != std::errc() || afterGeneration == p || afterGeneration == end ||
      *afterGeneration != ',') {
    return false;
  }
  p = afterGeneration + 1;
  if (withEvaluations) {
    std::uint64_t evaluations = 0;
    const auto [afterEvaluations, evaluationsError] = std::from_chars(p, end, evaluations);
    if (evaluationsError != std::errc() || afterEvaluations == p || afterEvaluations == end ||
        *afterEvaluations != ',' || evaluations != generation * kEvaluationsPerGeneration) {
      return false;
    }
    p = afterEvaluations + 1;
  }
  double* const fields[] = {&row.best, &row.mean, &row.worst, &row.bestEver};
  for (std::size_t i = 0; i < std::size(fields); ++i) {
    const char* fieldEnd = std::find(p, end, ',');
    if ((i + 1 < std::size(fields)) == (fieldEnd == end)) return false;
    const std::string_view field(p, static_cast<std::size_t>(fieldEnd - p));
    if (field == "nan") {
      *fields[i] = std::numeric_limits<double>::quiet_NaN();
    } else if (field == "inf") {
      *fields[i] = std::numeric_limits<double>::infinity();
    } else if (field == "-inf") {
      *fields[i] = -std::numeric_limits<double>::infinity();
    } else {
      const auto [parsedEnd, parseError] = std::from_chars(p, fieldEnd, *fields[i]);
      if (parseError != std::errc() || parsedEnd != fieldEnd || field.empty()) return false;
    }
    p = fieldEnd == end ? end : fieldEnd + 1;
  }
  return true;
}

}  // namespace reflector
