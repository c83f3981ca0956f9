#include "window/plot_dock.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace reflector {

namespace {

// A press that moves further than this is a drag, not a click.
constexpr int kDragThreshold = 4;

// The generation axis as the plot draws it.
void GenerationRange(const PlotData& data, double& low, double& high) {
  low = data.firstGeneration;
  high = data.lastGeneration;
  if (data.generations == 0) high = low + 1.0;
  else if (high == low) {
    low -= 1.0;
    high += 1.0;
  }
}

}  // namespace

PlotWidget::PlotWidget(QWidget* parent) : QWidget(parent) {
  // Keys stay with the canvas: Escape there returns to live.
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::CrossCursor);
  // The read-out follows the pointer.
  setMouseTracking(true);
  title_ = tr("Convergence");
}

void PlotWidget::SetTitle(const QString& title) {
  if (title_ == title) return;
  title_ = title;
  update();
}

QRect PlotWidget::Area() const { return PlotArea(rect(), QFontMetrics(PlotFont(), this)); }

int PlotWidget::PlotColumns() const { return std::max(1, Area().width()); }

void PlotWidget::SetData(PlotData data) {
  data_ = std::move(data);
  update();
}

void PlotWidget::SetMarker(std::optional<std::uint32_t> generation) {
  if (marker_ == generation) return;
  marker_ = generation;
  update();
}

int PlotWidget::XOfGeneration(double generation) const {
  const QRect area = Area();
  double low = 0.0, high = 1.0;
  GenerationRange(data_, low, high);
  return static_cast<int>(std::lround(area.left() + (generation - low) / (high - low) * area.width()));
}

std::optional<std::uint32_t> PlotWidget::GenerationAt(int x) const {
  if (data_.generations == 0) return std::nullopt;
  const QRect area = Area();
  if (area.width() <= 0) return std::nullopt;
  double low = 0.0, high = 1.0;
  GenerationRange(data_, low, high);
  const double generation = low + (x - area.left()) * (high - low) / area.width();
  const double clamped = std::clamp(std::round(generation), data_.firstGeneration, data_.lastGeneration);
  return static_cast<std::uint32_t>(clamped);
}

void PlotWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintConvergencePlot(painter, rect(), data_, title_);
  if (marker_) {
    const QRect area = Area();
    const int x = XOfGeneration(*marker_);
    painter.setPen(QPen(QColor(200, 0, 0), 1, Qt::DashLine));
    painter.drawLine(x, area.top(), x, area.bottom());
    painter.setPen(QColor(200, 0, 0));
    painter.drawText(QRect(area.left() + 4, area.top() + 2, area.width() - 8, 20),
                     Qt::AlignLeft | Qt::AlignTop, tr("generation %1").arg(*marker_));
  }
  PaintReadOut(painter);
}

void PlotWidget::PaintReadOut(QPainter& painter) {
  if (!hovered_ || !rowAt_) return;
  const std::optional<GenerationScores> row = rowAt_(*hovered_);
  if (!row) return;
  const QRect area = Area();
  const int x = XOfGeneration(*hovered_);
  painter.setPen(QPen(QColor(120, 120, 120), 1, Qt::DotLine));
  painter.drawLine(x, area.top(), x, area.bottom());
  const QString lines[] = {tr("generation %1").arg(*hovered_), tr("best %1").arg(row->best, 0, 'g', 10),
                           tr("mean %1").arg(row->mean, 0, 'g', 10),
                           tr("best ever %1").arg(row->bestEver, 0, 'g', 10)};
  const QFontMetrics metrics(PlotFont(), this);
  int width = 0;
  for (const QString& text : lines) width = std::max(width, metrics.horizontalAdvance(text));
  const int line = metrics.height();
  QRect box(0, area.top() + 4, width + 12, 4 * line + 8);
  // Beside the pointer's line, on the side with room, inside the axes.
  int left = x + 8 + box.width() <= area.right() ? x + 8 : x - 8 - box.width();
  // Where neither side has room (a narrow dock), within the widget still.
  left = std::clamp(left, 0, std::max(0, this->width() - box.width()));
  box.moveLeft(left);
  painter.setFont(PlotFont());
  painter.fillRect(box, QColor(255, 255, 255, 230));
  painter.setPen(QColor(120, 120, 120));
  painter.drawRect(box);
  const PlotSeries order[] = {PlotSeries::Best, PlotSeries::Best, PlotSeries::Mean, PlotSeries::BestEver};
  for (int i = 0; i < 4; ++i) {
    painter.setPen(i == 0 ? QColor(Qt::black) : PlotSeriesColor(order[i]).darker(130));
    painter.drawText(QRect(box.left() + 6, box.top() + 4 + i * line, width, line),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, lines[i]);
  }
}

void PlotWidget::leaveEvent(QEvent*) {
  if (!hovered_) return;
  hovered_.reset();
  update();
}

void PlotWidget::Pick(int x) {
  if (const auto generation = GenerationAt(x)) emit generationPicked(*generation);
}

void PlotWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressed_ = true;
  dragged_ = false;
  pressX_ = static_cast<int>(event->position().x());
  Pick(pressX_);
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event) {
  const int x = static_cast<int>(event->position().x());
  const QRect area = Area();
  std::optional<std::uint32_t> hovered;
  if (area.adjusted(-2, 0, 2, 0).contains(event->position().toPoint())) hovered = GenerationAt(x);
  if (hovered != hovered_) {
    hovered_ = hovered;
    update();
  }
  if (!pressed_) return;
  if (std::abs(x - pressX_) > kDragThreshold) dragged_ = true;
  Pick(x);
}

void PlotWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  if (dragged_) emit dragEnded();
}

}  // namespace reflector
