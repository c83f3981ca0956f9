#pragma once

#include <string>

#include "cli/comparison_plot.h"
#include "formats/plot_scale.h"
#include "optimizer/population.h"
#include "optimizer/run_record.h"
#include "optimizer/scene_snapshot.h"
#include "scene/scene_renderer.h"

namespace reflector {

// Raster pictures for the command line, drawn by the window's own painting
// code. The command line knows no Qt: main hands it an implementation, or none
// in a build without the window.
class PictureOutput {
 public:
  virtual ~PictureOutput() = default;

  // Whether pictures can be drawn at all, and if not why: asked before a run
  // that must draw some, so that the run is not lost for want of them.
  virtual bool CanDraw(std::string& why) {
    why.clear();
    return true;
  }

  // The frame the window would show, width x height pixels, as PNG bytes.
  virtual bool EncodeFramePng(const FrameScene& frame, const Population& population,
                              const SceneSnapshot& snapshot, int width, int height,
                              std::string& png, std::string& error) = 0;

  // A convergence plot of the record's best, mean and best-ever scores against
  // generation, as PNG bytes (svg false) or an SVG document (svg true).
  virtual bool EncodePlot(const RunRecord& record, const std::string& title, bool svg,
                          PlotScale scale, std::string& bytes, std::string& error) = 0;

  // A comparison's plot, as PNG bytes or an SVG document.
  virtual bool EncodeComparisonPlot(const ComparisonPlot& plot, bool svg, std::string& bytes,
                                    std::string& error) = 0;
};

}  // namespace reflector
