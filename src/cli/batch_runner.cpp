#include "cli/batch_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/batch_child.h"
#include "cli/interrupts.h"
#include "formats/file_identity.h"
#include "formats/json_value.h"
#include "formats/json_writer.h"
#include "formats/output_file.h"
#include "formats/result_json.h"
#include "formats/scene_file.h"
#include "geometry/correctly_rounded.h"

extern char** environ;

namespace reflector {

namespace {

using Clock = std::chrono::steady_clock;

// What the parent needs of one finished child's result file.
struct RunOutcome {
  std::string generations;         // as the file wrote it
  std::optional<double> best;      // none before the first generation
  std::optional<double> bestEver;  // none when the file holds no best-ever record
};

// One scene x seed of the batch, in summary order.
struct Run {
  std::size_t scene = 0;
  std::uint32_t seed = 1;
  std::string jsonFile;
  bool failed = false;
  std::string reason;        // why it failed
  bool started = false;
  bool kept = false;         // its result was there from before, and is kept
  bool interrupted = false;  // stopped by the batch's own interrupt
  RunOutcome outcome;
  double seconds = 0;
};

// A child process still running, with the read end of its standard error.
struct Child {
  std::size_t run = 0;
  pid_t pid = -1;
  int stderrFd = -1;  // -1 once the child has closed it
  std::string stderrText;
  Clock::time_point started;
};

// Every child the batch has started and not yet reaped, in one place, so that
// a signal handler can find them all.
struct RunningChildren {
  std::vector<Child> children;
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

std::string JoinPath(const std::string& directory, const std::string& name) {
  return directory.ends_with('/') ? directory + name : directory + "/" + name;
}

// mkdir -p for the last level only: a missing parent is an error.
bool MakeOutputDirectory(const std::string& directory, std::string& error) {
  struct stat info;
  if (stat(directory.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    error = directory + ": cannot create: " + std::strerror(ENOTDIR);
    return false;
  }
  if (mkdir(directory.c_str(), 0777) != 0 && errno != EEXIST) {
    error = directory + ": cannot create: " + std::strerror(errno);
    return false;
  }
  return true;
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

// The child's last non-empty line, without the program's own "reflector: "
// prefix (the batch adds its own).
// Why a run failed, from what it printed: its last line, but not the summary
// a run prints after the error that made it fail.
std::string FailureReason(const std::string& text) {
  constexpr std::string_view kPrefix = "reflector: ";
  std::size_t end = text.size();
  std::string last;
  while (end > 0) {
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
    if (end == 0) break;
    const std::size_t newline = text.rfind('\n', end - 1);
    const std::size_t begin = newline == std::string::npos ? 0 : newline + 1;
    std::string line = text.substr(begin, end - begin);
    end = begin;
    // A progress bar's line ends in \r: its last part is what was shown.
    if (const std::size_t cr = line.rfind('\r'); cr != std::string::npos) line.erase(0, cr + 1);
    if (line.starts_with(kPrefix)) line.erase(0, kPrefix.size());
    if (last.empty()) last = line;
    const bool summary = line.find(" generations in ") != std::string::npos &&
                         line.find("generations/s)") != std::string::npos;
    if (!summary && !line.empty()) return line;
  }
  return last;
}

// A failure no other run can avoid: there is no room left for results.
bool DiskIsFull(const std::string& reason) {
  return reason.find(std::strerror(ENOSPC)) != std::string::npos ||
         reason.find(std::strerror(EDQUOT)) != std::string::npos;
}

const JsonValue* Member(const JsonValue& object, std::string_view key) {
  if (object.kind != JsonValue::Kind::Object) return nullptr;
  for (const JsonMember& member : object.members) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

std::optional<double> NumberOf(const JsonValue* value) {
  if (!value || value->kind != JsonValue::Kind::Number) return std::nullopt;
  double x = 0;
  const char* end = value->text.data() + value->text.size();
  const auto result = std::from_chars(value->text.data(), end, x);
  if (result.ec != std::errc() || result.ptr != end) return std::nullopt;
  return x;
}

bool ReadFile(const std::string& path, std::string& text, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  text.clear();
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    error = path + ": cannot read: " + std::strerror(EIO);
    return false;
  }
  return true;
}

// Reads a finished child's result file: the generation count, the final best
// (candidates[bestIndex].score) and the best-ever score.
bool ReadOutcome(const std::string& path, RunOutcome& outcome, std::string& error) {
  std::string text;
  if (!ReadFile(path, text, error)) return false;
  JsonValue root;
  JsonError jsonError;
  if (!ParseJson(text, root, jsonError)) {
    error = path + ":" + std::to_string(jsonError.line) + ":" + std::to_string(jsonError.column) +
            ": " + jsonError.message;
    return false;
  }
  const JsonValue* generations = Member(root, "generations");
  const std::optional<double> bestIndex = NumberOf(Member(root, "bestIndex"));
  const JsonValue* candidates = Member(root, "candidates");
  if (!generations || generations->kind != JsonValue::Kind::Number || !bestIndex ||
      !candidates || candidates->kind != JsonValue::Kind::Array) {
    error = path + ": not a result file (no generations, bestIndex or candidates)";
    return false;
  }
  outcome.generations = generations->text;
  if (*bestIndex >= 0) {
    const auto index = static_cast<std::size_t>(*bestIndex);
    if (index >= candidates->items.size()) {
      error = path + ": bestIndex " + Member(root, "bestIndex")->text + " is past the candidates";
      return false;
    }
    outcome.best = NumberOf(Member(candidates->items[index], "score"));
  }
  if (const JsonValue* bestEver = Member(root, "bestEver")) {
    outcome.bestEver = NumberOf(Member(*bestEver, "score"));
  }
  return true;
}

// Starts `program --headless --scene SCENE --seed S --threads T [--generations N]
// --json FILE` with standard output on /dev/null and standard error on a pipe.
bool StartChild(const std::string& program, const std::string& sceneFile, const Run& run,
                const std::optional<std::uint32_t>& generations, unsigned threads, Child& child,
                std::string& error) {
  std::vector<std::string> args = {program,      "--headless", "--scene", sceneFile,
                                   "--seed",     std::to_string(run.seed),
                                   "--threads",  std::to_string(threads)};
  if (generations) {
    args.push_back("--generations");
    args.push_back(std::to_string(*generations));
  }
  args.push_back("--json");
  args.push_back(run.jsonFile);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = BatchChildEnvironment();
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  // Close-on-exec, so that no other child inherits this pipe and keeps it
  // open past this child's exit; dup2 onto 2 clears the flag for this one.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  pid_t pid = -1;
  const int status = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (status != 0) {
    close(fds[0]);
    error = program + ": cannot start: " + std::strerror(status);
    return false;
  }
  child.pid = pid;
  child.stderrFd = fds[0];
  child.started = Clock::now();
  return true;
}

// Reads what is there; closes the pipe at its end. The text keeps only its
// tail: the last line is all the batch reports.
void DrainStderr(Child& child) {
  char buffer[4096];
  const ssize_t n = read(child.stderrFd, buffer, sizeof buffer);
  if (n > 0) {
    child.stderrText.append(buffer, static_cast<std::size_t>(n));
    constexpr std::size_t kKeep = 16384;
    if (child.stderrText.size() > 2 * kKeep) child.stderrText.erase(0, child.stderrText.size() - kKeep);
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    close(child.stderrFd);
    child.stderrFd = -1;
  }
}

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

class ProgressBar {
 public:
  ProgressBar(std::FILE* out, bool enabled, std::size_t total, unsigned jobs)
      : out_(out), enabled_(enabled), total_(total), jobs_(jobs) {}

  void Finished(const Run& run) {
    ++done_;
    secondsSum_ += run.seconds;
    if (run.failed) return;
    if (run.outcome.best && (!best_ || *run.outcome.best < *best_)) best_ = run.outcome.best;
    if (run.outcome.bestEver && (!bestEver_ || *run.outcome.bestEver < *bestEver_)) {
      bestEver_ = run.outcome.bestEver;
    }
  }

  // A message line above the bar.
  void Print(const std::string& line) {
    if (enabled_) std::fputs("\r\033[K", out_);
    std::fprintf(out_, "%s\n", line.c_str());
    if (enabled_) Draw();
    std::fflush(out_);
  }

  void Draw() {
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
    // The mean run so far, for each run still to finish, spread over the
    // jobs that can still run side by side.
    if (done_ > 0 && done_ < total_) {
      const std::size_t remaining = total_ - done_;
      const double parallel = static_cast<double>(std::min<std::size_t>(jobs_, remaining));
      const double eta = secondsSum_ / static_cast<double>(done_) * static_cast<double>(remaining) / parallel;
      line += "  ETA " + FormatDuration(eta);
    }
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
  }

  void Clear() {
    if (!enabled_) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
  }

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
std::string SummaryCsv(const std::vector<Run>& runs, const std::vector<std::string>& names) {
  std::string csv = "scene,seed,generations,best,best_ever,seconds\n";
  for (const Run& run : runs) {
    csv += CsvField(names[run.scene]) + "," + std::to_string(run.seed) + ",";
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
bool HasFinishedResult(const Run& run, const std::optional<std::string>& sceneText,
                       std::uint32_t generations) {
  if (!sceneText) return false;
  std::string text, error;
  if (access(run.jsonFile.c_str(), F_OK) != 0 || !ReadFile(run.jsonFile, text, error)) return false;
  const std::string head = "{\"generations\": " + std::to_string(generations) +
                           ", \"seed\": " + std::to_string(run.seed) + ", \"numerics\": \"" +
                           kNumerics + "\", ";
  return text.starts_with(head) && text.find(", \"scene\": " + *sceneText + ", ") != std::string::npos &&
         text.ends_with("]}\n");
}

// Records how a reaped child ended: its result, or why it failed.
void FinishRun(Run& run, const Child& child, int waitStatus) {
  run.seconds = std::chrono::duration<double>(Clock::now() - child.started).count();
  if (WIFSIGNALED(waitStatus)) {
    run.failed = true;
    run.reason = "killed by signal " + std::to_string(WTERMSIG(waitStatus));
    return;
  }
  const int status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  if (status != 0) {
    run.failed = true;
    run.reason = FailureReason(child.stderrText);
    if (run.reason.empty()) run.reason = "exit status " + std::to_string(status);
    return;
  }
  std::string error;
  if (!ReadOutcome(run.jsonFile, run.outcome, error)) {
    run.failed = true;
    run.reason = error;
  }
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

  std::vector<Run> runs;
  // All at once, so that a range too large for memory fails here, quickly.
  runs.reserve(options.sceneFiles.size() *
               (static_cast<std::size_t>(options.lastSeed) - options.firstSeed + 1));
  for (std::size_t scene = 0; scene < options.sceneFiles.size(); ++scene) {
    for (std::uint64_t seed = options.firstSeed; seed <= options.lastSeed; ++seed) {
      Run& run = runs.emplace_back();
      run.scene = scene;
      run.seed = static_cast<std::uint32_t>(seed);
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
  for (Run& run : runs) {
    if (!unreadable[run.scene]) continue;
    run.started = run.failed = true;
    run.reason = "the scene cannot be read";
    progress.Finished(run);
    ++failed;
  }

  // Results already there from an earlier batch are kept (unless --force).
  std::size_t kept = 0;
  if (!options.force) {
    const std::uint32_t generations = options.generations.value_or(kDefaultGenerations);
    for (Run& run : runs) {
      std::string error;
      if (run.failed || !HasFinishedResult(run, sceneTexts[run.scene], generations) ||
          !ReadOutcome(run.jsonFile, run.outcome, error)) {
        continue;
      }
      run.started = run.kept = true;
      progress.Finished(run);
      ++kept;
    }
    if (kept > 0) {
      progress.Print("reflector: batch: " + std::to_string(kept) + " of " +
                     std::to_string(runs.size()) +
                     " runs have their results in " + options.outDir + " already; kept (--force runs them again)");
    }
  }
  progress.Draw();
  RunningChildren running;
  std::size_t next = 0;
  bool diskFull = false;
  auto reportFailure = [&](const Run& run) {
    ++failed;
    progress.Print("reflector: batch: " + options.sceneFiles[run.scene] + " seed " +
                   std::to_string(run.seed) + " failed: " + run.reason);
    if (!diskFull && DiskIsFull(run.reason)) {
      // Every run after it would fail the same way.
      diskFull = true;
      progress.Print("reflector: batch: no room left for results in " + options.outDir +
                     "; no more runs are started");
    }
  };

  bool interrupting = false;
  while ((next < runs.size() && !interrupting && !diskFull) || !running.children.empty()) {
    if (!interrupting && InterruptSignal()) {
      // No new runs; the running ones stop at their next generation boundary.
      interrupting = true;
      for (const Child& child : running.children) kill(child.pid, InterruptSignal());
    }
    while (!interrupting && !diskFull && next < runs.size() && running.children.size() < jobs) {
      Run& run = runs[next++];
      if (run.kept || run.failed) continue;
      run.started = true;
      Child child;
      child.run = static_cast<std::size_t>(&run - runs.data());
      if (!StartChild(program, options.sceneFiles[run.scene], run, options.generations,
                      threadsPerRun, child, run.reason)) {
        run.failed = true;
        reportFailure(run);
        progress.Finished(run);
        progress.Draw();
        continue;
      }
      running.children.push_back(std::move(child));
    }

    // Wait for output or an exit; a child whose pipe is closed but which is
    // not reaped yet is polled again shortly.
    std::vector<pollfd> fds;
    bool waitingForExit = false;
    for (const Child& child : running.children) {
      if (child.stderrFd >= 0) {
        fds.push_back({child.stderrFd, POLLIN, 0});
      } else {
        waitingForExit = true;
      }
    }
    const int timeout = waitingForExit ? 5 : 250;
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
      std::fprintf(messages, "reflector: batch: poll: %s\n", std::strerror(errno));
      std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
    }
    for (std::size_t i = 0, f = 0; i < running.children.size(); ++i) {
      Child& child = running.children[i];
      if (child.stderrFd < 0) continue;
      if (fds[f++].revents != 0) DrainStderr(child);
    }

    for (std::size_t i = 0; i < running.children.size();) {
      Child& child = running.children[i];
      if (child.stderrFd >= 0) {
        ++i;
        continue;
      }
      int waitStatus = 0;
      const pid_t reaped = waitpid(child.pid, &waitStatus, WNOHANG);
      if (reaped == 0 || (reaped < 0 && errno == EINTR)) {
        ++i;
        continue;
      }
      Run& run = runs[child.run];
      if (reaped < 0) {
        run.failed = true;
        run.reason = std::string("cannot wait for it: ") + std::strerror(errno);
      } else {
        FinishRun(run, child, waitStatus);
      }
      const int code = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 0;
      if (interrupting && run.failed && (code == 130 || code == 143)) {
        run.failed = false;
        run.interrupted = true;
      }
      if (run.failed) reportFailure(run);
      progress.Finished(run);
      running.children.erase(running.children.begin() + static_cast<std::ptrdiff_t>(i));
    }
    progress.Draw();
  }
  progress.Clear();

  int status = failed ? 1 : 0;
  if (!WriteOutputFile(summaryFile, SummaryCsv(runs, names), error)) {
    std::fprintf(messages, "reflector: %s\n", error.c_str());
    status = 1;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (interrupting) {
    const auto finished = std::count_if(runs.begin(), runs.end(), [](const Run& run) {
      return run.started && !run.interrupted && !run.failed;
    });
    std::fprintf(messages,
                 "reflector: batch: interrupted after %.2f s; %td of %zu runs finished; summary "
                 "in %s\n",
                 seconds, finished, runs.size(), summaryFile.c_str());
    return status ? status : InterruptStatus();
  }
  const auto notRun = std::count_if(runs.begin(), runs.end(), [](const Run& run) { return !run.started; });
  std::string notRunText;
  if (notRun > 0) notRunText = ", " + std::to_string(notRun) + " not run";
  std::fprintf(messages, "reflector: batch: %zu runs (%zu failed%s) in %.2f s; summary in %s\n",
               runs.size(), failed, notRunText.c_str(), seconds, summaryFile.c_str());
  return status;
}

}  // namespace reflector
