#include "scene/scene_state.h"

#include <cstdio>
#include <new>
#include <system_error>
#include <utility>

namespace reflector {

void WriteDebugLineToStderr(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

SceneState::SceneState(std::uint32_t generations, DebugSink sink)
    : generationLimit(generations), debugSink(std::move(sink)) {}

void SceneState::OnMouseEvent(MouseEventKind kind, int x, int y) {
  aim = {x, y};
  switch (kind) {
    case MouseEventKind::RightButtonUp: {
      char line[32];
      const int length = std::snprintf(line, sizeof line, "%i, %i\r\n", x, y);
      if (debugSink) debugSink(std::string_view(line, static_cast<std::size_t>(length)));
      if (drawing) {
        // The click that started the drawing becomes a vertex only now.
        if (reflector.empty()) reflector.push_back(anchor);
        reflector.push_back({x, y});
      } else {
        drawing = true;
        reflector.clear();
      }
      anchor = {x, y};
      running = false;
      break;
    }
    case MouseEventKind::LeftButtonDown:
      drawing = false;
      source = {x, y};
      running = true;
      RestartOptimizer();
      break;
    case MouseEventKind::RightButtonDown:
    case MouseEventKind::LeftButtonUp:
    case MouseEventKind::MouseMove:
      if (running) RestartOptimizer();
      break;
  }
}

void SceneState::OnKeyEvent(bool isDown, int virtualKey) {
  if (isDown && virtualKey == kSpaceKey) RestartOptimizer();
}

void SceneState::RestartOptimizer() {
  // First: this joins the old worker, so that at most one runs at a time.
  currentOptimizer.Reset();
  lastError.clear();
  try {
    // Without memory the holder stays empty; the next frame tries again.
    currentOptimizer.Adopt(new (std::nothrow)
                               ReflectorOptimizer(ToSnapshot(Describe()), generationLimit));
    if (!currentOptimizer) lastError = "out of memory for a new optimiser";
  } catch (const std::system_error& failure) {
    lastError = std::string("cannot start the optimiser's thread: ") + failure.what();
  }
}

void SceneState::PrepareFrame() {
  if (defaultsLoaded == 0) {
    reflector.insert(reflector.end(), kDefaultReflector.begin(), kDefaultReflector.end());
    defaultsLoaded = 1;
  }
  if (running && !currentOptimizer) RestartOptimizer();
}

SceneDescription SceneState::Describe() const {
  SceneDescription scene;
  scene.reflector.clear();
  scene.reflector.reserve(reflector.size());
  for (ScreenPoint vertex : reflector) scene.reflector.push_back(ToPoint2(vertex));
  scene.source = ToPoint2(source);
  scene.aim = ToPoint2(aim);
  scene.target = ToPoint2(target);
  return scene;
}

}  // namespace reflector
