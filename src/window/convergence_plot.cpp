#include "window/convergence_plot.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QPointF>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

namespace reflector {

namespace {

constexpr int kTitlePixelSize = 16;
constexpr int kLabelPixelSize = 13;
constexpr int kTickLength = 5;
constexpr int kPadding = 8;

double Score(const GenerationScores& row, std::size_t which) {
  switch (static_cast<PlotSeries>(which)) {
    case PlotSeries::Best: return row.best;
    case PlotSeries::Mean: return row.mean;
    case PlotSeries::BestEver: return row.bestEver;
  }
  return row.best;
}

// The lowest and highest point of one pixel column, kept in generation order.
class ColumnEnvelope {
 public:
  void Add(double generation, double value) {
    if (!any_) {
      low_ = high_ = {generation, value};
      any_ = true;
      return;
    }
    if (value < low_.value) low_ = {generation, value};
    if (value > high_.value) high_ = {generation, value};
  }

  void FlushInto(std::vector<PlotPoint>& points) {
    if (!any_) return;
    const bool lowFirst = low_.generation <= high_.generation;
    points.push_back(lowFirst ? low_ : high_);
    if (low_.generation != high_.generation) points.push_back(lowFirst ? high_ : low_);
    any_ = false;
  }

 private:
  bool any_ = false;
  PlotPoint low_;
  PlotPoint high_;
};

struct Axis {
  double low = 0.0;
  double high = 1.0;
};

double Fraction(double value, const Axis& axis) { return (value - axis.low) / (axis.high - axis.low); }

Axis PaddedValueAxis(const PlotData& data) {
  if (!data.hasPoints) return {0.0, 1.0};
  double low = data.lowValue;
  double high = data.highValue;
  if (high == low) {
    // One value: a range around it, a decade either side on a log axis.
    const double half = data.logScale ? 1.0 : std::max(std::fabs(low) * 0.05, 1.0);
    return {low - half, high + half};
  }
  const double margin = (high - low) * 0.05;
  return {low - margin, high + margin};
}

Axis GenerationAxis(const PlotData& data) {
  if (data.generations == 0) return {data.firstGeneration, data.firstGeneration + 1.0};
  if (data.lastGeneration == data.firstGeneration) {
    return {data.firstGeneration - 1.0, data.firstGeneration + 1.0};
  }
  return {data.firstGeneration, data.lastGeneration};
}

QPen SeriesPen(PlotSeries which) {
  QColor color = PlotSeriesColor(which);
  QPen pen;
  switch (which) {
    case PlotSeries::BestEver:
      color.setAlpha(110);
      pen = QPen(color, 6.0);
      break;
    case PlotSeries::Mean:
      pen = QPen(color, 1.5, Qt::DashLine);
      break;
    case PlotSeries::Best:
      pen = QPen(color, 1.5);
      break;
  }
  pen.setJoinStyle(Qt::RoundJoin);
  pen.setCapStyle(Qt::FlatCap);
  return pen;
}

}  // namespace

std::vector<std::size_t> LabelsThatFit(const std::vector<int>& starts, const std::vector<int>& sizes,
                                       int gap, int low, int high) {
  std::vector<std::size_t> kept;
  int end = low - gap;  // where the last kept label ends
  for (std::size_t i = 0; i < starts.size() && i < sizes.size(); ++i) {
    if (starts[i] < low || starts[i] + sizes[i] > high + 1) continue;
    if (starts[i] < end + gap) continue;
    kept.push_back(i);
    end = starts[i] + sizes[i];
  }
  return kept;
}

int ShiftInside(int start, int size, int low, int high) {
  return std::max(low, std::min(start, high + 1 - size));
}

PlotData MakePlotData(const RunRecord& record, int columns, PlotScale scale) {
  PlotData data;
  const std::vector<GenerationScores>& history = record.history;
  data.generations = history.size();
  data.firstGeneration = record.firstGeneration;
  data.lastGeneration = data.firstGeneration + static_cast<double>(history.size()) -
                        (history.empty() ? 0.0 : 1.0);

  // The scale first: it is decided by the finite positive scores.
  double lowPositive = std::numeric_limits<double>::infinity();
  double highPositive = 0.0;
  for (const GenerationScores& row : history) {
    for (std::size_t which = 0; which < kPlotSeriesCount; ++which) {
      const double score = Score(row, which);
      if (std::isfinite(score) && score > 0.0) {
        lowPositive = std::min(lowPositive, score);
        highPositive = std::max(highPositive, score);
      }
    }
  }
  switch (scale) {
    case PlotScale::kAuto: data.logScale = highPositive > 0.0 && highPositive / lowPositive > kLogScaleRatio; break;
    case PlotScale::kLinear: data.logScale = false; break;
    case PlotScale::kLog: data.logScale = highPositive > 0.0; break;
  }
  // On a log axis a score of zero or below sits at the lowest positive score.
  const double logFloor = data.logScale ? std::log10(lowPositive) : 0.0;

  // Decimated on the raw scores: the log is monotonic, so each column keeps
  // the same rows either way, and only the kept points pay for a logarithm.
  const std::uint64_t count = history.size();
  const std::uint64_t columnCount = static_cast<std::uint64_t>(std::max(columns, 1));
  std::array<ColumnEnvelope, kPlotSeriesCount> envelopes;
  std::uint64_t column = 0;
  std::uint64_t columnEnd = count == 0 ? 0 : (count + columnCount - 1) / columnCount;
  for (std::uint64_t k = 0; k < count; ++k) {
    if (k == columnEnd) {
      // Row k is in column k * columnCount / count: the next column starts at
      // the first row whose column is higher.
      for (std::size_t which = 0; which < kPlotSeriesCount; ++which) {
        envelopes[which].FlushInto(data.series[which]);
      }
      column = k * columnCount / count;
      columnEnd = ((column + 1) * count + columnCount - 1) / columnCount;
    }
    const double generation = data.firstGeneration + static_cast<double>(k);
    for (std::size_t which = 0; which < kPlotSeriesCount; ++which) {
      const double score = Score(history[k], which);
      if (std::isfinite(score)) envelopes[which].Add(generation, score);
    }
  }
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  for (std::size_t which = 0; which < kPlotSeriesCount; ++which) {
    envelopes[which].FlushInto(data.series[which]);
    for (PlotPoint& point : data.series[which]) {
      if (data.logScale) point.value = point.value > 0.0 ? std::log10(point.value) : logFloor;
      low = std::min(low, point.value);
      high = std::max(high, point.value);
    }
  }
  data.hasPoints = low <= high;
  if (data.hasPoints) {
    data.lowValue = low;
    data.highValue = high;
  }
  return data;
}

std::vector<double> NiceTicks(double low, double high, int target, double minimumStep) {
  std::vector<double> ticks;
  if (!(high > low) || !std::isfinite(low) || !std::isfinite(high)) return ticks;
  const double rough = (high - low) / std::max(target, 1);
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = 10.0 * power;
  for (double factor : {1.0, 2.0, 5.0}) {
    if (factor * power >= rough) {
      step = factor * power;
      break;
    }
  }
  step = std::max(step, minimumStep);
  // Whole multiples of the step, so labels come out round.
  for (double n = std::ceil(low / step); n * step <= high; n += 1.0) {
    ticks.push_back(n * step == 0.0 ? 0.0 : n * step);
  }
  return ticks;
}

std::vector<double> LogTicks(double low, double high) {
  std::vector<double> ticks;
  if (!(high > low) || !std::isfinite(low) || !std::isfinite(high)) return ticks;
  // Decades when there are enough of them, else 1, 2 and 5, else every digit.
  static constexpr double kOnes[] = {1};
  static constexpr double kOneTwoFive[] = {1, 2, 5};
  static constexpr double kDigits[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  for (std::span<const double> mantissas : {std::span<const double>(kOnes),
                                            std::span<const double>(kOneTwoFive),
                                            std::span<const double>(kDigits)}) {
    ticks.clear();
    for (double decade = std::floor(low); decade <= std::ceil(high); decade += 1.0) {
      for (double mantissa : mantissas) {
        const double value = decade + std::log10(mantissa);
        if (value >= low && value <= high) ticks.push_back(value);
      }
    }
    if (ticks.size() >= 3) break;
  }
  return ticks;
}

QString TickLabel(double value, double step, bool logScale) {
  if (logScale) return QString::number(std::pow(10.0, value), 'g', 12);
  if (value == 0.0) return QStringLiteral("0");
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e9 || magnitude < 1e-4) return QString::number(value, 'g', 4);
  const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
  return QString::number(value, 'f', std::clamp(decimals, 0, 8));
}

QColor PlotSeriesColor(PlotSeries which) {
  switch (which) {
    case PlotSeries::Best: return QColor(31, 119, 180);
    case PlotSeries::Mean: return QColor(255, 127, 14);
    case PlotSeries::BestEver: return QColor(44, 160, 44);
  }
  return Qt::black;
}

QFont PlotFont() {
  QFont font;
  font.setPixelSize(kLabelPixelSize);
  return font;
}

QRect PlotArea(const QRect& bounds, const QFontMetrics& metrics) {
  const int line = metrics.height();
  // Title, legend row; the axis title, a tick label column of ten characters,
  // the ticks; the tick labels and the axis title below.
  const int top = kPadding + (kTitlePixelSize * 3) / 2 + kPadding + line + kPadding;
  const int left = kPadding + line + kPadding +
                   metrics.horizontalAdvance(QStringLiteral("0000000000")) + kTickLength + 3;
  const int bottom = kTickLength + 3 + line + kPadding + line + kPadding;
  const int right = 3 * kPadding;
  return bounds.adjusted(left, top, -right, -bottom);
}

void PaintConvergencePlot(QPainter& painter, const QRect& bounds, const PlotData& data,
                          const QString& title) {
  painter.save();
  painter.fillRect(bounds, Qt::white);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, true);

  QFont titleFont = PlotFont();
  titleFont.setPixelSize(kTitlePixelSize);
  titleFont.setBold(true);
  const QFont labelFont = PlotFont();
  painter.setFont(labelFont);
  const QFontMetrics metrics(labelFont, painter.device());
  const QRect area = PlotArea(bounds, metrics);
  const int line = metrics.height();

  painter.setPen(Qt::black);
  painter.setFont(titleFont);
  painter.drawText(QRect(bounds.left(), bounds.top() + kPadding, bounds.width(),
                         (kTitlePixelSize * 3) / 2),
                   Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                   // A narrow plot shortens the title in the middle rather than cut it.
                   QFontMetrics(titleFont, painter.device())
                       .elidedText(title, Qt::ElideMiddle, bounds.width() - 2 * kPadding));
  painter.setFont(labelFont);

  // The legend: one swatch and name per series, right-aligned above the
  // axes, drawn as the series are.
  {
    const QString names[kPlotSeriesCount] = {QStringLiteral("best"), QStringLiteral("mean"),
                                              QStringLiteral("best ever")};
    // Narrow plots get a tighter legend, so that all of it shows.
    int swatch = 24;
    int spacing = 3 * kPadding;
    int needed = 0;
    for (const QString& name : names) needed += metrics.horizontalAdvance(name) + 6 + swatch + spacing;
    if (needed - spacing > area.right() - bounds.left() - kPadding) {
      swatch = 14;
      spacing = kPadding;
      needed = 0;
      for (const QString& name : names) needed += metrics.horizontalAdvance(name) + 6 + swatch + spacing;
    }
    // Ending where the axes end, unless it would then begin off the picture.
    int x = std::max(area.right(), std::min(bounds.right() - 2, bounds.left() + kPadding + needed - spacing));
    const int y = area.top() - kPadding - line;
    for (int which = static_cast<int>(kPlotSeriesCount) - 1; which >= 0; --which) {
      const int textWidth = metrics.horizontalAdvance(names[which]);
      x -= textWidth;
      painter.setPen(Qt::black);
      painter.drawText(QRect(x, y, textWidth, line), Qt::AlignLeft | Qt::AlignVCenter, names[which]);
      x -= 6 + swatch;
      painter.setPen(SeriesPen(static_cast<PlotSeries>(which)));
      painter.drawLine(x, y + line / 2, x + swatch, y + line / 2);
      x -= spacing;
    }
  }

  const Axis xAxis = GenerationAxis(data);
  const Axis yAxis = PaddedValueAxis(data);
  auto toPixel = [&](double generation, double value) {
    return QPointF(area.left() + Fraction(generation, xAxis) * area.width(),
                   area.bottom() + 1 - Fraction(value, yAxis) * area.height());
  };

  // Grid lines and tick labels.
  const QPen gridPen(QColor(225, 225, 225), 1);
  // As many generation labels as fit side by side with room between them.
  const int widestLabel =
      metrics.horizontalAdvance(QString::number(static_cast<qlonglong>(xAxis.high))) + 2 * kPadding;
  const int xTickTarget = std::clamp(area.width() / std::max(1, 2 * widestLabel), 2, 8);
  const std::vector<double> xTicks = NiceTicks(xAxis.low, xAxis.high, xTickTarget, 1.0);
  const double xStep = xTicks.size() >= 2 ? xTicks[1] - xTicks[0] : 1.0;
  // Where a narrow plot has no room for every label, some go: fewer labels,
  // never overlapping ones.
  std::vector<int> xs, starts, widths;
  std::vector<QString> xLabels;
  for (double tick : xTicks) {
    const int x = static_cast<int>(std::lround(toPixel(tick, yAxis.low).x()));
    xs.push_back(x);
    xLabels.push_back(TickLabel(tick, xStep, false));
    widths.push_back(metrics.horizontalAdvance(xLabels.back()) + 2);
    // A label at an end moves inward rather than leave the picture.
    starts.push_back(ShiftInside(x - widths.back() / 2, widths.back(), bounds.left(), bounds.right()));
  }
  const std::vector<std::size_t> xKept = LabelsThatFit(starts, widths, kPadding, bounds.left(), bounds.right());
  for (std::size_t i = 0; i < xTicks.size(); ++i) {
    painter.setPen(gridPen);
    painter.drawLine(xs[i], area.top(), xs[i], area.bottom());
    painter.setPen(Qt::black);
    painter.drawLine(xs[i], area.bottom() + 1, xs[i], area.bottom() + kTickLength);
  }
  for (std::size_t i : xKept) {
    painter.drawText(QRect(starts[i], area.bottom() + kTickLength + 3, widths[i], line),
                     Qt::AlignCenter | Qt::TextSingleLine, xLabels[i]);
  }
  const std::vector<double> yTicks =
      data.logScale ? LogTicks(yAxis.low, yAxis.high) : NiceTicks(yAxis.low, yAxis.high, 6);
  const double yStep = yTicks.size() >= 2 ? yTicks[1] - yTicks[0] : 1.0;
  // Bottom to top, as the values rise.
  std::vector<int> ys, tops, heights;
  for (double tick : yTicks) {
    const int y = static_cast<int>(std::lround(toPixel(xAxis.low, tick).y()));
    ys.push_back(y);
    tops.push_back(-(y + line / 2));
    heights.push_back(line);
  }
  const std::vector<std::size_t> yKept = LabelsThatFit(tops, heights, 2, -bounds.bottom(), -bounds.top());
  for (std::size_t i = 0; i < yTicks.size(); ++i) {
    painter.setPen(gridPen);
    painter.drawLine(area.left(), ys[i], area.right(), ys[i]);
    painter.setPen(Qt::black);
    painter.drawLine(area.left() - kTickLength, ys[i], area.left() - 1, ys[i]);
  }
  for (std::size_t i : yKept) {
    const int right = area.left() - kTickLength - 3;
    painter.drawText(QRect(right - 200, ys[i] - line / 2, 200, line),
                     Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                     TickLabel(yTicks[i], yStep, data.logScale));
  }

  // Axis titles.
  painter.setPen(Qt::black);
  painter.drawText(QRect(area.left(), area.bottom() + kTickLength + 3 + line + kPadding / 2,
                         area.width(), line),
                   Qt::AlignHCenter | Qt::TextSingleLine, QStringLiteral("generation"));
  painter.save();
  painter.translate(bounds.left() + kPadding, area.center().y());
  painter.rotate(-90.0);
  painter.drawText(QRect(-area.height() / 2, 0, area.height(), line),
                   Qt::AlignHCenter | Qt::TextSingleLine,
                   data.logScale ? QStringLiteral("score (log scale)") : QStringLiteral("score"));
  painter.restore();

  // The series, clipped to the axes' box. Best ever, which the best often
  // follows exactly, goes first as a broad pale band; mean dashed over it;
  // best thin and solid on top: where all three meet, each still shows.
  if (data.hasPoints) {
    painter.save();
    painter.setClipRect(area.adjusted(0, 0, 1, 1));
    painter.setRenderHint(QPainter::Antialiasing, true);
    std::vector<QPointF> pixels;
    for (PlotSeries which : {PlotSeries::BestEver, PlotSeries::Mean, PlotSeries::Best}) {
      const std::vector<PlotPoint>& points = data.Points(which);
      if (points.empty()) continue;
      pixels.clear();
      for (const PlotPoint& point : points) pixels.push_back(toPixel(point.generation, point.value));
      painter.setPen(SeriesPen(which));
      if (pixels.size() == 1) {
        painter.drawPoint(pixels.front());
      } else {
        painter.drawPolyline(pixels.data(), static_cast<int>(pixels.size()));
      }
    }
    painter.restore();
  } else {
    painter.setPen(QColor(90, 90, 90));
    painter.drawText(area, Qt::AlignCenter | Qt::TextSingleLine,
                     data.generations == 0 ? QStringLiteral("no generations")
                                           : QStringLiteral("no finite scores"));
  }

  painter.setPen(Qt::black);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(area);
  painter.restore();
}

void PaintConvergencePlot(QPainter& painter, const QRect& bounds, const RunRecord& record,
                          const QString& title, PlotScale scale) {
  const QFontMetrics metrics(PlotFont(), painter.device());
  const PlotData data = MakePlotData(record, PlotArea(bounds, metrics).width(), scale);
  PaintConvergencePlot(painter, bounds, data, title);
}

}  // namespace reflector
