#include "window/main_window.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <cmath>

#include "window/painter_canvas.h"
#include "scene/scene_renderer.h"

namespace reflector {

MainWindow::MainWindow(SceneState& sceneState, QWidget* parent)
    : QWidget(parent), scene(sceneState), frameTimer(new QTimer(this)) {
  setWindowTitle(QString());
  resize(800, 600);
  // Moves with no button held still aim the beam.
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  // Every paint covers the whole client area: no erase, so no flicker on resize.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);

  frameTimer->setInterval(kFrameIntervalMs);
  connect(frameTimer, &QTimer::timeout, this, &MainWindow::Tick);
  frameTimer->start();
  // The first frame is set up before anything can paint it.
  scene.PrepareFrame();
}

void MainWindow::ForwardMouse(MouseEventKind kind, const QMouseEvent* event) {
  // The pixel under the pointer, also left of or above the window while a
  // button is held there (negative coordinates).
  const QPointF position = event->position();
  scene.OnMouseEvent(kind, static_cast<int>(std::floor(position.x())),
                     static_cast<int>(std::floor(position.y())));
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
  // A quick second click comes here too: QWidget's double-click handler
  // forwards it as a press.
  if (event->button() == Qt::LeftButton) ForwardMouse(MouseEventKind::LeftButtonDown, event);
  if (event->button() == Qt::RightButton) ForwardMouse(MouseEventKind::RightButtonDown, event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) ForwardMouse(MouseEventKind::LeftButtonUp, event);
  if (event->button() == Qt::RightButton) ForwardMouse(MouseEventKind::RightButtonUp, event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) { ForwardMouse(MouseEventKind::MouseMove, event); }

// Qt's key codes are the scene's key codes for the space bar (32), letters
// and digits, which is all the scene looks at.
void MainWindow::keyPressEvent(QKeyEvent* event) { scene.OnKeyEvent(true, event->key()); }

void MainWindow::keyReleaseEvent(QKeyEvent* event) { scene.OnKeyEvent(false, event->key()); }

void MainWindow::Tick() {
  scene.PrepareFrame();
  // repaint(), not update(): each tick paints at once, so a paint waiting for
  // the optimiser's lock slows the frame rate instead of piling up.
  repaint();
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  PainterCanvas canvas(painter);
  RenderFrame(canvas, scene);
}

}  // namespace reflector
