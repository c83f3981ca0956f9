#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "scene/default_scene.h"
#include "scene/scene_description.h"
#include "scene/screen_point.h"
#include "optimizer/reflector_optimizer.h"
#include "threading/ref_ptr.h"

namespace reflector {

// Mouse events as the scene sees them.
enum class MouseEventKind {
  RightButtonDown = 0,
  RightButtonUp = 1,
  LeftButtonDown = 2,
  LeftButtonUp = 3,
  MouseMove = 4,
};

// The key code that restarts the optimiser: the space bar.
inline constexpr int kSpaceKey = 32;

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
  // the mode.
  void OnKeyEvent(bool isDown, int virtualKey);

  // Stops and joins the current optimiser, then starts a fresh one from the
  // current scene. When no optimiser can be made (no memory, no thread), the
  // holder stays empty, lastError says why, and the next frame tries again.
  void RestartOptimizer();

  // The set-up a frame needs, done before it is drawn: the first frame
  // appends the default reflector, and a running scene without an optimiser
  // starts one.
  void PrepareFrame();

  // The scene as the optimiser will see it: every pixel converted exactly.
  SceneDescription Describe() const;

  ScreenPoint aim = kDefaultAim;        // the last mouse position
  ScreenPoint source = kDefaultSource;  // set by a left-button press
  ScreenPoint target = kDefaultTarget;  // never changes
  bool running = true;                  // the optimiser is shown and follows the mouse
  bool drawing = false;                 // right clicks are placing vertices
  ScreenPoint anchor{0, 0};             // the last vertex placed while drawing
  int defaultsLoaded = 0;               // the first frame appended the default reflector

  // Declared before the polyline so that it is destroyed after it: at exit the
  // polyline goes first, then the optimiser, whose destructor joins the worker.
  RefPtr<ReflectorOptimizer> currentOptimizer;
  std::vector<ScreenPoint> reflector;  // the user's polyline, in drawing order
  std::string lastError;               // why the last restart made no optimiser; empty if it did

 private:
  std::uint32_t generationLimit;
  DebugSink debugSink;
};

}  // namespace reflector
