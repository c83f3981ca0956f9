#include "app/scene_state.h"

#include <cstdio>
#include <new>
#include <utility>

#include "optimizer/retire_optimizer.h"

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
  // First: the old worker is told to stop and handed to the reaper, which
  // joins it on its own thread; the new worker waits for it before drawing.
  RetireOptimizer(currentOptimizer);

  SceneSnapshot snapshot;
  snapshot.source = ToPoint2(source);
  snapshot.aim = ToPoint2(aim);
  snapshot.target = ToPoint2(target);
  snapshot.vertices.reserve(reflector.size());
  for (ScreenPoint vertex : reflector) snapshot.vertices.push_back(ToPoint2(vertex));

  // Without memory the holder stays empty; the next frame tries again.
  currentOptimizer.Adopt(new (std::nothrow) ReflectorOptimizer(snapshot, generationLimit));
}

}  // namespace reflector
