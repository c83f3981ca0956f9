#include "cli/child_runs.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <thread>

#include "cli/batch_child.h"
#include "cli/interrupts.h"
#include "formats/json_reader.h"
#include "formats/json_value.h"

namespace reflector {

namespace {

using Clock = std::chrono::steady_clock;

// A child process still running, with the read end of its standard error.
struct Child {
  std::size_t run = 0;
  pid_t pid = -1;
  int stderrFd = -1;  // -1 once the child has closed it
  std::string stderrText;
  Clock::time_point started;
};

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

std::optional<double> NumberOf(const JsonValue* value) {
  if (!value || value->kind != JsonValue::Kind::Number) return std::nullopt;
  double x = 0;
  const char* end = value->text.data() + value->text.size();
  const auto result = std::from_chars(value->text.data(), end, x);
  if (result.ec != std::errc() || result.ptr != end) return std::nullopt;
  return x;
}

// Starts `program ARGS` with standard output on /dev/null and standard error
// on a pipe.
bool StartChild(const std::string& program, const ChildRun& run, Child& child, std::string& error) {
  std::vector<std::string> args = {program};
  args.insert(args.end(), run.args.begin(), run.args.end());
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

// Records how a reaped child ended: its result, or why it failed.
void FinishRun(ChildRun& run, const Child& child, int waitStatus) {
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

bool ReadTextFile(const std::string& path, std::string& text, std::string& error) {
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

bool ReadOutcome(const std::string& path, RunOutcome& outcome, std::string& error) {
  std::string text;
  if (!ReadTextFile(path, text, error)) return false;
  JsonValue root;
  JsonError jsonError;
  if (!ParseJson(text, root, jsonError)) {
    error = path + ":" + std::to_string(jsonError.line) + ":" + std::to_string(jsonError.column) +
            ": " + jsonError.message;
    return false;
  }
  outcome = RunOutcome{};
  if (FindMember(root, "algorithm")) {
    const JsonValue* bestEver = FindMember(root, "bestEver");
    outcome.bestEver = bestEver ? NumberOf(FindMember(*bestEver, "score")) : std::nullopt;
    if (!outcome.bestEver) {
      error = path + ": not a result file (no bestEver score)";
      return false;
    }
    return true;
  }
  const JsonValue* generations = FindMember(root, "generations");
  const std::optional<double> bestIndex = NumberOf(FindMember(root, "bestIndex"));
  const JsonValue* candidates = FindMember(root, "candidates");
  if (!generations || generations->kind != JsonValue::Kind::Number || !bestIndex ||
      !candidates || candidates->kind != JsonValue::Kind::Array) {
    error = path + ": not a result file (no generations, bestIndex or candidates)";
    return false;
  }
  outcome.generations = generations->text;
  if (*bestIndex >= 0) {
    const auto index = static_cast<std::size_t>(*bestIndex);
    if (index >= candidates->items.size()) {
      error = path + ": bestIndex " + FindMember(root, "bestIndex")->text + " is past the candidates";
      return false;
    }
    outcome.best = NumberOf(FindMember(candidates->items[index], "score"));
  }
  if (const JsonValue* bestEver = FindMember(root, "bestEver")) {
    outcome.bestEver = NumberOf(FindMember(*bestEver, "score"));
  }
  return true;
}

ChildRunsEnd RunChildren(std::vector<ChildRun>& runs, const std::string& program, unsigned jobs,
                         const std::string& outDir, const std::string& context, ProgressBar& progress,
                         std::FILE* messages) {
  ChildRunsEnd end;
  std::vector<Child> running;
  std::size_t next = 0;
  bool& diskFull = end.diskFull;
  auto reportFailure = [&](const ChildRun& run) {
    ++end.failed;
    progress.Print("reflector: " + context + ": " + run.label + " failed: " + run.reason);
    if (!diskFull && DiskIsFull(run.reason)) {
      // Every run after it would fail the same way.
      diskFull = true;
      progress.Print("reflector: " + context + ": no room left for results in " + outDir +
                     "; no more runs are started");
    }
  };

  bool& interrupting = end.interrupted;
  while ((next < runs.size() && !interrupting && !diskFull) || !running.empty()) {
    if (!interrupting && InterruptSignal()) {
      // No new runs; the running ones stop at their next generation boundary.
      interrupting = true;
      for (const Child& child : running) kill(child.pid, InterruptSignal());
    }
    while (!interrupting && !diskFull && next < runs.size() && running.size() < jobs) {
      ChildRun& run = runs[next++];
      if (run.kept || run.failed) continue;
      run.started = true;
      Child child;
      child.run = static_cast<std::size_t>(&run - runs.data());
      if (!StartChild(program, run, child, run.reason)) {
        run.failed = true;
        reportFailure(run);
        progress.Finished(run.seconds, true, std::nullopt, std::nullopt);
        progress.Draw();
        continue;
      }
      running.push_back(std::move(child));
    }

    // Wait for output or an exit; a child whose pipe is closed but which is
    // not reaped yet is polled again shortly.
    std::vector<pollfd> fds;
    bool waitingForExit = false;
    for (const Child& child : running) {
      if (child.stderrFd >= 0) {
        fds.push_back({child.stderrFd, POLLIN, 0});
      } else {
        waitingForExit = true;
      }
    }
    const int timeout = waitingForExit ? 5 : 250;
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
      std::fprintf(messages, "reflector: %s: poll: %s\n", context.c_str(), std::strerror(errno));
      std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
    }
    for (std::size_t i = 0, f = 0; i < running.size(); ++i) {
      Child& child = running[i];
      if (child.stderrFd < 0) continue;
      if (fds[f++].revents != 0) DrainStderr(child);
    }

    for (std::size_t i = 0; i < running.size();) {
      Child& child = running[i];
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
      ChildRun& run = runs[child.run];
      if (reaped < 0) {
        run.failed = true;
        run.reason = std::string("cannot wait for it: ") + std::strerror(errno);
      } else {
        FinishRun(run, child, waitStatus);
      }
      // A run stopped by the signal passed on: by its exit status, or by the
      // signal itself when it had nothing to save.
      const int code = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus)
                       : WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus)
                                                 : 0;
      if (interrupting && run.failed && (code == 129 || code == 130 || code == 143)) {
        run.failed = false;
        run.interrupted = true;
      }
      if (run.failed) reportFailure(run);
      progress.Finished(run.seconds, run.failed, run.outcome.best, run.outcome.bestEver);
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
    }
    progress.Draw();
  }
  return end;
}

}  // namespace reflector
