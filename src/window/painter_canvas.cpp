#include "window/painter_canvas.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QString>
#include <vector>

namespace reflector {

PainterCanvas::PainterCanvas(QPainter& target, ViewMapping mapping)
    : painter(target), view(mapping), identity(mapping.Identity()), pen(Qt::black), brush(Qt::NoBrush) {
  pen.setWidth(1);
  pen.setCosmetic(true);
  painter.setRenderHint(QPainter::Antialiasing, false);
}

void PainterCanvas::SetPenColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  pen.setColor(QColor(red, green, blue));
}

void PainterCanvas::SetBrushColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  brush = QBrush(QColor(red, green, blue));
}

QPointF PainterCanvas::Map(int x, int y) const {
  const Point2 p = view.ToView({static_cast<double>(x), static_cast<double>(y)});
  return {p.x, p.y};
}

void PainterCanvas::DrawLine(int x1, int y1, int x2, int y2) {
  painter.setPen(pen);
  if (identity) {
    painter.drawLine(QPoint(x1, y1), QPoint(x2, y2));
  } else {
    painter.drawLine(Map(x1, y1), Map(x2, y2));
  }
}

void PainterCanvas::DrawPolyline(std::span<const ScreenPoint> points) {
  if (points.size() < 2) return;
  if (!identity) {
    std::vector<QPointF> mapped;
    mapped.reserve(points.size());
    for (ScreenPoint p : points) mapped.push_back(Map(p.x, p.y));
    painter.setPen(pen);
    painter.drawPolyline(mapped.data(), static_cast<int>(mapped.size()));
    return;
  }
  std::vector<QPoint> qtPoints;
  qtPoints.reserve(points.size());
  for (ScreenPoint p : points) qtPoints.emplace_back(p.x, p.y);
  painter.setPen(pen);
  painter.drawPolyline(qtPoints.data(), static_cast<int>(qtPoints.size()));
}

void PainterCanvas::DrawDisc(int x, int y, int r) {
  // The box's right and bottom edges are exclusive, so the disc covers
  // x - r .. x + r - 1 as it always has. With a 1-pixel pen Qt paints one
  // pixel beyond a QRect's width, hence 2r - 1.
  painter.setPen(pen);
  painter.setBrush(brush);
  if (!identity) {
    const QPointF centre = Map(x, y);
    painter.drawEllipse(QRectF(centre.x() - r, centre.y() - r, 2 * r - 1, 2 * r - 1));
    return;
  }
  painter.drawEllipse(QRect(x - r, y - r, 2 * r - 1, 2 * r - 1));
}

void PainterCanvas::DrawLabel(int x, int y, std::string_view text) {
  const QString label = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  const QFontMetrics metrics = painter.fontMetrics();
  // Top-left anchored: the text cell starts at (x, y), not the baseline.
  const QRect box(x, y, metrics.horizontalAdvance(label), metrics.height());
  painter.fillRect(box, Qt::white);
  painter.setPen(Qt::black);
  painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, label);
}

}  // namespace reflector
