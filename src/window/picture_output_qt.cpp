#include "window/picture_output_qt.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgGenerator>

#include "window/comparison_plot_painter.h"
#include "window/convergence_plot.h"
#include "window/painter_canvas.h"
#include "window/quiet_messages.h"

namespace reflector {

namespace {

// Larger frames are a mistake on the command line, not a picture anyone wants.
constexpr int kMaxFrameSide = 16384;

// QGuiApplication keeps references to these for its whole life.
int applicationArgc = 3;
char applicationName[] = "reflector";
char platformOption[] = "-platform";
char platformName[] = "offscreen";
char* applicationArgv[] = {applicationName, platformOption, platformName, nullptr};

bool SavePng(const QImage& image, std::string& png, std::string& error, const char* what) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
    error = std::string("cannot encode the ") + what + " as PNG";
    return false;
  }
  png.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return true;
}

}  // namespace

QtPictureOutput::QtPictureOutput() = default;

QtPictureOutput::~QtPictureOutput() = default;

bool QtPictureOutput::EnsureApplication(std::string& error) {
  if (QCoreApplication::instance() == nullptr) {
    // Before the application: the platform's own start-up chatter is dropped.
    InstallQuietMessageHandler();
    ownApplication_ = std::make_unique<QGuiApplication>(applicationArgc, applicationArgv);
  }
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
    error = "pictures need a GUI application, and this process has a console-only one";
    return false;
  }
  return true;
}

bool QtPictureOutput::EncodeFramePng(const FrameScene& frame, const Population& population,
                                     const SceneSnapshot& snapshot, int width, int height,
                                     std::string& png, std::string& error) {
  if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide) {
    error = "frame size " + std::to_string(width) + "x" + std::to_string(height) +
            " is out of range (1 to " + std::to_string(kMaxFrameSide) + " pixels a side)";
    return false;
  }
  if (!EnsureApplication(error)) return false;
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) {
    error = "no memory for a " + std::to_string(width) + "x" + std::to_string(height) + " frame";
    return false;
  }
  {
    // As the window paints: black, then the frame over it.
    QPainter painter(&image);
    painter.fillRect(image.rect(), Qt::black);
    PainterCanvas canvas(painter);
    RenderFrame(canvas, frame, &population, &snapshot);
  }
  return SavePng(image, png, error, "frame");
}

bool QtPictureOutput::EncodePlot(const RunRecord& record, const std::string& title, bool svg,
                                 PlotScale scale, std::string& bytes, std::string& error) {
  const QString qtTitle = QString::fromStdString(title);
  return EncodePicture(
      [&](QPainter& painter, const QRect& bounds) { PaintConvergencePlot(painter, bounds, record, qtTitle, scale); },
      qtTitle, QStringLiteral("Convergence plot: best, mean and best-ever score per generation"), svg, bytes,
      error);
}

bool QtPictureOutput::EncodeComparisonPlot(const ComparisonPlot& plot, bool svg, std::string& bytes,
                                           std::string& error) {
  return EncodePicture([&](QPainter& painter, const QRect& bounds) { PaintComparisonPlot(painter, bounds, plot); },
                       QString::fromStdString(plot.title),
                       QStringLiteral("Comparison of optimisers: ") + QString::fromStdString(plot.yLabel) +
                           QStringLiteral(" against ") + QString::fromStdString(plot.xLabel),
                       svg, bytes, error);
}

bool QtPictureOutput::EncodePicture(const std::function<void(QPainter&, const QRect&)>& paint,
                                    const QString& title, const QString& description, bool svg,
                                    std::string& bytes, std::string& error) {
  if (!EnsureApplication(error)) return false;
  const QRect bounds(0, 0, kPlotWidth, kPlotHeight);
  if (!svg) {
    QImage image(kPlotWidth, kPlotHeight, QImage::Format_RGB32);
    if (image.isNull()) {
      error = "no memory for the plot";
      return false;
    }
    {
      QPainter painter(&image);
      paint(painter, bounds);
    }
    return SavePng(image, bytes, error, "plot");
  }

  QByteArray document;
  QBuffer buffer(&document);
  if (!buffer.open(QIODevice::WriteOnly)) {
    error = "cannot open a buffer for the SVG plot";
    return false;
  }
  QSvgGenerator generator;
  generator.setOutputDevice(&buffer);
  // Qt writes the size in millimetres: at 96 dots an inch (CSS pixels) the
  // document is shown at 900 x 560 pixels, as the PNG is.
  generator.setResolution(96);
  generator.setSize(bounds.size());
  generator.setViewBox(bounds);
  generator.setTitle(title);
  generator.setDescription(description);
  {
    QPainter painter;
    if (!painter.begin(&generator)) {
      error = "cannot start the SVG plot";
      return false;
    }
    paint(painter, bounds);
    if (!painter.end()) {
      error = "cannot finish the SVG plot";
      return false;
    }
  }
  bytes.assign(document.constData(), static_cast<std::size_t>(document.size()));
  return true;
}

}  // namespace reflector
