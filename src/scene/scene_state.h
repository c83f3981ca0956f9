#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scene/default_scene.h"
#include "scene/other_run_view.h"
#include "scene/run_memento.h"
#include "scene/scene_description.h"
#include "scene/screen_point.h"
#include "optimizer/reflector_optimizer.h"
#include "other_optimizers/algorithm_catalogue.h"
#include "other_optimizers/other_optimizer_session.h"
#include "threading/ref_ptr.h"

namespace reflector {

// Mouse events as the scene sees them.
enum class MouseEventKind {
  RightButtonDown = 0,
  RightButtonUp = 1,
  LeftButtonDown = 2,
  LeftButtonUp = 3,
  MouseMove = 4,
  // The button that drags the target (the window's middle button, or Ctrl +
  // left): moves between the two carry the target along.
  TargetButtonDown = 5,
  TargetButtonUp = 6,
};

// What the run is doing, as the status bar names it.
enum class RunMode { Drawing, Optimising, Paused, Finished };

// The key code that restarts the optimiser: the space bar.
inline constexpr int kSpaceKey = 32;
// While drawing: Escape cancels it, Backspace takes back the last vertex (Qt's codes).
inline constexpr int kEscapeKey = 0x01000000;
inline constexpr int kBackspaceKey = 0x01000003;

// Why a restart came, for the step that undoes it.
enum class RestartCause {
  kRestart,      // the space bar, the menu, or a caller
  kPointer,      // the aim followed the pointer
  kSource,       // a left press placed the source
  kTargetPress,  // a target drag began
  kTarget,       // a target drag went on or ended
  kDrawing,      // a drawn mirror was taken into the run
  kOpened,       // a run from a file replaced the scene
};

// Receives each debug line, "x, y\r\n" for every right-button release.
using DebugSink = std::function<void(std::string_view line)>;

// Writes to stderr and flushes, so the line is out before anything else happens.
void WriteDebugLineToStderr(std::string_view line);

// The UI thread's scene: where the beam starts and aims, the target, the
// user's reflector, the mode (optimising or drawing) and the one optimiser
// alive for display. Input events change it; the renderer reads it.
//
//   SceneState scene;
//   scene.OnMouseEvent(MouseEventKind::LeftButtonDown, 120, 300);  // restarts
//   scene.OnKeyEvent(true, kSpaceKey);                               // restarts
//
// Thread safety: UI thread only. The worker never sees this object; it gets a
// private snapshot when the optimiser is built.
class SceneState {
 public:
  // generationLimit is handed to every optimiser this scene builds.
  explicit SceneState(std::uint32_t generationLimit = ReflectorOptimizer::kDefaultGenerationLimit,
                      DebugSink debugSink = WriteDebugLineToStderr);
  SceneState(const SceneState&) = delete;
  SceneState& operator=(const SceneState&) = delete;

  // x and y are client pixels; negative values (a held button outside the
  // window) are kept as they are.
  void OnMouseEvent(MouseEventKind kind, int x, int y);

  // The space bar restarts on every key-down, auto-repeat included, whatever
  // the mode. While drawing, Escape and Backspace act as CancelDrawing and
  // RemoveLastVertex.
  void OnKeyEvent(bool isDown, int virtualKey);

  // Retires the current optimiser without waiting for it, then starts
  // another: a fresh run of the current scene (from generator state seed when
  // given, else from where the old run leaves the generator), or the paused run given, continued with its bits.
  // A fresh run ends any pause and rewind. When no optimiser can be made (no
  // memory, no thread), the holder stays empty, lastError says why, and the
  // next frame tries again. The one place that replaces the optimiser.
  // With another algorithm chosen, a fresh run is a run of it instead.
  void RestartOptimizer(std::optional<std::uint32_t> seed = std::nullopt,
                        std::optional<Resumption> resumeFrom = std::nullopt);

  // Told before a restart throws the current run away (not when a paused run
  // goes on, nor when RestoreRun brings one back): the owner may CaptureRun
  // it then, for undo.
  std::function<void(RestartCause)> beforeRestart_;
  // The shown run and its scene, as they stand; with no optimiser, the scene
  // alone.
  RunMemento CaptureRun();
  // Replaces the run with a captured one, which goes on (or stays paused)
  // with the bits it would have had.
  void RestoreRun(RunMemento memento);

  // The algorithm fresh runs use from now on: kBuiltInAlgorithm, or a name
  // from the catalogue, run by the library on a thread of its own from the
  // scene's mirror with the run's seed (runSeed_), within kDefaultEvaluations
  // scorings. Nothing restarts here. Such a run has no generations to pause
  // at, step, continue, rewind or save as a checkpoint: Pause holds it
  // between two scorings, and the rest do nothing.
  void SetAlgorithm(const std::string& name) { algorithm_ = name; }
  const std::string& algorithm() const { return algorithm_; }
  bool BuiltInAlgorithm() const { return algorithm_ == kBuiltInAlgorithm; }
  // The other algorithm's run shown, if one is: its session and what was
  // last read of it (at PrepareFrame).
  const OtherOptimizerSession* otherRun() const { return otherRun_.get(); }
  const OtherRunView& otherView() const { return otherView_; }
  // Ends the other algorithm's run at its next scoring, leaving what it
  // found shown (the window is closing); nothing restarts it.
  void StopOtherRun();

  // Drawing: Escape puts back the mirror (and aim) from before the drawing
  // began, keeping the run that was showing when nothing else changed.
  void CancelDrawing();
  // Takes back the last vertex placed; the first click stays as the anchor.
  void RemoveLastVertex();

  // Replaces the whole scene (an opened file, the default scene) and starts
  // its run from generator state seed.
  void LoadScene(const SceneDescription& scene, std::uint32_t seed);
  // Replaces the whole scene and goes on with a run that stopped (a
  // checkpoint): started from seed on that scene, at start's generation, the
  // generator at generatorState, to generationLimit generations in all. Its
  // generations are then those of the run it continues, bit for bit.
  void ResumeRun(const SceneDescription& scene, std::uint32_t seed, std::uint32_t generatorState,
                 std::uint32_t generationLimit, RunStart start);

  // Pause stops the worker at its next generation boundary and keeps its
  // population; Resume continues it so that the result is bit for bit the one
  // an unpaused run gives. Resume waits for the worker to reach the boundary
  // (at most one generation).
  void Pause();
  void Resume();
  bool paused() const { return paused_; }
  // While paused, short of the run's limit: exactly one more generation,
  // then paused again, with the bits of a run never paused.
  void Step();
  // A run at its generation limit goes on for another limit's worth of
  // generations, with the bits of a run started for the longer limit.
  void Continue();
  // At most this many generations a second, for this run and the runs after
  // it (0: as fast as they go); the bits are the same at any pace.
  void SetPace(std::uint32_t generationsPerSecond);
  std::uint32_t pace() const { return pace_; }
  // Waits until a paused worker has stopped: its state is final.
  void WaitUntilPaused();

  // Shows the best mirror recorded after that generation (its rays traced
  // again) instead of the live population; false when the run holds no such
  // generation. EndRewind returns to live.
  bool RewindTo(std::uint32_t generation);
  void EndRewind();
  bool rewinding() const { return rewindGeneration_.has_value(); }
  std::optional<std::uint32_t> rewindGeneration() const { return rewindGeneration_; }
  // What a rewound frame draws: the recorded best alone, as candidate 0, on
  // the run's own scene.
  const Population& rewindPopulation() const { return rewindPopulation_; }
  const SceneSnapshot& rewindSnapshot() const { return rewindSnapshot_; }

  RunMode Mode() const;

  // The set-up a frame needs, done before it is drawn: the first frame
  // appends the default reflector, and a running scene without an optimiser
  // starts one.
  void PrepareFrame();

  // The scene as the optimiser will see it: every pixel converted exactly.
  SceneDescription Describe() const;

  // The frame's pointer: where the rubber band ends while drawing, and the
  // aim otherwise.
  ScreenPoint ShownPointer() const { return drawing ? pointer_ : aim; }

  ScreenPoint aim = kDefaultAim;        // the last mouse position, while the aim follows it
  ScreenPoint source = kDefaultSource;  // set by a left-button press
  ScreenPoint target = kDefaultTarget;  // moved by a target drag
  bool running = true;                  // the optimiser is shown and follows the mouse
  bool drawing = false;                 // right clicks are placing vertices
  ScreenPoint anchor{0, 0};             // the last vertex placed while drawing
  int defaultsLoaded = 0;               // the first frame appended the default reflector

  // Declared before the polyline so that it is destroyed after it: at exit the
  // polyline goes first, then the optimiser, whose destructor joins the worker.
  RefPtr<ReflectorOptimizer> currentOptimizer;
  std::vector<ScreenPoint> reflector;  // the user's polyline, in drawing order
  std::string lastError;               // why the last restart made no optimiser; empty if it did

  // The window's choices. Off, moves only update the pointer: the aim stays
  // and nothing restarts.
  bool aimFollowsPointer_ = true;
  // Recorded by every optimiser, for rewind.
  bool keepRewind_ = false;
  // Threads each optimiser scores a generation with (where it pays).
  int scoringThreads_ = 1;
  // A drawing that ends with fewer vertices is refused and the previous
  // mirror kept (0: anything goes, even an empty mirror).
  std::size_t minimumMirrorVertices_ = 0;
  // When positive, right releases and target drops are clamped into this box
  // (what the canvas shows, in scene pixels).
  int canvasLeft_ = 0;
  int canvasTop_ = 0;
  int canvasWidth_ = 0;
  int canvasHeight_ = 0;

  ScreenPoint pointer_ = kDefaultAim;  // the last mouse position, always
  bool draggingTarget_ = false;
  std::uint32_t runSeed_ = 1;  // the generator state the current run started from
  // Why the last input was refused, for the status bar; the window clears it.
  std::string notice_;

  std::uint32_t generationLimit() const { return generationLimit_; }
  // The current run's: the window's, or a resumed run's own.
  std::uint32_t runGenerationLimit() const { return runGenerationLimit_; }

 private:
  ScreenPoint Clamped(int x, int y) const;
  // The scene's points in pixels, the run going (no drawing, no drag).
  void ShowScene(const SceneDescription& scene);
  // Ends a drawing with fewer vertices than allowed: the old mirror returns.
  void RefuseShortMirror();
  // Whether the current optimiser was started on exactly the current scene.
  bool OptimizerMatchesScene();

  std::uint32_t generationLimit_;
  std::uint32_t runGenerationLimit_;
  DebugSink debugSink;
  bool paused_ = false;
  std::uint32_t pace_ = 0;
  // The paused (or finished) run's state, handed to a run that goes on from it.
  Resumption ResumptionOfCurrent(std::uint32_t generationLimit);
  // The one place that replaces the optimiser; cause none: nothing is
  // thrown away (a paused run goes on, or a captured one comes back).
  void Restart(std::optional<RestartCause> cause, std::optional<std::uint32_t> seed,
               std::optional<Resumption> resumeFrom);
  std::vector<ScreenPoint> mirrorBeforeDrawing_;
  bool pausedBeforeDrawing_ = false;
  ScreenPoint aimBeforeDrawing_ = kDefaultAim;
  // Starts a fresh run of the other algorithm on the current scene.
  void StartOtherRun();
  std::string algorithm_ = kBuiltInAlgorithm;
  // Instead of currentOptimizer while another algorithm is chosen (never
  // both); its destructor stops and joins its thread.
  std::unique_ptr<OtherOptimizerSession> otherRun_;
  OtherRunView otherView_;
  std::optional<std::uint32_t> rewindGeneration_;
  Population rewindPopulation_;
  SceneSnapshot rewindSnapshot_;
};

}  // namespace reflector
