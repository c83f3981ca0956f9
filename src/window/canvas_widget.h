#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <optional>

#include "scene/mirror_editing.h"
#include "scene/scene_state.h"
#include "scene/view_mapping.h"

class QMouseEvent;
class QPainter;
class QScrollBar;
class QWheelEvent;

namespace reflector {

// How the canvas draws the scene. The defaults paint exactly what RenderFrame
// paints, pixel for pixel.
struct CanvasView {
  ViewMapping mapping;        // zoom and pan
  bool smooth = false;        // antialiased lines
  bool editing = false;       // handles on the vertices, source and target
  bool incomingBeam = false;  // the beam from the source toward the aim, faintly
  double zoom() const { return mapping.zoom; }
};

// Paints one frame of the scene as the canvas shows it: black, then the frame
// (the rewound generation instead of the live population while rewinding),
// then the view's overlays. Only reads; call scene.PrepareFrame() first.
void PaintSceneFrame(QPainter& painter, const QRect& area, const SceneState& scene,
                     const CanvasView& view);

// The canvas: the scene's frame, and the mouse and keys that change the scene.
// Outside the editing mode, input goes to the scene as it always has. In it,
// the canvas edits the mirror itself and says so with editFinished, and the
// owner restarts the run. Painting happens when the owner asks (repaint at
// its tick); it sets up nothing.
class CanvasWidget : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 800;
  static constexpr int kHeight = 600;
  // Handles are taken within this many canvas pixels, whatever the zoom.
  static constexpr double kGripRadius = 6.0;
  static constexpr int kSnapSpacing = 10;

  // The scene must outlive the canvas.
  explicit CanvasWidget(SceneState& scene, QWidget* parent = nullptr);

  QSize sizeHint() const override { return {kWidth, kHeight}; }
  QSize minimumSizeHint() const override { return {320, 240}; }

  const CanvasView& view() const { return view_; }
  // Zoom about the top-left corner, the pan kept.
  void SetZoom(double zoom);
  // Zoom about the canvas's centre.
  void ZoomAboutCentre(double zoom);
  void SetMapping(const ViewMapping& mapping);
  void SetSmooth(bool smooth);
  void SetEditing(bool editing);
  void SetIncomingBeam(bool shown);
  // Shows or hides the scroll bars for a scene that reaches this far.
  void UpdateScrollBars(const SceneBox& scene);

  // The scene point under a canvas position.
  Point2 SceneAt(QPointF position) const;
  // The last pointer position over the canvas, in scene pixels.
  Point2 pointerInScene() const { return pointer_; }

  // The frame as shown, at the screen's pixel density.
  QImage RenderImage() const;
  // The frame as an SVG document, drawn by the same code.
  QByteArray RenderSvg() const;

 signals:
  // Escape while rewinding: the owner returns to live.
  void escapePressed();
  // An edit is complete (a drag released, a vertex inserted or deleted):
  // the owner restarts the run once, as one undo step named name.
  void editFinished(const QString& name);
  // Something worth a word in the status bar.
  void notice(const QString& text);
  // The zoom or pan changed.
  void viewChanged();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ForwardMouse(MouseEventKind kind, const QMouseEvent* event);
  // Releases and target drops are kept inside what the canvas shows.
  void UpdateSceneBounds();
  void PlaceScrollBars();
  void ScrollTo(int horizontal, int vertical);
  // The editing mode's mouse.
  void EditPress(const QMouseEvent* event);
  void EditMove(const QMouseEvent* event);
  void EditRelease(const QMouseEvent* event);
  ScreenPoint EditPoint(const QMouseEvent* event) const;

  SceneState& scene_;
  CanvasView view_;
  bool targetWithLeft_ = false;  // a Ctrl + left press is dragging the target
  Point2 pointer_{0.0, 0.0};
  // A drag in the editing mode: what it holds and where it began.
  EditGrip grip_;
  bool dragging_ = false;
  bool dragMoved_ = false;
  bool panning_ = false;
  QPointF pressPosition_;
  Point2 pressOrigin_{0.0, 0.0};
  ScreenPoint heldFrom_;  // where the held handle was at the press
  QScrollBar* horizontalBar_;
  QScrollBar* verticalBar_;
  bool settingBars_ = false;
};

}  // namespace reflector
