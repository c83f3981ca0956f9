#include "window/comparison_plot_painter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <limits>

#include "window/convergence_plot.h"

namespace reflector {

namespace {

constexpr int kPadding = 8;
constexpr int kTitlePixelSize = 15;
constexpr int kTickLength = 4;

// Ten colours that stay apart from one another on white.
QColor SeriesColor(std::size_t index) {
  static const QColor kColors[] = {{31, 119, 180}, {255, 127, 14}, {44, 160, 44},  {214, 39, 40},
                                   {148, 103, 189}, {140, 86, 75},  {227, 119, 194}, {127, 127, 127},
                                   {188, 189, 34},  {23, 190, 207}};
  return kColors[index % std::size(kColors)];
}

struct Axis {
  bool log = false;
  double low = 0.0;  // on the axis: log10 of the values on a log axis
  double high = 1.0;

  double On(double value) const { return log ? std::log10(value) : value; }
  double Fraction(double value) const { return (On(value) - low) / (high - low); }
};

// The range of the values given, on the axis, with a margin; a single value
// gets a range around it.
Axis AxisOver(const std::vector<double>& values, bool log, double margin) {
  Axis axis;
  axis.log = log;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (double value : values) {
    if (!std::isfinite(value) || (log && !(value > 0.0))) continue;
    low = std::min(low, axis.On(value));
    high = std::max(high, axis.On(value));
  }
  if (!(low <= high)) return axis;
  if (high == low) {
    const double half = log ? 0.5 : std::max(std::fabs(low) * 0.05, 1.0);
    low -= half;
    high += half;
  }
  const double pad = (high - low) * margin;
  axis.low = low - pad;
  axis.high = high + pad;
  return axis;
}

std::vector<double> Ticks(const Axis& axis, int target) {
  return axis.log ? LogTicks(axis.low, axis.high) : NiceTicks(axis.low, axis.high, target);
}

}  // namespace

void PaintComparisonPlot(QPainter& painter, const QRect& bounds, const ComparisonPlot& plot) {
  painter.save();
  painter.fillRect(bounds, Qt::white);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  const QFont labelFont = PlotFont();
  QFont titleFont = labelFont;
  titleFont.setPixelSize(kTitlePixelSize);
  titleFont.setBold(true);
  const QFontMetrics metrics(labelFont, painter.device());
  const int line = metrics.height();

  const int top = kPadding + (kTitlePixelSize * 3) / 2 + kPadding;
  const int left = kPadding + line + kPadding + metrics.horizontalAdvance(QStringLiteral("00000000")) +
                   kTickLength + 3;
  const int bottom = kTickLength + 3 + line + kPadding + line + kPadding;
  const QRect area = bounds.adjusted(left, top, -3 * kPadding, -bottom);

  painter.setPen(Qt::black);
  painter.setFont(titleFont);
  painter.drawText(QRect(bounds.left(), bounds.top() + kPadding, bounds.width(), (kTitlePixelSize * 3) / 2),
                   Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                   QFontMetrics(titleFont, painter.device())
                       .elidedText(QString::fromStdString(plot.title), Qt::ElideMiddle,
                                   bounds.width() - 2 * kPadding));
  painter.setFont(labelFont);

  std::vector<double> xs, ys;
  for (const ComparisonSeries& series : plot.series) {
    xs.insert(xs.end(), series.x.begin(), series.x.end());
    ys.insert(ys.end(), series.y.begin(), series.y.end());
    ys.insert(ys.end(), series.low.begin(), series.low.end());
    ys.insert(ys.end(), series.high.begin(), series.high.end());
    // A staircase rises from nothing to all.
    if (series.steps) ys.insert(ys.end(), {0.0, 1.0});
  }
  const Axis xAxis = AxisOver(xs, plot.logX, 0.03);
  const Axis yAxis = AxisOver(ys, plot.logY, 0.05);
  auto toPixel = [&](double x, double y) {
    return QPointF(area.left() + xAxis.Fraction(x) * area.width(),
                   area.bottom() + 1 - yAxis.Fraction(y) * area.height());
  };

  // Grid, ticks and their labels; a label that would run into the one
  // before it is left out.
  const QPen gridPen(QColor(225, 225, 225), 1);
  const std::vector<double> xTicks = Ticks(xAxis, 6);
  const double xStep = xTicks.size() >= 2 ? xTicks[1] - xTicks[0] : 1.0;
  int lastRight = std::numeric_limits<int>::min();
  for (double tick : xTicks) {
    const int x = static_cast<int>(std::lround(area.left() + (tick - xAxis.low) / (xAxis.high - xAxis.low) *
                                                              area.width()));
    painter.setPen(gridPen);
    painter.drawLine(x, area.top(), x, area.bottom());
    painter.setPen(Qt::black);
    painter.drawLine(x, area.bottom() + 1, x, area.bottom() + kTickLength);
    const QString label = TickLabel(tick, xStep, xAxis.log);
    const int width = metrics.horizontalAdvance(label) + 2;
    const int start = std::clamp(x - width / 2, bounds.left(), bounds.right() - width);
    if (start <= lastRight + kPadding) continue;
    lastRight = start + width;
    painter.drawText(QRect(start, area.bottom() + kTickLength + 3, width, line),
                     Qt::AlignCenter | Qt::TextSingleLine, label);
  }
  const std::vector<double> yTicks = Ticks(yAxis, 6);
  const double yStep = yTicks.size() >= 2 ? yTicks[1] - yTicks[0] : 1.0;
  int lastTop = std::numeric_limits<int>::max();
  for (double tick : yTicks) {
    const int y = static_cast<int>(
        std::lround(area.bottom() + 1 - (tick - yAxis.low) / (yAxis.high - yAxis.low) * area.height()));
    painter.setPen(gridPen);
    painter.drawLine(area.left(), y, area.right(), y);
    painter.setPen(Qt::black);
    painter.drawLine(area.left() - kTickLength, y, area.left() - 1, y);
    if (y + line / 2 + 2 > lastTop) continue;
    lastTop = y - line / 2;
    const int right = area.left() - kTickLength - 3;
    painter.drawText(QRect(right - 200, y - line / 2, 200, line),
                     Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, TickLabel(tick, yStep, yAxis.log));
  }
  painter.setPen(Qt::black);
  painter.drawText(QRect(area.left(), area.bottom() + kTickLength + 3 + line + kPadding / 2, area.width(), line),
                   Qt::AlignHCenter | Qt::TextSingleLine,
                   QString::fromStdString(plot.xLabel) + (xAxis.log ? QStringLiteral(" (log scale)") : QString()));
  painter.save();
  painter.translate(bounds.left() + kPadding, area.center().y());
  painter.rotate(-90.0);
  painter.drawText(QRect(-area.height() / 2, 0, area.height(), line), Qt::AlignHCenter | Qt::TextSingleLine,
                   QString::fromStdString(plot.yLabel) + (yAxis.log ? QStringLiteral(" (log scale)") : QString()));
  painter.restore();

  // Bands first, all of them, then the lines over them.
  painter.save();
  painter.setClipRect(area.adjusted(0, 0, 1, 1));
  painter.setRenderHint(QPainter::Antialiasing, true);
  for (std::size_t i = 0; i < plot.series.size(); ++i) {
    const ComparisonSeries& series = plot.series[i];
    if (series.low.size() != series.x.size() || series.high.size() != series.x.size() || series.x.empty()) continue;
    QPolygonF band;
    for (std::size_t k = 0; k < series.x.size(); ++k) band << toPixel(series.x[k], series.high[k]);
    for (std::size_t k = series.x.size(); k-- > 0;) band << toPixel(series.x[k], series.low[k]);
    QColor fill = SeriesColor(i);
    fill.setAlpha(45);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPolygon(band);
  }
  painter.setBrush(Qt::NoBrush);
  for (std::size_t i = 0; i < plot.series.size(); ++i) {
    const ComparisonSeries& series = plot.series[i];
    if (series.x.empty()) continue;
    QPolygonF points;
    if (series.steps) {
      // From the left edge at 0 up each step, on to the right edge.
      points << QPointF(area.left(), toPixel(series.x.front(), 0.0).y());
      double level = 0.0;
      for (std::size_t k = 0; k < series.x.size(); ++k) {
        points << toPixel(series.x[k], level) << toPixel(series.x[k], series.y[k]);
        level = series.y[k];
      }
      points << QPointF(area.right() + 1, toPixel(series.x.back(), level).y());
    } else {
      for (std::size_t k = 0; k < series.x.size(); ++k) points << toPixel(series.x[k], series.y[k]);
    }
    painter.setPen(QPen(SeriesColor(i), 2));
    painter.drawPolyline(points);
  }
  painter.restore();

  // The legend: a white box in the right corner of the axes that the lines
  // leave free: the top for falling scores, the bottom for rising shares.
  if (!plot.series.empty()) {
    int widest = 0;
    for (const ComparisonSeries& series : plot.series) {
      widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(series.name)));
    }
    const int swatch = 22;
    const int width = kPadding + swatch + 6 + widest + kPadding;
    const int height = kPadding + static_cast<int>(plot.series.size()) * line + kPadding;
    const bool rising = plot.series.front().steps;
    const QRect box(area.right() - kPadding - width,
                    rising ? area.bottom() - kPadding - height : area.top() + kPadding, width, height);
    painter.setPen(QColor(190, 190, 190));
    painter.setBrush(Qt::white);
    painter.drawRect(box);
    for (std::size_t i = 0; i < plot.series.size(); ++i) {
      const int y = box.top() + kPadding + static_cast<int>(i) * line;
      painter.setPen(QPen(SeriesColor(i), 2));
      painter.drawLine(box.left() + kPadding, y + line / 2, box.left() + kPadding + swatch, y + line / 2);
      painter.setPen(Qt::black);
      painter.drawText(QRect(box.left() + kPadding + swatch + 6, y, widest + 2, line),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                       QString::fromStdString(plot.series[i].name));
    }
  }
  painter.restore();
}

}  // namespace reflector
