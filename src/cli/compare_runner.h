#pragma once

#include <cstdio>
#include <string>

#include "cli/command_line.h"
#include "cli/picture_output.h"

namespace reflector {

// `reflector compare`: every algorithm x seed of the command line as its own
// headless run (program is this program's path), options.jobs at a time, each
// writing DIR/<algorithm>-<seed>.json and .csv (its history) within the same
// budget of evaluations; then the summary of DIR's runs, as Summarise writes
// it. Runs whose files are already there, made from the same scene, budget,
// radius and numerics, are kept, so a stopped comparison goes on where it
// was. Returns 0, 1 if a run or an output failed, 2 for unusable options, or
// the interrupt's status.
int RunCompare(const CommandLine& options, const std::string& program, PictureOutput* pictures,
               std::FILE* messages, bool showProgress);

// `reflector compare --summarise DIR`: reads every run in DIR (pairs of
// NAME.json and NAME.csv, gathered from any machine) and writes DIR/summary.csv,
// DIR/convergence.png and .svg, DIR/final-scores.png and .svg (without
// pictures: none) and DIR/report.md. The runs must share one scene and one
// budget. Returns 0, 1 if an output failed, 2 if DIR holds no usable runs.
int SummariseComparison(const CommandLine& options, const std::string& directory, PictureOutput* pictures,
                        std::FILE* messages);

}  // namespace reflector
