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
  setToolTip(tr("Click or drag to show the best mirror of that generation; Escape returns to live"));
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
  PaintConvergencePlot(painter, rect(), data_, tr("Convergence"));
  if (marker_) {
    const QRect area = Area();
    const int x = XOfGeneration(*marker_);
    painter.setPen(QPen(QColor(200, 0, 0), 1, Qt::DashLine));
    painter.drawLine(x, area.top(), x, area.bottom());
    painter.setPen(QColor(200, 0, 0));
    painter.drawText(QRect(area.left() + 4, area.top() + 2, area.width() - 8, 20),
                     Qt::AlignLeft | Qt::AlignTop, tr("generation %1").arg(*marker_));
  }
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
  if (!pressed_) return;
  const int x = static_cast<int>(event->position().x());
  if (std::abs(x - pressX_) > kDragThreshold) dragged_ = true;
  Pick(x);
}

void PlotWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  if (dragged_) emit dragEnded();
}

}  // namespace reflector
