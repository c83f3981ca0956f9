#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/plot_scale.h"

namespace reflector {

// What the command line asks for.
struct CommandLine {
  enum class Mode { Window, Headless, Batch, Compare, Help, Version, ListAlgorithms };
  Mode mode = Mode::Window;

  // The run: the window, --headless and each batch job.
  std::optional<std::uint32_t> generations;  // default 100000; with --resume, how many more
  std::optional<std::uint32_t> seed;         // default: the scene's seed, else 1
  std::string sceneFile;                     // empty: the default scene
  bool resetSettings = false;                // the window forgets what it saved
  // Threads scoring each generation; 0: one per core (a batch's runs: the
  // cores divided between its jobs). The bits do not depend on it.
  unsigned threads = 0;
  // The optimiser: the built-in scheme ("reflector") or another algorithm's
  // name, with a budget of scorings (the built-in scheme spends ten a
  // generation) and the box around the starting mirror.
  std::string algorithm = "reflector";
  std::optional<std::uint64_t> evaluations;
  double radius = 50.0;

  // Headless outputs; empty: not written. "-" is standard output for --json.
  std::string jsonFile;
  std::string checkpointFile;
  // How often the checkpoint is written while the run goes on (0: only at its
  // end or on a signal). Default kDefaultCheckpointEvery with --checkpoint.
  std::chrono::milliseconds checkpointEvery{0};
  std::string resumeFile;
  std::string historyFile;
  std::string pngFile;
  std::string svgFile;
  std::string plotFile;
  PlotScale plotScale = PlotScale::kAuto;
  int width = 800;
  int height = 600;

  // Batch: every scene x seed as its own headless run.
  unsigned jobs = 0;  // 0: one per core
  std::uint32_t firstSeed = 1;
  std::uint32_t lastSeed = 1;
  std::string outDir;
  bool force = false;  // batch: run again even the runs whose results are there
  std::vector<std::string> sceneFiles;

  // Compare: every algorithm x seed within --evaluations; or, with
  // summariseDir, only the summary of the runs gathered there.
  std::vector<std::string> algorithms;
  std::string summariseDir;
  std::vector<double> levels;  // empty: chosen from the runs' final scores

  std::string helpText;  // for Mode::Help: the text to print
};

inline constexpr std::uint32_t kDefaultGenerations = 100000;
inline constexpr std::chrono::milliseconds kDefaultCheckpointEvery = std::chrono::minutes(10);

// The threads a run scores with: the one asked for, else one per core.
unsigned RunThreads(const CommandLine& options);

// A duration as the command line writes it: a whole number and a unit, ms, s,
// m or h (seconds when there is none), at most a week. "0" is never.
bool ParseDuration(const std::string& text, std::chrono::milliseconds& out);

// Parses the arguments after the program name. Returns false with a one-line
// error on an unknown option, a missing, repeated or bad value, or an option
// that the mode does not take.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

// The text of --help, of `reflector batch --help` or of
// `reflector compare --help`.
std::string UsageText(const std::string& subcommand = "");

}  // namespace reflector
