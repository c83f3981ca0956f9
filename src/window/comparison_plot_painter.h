#pragma once

#include <QRect>

#include "cli/comparison_plot.h"

class QPainter;

namespace reflector {

// Paints a comparison's plot over bounds: a white background, the title, the
// axes with round tick labels (decades on a logarithmic axis), each
// algorithm's band and line in its own colour, and a legend in a right corner
// of the axes' box.
void PaintComparisonPlot(QPainter& painter, const QRect& bounds, const ComparisonPlot& plot);

}  // namespace reflector
