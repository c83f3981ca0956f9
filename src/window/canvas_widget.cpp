#include "window/canvas_widget.h"

#include <QBuffer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSvgGenerator>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "scene/scene_renderer.h"
#include "window/painter_canvas.h"

namespace reflector {

namespace {

constexpr double kWheelZoomStep = 1.25;  // per notch
constexpr double kWheelScrollPixels = 40.0;  // per notch, on the canvas
constexpr int kScrollMargin = 40;

QPointF ToQt(Point2 p) { return {p.x, p.y}; }

// What the frame cannot show by itself: where the beam comes from (faintly),
// and in the editing mode the handles that can be taken.
void PaintOverlays(QPainter& painter, const SceneState& scene, const CanvasView& view) {
  const ViewMapping& mapping = view.mapping;
  if (view.incomingBeam || view.editing) {
    QPen beam(QColor(110, 110, 110), 1, Qt::DashLine);
    beam.setCosmetic(true);
    painter.setPen(beam);
    painter.drawLine(ToQt(mapping.ToView(ToPoint2(scene.source))), ToQt(mapping.ToView(ToPoint2(scene.aim))));
  }
  if (!view.editing) return;
  QPen outline(QColor(255, 255, 255));
  outline.setCosmetic(true);
  painter.setPen(outline);
  painter.setBrush(QColor(0, 140, 0));
  for (ScreenPoint vertex : scene.reflector) {
    const QPointF at = ToQt(mapping.ToView(ToPoint2(vertex)));
    painter.drawRect(QRectF(at.x() - 3, at.y() - 3, 6, 6));
  }
  painter.setBrush(Qt::NoBrush);
  for (ScreenPoint disc : {scene.source, scene.target}) {
    painter.drawEllipse(ToQt(mapping.ToView(ToPoint2(disc))), 8.0, 8.0);
  }
}

}  // namespace

void PaintSceneFrame(QPainter& painter, const QRect& area, const SceneState& scene,
                     const CanvasView& view) {
  painter.fillRect(area, Qt::black);
  painter.save();
  painter.translate(area.topLeft());
  {
    PainterCanvas canvas(painter, view.mapping);
    // After the canvas, which turns antialiasing off.
    if (view.smooth) painter.setRenderHint(QPainter::Antialiasing, true);
    RenderFrame(canvas, scene);
  }
  PaintOverlays(painter, scene, view);
  painter.restore();
}

CanvasWidget::CanvasWidget(SceneState& scene, QWidget* parent)
    : QWidget(parent),
      scene_(scene),
      horizontalBar_(new QScrollBar(Qt::Horizontal, this)),
      verticalBar_(new QScrollBar(Qt::Vertical, this)) {
  // Moves with no button held still aim the beam.
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  // Every paint covers the whole client area: no erase, so no flicker on resize.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  // Shown only while the scene reaches beyond the view, over the canvas's
  // edges; clicking them never reaches the scene.
  for (QScrollBar* bar : {horizontalBar_, verticalBar_}) {
    bar->hide();
    bar->setFocusPolicy(Qt::NoFocus);
    bar->setCursor(Qt::ArrowCursor);
    connect(bar, &QScrollBar::valueChanged, this, [this] {
      if (!settingBars_) ScrollTo(horizontalBar_->value(), verticalBar_->value());
    });
  }
  resize(kWidth, kHeight);
}

void CanvasWidget::SetZoom(double zoom) {
  ViewMapping mapping = view_.mapping;
  mapping.zoom = std::clamp(zoom, ViewMapping::kMinZoom, ViewMapping::kMaxZoom);
  SetMapping(mapping);
}

void CanvasWidget::ZoomAboutCentre(double zoom) {
  SetMapping(view_.mapping.ZoomedAbout(zoom, {width() / 2.0, height() / 2.0}));
}

void CanvasWidget::SetMapping(const ViewMapping& mapping) {
  view_.mapping = mapping;
  UpdateSceneBounds();
  update();
  emit viewChanged();
}

void CanvasWidget::SetSmooth(bool smooth) {
  view_.smooth = smooth;
  update();
}

void CanvasWidget::SetEditing(bool editing) {
  if (editing && scene_.drawing) scene_.CancelDrawing();
  view_.editing = editing;
  dragging_ = panning_ = false;
  update();
}

void CanvasWidget::SetIncomingBeam(bool shown) {
  view_.incomingBeam = shown;
  update();
}

Point2 CanvasWidget::SceneAt(QPointF position) const {
  return view_.mapping.ToScene({position.x(), position.y()});
}

void CanvasWidget::UpdateSceneBounds() {
  const Point2 low = view_.mapping.origin;
  scene_.canvasLeft_ = static_cast<int>(std::floor(low.x));
  scene_.canvasTop_ = static_cast<int>(std::floor(low.y));
  scene_.canvasWidth_ = static_cast<int>(std::ceil(width() / view_.mapping.zoom));
  scene_.canvasHeight_ = static_cast<int>(std::ceil(height() / view_.mapping.zoom));
}

void CanvasWidget::resizeEvent(QResizeEvent*) {
  UpdateSceneBounds();
  PlaceScrollBars();
}

void CanvasWidget::PlaceScrollBars() {
  const int thickness = verticalBar_->sizeHint().width();
  const int tall = horizontalBar_->sizeHint().height();
  horizontalBar_->setGeometry(0, height() - tall, width() - (verticalBar_->isVisible() ? thickness : 0), tall);
  verticalBar_->setGeometry(width() - thickness, 0, thickness, height() - (horizontalBar_->isVisible() ? tall : 0));
}

void CanvasWidget::UpdateScrollBars(const SceneBox& scene) {
  const double zoom = view_.mapping.zoom;
  const int x = static_cast<int>(std::lround(view_.mapping.origin.x * zoom));
  const int y = static_cast<int>(std::lround(view_.mapping.origin.y * zoom));
  // In canvas pixels: the scene's extent with a margin, and wherever the
  // view is now.
  int left = x, right = x, top = y, bottom = y;
  if (!scene.empty) {
    left = std::min(x, static_cast<int>(std::floor(scene.low.x * zoom)) - kScrollMargin);
    right = std::max(x, static_cast<int>(std::ceil(scene.high.x * zoom)) + kScrollMargin - width());
    top = std::min(y, static_cast<int>(std::floor(scene.low.y * zoom)) - kScrollMargin);
    bottom = std::max(y, static_cast<int>(std::ceil(scene.high.y * zoom)) + kScrollMargin - height());
  }
  settingBars_ = true;
  horizontalBar_->setRange(left, right);
  horizontalBar_->setPageStep(width());
  horizontalBar_->setSingleStep(static_cast<int>(kWheelScrollPixels));
  horizontalBar_->setValue(x);
  verticalBar_->setRange(top, bottom);
  verticalBar_->setPageStep(height());
  verticalBar_->setSingleStep(static_cast<int>(kWheelScrollPixels));
  verticalBar_->setValue(y);
  settingBars_ = false;
  // Only while some point lies beyond the view; the margin only widens the
  // range.
  const bool beyondX = !scene.empty && (scene.low.x * zoom < x || scene.high.x * zoom > x + width());
  const bool beyondY = !scene.empty && (scene.low.y * zoom < y || scene.high.y * zoom > y + height());
  const bool wasShown = horizontalBar_->isVisible() || verticalBar_->isVisible();
  horizontalBar_->setVisible(beyondX && right > left);
  verticalBar_->setVisible(beyondY && bottom > top);
  if (wasShown || horizontalBar_->isVisible() || verticalBar_->isVisible()) PlaceScrollBars();
}

void CanvasWidget::ScrollTo(int horizontal, int vertical) {
  ViewMapping mapping = view_.mapping;
  mapping.origin = {horizontal / mapping.zoom, vertical / mapping.zoom};
  SetMapping(mapping);
}

void CanvasWidget::ForwardMouse(MouseEventKind kind, const QMouseEvent* event) {
  // The scene pixel under the pointer, also left of or above the canvas while
  // a button is held there (negative coordinates).
  const Point2 position = SceneAt(event->position());
  scene_.OnMouseEvent(kind, static_cast<int>(std::floor(position.x)),
                      static_cast<int>(std::floor(position.y)));
}

ScreenPoint CanvasWidget::EditPoint(const QMouseEvent* event) const {
  // Moved by as many scene pixels as the pointer, wherever on the handle
  // it was taken.
  const Point2 now = SceneAt(event->position());
  const Point2 then = SceneAt(pressPosition_);
  const ScreenPoint pixel{
      heldFrom_.x + static_cast<int>(std::floor(now.x) - std::floor(then.x)),
      heldFrom_.y + static_cast<int>(std::floor(now.y) - std::floor(then.y))};
  return (event->modifiers() & Qt::ShiftModifier) ? SnapToGrid(pixel, kSnapSpacing) : pixel;
}

void CanvasWidget::EditPress(const QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressPosition_ = event->position();
  pressOrigin_ = view_.mapping.origin;
  grip_ = GripAt(scene_.reflector, scene_.source, scene_.target, SceneAt(event->position()),
                 kGripRadius / view_.mapping.zoom);
  dragging_ = grip_.kind != EditGrip::Kind::kNothing;
  if (grip_.kind == EditGrip::Kind::kVertex) heldFrom_ = scene_.reflector[grip_.vertex];
  if (grip_.kind == EditGrip::Kind::kSource) heldFrom_ = scene_.source;
  if (grip_.kind == EditGrip::Kind::kTarget) heldFrom_ = scene_.target;
  dragMoved_ = false;
  // Empty canvas: the drag pans the view.
  panning_ = !dragging_;
}

void CanvasWidget::EditMove(const QMouseEvent* event) {
  if (panning_) {
    const QPointF moved = (event->position() - pressPosition_) / view_.mapping.zoom;
    ViewMapping mapping = view_.mapping;
    mapping.origin = {pressOrigin_.x - moved.x(), pressOrigin_.y - moved.y()};
    SetMapping(mapping);
    return;
  }
  if (!dragging_) return;
  const ScreenPoint to = EditPoint(event);
  ScreenPoint* held = nullptr;
  switch (grip_.kind) {
    case EditGrip::Kind::kVertex:
      if (grip_.vertex < scene_.reflector.size()) held = &scene_.reflector[grip_.vertex];
      break;
    case EditGrip::Kind::kSource: held = &scene_.source; break;
    case EditGrip::Kind::kTarget: held = &scene_.target; break;
    case EditGrip::Kind::kNothing: break;
  }
  if (held && !(*held == to)) {
    *held = to;
    dragMoved_ = true;
    update();
  }
}

void CanvasWidget::EditRelease(const QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  EditMove(event);
  const bool finished = dragging_ && dragMoved_;
  const EditGrip grip = grip_;
  dragging_ = panning_ = false;
  if (!finished) return;
  // The run restarts once, at the release.
  switch (grip.kind) {
    case EditGrip::Kind::kVertex: emit editFinished(tr("Move Vertex")); break;
    case EditGrip::Kind::kSource: emit editFinished(tr("Move Source")); break;
    case EditGrip::Kind::kTarget: emit editFinished(tr("Move Target")); break;
    case EditGrip::Kind::kNothing: break;
  }
}

void CanvasWidget::mousePressEvent(QMouseEvent* event) {
  if (view_.editing) return EditPress(event);
  // A quick second click comes here too: the double-click handler forwards
  // it as a press outside the editing mode.
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
  if (view_.editing) return EditRelease(event);
  if (event->button() == Qt::LeftButton && targetWithLeft_) {
    targetWithLeft_ = false;
    ForwardMouse(MouseEventKind::TargetButtonUp, event);
    return;
  }
  if (event->button() == Qt::LeftButton) ForwardMouse(MouseEventKind::LeftButtonUp, event);
  if (event->button() == Qt::RightButton) ForwardMouse(MouseEventKind::RightButtonUp, event);
  if (event->button() == Qt::MiddleButton) ForwardMouse(MouseEventKind::TargetButtonUp, event);
}

void CanvasWidget::mouseMoveEvent(QMouseEvent* event) {
  pointer_ = SceneAt(event->position());
  if (view_.editing) return EditMove(event);
  ForwardMouse(MouseEventKind::MouseMove, event);
}

void CanvasWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (!view_.editing) return QWidget::mouseDoubleClickEvent(event);
  if (event->button() != Qt::LeftButton) return;
  const std::optional<Insertion> insertion =
      InsertionAt(scene_.reflector, SceneAt(event->position()), kGripRadius / view_.mapping.zoom);
  if (!insertion) return;
  // The press before it may have taken the segment's end: nothing moved.
  dragging_ = panning_ = false;
  scene_.reflector.insert(scene_.reflector.begin() + static_cast<std::ptrdiff_t>(insertion->index),
                          insertion->at);
  update();
  emit editFinished(tr("Insert Vertex"));
}

void CanvasWidget::wheelEvent(QWheelEvent* event) {
  QPoint delta = event->angleDelta();
  if (event->modifiers() & Qt::ControlModifier) {
    const double notches = (delta.y() != 0 ? delta.y() : delta.x()) / 120.0;
    const QPointF at = event->position();
    SetMapping(view_.mapping.ZoomedAbout(view_.mapping.zoom * std::pow(kWheelZoomStep, notches), {at.x(), at.y()}));
    event->accept();
    return;
  }
  // Shift turns the wheel sideways (some systems do it already).
  if ((event->modifiers() & Qt::ShiftModifier) && delta.x() == 0) delta = QPoint(delta.y(), 0);
  ViewMapping mapping = view_.mapping;
  mapping.origin.x -= delta.x() / 120.0 * kWheelScrollPixels / mapping.zoom;
  mapping.origin.y -= delta.y() / 120.0 * kWheelScrollPixels / mapping.zoom;
  SetMapping(mapping);
  event->accept();
}

// Qt's key codes are the scene's key codes for the space bar (32), Escape,
// Backspace, letters and digits, which is all the scene looks at.
void CanvasWidget::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && scene_.rewinding()) {
    emit escapePressed();
    return;
  }
  if (view_.editing && event->key() == Qt::Key_Delete) {
    const EditGrip grip = GripAt(scene_.reflector, scene_.source, scene_.target, pointer_,
                                 kGripRadius / view_.mapping.zoom);
    if (grip.kind != EditGrip::Kind::kVertex) return;
    if (scene_.reflector.size() <= kFewestEditedVertices) {
      emit notice(tr("A mirror keeps at least %1 vertices").arg(kFewestEditedVertices));
      return;
    }
    scene_.reflector.erase(scene_.reflector.begin() + static_cast<std::ptrdiff_t>(grip.vertex));
    update();
    emit editFinished(tr("Delete Vertex"));
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
