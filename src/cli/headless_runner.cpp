#include "cli/headless_runner.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "cli/interrupts.h"
#include "formats/checkpoint.h"
#include "formats/opened_file.h"
#include "formats/history_stream.h"
#include "formats/file_identity.h"
#include "formats/output_file.h"
#include "formats/result_json.h"
#include "formats/scene_file.h"
#include "formats/svg_canvas.h"
#include "geometry/random.h"
#include "optimizer/reflector_optimizer.h"
#include "scene/scene_renderer.h"
#include "threading/ref_ptr.h"

namespace reflector {

namespace {

// How long an interrupted run waits for its worker to see the stop. The
// worker runs at the lowest priority: beside busy processes it may take
// seconds to get through the jitter of a large mirror. What is saved is the
// last complete generation either way, so after this the run is saved
// without it.
constexpr std::chrono::milliseconds kStopGrace{200};

// How often the runner looks at its run: takes its rows, heeds an
// interrupt, saves a checkpoint when due, draws progress (every 100 ms).
// Every look wakes a thread and takes the worker's lock: looking every 5 ms
// cost a 10,000-generation run of the default scene about 2 ms of its 0.24 s
// of processor time. An interrupt waits at most this long before the worker
// is told.
constexpr std::chrono::milliseconds kLookEvery{20};

using Clock = std::chrono::steady_clock;

// How a run begins: a scene from a file (or the default), or a checkpoint.
struct RunPlan {
  SceneDescription scene;
  std::string sceneName = "default scene";
  std::uint32_t seed = 1;
  std::uint32_t randomState = 1;
  std::uint32_t generationLimit = kDefaultGenerations;
  std::optional<RunStart> resumeFrom;
};

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool PlanRun(const CommandLine& options, RunPlan& plan, std::string& error) {
  if (!options.resumeFile.empty()) {
    Checkpoint checkpoint;
    if (!LoadCheckpointFile(options.resumeFile, checkpoint, error)) return false;
    plan.scene = std::move(checkpoint.scene);
    plan.sceneName = BaseName(options.resumeFile);
    plan.seed = checkpoint.seed;
    plan.randomState = checkpoint.randomState;
    if (options.generations) {
      if (*options.generations > UINT32_MAX - checkpoint.generations) {
        error = options.resumeFile + ": " + std::to_string(checkpoint.generations) +
                " generations done; " + std::to_string(*options.generations) +
                " more would pass 4294967295";
        return false;
      }
      plan.generationLimit = checkpoint.generations + *options.generations;
    } else {
      plan.generationLimit = checkpoint.generationLimit;
    }
    plan.resumeFrom = ResumedStart(std::move(checkpoint));
    return true;
  }
  if (!options.sceneFile.empty()) {
    if (!LoadSceneFile(options.sceneFile, plan.scene, error)) return false;
    plan.sceneName = BaseName(options.sceneFile);
  }
  plan.seed = options.seed ? *options.seed : plan.scene.seed.value_or(1);
  plan.randomState = plan.seed;
  plan.generationLimit = options.generations.value_or(kDefaultGenerations);
  return true;
}

// Why a scene cannot score, or nothing when it can.
std::optional<std::string> WhyUnscorable(const SceneDescription& scene) {
  if (scene.reflector.size() < 2) {
    return "the mirror has fewer than 2 vertices, so no ray can meet it";
  }
  if (scene.aim == scene.source) return "the aim equals the source, so the beam has no direction";
  return std::nullopt;
}

bool HasExtension(const std::string& path, const char* extension) {
  const std::string ending = extension;
  if (path.size() < ending.size()) return false;
  std::string tail = path.substr(path.size() - ending.size());
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ending;
}

void DrawProgress(std::FILE* out, std::uint32_t done, std::uint32_t first, std::uint32_t total,
                  double seconds, std::optional<double> best, std::optional<double> bestEver) {
  constexpr int kWidth = 30;
  const double fraction = total ? static_cast<double>(done) / total : 1.0;
  const int filled = static_cast<int>(fraction * kWidth);
  const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, '-');
  const double perSecond = seconds > 0 ? (done - first) / seconds : 0.0;
  std::fprintf(out, "\r\033[K[%s] %u/%u  %.0f/s", bar.c_str(), done, total, perSecond);
  if (best) std::fprintf(out, "  best %.2f", *best);
  if (bestEver) std::fprintf(out, "  best ever %.2f", *bestEver);
  if (perSecond > 0) {
    const auto left = static_cast<long>((total - done) / perSecond);
    std::fprintf(out, "  ETA %ld:%02ld", left / 60, left % 60);
  }
  std::fflush(out);
}

// What the run left, copied under the optimiser's lock.
struct RunOutcome {
  Population population;
  RunRecord record;
  std::uint32_t randomState = 1;
};

std::string CheckpointText(const RunPlan& plan, const RunOutcome& outcome) {
  Checkpoint checkpoint;
  checkpoint.scene = plan.scene;
  checkpoint.seed = plan.seed;
  checkpoint.generations = outcome.record.completedGenerations;
  checkpoint.generationLimit = plan.generationLimit;
  checkpoint.randomState = outcome.randomState;
  checkpoint.population.bestIndex = outcome.population.bestIndex;
  for (const Candidate& candidate : outcome.population.candidates) {
    Candidate stored;  // ray records are traced again on resume
    stored.vertices = candidate.vertices;
    stored.score = candidate.score;
    checkpoint.population.candidates.push_back(std::move(stored));
  }
  checkpoint.bestEver = outcome.record.bestEver;
  return CheckpointToText(checkpoint);
}

}  // namespace

int RunHeadless(const CommandLine& options, PictureOutput* pictures, std::FILE* messages,
                bool showProgress) {
  auto fail = [&](int status, const std::string& message) {
    std::fprintf(messages, "reflector: %s\n", message.c_str());
    return status;
  };

  RunPlan plan;
  std::string error;
  if (!PlanRun(options, plan, error)) return fail(2, error);

  const bool plotSvg = HasExtension(options.plotFile, ".svg");
  if (!options.plotFile.empty() && !plotSvg && !HasExtension(options.plotFile, ".png")) {
    return fail(2, options.plotFile + ": --plot writes .png or .svg files");
  }
  if (!options.pngFile.empty() || !options.plotFile.empty()) {
    if (!pictures) {
      return fail(2, "this build has no picture output (built without Qt): drop --png and --plot");
    }
    if (std::string why; !pictures->CanDraw(why)) return fail(2, why + ": drop --png and --plot");
  }

  // Every output is checked before the run: a run is never lost at the end.
  const std::string historyPartial =
      options.historyFile.empty() || options.historyFile == "-"
          ? std::string()
          : HistoryStream::PartialPath(options.historyFile);
  const std::pair<const char*, const std::string*> outputs[] = {
      {"--json", &options.jsonFile},       {"--checkpoint", &options.checkpointFile},
      {"--history", &options.historyFile}, {"--history's .partial", &historyPartial},
      {"--png", &options.pngFile},         {"--svg", &options.svgFile},
      {"--plot", &options.plotFile}};
  // Paths are compared by the file they reach, not by their text: an output
  // must not overwrite another, nor an input (but a checkpoint may take the
  // place of the one it resumes).
  const std::pair<const char*, const std::string*> inputs[] = {
      {"--scene", &options.sceneFile}, {"--resume", &options.resumeFile}};
  for (std::size_t i = 0; i < std::size(outputs); ++i) {
    const auto& [option, path] = outputs[i];
    if (path->empty() || *path == "-") continue;
    for (std::size_t j = 0; j < i; ++j) {
      const auto& [otherOption, otherPath] = outputs[j];
      if (!otherPath->empty() && *otherPath != "-" && SameFile(*path, *otherPath)) {
        return fail(2, *path + ": named by two outputs (" + otherOption + " and " + option + ")");
      }
    }
    for (const auto& [inputOption, inputPath] : inputs) {
      const bool resumedInPlace = std::string_view(option) == "--checkpoint" &&
                                  std::string_view(inputOption) == "--resume";
      if (!inputPath->empty() && !resumedInPlace && SameFile(*path, *inputPath)) {
        return fail(2, *path + ": " + option + " would overwrite the " + inputOption + " file");
      }
    }
  }
  for (const auto& [option, path] : outputs) {
    if (path->empty()) continue;
    if (*path == "-" && std::string(option) != "--json") {
      return fail(2, std::string(option) + " writes a file, not standard output");
    }
    if (*path != "-" && !CheckOutputWritable(*path, error)) return fail(1, error);
  }

  // From here on there is work to keep: a signal stops the run where it can
  // be saved, instead of ending the process at once.
  EndAtOnceOnInterrupt(false);

  if (const auto why = WhyUnscorable(plan.scene)) {
    std::fprintf(messages, "reflector: warning: %s; every score will be 150000\n", why->c_str());
  }

  const std::uint32_t first = plan.resumeFrom ? plan.resumeFrom->record.completedGenerations : 0;
  // The rows are written out as they come and kept only for a plot.
  HistoryStream history;
  const bool keepPlotRows = !options.plotFile.empty();
  RunRecord plotRows;
  plotRows.firstGeneration = first + 1;
  if (!options.historyFile.empty()) {
    std::optional<double> bestEverThere;
    if (plan.resumeFrom && plan.resumeFrom->record.bestEver) {
      bestEverThere = plan.resumeFrom->record.bestEver->score;
    }
    if (!history.Open(options.historyFile, first, bestEverThere, keepPlotRows ? &plotRows : nullptr,
                      error)) {
      return fail(history.RowsRefused() ? 2 : 1, error);
    }
  }

  SetRandomState(plan.randomState);
  const SceneSnapshot sceneSnapshot = ToSnapshot(plan.scene);
  const auto started = Clock::now();
  RefPtr<ReflectorOptimizer> optimizer;
  auto start = [&](std::optional<RunStart> from) {
    try {
      optimizer.Adopt(new ReflectorOptimizer(sceneSnapshot, plan.generationLimit, std::move(from),
                                             false, std::nullopt,
                                             static_cast<int>(RunThreads(options))));
      return true;
    } catch (const std::system_error& failure) {
      error = std::string("cannot start the optimiser's worker thread: ") + failure.what();
      return false;
    }
  };
  if (!start(std::move(plan.resumeFrom))) return fail(1, error);

  int status = 0;
  auto write = [&](const std::string& path, const std::string& bytes) {
    if (path.empty()) return false;
    if (!WriteOutputFile(path, bytes, error)) {
      std::fprintf(messages, "reflector: %s\n", error.c_str());
      status = 1;
      return false;
    }
    return true;
  };

  std::vector<GenerationScores> rows;
  bool historyFailed = false;
  auto takeRows = [&] {
    rows.clear();
    std::uint32_t rowsFirst = 0;
    if (optimizer->TakeHistory(rows, rowsFirst) == 0) return;
    if (keepPlotRows) {
      if (plotRows.history.empty()) plotRows.firstGeneration = rowsFirst;
      plotRows.history.insert(plotRows.history.end(), rows.begin(), rows.end());
    }
    if (history.IsOpen() && !historyFailed && !history.Append(rows, rowsFirst, error)) {
      // Stop at once: a run whose history cannot be written is not finished.
      std::fprintf(messages, "reflector: %s\n", error.c_str());
      historyFailed = true;
      status = 1;
      optimizer->RequestStop();
    }
  };

  // Everything the worker left, once it has ended: the generator is then the
  // run's own. A run stopped inside a generation continues from the last
  // complete one, whose generator state the record keeps.
  RunOutcome outcome;
  SceneSnapshot snapshot;
  // A worker that has not ended (an interrupted run that stopped waiting
  // for it) is left running: the process ends without it.
  bool workerEnded = true;
  auto collect = [&] {
    workerEnded = optimizer->Done();
    OptimizerState state = CopyState(*optimizer);
    outcome.population = std::move(state.population);
    outcome.record = std::move(state.record);
    snapshot = std::move(state.snapshot);
    // Before its turn the worker has drawn nothing: the generator is where
    // the run set it.
    outcome.randomState = outcome.record.boundaryState.value_or(
        workerEnded ? RandomState() : plan.randomState);
    if (workerEnded) {
      optimizer.Reset();
    } else {
      AddRef(optimizer.Get());  // never destroyed: that would wait for the worker
    }
  };
  // The history's rows reach the disk before the checkpoint that resumes
  // after them, so that a resumed run always finds its rows.
  auto saveCheckpoint = [&](const RunOutcome& saved) {
    if (history.IsOpen() && !historyFailed && !history.Sync(error)) {
      std::fprintf(messages, "reflector: %s\n", error.c_str());
      historyFailed = true;
      status = 1;
    }
    return !options.checkpointFile.empty() &&
           write(options.checkpointFile, CheckpointText(plan, saved));
  };
  // While the run goes on: the last complete generation, copied under the
  // lock, and the rows up to it (and perhaps a few past it, which a resumed
  // history drops). False when the worker has no generator state to save yet.
  auto saveCheckpointWhileRunning = [&] {
    OptimizerState state = CopyState(*optimizer);
    if (!state.record.boundaryState) return false;
    RunOutcome saved;
    saved.population = std::move(state.population);
    saved.record = std::move(state.record);
    saved.randomState = *saved.record.boundaryState;
    takeRows();
    return saveCheckpoint(saved);
  };

  auto lastDraw = Clock::now();
  auto lastCheckpoint = Clock::now();
  auto interruptedAt = Clock::now();
  bool interrupted = false;
  bool outputFailed = false;
  // The population has been filled (or taken from the checkpoint) and
  // published: there is something whole to save.
  auto published = [&] {
    const Population* population = nullptr;
    optimizer->LockState(&population, nullptr);
    const bool any = !population->candidates.empty();
    optimizer->UnlockState();
    return any;
  };
  while (!optimizer->Done()) {
    if (!interrupted && InterruptSignal()) {
      // At the next ray: the checkpoint is of the last complete generation.
      optimizer->RequestStop();
      interrupted = true;
      interruptedAt = Clock::now();
    }
    if (interrupted && Clock::now() - interruptedAt >= kStopGrace && published()) break;
    takeRows();
    if (!interrupted && !outputFailed && options.checkpointEvery.count() > 0 &&
        Clock::now() - lastCheckpoint >= options.checkpointEvery &&
        saveCheckpointWhileRunning()) {
      lastCheckpoint = Clock::now();
    }
    if (status != 0 && !outputFailed) {
      // An output that cannot be written: stop rather than run on unsaved.
      optimizer->RequestStop();
      outputFailed = true;
    }
    optimizer->WaitUntilDone(kLookEvery);
    const auto now = Clock::now();
    if (showProgress && now - lastDraw >= std::chrono::milliseconds(100)) {
      lastDraw = now;
      const Population* population = nullptr;
      const RunRecord* record = nullptr;
      optimizer->LockState(&population, nullptr, &record);
      const std::optional<double> best = BestScore(*population);
      const std::optional<double> bestEver =
          record->bestEver ? std::optional<double>(record->bestEver->score) : std::nullopt;
      const std::uint32_t done = record->completedGenerations;
      optimizer->UnlockState();
      DrawProgress(messages, done, first, plan.generationLimit,
                   std::chrono::duration<double>(now - started).count(), best, bestEver);
    }
  }
  takeRows();  // a finished worker's last rows
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (showProgress) std::fprintf(messages, "\r\033[K");
  collect();
  // A worker still running may have published one more generation before
  // the copy: its row is taken too (a resumed history drops rows past the
  // checkpoint, but cannot fill a gap).
  if (!workerEnded) takeRows();
  const std::uint32_t generations = outcome.record.completedGenerations;

  interrupted = interrupted || InterruptSignal() != 0;
  outputFailed = outputFailed || historyFailed;
  if (interrupted || outputFailed) {
    // The checkpoint and the history so far: the other outputs describe a
    // finished run, and an existing one is left as it was.
    const bool saved = saveCheckpoint(outcome);
    std::string kept =
        saved ? "checkpoint written to " + options.checkpointFile : std::string("nothing written");
    if (history.IsOpen() && !historyFailed) {
      if (history.Commit(error)) {
        kept += "; history so far in " + options.historyFile;
      } else {
        std::fprintf(messages, "reflector: %s\n", error.c_str());
        status = 1;
      }
    }
    // Rows that failed to be written cannot be continued.
    if (historyFailed) history.Discard();
    std::fprintf(messages, "reflector: %s at generation %u; %s\n",
                 outputFailed ? "stopped" : "interrupted", generations, kept.c_str());
    const int code = outputFailed ? 1 : status != 0 ? status : InterruptStatus();
    if (!workerEnded) {
      // Everything is written and synced; ending normally would wait for
      // the worker when the process's objects are destroyed.
      std::fflush(nullptr);
      std::_Exit(code);
    }
    return code;
  }

  if (!options.jsonFile.empty()) {
    RunResult result;
    result.scene = plan.scene;
    result.seed = plan.seed;
    result.generations = generations;
    result.population = &outcome.population;
    result.bestEver = outcome.record.bestEver;
    write(options.jsonFile, ResultToJson(result));
  }
  if (!options.checkpointFile.empty()) write(options.checkpointFile, CheckpointText(plan, outcome));
  if (history.IsOpen() && !history.Commit(error)) {
    std::fprintf(messages, "reflector: %s\n", error.c_str());
    status = 1;
  }

  std::vector<ScreenPoint> reflectorPixels;
  const FrameScene frame = FrameOfScene(plan.scene, reflectorPixels);
  if (!options.svgFile.empty()) {
    SvgCanvas canvas(options.width, options.height);
    RenderFrame(canvas, frame, &outcome.population, &snapshot);
    write(options.svgFile, canvas.Finish());
  }
  if (!options.pngFile.empty()) {
    std::string png;
    if (pictures->EncodeFramePng(frame, outcome.population, snapshot, options.width,
                                 options.height, png, error)) {
      write(options.pngFile, png);
    } else {
      std::fprintf(messages, "reflector: %s: cannot draw: %s\n", options.pngFile.c_str(),
                   error.c_str());
      status = 1;
    }
  }
  if (!options.plotFile.empty()) {
    std::string plot;
    const std::string title = plan.sceneName + ", seed " + std::to_string(plan.seed);
    if (pictures->EncodePlot(plotRows, title, plotSvg, options.plotScale, plot, error)) {
      write(options.plotFile, plot);
    } else {
      std::fprintf(messages, "reflector: %s: cannot draw: %s\n", options.plotFile.c_str(),
                   error.c_str());
      status = 1;
    }
  }

  const std::uint32_t ran = generations - first;
  std::fprintf(messages, "reflector: %u generations in %.2f s (%.0f generations/s), ", ran, seconds,
               seconds > 0 ? ran / seconds : 0.0);
  const std::optional<double> best = BestScore(outcome.population);
  if (best) {
    std::fprintf(messages, "best score %s (candidate %d)", FormatDouble(*best).c_str(),
                 outcome.population.bestIndex);
    if (outcome.record.bestEver) {
      std::fprintf(messages, ", best ever %s (generation %u)",
                   FormatDouble(outcome.record.bestEver->score).c_str(),
                   outcome.record.bestEver->generation);
    }
    std::fprintf(messages, "\n");
  } else {
    std::fprintf(messages, "no score yet (no generation run)\n");
  }
  return status;
}

}  // namespace reflector
