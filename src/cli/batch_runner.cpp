#include "cli/batch_runner.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/child_runs.h"
#include "cli/interrupts.h"
#include "formats/file_identity.h"
#include "formats/json_writer.h"
#include "formats/output_file.h"
#include "formats/result_json.h"
#include "formats/scene_file.h"
#include "geometry/correctly_rounded.h"

namespace reflector {

namespace {

using Clock = std::chrono::steady_clock;

// One scene x seed of the batch, in summary order: the run itself and where
// it belongs.
struct BatchRun {
  std::size_t scene = 0;
  std::uint32_t seed = 1;
};

// "a/b/name.json" -> "name".
std::string RunName(const std::string& sceneFile) {
  const std::size_t slash = sceneFile.rfind('/');
  std::string name = slash == std::string::npos ? sceneFile : sceneFile.substr(slash + 1);
  constexpr std::string_view kSuffix = ".json";
  if (name.size() > kSuffix.size() && name.ends_with(kSuffix)) {
    name.resize(name.size() - kSuffix.size());
  }
  return name;
}

// The name of the input a result or the summary in the output folder would
// overwrite, if any: a file there named as an output of this batch (summary.csv
// or NAME-SEED.json, for a scene's NAME and a seed of the range) that is one
// of the scene files, by identity (links included). Only files that exist can
// be inputs, so reading the folder once finds every one.
std::optional<std::string> InputAnOutputWouldOverwrite(const CommandLine& options,
                                                       const std::vector<std::string>& names) {
  std::vector<FileIdentity> inputs;
  for (const std::string& scene : options.sceneFiles) {
    const std::optional<FileIdentity> identity = IdentifyFile(scene);
    inputs.push_back(identity.value_or(FileIdentity{}));
  }
  auto isOutputName = [&](const std::string& file) {
    if (file == "summary.csv") return true;
    constexpr std::string_view kSuffix = ".json";
    if (!file.ends_with(kSuffix)) return false;
    for (const std::string& name : names) {
      if (file.size() <= name.size() + 1 + kSuffix.size() || !file.starts_with(name + "-")) continue;
      const std::string seed =
          file.substr(name.size() + 1, file.size() - name.size() - 1 - kSuffix.size());
      std::uint64_t value = 0;
      bool digits = !seed.empty() && seed.size() <= 10 && (seed == "0" || seed[0] != '0');
      for (char c : seed) {
        digits = digits && c >= '0' && c <= '9';
        if (digits) value = value * 10 + static_cast<std::uint64_t>(c - '0');
      }
      if (digits && value >= options.firstSeed && value <= options.lastSeed) return true;
    }
    return false;
  };
  DIR* folder = opendir(options.outDir.c_str());
  if (!folder) return std::nullopt;
  std::optional<std::string> found;
  while (const dirent* entry = readdir(folder)) {
    const std::string file = entry->d_name;
    if (!isOutputName(file)) continue;
    const std::optional<FileIdentity> identity = IdentifyFile(JoinPath(options.outDir, file));
    for (std::size_t i = 0; identity && i < inputs.size(); ++i) {
      if (inputs[i] == *identity) {
        found = options.sceneFiles[i] + " would be overwritten by the batch's " +
                JoinPath(options.outDir, file);
        break;
      }
    }
    if (found) break;
  }
  closedir(folder);
  return found;
}

// A CSV field, quoted when it must be.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string OptionalDouble(const std::optional<double>& x) {
  return x ? FormatDouble(*x) : std::string();
}

// One row per run in scene-then-seed order. A failed run says "failed" in the
// best column and leaves generations, best_ever and seconds empty; so do runs
// an interrupt stopped ("interrupted") or kept from starting ("not run").
std::string SummaryCsv(const std::vector<ChildRun>& runs, const std::vector<BatchRun>& places,
                       const std::vector<std::string>& names) {
  std::string csv = "scene,seed,generations,best,best_ever,seconds\n";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const ChildRun& run = runs[i];
    csv += CsvField(names[places[i].scene]) + "," + std::to_string(places[i].seed) + ",";
    if (run.interrupted || !run.started) {
      csv += run.interrupted ? ",interrupted,,\n" : ",not run,,\n";
      continue;
    }
    if (run.failed) {
      csv += ",failed,,\n";
      continue;
    }
    char seconds[32] = "";
    if (!run.kept) std::snprintf(seconds, sizeof seconds, "%.3f", run.seconds);
    csv += run.outcome.generations + "," + OptionalDouble(run.outcome.best) + "," +
           OptionalDouble(run.outcome.bestEver) + "," + seconds + "\n";
  }
  return csv;
}

// Whether the result file already there is this run's, finished: written with
// these numerics for the same generation count and seed, from the same scene
// (the result holds the scene as it read it). Such a result is what a new run
// would write again, byte for byte, so a batch that was stopped goes on from
// where it was.
bool HasFinishedResult(const ChildRun& run, std::uint32_t seed, const std::optional<std::string>& sceneText,
                       std::uint32_t generations) {
  if (!sceneText) return false;
  std::string text, error;
  if (access(run.jsonFile.c_str(), F_OK) != 0 || !ReadTextFile(run.jsonFile, text, error)) return false;
  const std::string head = "{\"generations\": " + std::to_string(generations) +
                           ", \"seed\": " + std::to_string(seed) + ", \"numerics\": \"" +
                           kNumerics + "\", ";
  return text.starts_with(head) && text.find(", \"scene\": " + *sceneText + ", ") != std::string::npos &&
         text.ends_with("]}\n");
}

// The arguments of one run: `--headless --scene SCENE --seed S --threads T
// [--generations N] --json FILE`.
std::vector<std::string> ChildArgs(const std::string& sceneFile, std::uint32_t seed,
                                   const std::optional<std::uint32_t>& generations, unsigned threads,
                                   const std::string& jsonFile) {
  std::vector<std::string> args = {"--headless", "--scene", sceneFile, "--seed", std::to_string(seed),
                                   "--threads", std::to_string(threads)};
  if (generations) {
    args.push_back("--generations");
    args.push_back(std::to_string(*generations));
  }
  args.push_back("--json");
  args.push_back(jsonFile);
  return args;
}

}  // namespace
int RunBatch(const CommandLine& options, const std::string& program, std::FILE* messages,
             bool showProgress) {
  if (options.sceneFiles.empty()) {
    std::fprintf(messages, "reflector: batch: no scene files (try 'reflector batch --help')\n");
    return 2;
  }
  if (options.outDir.empty()) {
    std::fprintf(messages, "reflector: batch: no output folder (--out DIR)\n");
    return 2;
  }
  if (options.firstSeed > options.lastSeed) {
    std::fprintf(messages, "reflector: batch: seeds %u-%u: the first is past the last\n",
                 options.firstSeed, options.lastSeed);
    return 2;
  }
  // Each scene's results are named after its file: two files of one name
  // would overwrite each other's results.
  std::vector<std::string> names;
  std::map<std::string, std::size_t> byName;
  for (std::size_t i = 0; i < options.sceneFiles.size(); ++i) {
    names.push_back(RunName(options.sceneFiles[i]));
    const auto [it, added] = byName.emplace(names.back(), i);
    if (!added) {
      std::fprintf(messages, "reflector: batch: %s and %s would both write %s-SEED.json\n",
                   options.sceneFiles[it->second].c_str(), options.sceneFiles[i].c_str(),
                   names.back().c_str());
      return 2;
    }
  }
  std::string error;
  const std::string summaryFile = JoinPath(options.outDir, "summary.csv");
  if (!MakeOutputDirectory(options.outDir, error) || !CheckOutputWritable(summaryFile, error)) {
    std::fprintf(messages, "reflector: %s\n", error.c_str());
    return 2;
  }
  if (const std::optional<std::string> overwritten = InputAnOutputWouldOverwrite(options, names)) {
    std::fprintf(messages, "reflector: batch: %s; put the results in another folder (--out)\n",
                 overwritten->c_str());
    return 2;
  }

  std::vector<ChildRun> runs;
  std::vector<BatchRun> places;
  // All at once, so that a range too large for memory fails here, quickly.
  const std::size_t total = options.sceneFiles.size() *
                            (static_cast<std::size_t>(options.lastSeed) - options.firstSeed + 1);
  runs.reserve(total);
  places.reserve(total);
  for (std::size_t scene = 0; scene < options.sceneFiles.size(); ++scene) {
    for (std::uint64_t seed = options.firstSeed; seed <= options.lastSeed; ++seed) {
      places.push_back({scene, static_cast<std::uint32_t>(seed)});
      ChildRun& run = runs.emplace_back();
      run.label = options.sceneFiles[scene] + " seed " + std::to_string(seed);
      run.jsonFile = JoinPath(options.outDir, names[scene] + "-" + std::to_string(seed) + ".json");
    }
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const unsigned jobs = options.jobs ? options.jobs : cores;
  // The cores are shared out between the runs that go side by side, so that
  // together they do not ask for more threads than there are cores.
  const unsigned sideBySide =
      static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(jobs, runs.size())));
  const unsigned threadsPerRun = options.threads ? options.threads : std::max(1u, cores / sideBySide);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    runs[i].args = ChildArgs(options.sceneFiles[places[i].scene], places[i].seed, options.generations,
                             threadsPerRun, runs[i].jsonFile);
  }

  const auto started = Clock::now();
  ProgressBar progress(messages, showProgress, runs.size(), jobs);

  // Every scene is read once here: one that cannot be read is reported once,
  // not once for each of its seeds, and its runs are not started.
  std::size_t failed = 0;
  std::vector<std::optional<std::string>> sceneTexts;
  std::vector<bool> unreadable(options.sceneFiles.size(), false);
  for (std::size_t i = 0; i < options.sceneFiles.size(); ++i) {
    SceneDescription scene;
    std::string sceneError;
    std::optional<std::string>& text = sceneTexts.emplace_back();
    if (LoadSceneFile(options.sceneFiles[i], scene, sceneError)) {
      if (!options.force) AppendScene(text.emplace(), scene);
      continue;
    }
    unreadable[i] = true;
    const std::size_t seeds = static_cast<std::size_t>(options.lastSeed) - options.firstSeed + 1;
    progress.Print("reflector: batch: " + sceneError + "; its " + std::to_string(seeds) +
                   (seeds == 1 ? " run fails" : " runs fail"));
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (!unreadable[places[i].scene]) continue;
    runs[i].started = runs[i].failed = true;
    runs[i].reason = "the scene cannot be read";
    progress.Finished(0, true, std::nullopt, std::nullopt);
    ++failed;
  }

  // Results already there from an earlier batch are kept (unless --force).
  std::size_t kept = 0;
  if (!options.force) {
    const std::uint32_t generations = options.generations.value_or(kDefaultGenerations);
    for (std::size_t i = 0; i < runs.size(); ++i) {
      ChildRun& run = runs[i];
      std::string error;
      if (run.failed || !HasFinishedResult(run, places[i].seed, sceneTexts[places[i].scene], generations) ||
          !ReadOutcome(run.jsonFile, run.outcome, error)) {
        continue;
      }
      run.started = run.kept = true;
      progress.Finished(0, false, run.outcome.best, run.outcome.bestEver);
      ++kept;
    }
    if (kept > 0) {
      progress.Print("reflector: batch: " + std::to_string(kept) + " of " +
                     std::to_string(runs.size()) +
                     " runs have their results in " + options.outDir + " already; kept (--force runs them again)");
    }
  }
  progress.Draw();
  const ChildRunsEnd end = RunChildren(runs, program, jobs, options.outDir, "batch", progress, messages);
  failed += end.failed;
  const bool interrupting = end.interrupted;
  progress.Clear();

  int status = failed ? 1 : 0;
  if (!WriteOutputFile(summaryFile, SummaryCsv(runs, places, names), error)) {
    std::fprintf(messages, "reflector: %s\n", error.c_str());
    status = 1;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (interrupting) {
    const auto finished = std::count_if(runs.begin(), runs.end(), [](const ChildRun& run) {
      return run.started && !run.interrupted && !run.failed;
    });
    std::fprintf(messages,
                 "reflector: batch: interrupted after %.2f s; %td of %zu runs finished; summary "
                 "in %s\n",
                 seconds, finished, runs.size(), summaryFile.c_str());
    return status ? status : InterruptStatus();
  }
  const auto notRun = std::count_if(runs.begin(), runs.end(), [](const ChildRun& run) { return !run.started; });
  std::string notRunText;
  if (notRun > 0) notRunText = ", " + std::to_string(notRun) + " not run";
  std::fprintf(messages, "reflector: batch: %zu runs (%zu failed%s) in %.2f s; summary in %s\n",
               runs.size(), failed, notRunText.c_str(), seconds, summaryFile.c_str());
  return status;
}

}  // namespace reflector
