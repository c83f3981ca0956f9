#pragma once

#include <cstdio>
#include <string>

#include "cli/command_line.h"
#include "other_optimizers/other_optimizer_run.h"
#include "scene/scene_description.h"

namespace reflector {

// `reflector --headless --algorithm NAME`: runs another optimiser on the
// scene within --evaluations scorings (default 200000), writes --json (the
// scene, the algorithm, its parameters, the seed, the scorings spent, the
// best mirror and score), --history (one row per ten scorings:
// generation,evaluations,best,mean,worst,best_ever) and --plot, and a summary
// line to messages. Returns the exit status, as RunHeadless does.
int RunOtherHeadless(const CommandLine& options, std::FILE* messages);

// The result file of such a run.
std::string OtherResultToJson(const SceneDescription& scene, const OtherRunResult& result);

// The text --list-algorithms prints: one algorithm a line, name and what it is.
std::string AlgorithmListText();

}  // namespace reflector
