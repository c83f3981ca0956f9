#pragma once

#include <QWidget>

#include "scene/scene_state.h"

class QMouseEvent;
class QTimer;

namespace reflector {

// The program's one window: forwards the mouse and keys to the scene and
// repaints the scene ten times a second.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kFrameIntervalMs = 100;

  // The scene must outlive the window.
  explicit MainWindow(SceneState& scene, QWidget* parent = nullptr);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // The 100 ms tick: sets up the frame, then paints it.
  void Tick();
  void ForwardMouse(MouseEventKind kind, const QMouseEvent* event);

  SceneState& scene;
  QTimer* frameTimer;
};

}  // namespace reflector
