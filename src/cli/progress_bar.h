#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace reflector {

// The progress line of a set of runs on a terminal: done/total, the best
// scores so far and an estimate of the time left, redrawn in place with
// messages printed above it. Disabled (not a terminal), it prints only the
// messages.
class ProgressBar {
 public:
  ProgressBar(std::FILE* out, bool enabled, std::size_t total, unsigned jobs)
      : out_(out), enabled_(enabled), total_(total), jobs_(jobs) {}

  // A run ended after seconds; failed runs count, but their scores do not.
  void Finished(double seconds, bool failed, const std::optional<double>& best,
                const std::optional<double>& bestEver);

  // A message line above the bar.
  void Print(const std::string& line);
  void Draw();
  void Clear();

 private:
  std::FILE* out_;
  bool enabled_;
  std::size_t total_;
  unsigned jobs_;
  std::size_t done_ = 0;
  double secondsSum_ = 0;
  std::optional<double> best_;
  std::optional<double> bestEver_;
};

// "m:ss", or "h:mm:ss" from an hour on.
std::string FormatDuration(double seconds);

}  // namespace reflector
