#include "scene/scene_state.h"

#include "optimizer/retire_optimizer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "geometry/random.h"
#include "optimizer/retire_optimizer.h"
#include "tracing/beam.h"

namespace reflector {

void WriteDebugLineToStderr(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

SceneState::SceneState(std::uint32_t generations, DebugSink sink)
    : generationLimit_(generations), runGenerationLimit_(generations), debugSink(std::move(sink)) {}

ScreenPoint SceneState::Clamped(int x, int y) const {
  if (canvasWidth_ <= 0 || canvasHeight_ <= 0) return {x, y};
  return {std::clamp(x, canvasLeft_, canvasLeft_ + canvasWidth_ - 1),
          std::clamp(y, canvasTop_, canvasTop_ + canvasHeight_ - 1)};
}

void SceneState::OnMouseEvent(MouseEventKind kind, int x, int y) {
  pointer_ = {x, y};
  // A paused run keeps its aim, so that it can continue with the same bits;
  // a target drag moves the target, not the aim.
  const bool targetEvent = draggingTarget_ || kind == MouseEventKind::TargetButtonDown ||
                           kind == MouseEventKind::TargetButtonUp;
  const bool aimMoves = aimFollowsPointer_ && !paused_ && !targetEvent;
  if (aimMoves) aim = {x, y};
  switch (kind) {
    case MouseEventKind::RightButtonUp: {
      const ScreenPoint vertex = Clamped(x, y);
      char line[32];
      const int length = std::snprintf(line, sizeof line, "%i, %i\r\n", vertex.x, vertex.y);
      if (debugSink) debugSink(std::string_view(line, static_cast<std::size_t>(length)));
      if (drawing) {
        // The click that started the drawing becomes a vertex only now.
        if (reflector.empty()) reflector.push_back(anchor);
        reflector.push_back(vertex);
      } else {
        drawing = true;
        pausedBeforeDrawing_ = paused_;
        paused_ = false;
        EndRewind();
        mirrorBeforeDrawing_ = std::move(reflector);
        // The aim as the shown run had it: the moves of this very release
        // already followed the pointer.
        aimBeforeDrawing_ = aim;
        if (currentOptimizer) {
          const SceneSnapshot* snapshot = nullptr;
          currentOptimizer->LockState(nullptr, &snapshot);
          aimBeforeDrawing_ = ToScreenPoint(snapshot->aim);
          currentOptimizer->UnlockState();
        }
        if (otherRun_) aimBeforeDrawing_ = ToScreenPoint(otherRun_->snapshot().aim);
        reflector.clear();
      }
      anchor = vertex;
      running = false;
      break;
    }
    case MouseEventKind::LeftButtonDown: {
      const RestartCause cause = drawing ? RestartCause::kDrawing : RestartCause::kSource;
      if (drawing && reflector.size() < minimumMirrorVertices_) RefuseShortMirror();
      // The run the drawing replaces is thrown away as it was before it.
      if (drawing) paused_ = pausedBeforeDrawing_;
      drawing = false;
      source = {x, y};
      running = true;
      Restart(cause, std::nullopt, std::nullopt);
      break;
    }
    case MouseEventKind::TargetButtonDown:
    case MouseEventKind::TargetButtonUp:
      draggingTarget_ = kind == MouseEventKind::TargetButtonDown;
      target = Clamped(x, y);
      if (running) {
        Restart(draggingTarget_ ? RestartCause::kTargetPress : RestartCause::kTarget, std::nullopt,
                std::nullopt);
      }
      break;
    case MouseEventKind::MouseMove:
      if (draggingTarget_) {
        target = Clamped(x, y);
        if (running) Restart(RestartCause::kTarget, std::nullopt, std::nullopt);
        break;
      }
      [[fallthrough]];
    case MouseEventKind::RightButtonDown:
    case MouseEventKind::LeftButtonUp:
      if (running && aimMoves) Restart(RestartCause::kPointer, std::nullopt, std::nullopt);
      break;
  }
}

void SceneState::OnKeyEvent(bool isDown, int virtualKey) {
  if (!isDown) return;
  if (virtualKey == kSpaceKey) RestartOptimizer();
  if (drawing && virtualKey == kEscapeKey) CancelDrawing();
  if (drawing && virtualKey == kBackspaceKey) RemoveLastVertex();
}

void SceneState::RefuseShortMirror() {
  reflector = mirrorBeforeDrawing_;
  notice_ = "A mirror needs at least " + std::to_string(minimumMirrorVertices_) +
            " vertices: the previous mirror stays";
}

bool SceneState::OptimizerMatchesScene() {
  const SceneSnapshot wanted = ToSnapshot(Describe());
  if (otherRun_) {
    const SceneSnapshot& run = otherRun_->snapshot();
    return run.vertices == wanted.vertices && run.source == wanted.source && run.aim == wanted.aim &&
           run.target == wanted.target;
  }
  if (!currentOptimizer) return false;
  const SceneSnapshot* snapshot = nullptr;
  currentOptimizer->LockState(nullptr, &snapshot);
  const bool same = snapshot->vertices == wanted.vertices && snapshot->source == wanted.source &&
                    snapshot->aim == wanted.aim && snapshot->target == wanted.target;
  currentOptimizer->UnlockState();
  return same;
}

void SceneState::CancelDrawing() {
  if (!drawing) return;
  reflector = mirrorBeforeDrawing_;
  aim = aimBeforeDrawing_;
  drawing = false;
  running = true;
  // The run from before the drawing goes on if nothing restarted it
  // meanwhile, paused if it was.
  if (OptimizerMatchesScene()) {
    paused_ = pausedBeforeDrawing_;
  } else {
    RestartOptimizer();
  }
}

void SceneState::RemoveLastVertex() {
  if (!drawing || reflector.empty()) return;
  // Two vertices are the anchor click and one more: back to the anchor alone.
  if (reflector.size() == 2) {
    anchor = reflector.front();
    reflector.clear();
    return;
  }
  reflector.pop_back();
  anchor = reflector.back();
}

void SceneState::LoadScene(const SceneDescription& scene, std::uint32_t seed) {
  ShowScene(scene);
  RestartOptimizer(seed);
}

void SceneState::ResumeRun(const SceneDescription& scene, std::uint32_t seed,
                           std::uint32_t generatorState, std::uint32_t generationLimit,
                           RunStart start) {
  ShowScene(scene);
  paused_ = false;
  EndRewind();
  // A checkpoint holds a run of the built-in scheme.
  algorithm_ = kBuiltInAlgorithm;
  runSeed_ = seed;
  Resumption from;
  // The run's own scene, not its pixels: the bits are the run's.
  from.snapshot = ToSnapshot(scene);
  from.start = std::move(start);
  // What the run started from, not where the generator stands now.
  from.start.record.startState = seed;
  from.generationLimit = generationLimit;
  from.generatorState = generatorState;
  Restart(RestartCause::kOpened, std::nullopt, std::move(from));
}

void SceneState::ShowScene(const SceneDescription& scene) {
  reflector.clear();
  for (Point2 p : scene.reflector) reflector.push_back(ToScreenPoint(p));
  source = ToScreenPoint(scene.source);
  aim = ToScreenPoint(scene.aim);
  pointer_ = aim;
  target = ToScreenPoint(scene.target);
  defaultsLoaded = 1;
  drawing = false;
  draggingTarget_ = false;
  running = true;
}

void SceneState::RestartOptimizer(std::optional<std::uint32_t> seed,
                                  std::optional<Resumption> resumeFrom) {
  // A fresh run throws the current one away; a resumed one continues it.
  std::optional<RestartCause> cause;
  if (!resumeFrom) cause = RestartCause::kRestart;
  Restart(cause, seed, std::move(resumeFrom));
}

RunMemento SceneState::CaptureRun() {
  RunMemento memento;
  memento.runSeed = runSeed_;
  memento.runGenerationLimit = runGenerationLimit_;
  memento.paused = drawing ? pausedBeforeDrawing_ : paused_;
  if (otherRun_) {
    // Its scene and seed are enough: run again, it goes the same way.
    const SceneSnapshot& run = otherRun_->snapshot();
    for (Point2 p : run.vertices) memento.reflector.push_back(ToScreenPoint(p));
    memento.source = ToScreenPoint(run.source);
    memento.aim = ToScreenPoint(run.aim);
    memento.target = ToScreenPoint(run.target);
    memento.runSeed = otherRun_->seed();
    memento.algorithm = otherRun_->algorithm();
    return memento;
  }
  if (!currentOptimizer) {
    memento.reflector = drawing ? mirrorBeforeDrawing_ : reflector;
    memento.source = source;
    memento.aim = drawing ? aimBeforeDrawing_ : aim;
    memento.target = target;
    return memento;
  }
  OptimizerState state = CopyState(*currentOptimizer);
  // The scene as the run saw it: the fields may be half way to the next.
  for (Point2 p : state.snapshot.vertices) memento.reflector.push_back(ToScreenPoint(p));
  memento.source = ToScreenPoint(state.snapshot.source);
  memento.aim = ToScreenPoint(state.snapshot.aim);
  memento.target = ToScreenPoint(state.snapshot.target);
  if (state.record.startState) memento.runSeed = *state.record.startState;
  // Before its first draw a run is no more than its scene and seed.
  if (!state.record.boundaryState) return memento;
  Resumption from;
  from.generatorState = state.record.boundaryState;
  from.snapshot = std::move(state.snapshot);
  // Rays are traced again when the run comes back; they are most of a
  // population's bytes.
  for (Candidate& candidate : state.population.candidates) {
    candidate.rayRecords.clear();
    candidate.rayRecords.shrink_to_fit();
  }
  from.start.population = std::move(state.population);
  from.start.record = std::move(state.record);
  from.generationLimit = runGenerationLimit_;
  memento.run = std::move(from);
  return memento;
}

void SceneState::RestoreRun(RunMemento memento) {
  EndRewind();
  reflector = std::move(memento.reflector);
  source = memento.source;
  aim = memento.aim;
  pointer_ = aim;
  target = memento.target;
  defaultsLoaded = 1;
  drawing = false;
  draggingTarget_ = false;
  running = true;
  runSeed_ = memento.runSeed;
  algorithm_ = memento.algorithm;
  if (!memento.run) {
    Restart(std::nullopt, memento.runSeed, std::nullopt);
    if (memento.paused && otherRun_) Pause();
    return;
  }
  Resumption from = std::move(*memento.run);
  const std::uint32_t limit =
      memento.runGenerationLimit > 0 ? memento.runGenerationLimit : generationLimit_;
  // A paused run comes back stopped where it was: a run of no more
  // generations, which Resume takes on to the run's own limit.
  if (memento.paused) from.generationLimit = from.start.record.completedGenerations;
  if (from.generationLimit == 0) from.generationLimit = from.start.record.completedGenerations;
  Restart(std::nullopt, std::nullopt, std::move(from));
  runGenerationLimit_ = limit;
  paused_ = memento.paused;
}

void SceneState::Restart(std::optional<RestartCause> cause, std::optional<std::uint32_t> seed,
                         std::optional<Resumption> resumeFrom) {
  if (cause && (currentOptimizer || otherRun_) && beforeRestart_) beforeRestart_(*cause);
  // First: the old optimiser is told to stop and handed to the reaper, so the
  // window never waits for its worker. The new worker draws only once the old
  // one has ended, and sets the seed itself then.
  RetireOptimizer(currentOptimizer);
  // Another algorithm's run ends at its next scoring: waiting for it costs
  // about one.
  otherRun_.reset();
  lastError.clear();
  if (!resumeFrom) {
    paused_ = false;
    EndRewind();
    // Without a seed the run continues the generator where the last one
    // stops; the state it starts from is known once it has started (RunSeed).
    if (seed) runSeed_ = *seed;
  }
  // A resumed run is the built-in scheme's, whatever is chosen.
  if (!resumeFrom && !BuiltInAlgorithm()) {
    StartOtherRun();
    return;
  }
  try {
    // Without memory the holder stays empty; the next frame tries again.
    if (resumeFrom) {
      runGenerationLimit_ =
          resumeFrom->generationLimit > 0 ? resumeFrom->generationLimit : generationLimit_;
      currentOptimizer.Adopt(new (std::nothrow) ReflectorOptimizer(
          resumeFrom->snapshot, runGenerationLimit_, std::move(resumeFrom->start), keepRewind_,
          resumeFrom->generatorState, scoringThreads_));
    } else {
      runGenerationLimit_ = generationLimit_;
      currentOptimizer.Adopt(new (std::nothrow) ReflectorOptimizer(
          ToSnapshot(Describe()), generationLimit_, std::nullopt, keepRewind_, seed,
          scoringThreads_));
    }
    if (!currentOptimizer) lastError = "out of memory for a new optimiser";
    if (currentOptimizer) currentOptimizer->SetPace(pace_);
  } catch (const std::system_error& failure) {
    lastError = std::string("cannot start the optimiser's thread: ") + failure.what();
  }
}

void SceneState::StartOtherRun() {
  otherView_ = OtherRunView{};
  // It draws nothing from the program's generator: its seed is the run's.
  try {
    otherRun_ = std::make_unique<OtherOptimizerSession>(ToSnapshot(Describe()), algorithm_, runSeed_,
                                                        kDefaultEvaluations, kDefaultRadius);
  } catch (const std::bad_alloc&) {
    lastError = "out of memory for a new optimiser";
  } catch (const std::system_error& failure) {
    lastError = std::string("cannot start the optimiser's thread: ") + failure.what();
  }
}

void SceneState::StopOtherRun() {
  if (otherRun_) otherRun_->RequestStop();
}

void SceneState::Pause() {
  if (paused_ || !running) return;
  if (otherRun_) {
    otherRun_->SetPaused(true);
    paused_ = true;
    return;
  }
  if (!currentOptimizer) return;
  currentOptimizer->StopAtGenerationBoundary();
  paused_ = true;
}

void SceneState::WaitUntilPaused() {
  if (!paused_ || !currentOptimizer) return;
  while (!currentOptimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void SceneState::Resume() {
  if (!paused_) return;
  if (otherRun_) {
    otherRun_->SetPaused(false);
    paused_ = false;
    return;
  }
  if (!currentOptimizer) {
    paused_ = false;
    return;
  }
  WaitUntilPaused();
  Resumption from = ResumptionOfCurrent(runGenerationLimit_);
  paused_ = false;
  // The rewound generation stays in the resumed record: keep showing it.
  Restart(std::nullopt, std::nullopt, std::move(from));
}

Resumption SceneState::ResumptionOfCurrent(std::uint32_t generationLimit) {
  OptimizerState state = CopyState(*currentOptimizer);
  Resumption from;
  from.snapshot = std::move(state.snapshot);
  from.start.population = std::move(state.population);
  from.start.record = std::move(state.record);
  from.generationLimit = generationLimit;
  // Where the paused run left the generator; said outright, since an undo
  // may have brought this run back after another had drawn.
  from.generatorState = from.start.record.boundaryState;
  return from;
}

void SceneState::Step() {
  if (!paused_ || !currentOptimizer) return;
  WaitUntilPaused();
  const std::uint32_t completed = currentOptimizer->CompletedGenerations();
  if (completed >= runGenerationLimit_) return;
  // A run of one generation from the paused state, which then ends as a
  // paused run does; the run's own limit stays for Resume.
  const std::uint32_t limit = runGenerationLimit_;
  Restart(std::nullopt, std::nullopt, ResumptionOfCurrent(completed + 1));
  runGenerationLimit_ = limit;
}

void SceneState::Continue() {
  if (!currentOptimizer || !currentOptimizer->Done() || drawing || !running) return;
  const std::uint32_t completed = currentOptimizer->CompletedGenerations();
  if (completed < runGenerationLimit_) return;
  // The generator stands where the finished run left it: nothing has drawn
  // since (a rewind draws from a generator of its own).
  const std::uint32_t more = std::min(generationLimit_, UINT32_MAX - completed);
  if (more == 0) return;
  paused_ = false;
  Restart(std::nullopt, std::nullopt, ResumptionOfCurrent(completed + more));
}

void SceneState::SetPace(std::uint32_t generationsPerSecond) {
  pace_ = generationsPerSecond;
  if (currentOptimizer) currentOptimizer->SetPace(pace_);
}

bool SceneState::RewindTo(std::uint32_t generation) {
  if (!currentOptimizer) return false;
  std::optional<RewindReplay> replay;
  double recordedScore = 0.0;
  const RunRecord* record = nullptr;
  const SceneSnapshot* snapshot = nullptr;
  currentOptimizer->LockState(nullptr, &snapshot, &record);
  // Only the copy is made under the lock: the worker waits for no replay.
  if (record->keepRewind) replay = record->rewind.ReplayTo(generation);
  const bool scored = generation >= record->firstGeneration &&
                      generation - record->firstGeneration < record->history.size();
  if (replay && scored) {
    recordedScore = record->history[generation - record->firstGeneration].best;
    rewindSnapshot_ = *snapshot;
  }
  currentOptimizer->UnlockState();
  if (!replay || !scored) return false;

  // The replay draws from a generator of its own and tracing draws nothing,
  // so both may run beside the worker.
  rewindPopulation_.candidates.resize(1);
  Candidate& shown = rewindPopulation_.candidates[0];
  shown.vertices = Replay(*replay);
  const std::atomic<bool> neverStop{false};
  EvaluateBeam(shown.vertices, rewindSnapshot_.source, rewindSnapshot_.aim, rewindSnapshot_.target,
               neverStop, shown.rayRecords, shown.score);
  // The same vertices on the same scene score the same; the record's number
  // is the one the plot shows.
  shown.score = recordedScore;
  rewindPopulation_.bestIndex = 0;
  rewindGeneration_ = generation;
  return true;
}

void SceneState::EndRewind() { rewindGeneration_.reset(); }

RunMode SceneState::Mode() const {
  if (drawing || !running) return RunMode::Drawing;
  if (paused_) return RunMode::Paused;
  if (otherRun_ && otherRun_->Done()) return RunMode::Finished;
  if (currentOptimizer && currentOptimizer->Done() &&
      currentOptimizer->CompletedGenerations() >= runGenerationLimit_) {
    return RunMode::Finished;
  }
  return RunMode::Optimising;
}

void SceneState::PrepareFrame() {
  if (defaultsLoaded == 0) {
    reflector.insert(reflector.end(), kDefaultReflector.begin(), kDefaultReflector.end());
    defaultsLoaded = 1;
  }
  if (running && !currentOptimizer && !otherRun_) RestartOptimizer();
  if (otherRun_) otherView_.Refresh(*otherRun_);
}

SceneDescription SceneState::Describe() const {
  SceneDescription scene;
  scene.reflector.clear();
  scene.reflector.reserve(reflector.size());
  for (ScreenPoint vertex : reflector) scene.reflector.push_back(ToPoint2(vertex));
  scene.source = ToPoint2(source);
  scene.aim = ToPoint2(aim);
  scene.target = ToPoint2(target);
  scene.seed = runSeed_;
  return scene;
}

}  // namespace reflector
