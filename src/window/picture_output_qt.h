#pragma once

#include <functional>
#include <memory>
#include <string>

#include "cli/picture_output.h"

class QGuiApplication;
class QPainter;
class QRect;
class QString;

namespace reflector {

// Pictures drawn with Qt: the frame by the window's own canvas, plots by
// PaintConvergencePlot. Uses the application that exists (the window's, or a
// test's); without one, makes an offscreen one on first use, quietly, and
// destroys it with this object. Call from the thread that made the application
// (the main thread, when this object makes it).
class QtPictureOutput : public PictureOutput {
 public:
  static constexpr int kPlotWidth = 900;
  static constexpr int kPlotHeight = 560;

  QtPictureOutput();
  ~QtPictureOutput() override;
  QtPictureOutput(const QtPictureOutput&) = delete;
  QtPictureOutput& operator=(const QtPictureOutput&) = delete;

  bool EncodeFramePng(const FrameScene& frame, const Population& population,
                      const SceneSnapshot& snapshot, int width, int height, std::string& png,
                      std::string& error) override;

  bool EncodePlot(const RunRecord& record, const std::string& title, bool svg, PlotScale scale,
                  std::string& bytes,
                  std::string& error) override;

  bool EncodeComparisonPlot(const ComparisonPlot& plot, bool svg, std::string& bytes,
                            std::string& error) override;

 private:
  // A plot-sized picture painted by paint, as PNG bytes or an SVG document.
  bool EncodePicture(const std::function<void(QPainter&, const QRect&)>& paint, const QString& title,
                     const QString& description, bool svg, std::string& bytes, std::string& error);

  // A GUI application for fonts and painting, made here if there is none.
  bool EnsureApplication(std::string& error);

  std::unique_ptr<QGuiApplication> ownApplication_;
};

}  // namespace reflector
