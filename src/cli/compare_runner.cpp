#include "cli/compare_runner.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "cli/child_runs.h"
#include "cli/compared_run_files.h"
#include "cli/comparison_plot.h"
#include "cli/comparison_statistics.h"
#include "cli/interrupts.h"
#include "cli/other_optimizer_runner.h"
#include "formats/file_identity.h"
#include "formats/output_file.h"
#include "formats/result_json.h"
#include "geometry/correctly_rounded.h"
#include "other_optimizers/algorithm_catalogue.h"
#include "other_optimizers/other_optimizer_run.h"

namespace reflector {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMostComparedRuns = 1000000;

// The files the summary writes in the folder.
const char* const kSummaryFiles[] = {"summary.csv",       "convergence.png", "convergence.svg",
                                     "final-scores.png", "final-scores.svg", "report.md"};

// The algorithms in the catalogue's order, then any others by name.
std::vector<std::string> AlgorithmOrder(const std::vector<ComparedRunFiles>& runs) {
  std::vector<std::string> order;
  for (const AlgorithmEntry& entry : AlgorithmCatalogue()) {
    for (const ComparedRunFiles& run : runs) {
      if (run.run.algorithm == entry.name) {
        order.push_back(entry.name);
        break;
      }
    }
  }
  std::vector<std::string> others;
  for (const ComparedRunFiles& run : runs) {
    if (std::find(order.begin(), order.end(), run.run.algorithm) == order.end() &&
        std::find(others.begin(), others.end(), run.run.algorithm) == others.end()) {
      others.push_back(run.run.algorithm);
    }
  }
  std::sort(others.begin(), others.end());
  order.insert(order.end(), others.begin(), others.end());
  return order;
}

std::string MarkdownTable(const std::vector<AlgorithmSummary>& summaries) {
  std::string table = "| algorithm | runs | best | lower quartile | median | upper quartile | worst |";
  std::string rule = "|---|---:|---:|---:|---:|---:|---:|";
  if (!summaries.empty()) {
    for (const LevelStatistic& level : summaries.front().levels) {
      table += " evaluations to " + LevelText(level.level) + " (runs reaching it) |";
      rule += "---:|";
    }
  }
  table += "\n" + rule + "\n";
  char number[64];
  auto score = [&](double x) {
    std::snprintf(number, sizeof number, "%.2f", x);
    return std::string(number);
  };
  for (const AlgorithmSummary& summary : summaries) {
    table += "| " + summary.algorithm + " | " + std::to_string(summary.runs) + " | " + score(summary.best) +
             " | " + score(summary.q1) + " | " + score(summary.median) + " | " + score(summary.q3) + " | " +
             score(summary.worst) + " |";
    for (const LevelStatistic& level : summary.levels) {
      std::string median = "never";
      if (level.medianEvaluations) {
        std::snprintf(number, sizeof number, "%.0f", *level.medianEvaluations);
        median = number;
      }
      table += " " + median + " (" + std::to_string(level.reached) + ") |";
    }
    table += "\n";
  }
  return table;
}

std::string ReportText(const std::vector<AlgorithmSummary>& summaries, std::size_t runs,
                       std::uint64_t evaluations, const std::optional<double>& radius, bool plots) {
  std::string report = "# Comparison of optimisers\n\n";
  report += std::to_string(runs) + " runs, " + std::to_string(evaluations) +
            " evaluations (scorings of a candidate mirror) each, on one scene";
  if (radius) report += "; the library's algorithms search within " + FormatDouble(*radius) + " pixels of the starting mirror";
  report += ". Lower scores are better.\n\n";
  report += MarkdownTable(summaries);
  report +=
      "\nA run's final score is the best score it found within its budget. Quartiles interpolate "
      "linearly between the sorted scores: the quantile at p of n scores lies at position (n - 1) p, "
      "counted from 0. Evaluations to a level: the scorings a run needed before its best score was at "
      "or below the level; a run that never got there counts as never, and the median is \"never\" "
      "when at least half the runs of an algorithm did not get there. The full-precision figures are "
      "in summary.csv.\n";
  if (plots) {
    report +=
        "\n## Convergence\n\nMedian best score so far against evaluations, with the band between the "
        "lower and upper quartiles.\n\n![Convergence](convergence.svg)\n"
        "\n## Final scores\n\nThe share of each algorithm's runs that ended at or below each score.\n\n"
        "![Final scores](final-scores.svg)\n";
  }
  return report;
}

// Writes the summary, the plots and the report of runs into directory.
int WriteSummary(const std::vector<ComparedRunFiles>& files, const std::vector<std::string>& algorithms,
                 const std::vector<double>& levelsAsked, const std::string& directory, PictureOutput* pictures,
                 std::FILE* messages) {
  std::vector<ComparedRun> runs;
  for (const ComparedRunFiles& file : files) runs.push_back(file.run);
  const std::vector<double> levels = levelsAsked.empty() ? DefaultLevels(runs) : levelsAsked;
  const std::vector<AlgorithmSummary> summaries = Summarise(runs, algorithms, levels);
  std::size_t seeds = 0;
  for (const AlgorithmSummary& summary : summaries) seeds = std::max(seeds, summary.runs);
  std::optional<double> radius;
  for (const ComparedRunFiles& file : files) {
    if (file.radius) radius = file.radius;
  }
  const std::uint64_t evaluations = files.front().generations * 10;

  int status = 0;
  std::vector<std::string> written;
  auto write = [&](const char* name, const std::string& bytes) {
    std::string error;
    if (!WriteOutputFile(JoinPath(directory, name), bytes, error)) {
      std::fprintf(messages, "reflector: %s\n", error.c_str());
      status = 1;
    }
  };
  write("summary.csv", SummaryCsvText(summaries));

  bool plots = pictures != nullptr;
  if (pictures) {
    const ComparisonPlot convergence = ConvergencePlot(
        runs, algorithms, "Best score so far: median and quartiles over " + std::to_string(seeds) + " seeds");
    const ComparisonPlot finals = FinalScoreDistributionPlot(
        runs, algorithms, "Final scores after " + std::to_string(evaluations) + " evaluations");
    for (const auto& [plot, stem] : {std::pair{&convergence, "convergence"}, std::pair{&finals, "final-scores"}}) {
      for (bool svg : {false, true}) {
        std::string bytes, error;
        if (!pictures->EncodeComparisonPlot(*plot, svg, bytes, error)) {
          std::fprintf(messages, "reflector: compare: %s plot: %s\n", stem, error.c_str());
          status = 1;
          plots = false;
          continue;
        }
        write((std::string(stem) + (svg ? ".svg" : ".png")).c_str(), bytes);
      }
    }
  } else {
    std::fprintf(messages, "reflector: compare: this build draws no plots (it has no window); "
                           "summary.csv and report.md only\n");
  }
  write("report.md", ReportText(summaries, runs.size(), evaluations, radius, plots));
  if (status == 0) {
    std::fprintf(messages, "reflector: compare: %zu runs of %zu algorithms summarised in %s\n", runs.size(),
                 summaries.size(), JoinPath(directory, "summary.csv").c_str());
  }
  return status;
}

// Whether the files of a run belong to the comparison asked for.
bool Matches(const ComparedRunFiles& files, const std::string& algorithm, std::uint32_t seed,
             std::uint64_t generations, double radius, const std::string& scene) {
  if (files.run.algorithm != algorithm || files.run.seed != seed || files.generations != generations ||
      files.scene != scene) {
    return false;
  }
  if (algorithm == kBuiltInAlgorithm) return files.numerics == kNumerics;
  return files.radius && *files.radius == radius;
}

}  // namespace

int RunCompare(const CommandLine& options, const std::string& program, PictureOutput* pictures,
               std::FILE* messages, bool showProgress) {
  if (options.firstSeed > options.lastSeed) {
    std::fprintf(messages, "reflector: compare: seeds %u-%u: the first is past the last\n", options.firstSeed,
                 options.lastSeed);
    return 2;
  }
  // Two files a run in one folder: past a million runs, a comparison is
  // better split by seeds and summarised together.
  const std::uint64_t total =
      options.algorithms.size() * (static_cast<std::uint64_t>(options.lastSeed) - options.firstSeed + 1);
  if (total > kMostComparedRuns) {
    std::fprintf(messages,
                 "reflector: compare: %llu runs is more than one comparison takes (at most %llu); split the "
                 "seeds over several folders and summarise the runs together with --summarise\n",
                 static_cast<unsigned long long>(total), static_cast<unsigned long long>(kMostComparedRuns));
    return 2;
  }
  for (const std::string& algorithm : options.algorithms) {
    if (algorithm != kBuiltInAlgorithm && !OtherOptimizersAvailable()) {
      std::fprintf(messages, "reflector: compare: %s: %s\n", algorithm.c_str(),
                   OtherOptimizersUnavailableReason().c_str());
      return 2;
    }
  }
  std::string error;
  std::string scene;
  if (!CanonicalSceneOf(options.sceneFile, scene, error)) {
    std::fprintf(messages, "reflector: %s\n", error.c_str());
    return 2;
  }
  if (!MakeOutputDirectory(options.outDir, error) ||
      !CheckOutputWritable(JoinPath(options.outDir, "summary.csv"), error)) {
    std::fprintf(messages, "reflector: %s\n", error.c_str());
    return 2;
  }
  const std::uint64_t evaluations = options.evaluations.value_or(kDefaultEvaluations);
  const std::uint64_t generations = (evaluations + 9) / 10;
  const std::optional<FileIdentity> sceneIdentity =
      options.sceneFile.empty() ? std::nullopt : IdentifyFile(options.sceneFile);

  std::vector<ChildRun> runs;
  std::vector<std::string> histories;
  runs.reserve(total);
  histories.reserve(total);
  std::vector<std::string> outputs(std::begin(kSummaryFiles), std::end(kSummaryFiles));
  for (std::string& output : outputs) output = JoinPath(options.outDir, output);
  for (const std::string& algorithm : options.algorithms) {
    for (std::uint64_t seed = options.firstSeed; seed <= options.lastSeed; ++seed) {
      const std::string stem = JoinPath(options.outDir, algorithm + "-" + std::to_string(seed));
      ChildRun& run = runs.emplace_back();
      run.label = algorithm + " seed " + std::to_string(seed);
      run.jsonFile = stem + ".json";
      histories.push_back(stem + ".csv");
      outputs.push_back(run.jsonFile);
      outputs.push_back(histories.back());
    }
  }
  if (sceneIdentity) {
    for (const std::string& output : outputs) {
      if (IdentifyFile(output) == sceneIdentity) {
        std::fprintf(messages, "reflector: compare: %s would be overwritten by the comparison's %s; put the "
                               "results in another folder (--out)\n",
                     options.sceneFile.c_str(), output.c_str());
        return 2;
      }
    }
  }

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const unsigned jobs = options.jobs ? options.jobs : cores;
  const unsigned sideBySide =
      static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(jobs, runs.size())));
  const unsigned threads = std::max(1u, cores / sideBySide);
  ProgressBar progress(messages, showProgress, runs.size(), jobs);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    ChildRun& run = runs[i];
    const std::string algorithm = options.algorithms[i / (options.lastSeed - options.firstSeed + 1ull)];
    const std::uint32_t seed =
        static_cast<std::uint32_t>(options.firstSeed + i % (options.lastSeed - options.firstSeed + 1ull));
    run.args = {"--headless", "--seed", std::to_string(seed), "--algorithm", algorithm,
                "--evaluations", std::to_string(evaluations)};
    if (!options.sceneFile.empty()) {
      run.args.insert(run.args.begin() + 1, {"--scene", options.sceneFile});
    }
    if (algorithm == kBuiltInAlgorithm) {
      run.args.insert(run.args.end(), {"--threads", std::to_string(threads)});
    } else {
      run.args.insert(run.args.end(), {"--radius", FormatDouble(options.radius)});
    }
    run.args.insert(run.args.end(), {"--json", run.jsonFile, "--history", histories[i]});
    ComparedRunFiles files;
    std::string why;
    if (!options.force && access(run.jsonFile.c_str(), F_OK) == 0 &&
        ReadComparedRun(run.jsonFile, histories[i], files, why) &&
        Matches(files, algorithm, seed, generations, options.radius, scene)) {
      run.started = run.kept = true;
      run.outcome.bestEver = files.run.FinalScore();
      progress.Finished(0, false, std::nullopt, run.outcome.bestEver);
      ++kept;
    }
  }
  if (kept > 0) {
    progress.Print("reflector: compare: " + std::to_string(kept) + " of " + std::to_string(runs.size()) +
                   " runs have their results in " + options.outDir + " already; kept (--force runs them again)");
  }
  progress.Draw();
  const auto started = Clock::now();
  const ChildRunsEnd end = RunChildren(runs, program, jobs, options.outDir, "compare", progress, messages);
  progress.Clear();
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const auto finished = std::count_if(runs.begin(), runs.end(), [](const ChildRun& run) {
    return run.started && !run.interrupted && !run.failed;
  });
  if (end.interrupted) {
    std::fprintf(messages,
                 "reflector: compare: interrupted after %.2f s; %td of %zu runs finished; the same command "
                 "goes on with the rest\n",
                 seconds, finished, runs.size());
    return InterruptStatus();
  }
  std::fprintf(messages, "reflector: compare: %zu runs (%zu kept, %zu failed) in %.2f s\n", runs.size(), kept,
               end.failed, seconds);

  // The summary is made from the files, as --summarise makes it: the same
  // bytes however the runs came about.
  std::vector<ComparedRunFiles> files;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (runs[i].failed || !runs[i].started) continue;
    ComparedRunFiles& file = files.emplace_back();
    if (!ReadComparedRun(runs[i].jsonFile, histories[i], file, error)) {
      std::fprintf(messages, "reflector: compare: %s\n", error.c_str());
      files.pop_back();
      return 1;
    }
  }
  if (files.empty()) {
    std::fprintf(messages, "reflector: compare: no run finished; nothing to summarise\n");
    return 1;
  }
  if (end.failed > 0) {
    std::fprintf(messages, "reflector: compare: the summary leaves out the %zu runs that failed\n", end.failed);
  }
  const int status = WriteSummary(files, AlgorithmOrder(files), options.levels, options.outDir, pictures, messages);
  return end.failed > 0 ? 1 : status;
}

int SummariseComparison(const CommandLine& options, const std::string& directory, PictureOutput* pictures,
                        std::FILE* messages) {
  DIR* folder = opendir(directory.c_str());
  if (!folder) {
    std::fprintf(messages, "reflector: %s: cannot read: %s\n", directory.c_str(), std::strerror(errno));
    return 2;
  }
  std::vector<std::string> stems;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.size() > 5 && name.ends_with(".json")) stems.push_back(name.substr(0, name.size() - 5));
  }
  closedir(folder);
  std::sort(stems.begin(), stems.end());

  std::vector<ComparedRunFiles> files;
  std::size_t skipped = 0;
  for (const std::string& stem : stems) {
    const std::string history = JoinPath(directory, stem + ".csv");
    if (access(history.c_str(), F_OK) != 0) continue;  // a scene or another file: not a run
    ComparedRunFiles file;
    std::string error;
    if (!ReadComparedRun(JoinPath(directory, stem + ".json"), history, file, error)) {
      std::fprintf(messages, "reflector: compare: left out: %s\n", error.c_str());
      ++skipped;
      continue;
    }
    // One comparison is one scene and one budget: anything else is not a
    // like-for-like comparison.
    if (!files.empty()) {
      const ComparedRunFiles& first = files.front();
      std::string differs;
      if (file.scene != first.scene) differs = "scene";
      else if (file.generations != first.generations) differs = "budget of evaluations";
      else if (file.radius && first.radius && *file.radius != *first.radius) differs = "radius";
      if (!differs.empty()) {
        std::fprintf(messages,
                     "reflector: compare: %s.json and %s.json have a different %s: summarise one comparison at "
                     "a time\n",
                     JoinPath(directory, stem).c_str(), JoinPath(directory, stems.front()).c_str(),
                     differs.c_str());
        return 2;
      }
    }
    files.push_back(std::move(file));
  }
  if (files.empty()) {
    std::fprintf(messages, "reflector: compare: %s holds no runs (pairs of NAME.json and NAME.csv)\n",
                 directory.c_str());
    return 2;
  }
  std::map<std::pair<std::string, std::uint32_t>, std::size_t> seen;
  for (const ComparedRunFiles& file : files) {
    if (++seen[{file.run.algorithm, file.run.seed}] == 2) {
      std::fprintf(messages, "reflector: compare: %s seed %u is in %s twice\n", file.run.algorithm.c_str(),
                   file.run.seed, directory.c_str());
      return 2;
    }
  }
  std::sort(files.begin(), files.end(), [](const ComparedRunFiles& a, const ComparedRunFiles& b) {
    return a.run.seed < b.run.seed;
  });
  const int status = WriteSummary(files, AlgorithmOrder(files), options.levels, directory, pictures, messages);
  return skipped > 0 && status == 0 ? 1 : status;
}

}  // namespace reflector
