#include "cli/progress_bar.h"

#include <algorithm>

namespace reflector {

std::string FormatDuration(double seconds) {
  const long total = static_cast<long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

void ProgressBar::Finished(double seconds, bool failed, const std::optional<double>& best,
                           const std::optional<double>& bestEver) {
  ++done_;
  secondsSum_ += seconds;
  if (failed) return;
  if (best && (!best_ || *best < *best_)) best_ = best;
  if (bestEver && (!bestEver_ || *bestEver < *bestEver_)) bestEver_ = bestEver;
}

void ProgressBar::Print(const std::string& line) {
  if (enabled_) std::fputs("\r\033[K", out_);
  std::fprintf(out_, "%s\n", line.c_str());
  if (enabled_) Draw();
  std::fflush(out_);
}

void ProgressBar::Draw() {
  if (!enabled_) return;
  constexpr std::size_t kWidth = 20;
  const std::size_t filled = total_ ? done_ * kWidth / total_ : kWidth;
  std::string line = "\r\033[K[" + std::string(filled, '#') + std::string(kWidth - filled, '-') +
                     "] " + std::to_string(done_) + "/" + std::to_string(total_) + " runs";
  char number[64];
  if (best_) {
    std::snprintf(number, sizeof number, "  best %.2f", *best_);
    line += number;
  }
  if (bestEver_) {
    std::snprintf(number, sizeof number, "  best ever %.2f", *bestEver_);
    line += number;
  }
  // The mean run so far, for each run still to finish, spread over the jobs
  // that can still run side by side.
  if (done_ > 0 && done_ < total_) {
    const std::size_t remaining = total_ - done_;
    const double parallel = static_cast<double>(std::min<std::size_t>(jobs_, remaining));
    const double eta = secondsSum_ / static_cast<double>(done_) * static_cast<double>(remaining) / parallel;
    line += "  ETA " + FormatDuration(eta);
  }
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
}

void ProgressBar::Clear() {
  if (!enabled_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
}

}  // namespace reflector
