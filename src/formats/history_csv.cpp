#include "formats/history_csv.h"

#include <charconv>
#include <cmath>
#include <algorithm>
#include <cstring>

namespace reflector {

namespace {

// The longest row: a 10-digit generation, four doubles of at most 24
// characters, four commas and the line end.
constexpr std::size_t kMaxRow = 10 + 4 * 24 + 4 + 1;

char* PutDouble(char* out, double x) {
  if (std::isnan(x)) return std::strcpy(out, "nan") + 3;
  if (std::isinf(x)) return x > 0 ? std::strcpy(out, "inf") + 3 : std::strcpy(out, "-inf") + 4;
  return std::to_chars(out, out + 24, x).ptr;
}

}  // namespace

std::string HistoryToCsv(const RunRecord& record) {
  static constexpr std::string_view kHeader = "generation,best,mean,worst,best_ever\n";
  std::string out;
  // Sized for the longest rows, then cut to what was written: one allocation,
  // no stream formatting, for runs of millions of generations.
  out.resize(kHeader.size() + record.history.size() * kMaxRow);
  char* p = out.data();
  p = std::copy(kHeader.begin(), kHeader.end(), p);
  std::uint32_t generation = record.firstGeneration;
  for (const GenerationScores& row : record.history) {
    p = std::to_chars(p, p + 10, generation++).ptr;
    *p++ = ',';
    p = PutDouble(p, row.best);
    *p++ = ',';
    p = PutDouble(p, row.mean);
    *p++ = ',';
    p = PutDouble(p, row.worst);
    *p++ = ',';
    p = PutDouble(p, row.bestEver);
    *p++ = '\n';
  }
  out.resize(p - out.data());
  return out;
}

}  // namespace reflector
