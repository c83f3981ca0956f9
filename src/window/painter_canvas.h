#pragma once

#include <QBrush>
#include <QPen>

#include "scene/canvas.h"
#include "scene/view_mapping.h"

class QPainter;

namespace reflector {

// A canvas on a QPainter, drawing as the program always has: 1-pixel pens
// without antialiasing, and labels in black on white in the default font.
// Through a view other than the identity, positions are mapped and sizes are
// not: lines stay one pixel, discs keep their radius, and labels (the
// frame's read-outs) stay where they are on the canvas.
// The painter must outlive the canvas.
class PainterCanvas : public Canvas {
 public:
  explicit PainterCanvas(QPainter& painter, ViewMapping view = {});

  void SetPenColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) override;
  void SetBrushColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) override;

  void DrawLine(int x1, int y1, int x2, int y2) override;
  void DrawPolyline(std::span<const ScreenPoint> points) override;
  void DrawDisc(int x, int y, int r) override;
  void DrawLabel(int x, int y, std::string_view text) override;

 private:
  QPointF Map(int x, int y) const;

  QPainter& painter;
  ViewMapping view;
  bool identity;
  QPen pen;
  QBrush brush;
};

}  // namespace reflector
