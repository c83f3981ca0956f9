// The reflector program: the window, the headless runner with --headless, and
// the batch runner with `reflector batch`.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "cli/batch_child.h"
#include "cli/other_optimizer_runner.h"
#include "cli/batch_runner.h"
#include "cli/compare_runner.h"
#include "cli/command_line.h"
#include "cli/headless_runner.h"
#include "cli/interrupts.h"
#include "window/window_loader.h"

namespace {

// Standard output that cannot be written (a full disk, a closed pipe) is an
// error like any other output.
int PrintToStdout(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "reflector: standard output: cannot write: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

// Headless and batch work: a file past the size limit (ulimit -f) fails its
// write with EFBIG and the usual message instead of killing the process with
// SIGXFSZ, and running out of memory is a message, not an abort.
template <typename Work>
int RunWithLimits(Work work) {
  signal(SIGXFSZ, SIG_IGN);
  try {
    return work();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr,
                 "reflector: not enough memory to go on (a scene, checkpoint or batch too large "
                 "for this machine's memory or its limit)\n");
    return 1;
  }
}

int main(int argc, char** argv) {
  using reflector::CommandLine;

  std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine options;
  std::string error;
  if (!reflector::ParseCommandLine(args, options, error)) {
    std::fprintf(stderr, "reflector: %s (try 'reflector --help')\n", error.c_str());
    return 2;
  }
  const bool stderrIsTerminal = isatty(STDERR_FILENO) != 0;
  switch (options.mode) {
    case CommandLine::Mode::Help:
      return PrintToStdout(options.helpText);
    case CommandLine::Mode::Version:
      return PrintToStdout(std::string("reflector ") + REFLECTOR_VERSION + "\n");
    case CommandLine::Mode::ListAlgorithms:
      return PrintToStdout(reflector::AlgorithmListText());
    case CommandLine::Mode::Headless: {
      if (options.algorithm != reflector::kBuiltInAlgorithm) {
        // Such a run has nothing to save part way: a signal ends it at once,
        // with its status, and so does the end of the comparison that
        // started it.
        reflector::CatchInterrupts();
        reflector::EndAtOnceOnInterrupt(true);
        reflector::EndWithTheBatch();
        return RunWithLimits([&] { return reflector::RunOtherHeadless(options, stderr); });
      }
      reflector::CatchInterrupts();
      // Until the run has begun (reading a large scene can take seconds),
      // there is nothing to save: a signal ends the process at once.
      reflector::EndAtOnceOnInterrupt(true);
      reflector::EndWithTheBatch();
      const std::unique_ptr<reflector::PictureOutput> pictures = reflector::MakePictureOutput();
      return RunWithLimits(
          [&] { return reflector::RunHeadless(options, pictures.get(), stderr, stderrIsTerminal); });
    }
    case CommandLine::Mode::Batch:
      reflector::CatchInterrupts();
      return RunWithLimits(
          [&] { return reflector::RunBatch(options, "/proc/self/exe", stderr, stderrIsTerminal); });
    case CommandLine::Mode::Compare: {
      const std::unique_ptr<reflector::PictureOutput> pictures = reflector::MakePictureOutput();
      if (!options.summariseDir.empty()) {
        return RunWithLimits([&] {
          return reflector::SummariseComparison(options, options.summariseDir, pictures.get(), stderr);
        });
      }
      reflector::CatchInterrupts();
      return RunWithLimits([&] {
        return reflector::RunCompare(options, "/proc/self/exe", pictures.get(), stderr, stderrIsTerminal);
      });
    }
    case CommandLine::Mode::Window:
      break;
  }
  return reflector::OpenWindow(options, argc, argv);
}
