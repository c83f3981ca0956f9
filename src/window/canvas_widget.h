#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "scene/scene_state.h"

class QMouseEvent;
class QPainter;

namespace reflector {

// How the canvas draws the scene. The defaults paint exactly what RenderFrame
// paints, pixel for pixel.
struct CanvasView {
  double zoom = 1.0;    // scene pixels to widget pixels
  bool smooth = false;  // antialiased lines
};

// Paints one frame of the scene as the canvas shows it: black, then the frame
// (the rewound generation instead of the live population while rewinding).
// Only reads; call scene.PrepareFrame() first.
void PaintSceneFrame(QPainter& painter, const QRect& area, const SceneState& scene,
                     const CanvasView& view);

// The canvas: the scene's frame, and the mouse and keys that change the scene.
// Painting happens when the owner asks (repaint at its tick); it sets up nothing.
class CanvasWidget : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 800;
  static constexpr int kHeight = 600;

  // The scene must outlive the canvas.
  explicit CanvasWidget(SceneState& scene, QWidget* parent = nullptr);

  QSize sizeHint() const override { return {kWidth, kHeight}; }
  QSize minimumSizeHint() const override { return {320, 240}; }

  const CanvasView& view() const { return view_; }
  void SetZoom(double zoom);
  void SetSmooth(bool smooth);

  // The frame as shown, at the screen's pixel density.
  QImage RenderImage() const;
  // The frame as an SVG document, drawn by the same code.
  QByteArray RenderSvg() const;

 signals:
  // Escape while rewinding: the owner returns to live.
  void escapePressed();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ForwardMouse(MouseEventKind kind, const QMouseEvent* event);
  // Releases and target drops are kept inside what the canvas shows.
  void UpdateSceneBounds();

  SceneState& scene_;
  CanvasView view_;
  bool targetWithLeft_ = false;  // a Ctrl + left press is dragging the target
};

}  // namespace reflector
