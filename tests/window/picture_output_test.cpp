#include "window/picture_output_qt.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QXmlStreamReader>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>
#include <vector>

#include "geometry/random.h"
#include "optimizer/reflector_optimizer.h"
#include "scene/scene_description.h"
#include "scene/scene_state.h"
#include "window/convergence_plot.h"
#include "window/canvas_widget.h"

// The QApplication these tests paint with is made by canvas_widget_test.cpp's
// environment, as the window makes its own.

namespace reflector {
namespace {

struct RunCopy {
  Population population;
  SceneSnapshot snapshot;
  RunRecord record;
};

void WaitUntilDone(const ReflectorOptimizer& optimizer) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!optimizer.Done() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(optimizer.Done());
}

RunCopy CopyUnderLock(ReflectorOptimizer& optimizer) {
  const Population* population = nullptr;
  const SceneSnapshot* snapshot = nullptr;
  const RunRecord* record = nullptr;
  optimizer.LockState(&population, &snapshot, &record);
  RunCopy copy{*population, *snapshot, *record};
  optimizer.UnlockState();
  return copy;
}

RunCopy RunDefaultScene(std::uint32_t generations) {
  SetRandomState(1);
  RefPtr<ReflectorOptimizer> optimizer;
  optimizer.Adopt(new ReflectorOptimizer(ToSnapshot(SceneDescription{}), generations));
  WaitUntilDone(*optimizer);
  return CopyUnderLock(*optimizer);
}

QImage Decode(const std::string& bytes, const char* format) {
  return QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()),
                          static_cast<int>(bytes.size()), format);
}

int CountColor(const QImage& image, const QRect& area, QColor color) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (image.pixelColor(x, y) == color) ++count;
  return count;
}

TEST(PictureFrameTest, PngShowsTheDiscsRaysAndScoreRows) {
  const RunCopy run = RunDefaultScene(50);
  std::vector<ScreenPoint> pixels;
  const FrameScene frame = FrameOfScene(SceneDescription{}, pixels);
  QtPictureOutput output;
  std::string png, error;
  ASSERT_TRUE(output.EncodeFramePng(frame, run.population, run.snapshot, 800, 600, png, error))
      << error;
  const QImage image = Decode(png, "PNG");
  ASSERT_EQ(image.size(), QSize(800, 600));

  EXPECT_EQ(image.pixelColor(150, 200), QColor(255, 255, 0));  // the source
  EXPECT_EQ(image.pixelColor(250, 200), QColor(0, 0, 255));    // the target
  EXPECT_GT(CountColor(image, QRect(0, 20, 41, 21), Qt::white), 50);  // the first score row
  EXPECT_GT(CountColor(image, QRect(301, 0, 499, 600), QColor(255, 255, 0)), 100);  // rays
  EXPECT_EQ(image.pixelColor(700, 550), QColor(Qt::black));
}

TEST(PictureFrameTest, PngIsThePictureTheWindowPaints) {
  SetRandomState(1);
  SceneState scene(50, [](std::string_view) {});
  CanvasWidget window(scene);
  scene.PrepareFrame();  // the window's first tick: the optimiser starts
  ASSERT_TRUE(scene.currentOptimizer);
  WaitUntilDone(*scene.currentOptimizer);
  const QImage painted = window.grab().toImage().convertToFormat(QImage::Format_RGB32);

  const FrameScene frame{scene.aim,     scene.source, scene.reflector,
                         scene.drawing, scene.anchor, scene.running};
  const RunCopy run = CopyUnderLock(*scene.currentOptimizer);
  QtPictureOutput output;
  std::string png, error;
  ASSERT_TRUE(output.EncodeFramePng(frame, run.population, run.snapshot, 800, 600, png, error))
      << error;
  const QImage encoded = Decode(png, "PNG").convertToFormat(QImage::Format_RGB32);

  ASSERT_EQ(painted.size(), encoded.size());
  int differing = 0;
  QPoint first(-1, -1);
  for (int y = 0; y < painted.height(); ++y)
    for (int x = 0; x < painted.width(); ++x)
      if (painted.pixel(x, y) != encoded.pixel(x, y) && differing++ == 0) first = QPoint(x, y);
  EXPECT_EQ(differing, 0) << "first at " << first.x() << "," << first.y();
  // Not two blank pictures: the run's rays are there.
  EXPECT_GT(CountColor(encoded, encoded.rect(), QColor(255, 255, 0)), 100);
}

TEST(PictureFrameTest, RefusesSizesOutOfRange) {
  const RunCopy run = RunDefaultScene(0);
  std::vector<ScreenPoint> pixels;
  QtPictureOutput output;
  std::string png, error;
  EXPECT_FALSE(output.EncodeFramePng(FrameOfScene(SceneDescription{}, pixels), run.population,
                                     run.snapshot, 0, 600, png, error));
  EXPECT_EQ(error, "frame size 0x600 is out of range (1 to 16384 pixels a side)");
  EXPECT_TRUE(png.empty());
}

// best falls from `from` to `to` over the rows, jittering above the best ever;
// the mean sits above both.
RunRecord SyntheticRecord(std::size_t rows, double from, double to) {
  RunRecord record;
  record.history.reserve(rows);
  double bestEver = std::numeric_limits<double>::infinity();
  for (std::size_t k = 0; k < rows; ++k) {
    const double t = rows > 1 ? static_cast<double>(k) / static_cast<double>(rows - 1) : 0.0;
    const double trend = from * std::pow(to / from, t);
    bestEver = std::min(bestEver, trend);
    const double jitter = (k % 7 == 3) ? 1.0 + 0.04 * static_cast<double>(k % 5) : 1.0;
    record.history.push_back({trend * jitter, trend * 1.3, trend * 1.6, bestEver});
  }
  record.completedGenerations = static_cast<std::uint32_t>(rows);
  return record;
}

TEST(ConvergencePlotDataTest, LogarithmicOnlyForScoresSpanningMoreThanTheRatio) {
  EXPECT_TRUE(MakePlotData(SyntheticRecord(200, 150000, 1000), 500).logScale);
  EXPECT_FALSE(MakePlotData(SyntheticRecord(200, 150000, 2000), 500).logScale);  // 75 times
  EXPECT_FALSE(MakePlotData(SyntheticRecord(200, 2300, 2250), 500).logScale);

  // Zeros and non-finite scores take no part in the decision and are not
  // drawn; on a log axis a zero sits at the lowest positive score.
  RunRecord record = SyntheticRecord(4, 2300, 2250);
  record.history[1].best = std::numeric_limits<double>::quiet_NaN();
  record.history[2].mean = std::numeric_limits<double>::infinity();
  record.history[3].bestEver = 0.0;
  PlotData data = MakePlotData(record, 500);
  EXPECT_FALSE(data.logScale);
  EXPECT_EQ(data.Points(PlotSeries::Best).size(), 3u);
  EXPECT_EQ(data.Points(PlotSeries::Mean).size(), 3u);
  EXPECT_EQ(data.lowValue, 0.0);

  record.history[0].mean = 1e6;
  data = MakePlotData(record, 500);
  EXPECT_TRUE(data.logScale);
  EXPECT_EQ(data.Points(PlotSeries::BestEver).back().value,
            std::log10(record.history[2].bestEver));
  EXPECT_EQ(data.highValue, 6.0);

  const PlotData empty = MakePlotData(RunRecord{}, 500);
  EXPECT_EQ(empty.generations, 0u);
  EXPECT_FALSE(empty.hasPoints);
  EXPECT_FALSE(empty.logScale);
}

// The scale asked for wins over the automatic choice; a log scale needs a
// positive score.
TEST(ConvergencePlotDataTest, TheScaleCanBeChosen) {
  EXPECT_FALSE(MakePlotData(SyntheticRecord(200, 150000, 1000), 500, PlotScale::kLinear).logScale);
  EXPECT_TRUE(MakePlotData(SyntheticRecord(200, 2300, 2250), 500, PlotScale::kLog).logScale);
  RunRecord zeros;
  zeros.history.assign(10, GenerationScores{});
  EXPECT_FALSE(MakePlotData(zeros, 500, PlotScale::kLog).logScale);
  EXPECT_EQ(ParsePlotScale("log"), PlotScale::kLog);
  EXPECT_FALSE(ParsePlotScale("Log").has_value());
}

// Labels that would touch are left out, first come first kept, and so are
// those reaching beyond the bounds.
TEST(ConvergencePlotDataTest, OnlyLabelsThatFitAreKept) {
  EXPECT_EQ(LabelsThatFit({0, 30, 50, 90}, {25, 25, 25, 25}, 8, 0, 200), (std::vector<std::size_t>{0, 2, 3}));
  EXPECT_EQ(LabelsThatFit({-5, 40, 180}, {20, 20, 30}, 4, 0, 200), (std::vector<std::size_t>{1}));
  EXPECT_TRUE(LabelsThatFit({}, {}, 4, 0, 10).empty());
}

// At the plot's smallest size, no two tick labels overlap: painted one by
// one, each label's black pixels lie apart from the others'.
TEST(PicturePlotTest, AtTheSmallestWidthNoTickLabelsCollide) {
  const RunRecord record = SyntheticRecord(100000, 150000, 2000);
  for (const QSize size : {QSize(220, 180), QSize(260, 200), QSize(440, 300)}) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    PaintConvergencePlot(painter, image.rect(), record, QStringLiteral("t"));
    painter.end();
    const QRect area = PlotArea(image.rect(), QFontMetrics(PlotFont(), &image));
    // The generation labels' row, below the axes: columns with ink, where
    // gaps under 4 pixels join a label's letters into one run. Labels that
    // ran together would make a run wider than the widest label.
    const QFontMetrics metrics(PlotFont(), &image);
    const int top = area.bottom() + 6;
    const int widest = metrics.horizontalAdvance(QStringLiteral("100000")) + 2;
    int runStart = -1, lastInk = -100, widestRun = 0, runs = 0;
    for (int x = 0; x < image.width(); ++x) {
      bool ink = false;
      for (int y = top; y < top + metrics.height() && y < image.height(); ++y) {
        ink |= image.pixelColor(x, y).lightness() < 160;
      }
      if (!ink) continue;
      if (x - lastInk > 4) {
        runStart = x;
        ++runs;
      }
      lastInk = x;
      widestRun = std::max(widestRun, x - runStart + 1);
    }
    // Fewer labels where the plot is narrow, but always one.
    EXPECT_GE(runs, size.width() >= 440 ? 2 : 1) << size.width();
    EXPECT_LE(widestRun, widest) << size.width() << ": tick labels ran together";
  }
}

TEST(ConvergencePlotDataTest, DecimationKeepsEveryColumnsLowAndHigh) {
  RunRecord record = SyntheticRecord(100000, 5000, 4000);
  record.firstGeneration = 11;
  // One-generation spikes that a plain every-nth sample would miss.
  record.history[33333].best = 9000;
  record.history[77777].mean = 1000;
  const PlotData data = MakePlotData(record, 400);
  EXPECT_EQ(data.firstGeneration, 11.0);
  EXPECT_EQ(data.lastGeneration, 100010.0);
  for (const auto& points : data.series) {
    EXPECT_LE(points.size(), 800u);
    EXPECT_GE(points.size(), 400u);
    for (std::size_t i = 1; i < points.size(); ++i) {
      EXPECT_LT(points[i - 1].generation, points[i].generation);
    }
  }
  auto has = [](const std::vector<PlotPoint>& points, double generation, double value) {
    for (const PlotPoint& p : points)
      if (p.generation == generation && p.value == value) return true;
    return false;
  };
  EXPECT_TRUE(has(data.Points(PlotSeries::Best), 33344, 9000));
  EXPECT_TRUE(has(data.Points(PlotSeries::Mean), 77788, 1000));
  EXPECT_FALSE(data.logScale);
  EXPECT_EQ(data.highValue, 9000);
  EXPECT_EQ(data.lowValue, 1000);

  // Few rows: every one is kept.
  EXPECT_EQ(MakePlotData(SyntheticRecord(300, 5000, 4000), 400).Points(PlotSeries::Mean).size(),
            300u);
}

TEST(ConvergencePlotDataTest, TicksAreRoundAndInsideTheRange) {
  EXPECT_EQ(NiceTicks(1, 1000000, 8, 1.0),
            (std::vector<double>{200000, 400000, 600000, 800000, 1000000}));
  EXPECT_EQ(NiceTicks(2248.5, 2301.5, 6), (std::vector<double>{2250, 2260, 2270, 2280, 2290, 2300}));
  EXPECT_EQ(NiceTicks(1, 3, 8, 1.0), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(NiceTicks(3.2, 5.2, 6, 1.0), (std::vector<double>{4, 5}));  // decades on a log axis
  EXPECT_TRUE(NiceTicks(5, 5, 6).empty());

  // Log axes: decades, or 1-2-5 within them when the range is short.
  EXPECT_EQ(LogTicks(1.5, 6.2), (std::vector<double>{2, 3, 4, 5, 6}));
  const std::vector<double> short_ = LogTicks(std::log10(2100.0), std::log10(31000.0));
  EXPECT_EQ(short_, (std::vector<double>{3 + std::log10(5.0), 4, 4 + std::log10(2.0)}));
  EXPECT_EQ(LogTicks(3.05, 3.95).size(), 7u);  // every digit: 2000 to 8000
  EXPECT_TRUE(NiceTicks(0, std::numeric_limits<double>::infinity(), 6).empty());
}

TEST(PicturePlotTest, PngDrawsTheThreeSeriesInsideTheAxes) {
  QtPictureOutput output;
  std::string png, error;
  ASSERT_TRUE(output.EncodePlot(SyntheticRecord(5000, 150000, 2000), "default scene, seed 1",
                                false, PlotScale::kAuto, png, error))
      << error;
  const QImage image = Decode(png, "PNG");
  ASSERT_EQ(image.size(), QSize(QtPictureOutput::kPlotWidth, QtPictureOutput::kPlotHeight));
  const QRect area = PlotArea(image.rect(), QFontMetrics(PlotFont()));
  const QRect inside = area.adjusted(1, 1, -1, -1);
  // Best solid on top, mean dashed, best ever a pale band under both.
  EXPECT_GT(CountColor(image, inside, PlotSeriesColor(PlotSeries::Best)), 200);
  EXPECT_GT(CountColor(image, inside, PlotSeriesColor(PlotSeries::Mean)), 100);
  EXPECT_EQ(CountColor(image, inside, PlotSeriesColor(PlotSeries::BestEver)), 0);
  int pale = 0;
  const QColor band = PlotSeriesColor(PlotSeries::BestEver);
  for (int y = inside.top(); y <= inside.bottom(); ++y) {
    for (int x = inside.left(); x <= inside.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      // Lighter than the series' colour, with its hue: green above red and blue.
      pale += c.green() > band.green() && c.green() - c.red() > 30 && c.green() - c.blue() > 30;
    }
  }
  EXPECT_GT(pale, 1000);
  // The title and the tick labels are black text outside the axes.
  EXPECT_GT(CountColor(image, QRect(0, 0, image.width(), area.top() - 20), Qt::black), 20);
  EXPECT_GT(CountColor(image, QRect(0, area.top(), area.left() - 1, area.height()), Qt::black), 20);
  EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white));
}

TEST(PicturePlotTest, SvgIsWellFormedAndCarriesTheTitle) {
  QtPictureOutput output;
  std::string svg, error;
  ASSERT_TRUE(output.EncodePlot(SyntheticRecord(5000, 150000, 2000), "default scene, seed 1",
                                true, PlotScale::kAuto, svg, error))
      << error;
  QXmlStreamReader reader(QByteArray::fromStdString(svg));
  bool titleInText = false;
  QString element;
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.isStartElement()) element = reader.name().toString();
    if (reader.isCharacters() && element == QStringLiteral("text") &&
        reader.text().toString() == QStringLiteral("default scene, seed 1")) {
      titleInText = true;
    }
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
  EXPECT_TRUE(titleInText);
  EXPECT_NE(svg.find("viewBox=\"0 0 900 560\""), std::string::npos);
  EXPECT_NE(svg.find("width=\"238.125mm\""), std::string::npos);  // 900 pixels at 96 an inch
}

TEST(PicturePlotTest, EmptyHistoryPlotsAxesAndANote) {
  QtPictureOutput output;
  std::string png, svg, error;
  ASSERT_TRUE(output.EncodePlot(RunRecord{}, "empty", false, PlotScale::kAuto, png, error)) << error;
  ASSERT_TRUE(output.EncodePlot(RunRecord{}, "empty", true, PlotScale::kAuto, svg, error)) << error;
  EXPECT_NE(svg.find("no generations"), std::string::npos);
  const QImage image = Decode(png, "PNG");
  const QRect area = PlotArea(image.rect(), QFontMetrics(PlotFont()));
  EXPECT_EQ(image.pixelColor(area.topLeft()), QColor(Qt::black));  // the axes' box
  // The note, grey text at the centre.
  const QRect centre(area.center() - QPoint(60, 10), QSize(120, 20));
  int text = 0;
  for (int y = centre.top(); y <= centre.bottom(); ++y)
    for (int x = centre.left(); x <= centre.right(); ++x)
      if (image.pixelColor(x, y) != QColor(Qt::white)) ++text;
  EXPECT_GT(text, 30);
}

TEST(PicturePlotTest, MillionGenerationsPlotFromTheirEnvelope) {
  const RunRecord record = SyntheticRecord(1000000, 150000, 2000);
  QtPictureOutput output;
  std::string png, svg, error;
  const auto start = std::chrono::steady_clock::now();
  const PlotData data = MakePlotData(record, 780);
  const auto dataDone = std::chrono::steady_clock::now();
  ASSERT_TRUE(output.EncodePlot(record, "a million generations", false, PlotScale::kAuto, png, error)) << error;
  const auto pngDone = std::chrono::steady_clock::now();
  ASSERT_TRUE(output.EncodePlot(record, "a million generations", false, PlotScale::kAuto, png, error)) << error;
  const auto pngAgainDone = std::chrono::steady_clock::now();
  ASSERT_TRUE(output.EncodePlot(record, "a million generations", true, PlotScale::kAuto, svg, error)) << error;
  const auto svgDone = std::chrono::steady_clock::now();
  using Ms = std::chrono::duration<double, std::milli>;
  std::printf(
      "[ TIMING ] plot of 1000000 generations: data %.1f ms, PNG %.1f ms (again %.1f ms), "
      "SVG %.1f ms (%zu bytes)\n",
      Ms(dataDone - start).count(), Ms(pngDone - dataDone).count(),
      Ms(pngAgainDone - pngDone).count(), Ms(svgDone - pngAgainDone).count(), svg.size());
  EXPECT_LE(data.Points(PlotSeries::Best).size(), 2u * 780u);
  EXPECT_EQ(Decode(png, "PNG").size(), QSize(900, 560));
  // A few thousand points, not a million.
  EXPECT_LT(svg.size(), 400000u);
}

}  // namespace
}  // namespace reflector
