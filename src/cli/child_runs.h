#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/progress_bar.h"

namespace reflector {

// What the parent needs of one finished run's result file.
struct RunOutcome {
  std::string generations;         // as the file wrote it; empty for another algorithm's
  std::optional<double> best;      // the final population's best; none before the first generation
  std::optional<double> bestEver;  // none when the file holds no best-ever record
};

// One headless run of this program as its own process, and how it ended.
struct ChildRun {
  std::vector<std::string> args;  // after the program's path; stdout goes to /dev/null
  std::string label;              // how messages name it: "scenes/a.json seed 3"
  std::string jsonFile;           // the result it writes

  bool started = false;
  bool kept = false;         // its result was there from before, and is kept
  bool failed = false;
  bool interrupted = false;  // stopped by the set's own interrupt
  std::string reason;        // why it failed
  RunOutcome outcome;
  double seconds = 0;
};

// Reads a finished run's result file: the built-in scheme's (generations,
// candidates[bestIndex].score, bestEver.score) or another algorithm's
// (bestEver.score).
bool ReadOutcome(const std::string& path, RunOutcome& outcome, std::string& error);

// A whole file; false with "PATH: cannot read: CAUSE".
bool ReadTextFile(const std::string& path, std::string& text, std::string& error);

struct ChildRunsEnd {
  std::size_t failed = 0;
  bool interrupted = false;
  bool diskFull = false;  // runs were left unstarted: no room for results
};

// Runs every run not yet started, kept or failed, `jobs` at a time, each as
// `program ARGS`: reports each failure on the progress bar's stream with the
// run's label and reason, stops starting runs once the disk is full, and on
// SIGINT, SIGTERM or SIGHUP (caught by the caller) passes the signal on and
// waits for the running ones. Messages read "reflector: CONTEXT: LABEL failed:
// REASON"; outDir names the results' folder in them.
ChildRunsEnd RunChildren(std::vector<ChildRun>& runs, const std::string& program, unsigned jobs,
                         const std::string& outDir, const std::string& context, ProgressBar& progress,
                         std::FILE* messages);

}  // namespace reflector
