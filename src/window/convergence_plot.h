#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <array>
#include <cstddef>
#include <vector>

#include "formats/plot_scale.h"
#include "optimizer/run_record.h"

class QFontMetrics;
class QPainter;
class QString;

namespace reflector {

// The scores a convergence plot draws against generation.
enum class PlotSeries { Best = 0, Mean = 1, BestEver = 2 };
inline constexpr std::size_t kPlotSeriesCount = 3;

// The y axis turns logarithmic when the largest plotted score is more than
// this many times the smallest: a run's early scores would otherwise squash
// its late progress into the bottom few pixels.
inline constexpr double kLogScaleRatio = 100.0;

struct PlotPoint {
  double generation = 0.0;
  double value = 0.0;  // on the axis: log10 of the score on a logarithmic axis
};

// A run's scores made ready to draw: non-finite scores left out, scores taken
// to the axis's scale, and at most two points per pixel column kept for each
// series (the column's lowest and highest, in generation order), so that a
// run of millions of generations draws the same envelope from a few thousand
// points.
struct PlotData {
  std::size_t generations = 0;  // rows in the record's history
  double firstGeneration = 1.0;
  double lastGeneration = 1.0;
  bool logScale = false;
  bool hasPoints = false;  // some score was finite
  double lowValue = 0.0;   // the range of the points' values, on the axis
  double highValue = 1.0;
  std::array<std::vector<PlotPoint>, kPlotSeriesCount> series;

  const std::vector<PlotPoint>& Points(PlotSeries which) const {
    return series[static_cast<std::size_t>(which)];
  }
};

// columns: the plot area's width in pixels (at least 1 is used). A log scale
// asked for with no positive score stays linear.
PlotData MakePlotData(const RunRecord& record, int columns, PlotScale scale = PlotScale::kAuto);

// Round tick values from low to high, about `target` of them, spaced 1, 2 or 5
// times a power of ten and never closer than minimumStep.
std::vector<double> NiceTicks(double low, double high, int target, double minimumStep = 0.0);

// Ticks for a log axis from low to high (in decades, log10 of the values):
// the powers of ten when at least three fall inside, else 1, 2 and 5 times
// them, else every digit times them.
std::vector<double> LogTicks(double low, double high);

// A tick value as its label: whole numbers in full, fractions to the tick
// spacing's precision, very large or small values in exponent form; on a log
// axis (values in decades) the value itself.
QString TickLabel(double value, double step, bool logScale);

QColor PlotSeriesColor(PlotSeries which);

// Where the axes' box goes inside bounds, leaving room for the title, the
// legend row and the tick labels in the given font.
QRect PlotArea(const QRect& bounds, const QFontMetrics& metrics);

// The font the plot's labels use: a fixed pixel size, so that PNG and SVG
// (and any screen) lay the plot out alike.
QFont PlotFont();

// Paints the plot over bounds: a white background, the title at the top, a
// legend row, the axes with round tick labels and the three series (a note
// instead when there is nothing to draw).
void PaintConvergencePlot(QPainter& painter, const QRect& bounds, const PlotData& data,
                          const QString& title);

// Builds the plot data for bounds' plot area, then paints it.
void PaintConvergencePlot(QPainter& painter, const QRect& bounds, const RunRecord& record,
                          const QString& title, PlotScale scale = PlotScale::kAuto);

// Keeps the labels that fit one after another: a label is left out when it
// would overlap the last one kept (with gap pixels between) or reach outside
// [low, high]. starts and sizes are along the axis; returns the kept indices.
std::vector<std::size_t> LabelsThatFit(const std::vector<int>& starts, const std::vector<int>& sizes,
                                       int gap, int low, int high);
// A label's start moved just enough for it to lie within [low, high].
int ShiftInside(int start, int size, int low, int high);

}  // namespace reflector
