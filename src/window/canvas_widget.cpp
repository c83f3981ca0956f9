#include "window/canvas_widget.h"

#include <QBuffer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgGenerator>
#include <cmath>

#include "scene/scene_renderer.h"
#include "window/painter_canvas.h"

namespace reflector {

void PaintSceneFrame(QPainter& painter, const QRect& area, const SceneState& scene,
                     const CanvasView& view) {
  painter.fillRect(area, Qt::black);
  painter.save();
  painter.translate(area.topLeft());
  if (view.zoom != 1.0) painter.scale(view.zoom, view.zoom);
  PainterCanvas canvas(painter);
  // After the canvas, which turns antialiasing off.
  if (view.smooth) painter.setRenderHint(QPainter::Antialiasing, true);

  RenderFrame(canvas, scene);
  painter.restore();
}

CanvasWidget::CanvasWidget(SceneState& scene, QWidget* parent) : QWidget(parent), scene_(scene) {
  // Moves with no button held still aim the beam.
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  // Every paint covers the whole client area: no erase, so no flicker on resize.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  resize(kWidth, kHeight);
}

void CanvasWidget::SetZoom(double zoom) {
  view_.zoom = zoom;
  UpdateSceneBounds();
  update();
}

void CanvasWidget::SetSmooth(bool smooth) {
  view_.smooth = smooth;
  update();
}

void CanvasWidget::UpdateSceneBounds() {
  scene_.canvasWidth_ = static_cast<int>(std::ceil(width() / view_.zoom));
  scene_.canvasHeight_ = static_cast<int>(std::ceil(height() / view_.zoom));
}

void CanvasWidget::resizeEvent(QResizeEvent*) { UpdateSceneBounds(); }

void CanvasWidget::ForwardMouse(MouseEventKind kind, const QMouseEvent* event) {
  // The scene pixel under the pointer, also left of or above the canvas while
  // a button is held there (negative coordinates).
  const QPointF position = event->position() / view_.zoom;
  scene_.OnMouseEvent(kind, static_cast<int>(std::floor(position.x())),
                      static_cast<int>(std::floor(position.y())));
}

void CanvasWidget::mousePressEvent(QMouseEvent* event) {
  // A quick second click comes here too: QWidget's double-click handler
  // forwards it as a press.
  if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier)) {
    targetWithLeft_ = true;
    ForwardMouse(MouseEventKind::TargetButtonDown, event);
    return;
  }
  if (event->button() == Qt::LeftButton) ForwardMouse(MouseEventKind::LeftButtonDown, event);
  if (event->button() == Qt::RightButton) ForwardMouse(MouseEventKind::RightButtonDown, event);
  if (event->button() == Qt::MiddleButton) ForwardMouse(MouseEventKind::TargetButtonDown, event);
}

void CanvasWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && targetWithLeft_) {
    targetWithLeft_ = false;
    ForwardMouse(MouseEventKind::TargetButtonUp, event);
    return;
  }
  if (event->button() == Qt::LeftButton) ForwardMouse(MouseEventKind::LeftButtonUp, event);
  if (event->button() == Qt::RightButton) ForwardMouse(MouseEventKind::RightButtonUp, event);
  if (event->button() == Qt::MiddleButton) ForwardMouse(MouseEventKind::TargetButtonUp, event);
}

void CanvasWidget::mouseMoveEvent(QMouseEvent* event) { ForwardMouse(MouseEventKind::MouseMove, event); }

// Qt's key codes are the scene's key codes for the space bar (32), Escape,
// Backspace, letters and digits, which is all the scene looks at.
void CanvasWidget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && scene_.rewinding()) {
    emit escapePressed();
    return;
  }
  scene_.OnKeyEvent(true, event->key());
}

void CanvasWidget::keyReleaseEvent(QKeyEvent* event) { scene_.OnKeyEvent(false, event->key()); }

void CanvasWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintSceneFrame(painter, rect(), scene_, view_);
}

QImage CanvasWidget::RenderImage() const {
  const qreal ratio = devicePixelRatioF();
  QImage image(size() * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  // Text is laid out for the screen's resolution, as on the canvas.
  image.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
  image.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
  QPainter painter(&image);
  PaintSceneFrame(painter, rect(), scene_, view_);
  return image;
}

QByteArray CanvasWidget::RenderSvg() const {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  generator.setSize(size());
  generator.setViewBox(rect());
  generator.setTitle(QStringLiteral("Reflector Lab frame"));
  {
    QPainter painter(&generator);
    PaintSceneFrame(painter, rect(), scene_, view_);
  }
  return bytes;
}

}  // namespace reflector
