#include "scene/scene_renderer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "scene/recording_canvas.h"

namespace reflector {
namespace {

using Kind = RecordingCanvas::Kind;

void WaitUntilDone(SceneState& scene) {
  while (!scene.currentOptimizer->Done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

Population PopulationOf(SceneState& scene) {
  const Population* population = nullptr;
  scene.currentOptimizer->LockState(&population, nullptr);
  Population copy = *population;
  scene.currentOptimizer->UnlockState();
  return copy;
}

template <typename Points>
std::vector<ScreenPoint> Truncated(const Points& points, std::size_t from = 0) {
  std::vector<ScreenPoint> pixels;
  for (std::size_t i = from; i < points.size(); ++i)
    pixels.push_back({static_cast<int>(points[i].x), static_cast<int>(points[i].y)});
  return pixels;
}

const std::vector<ScreenPoint> kDefaults(kDefaultReflector.begin(), kDefaultReflector.end());

// Labels in the score column, below the coordinates.
std::vector<const RecordingCanvas::Call*> ScoreRows(const RecordingCanvas& canvas) {
  std::vector<const RecordingCanvas::Call*> rows;
  for (const auto* label : canvas.Of(Kind::Label))
    if (label->points[0].x == 0 && label->points[0].y >= 20) rows.push_back(label);
  return rows;
}

void ExpectDisc(const RecordingCanvas::Call* disc, ScreenPoint centre, RecordingCanvas::Color fill) {
  ASSERT_NE(disc, nullptr);
  EXPECT_EQ(disc->kind, Kind::Disc);
  EXPECT_EQ(disc->points[0], centre);
  EXPECT_EQ(disc->radius, 5);
  EXPECT_EQ(disc->pen, kRed);
  EXPECT_EQ(disc->brush, fill);
}

TEST(RenderFrameTest, FirstFrameLoadsTheDefaultsOnceAndStartsTheOptimiser) {
  // An optimiser that fills its population and stops: nothing is selected.
  SceneState scene(0);
  RecordingCanvas first;
  scene.PrepareFrame();
  RenderFrame(first, scene);

  EXPECT_EQ(scene.defaultsLoaded, 1);
  EXPECT_EQ(scene.reflector, kDefaults);
  ASSERT_TRUE(scene.currentOptimizer);
  const SceneSnapshot* snapshot = nullptr;
  scene.currentOptimizer->LockState(nullptr, &snapshot);
  EXPECT_EQ(snapshot->source, (Point2{150, 200}));
  EXPECT_EQ(snapshot->aim, (Point2{500, 200}));
  EXPECT_EQ(snapshot->target, (Point2{250, 200}));
  EXPECT_EQ(snapshot->vertices.size(), 6u);
  scene.currentOptimizer->UnlockState();

  // Coordinates, the green reflector, then the source and target discs.
  ASSERT_GE(first.calls.size(), 5u);
  EXPECT_EQ(first.calls[0].text, "X 500");
  EXPECT_EQ(first.calls[0].points[0], (ScreenPoint{0, 0}));
  EXPECT_EQ(first.calls[1].text, "Y 200");
  EXPECT_EQ(first.calls[1].points[0], (ScreenPoint{60, 0}));
  EXPECT_EQ(first.calls[2].kind, Kind::Polyline);
  EXPECT_EQ(first.calls[2].points, kDefaults);
  EXPECT_EQ(first.calls[2].pen, kGreen);
  ExpectDisc(&first.calls[3], {150, 200}, kYellow);
  ExpectDisc(&first.calls.back(), {250, 200}, kBlue);
  EXPECT_TRUE(ScoreRows(first).empty());
  EXPECT_EQ(first.LabelAt(200, 0), nullptr);

  // Once the population is there, candidate 0 shows before any selection:
  // its reflector only, no rays and no scores.
  WaitUntilDone(scene);
  const auto* optimizer = scene.currentOptimizer.Get();
  RecordingCanvas later;
  scene.PrepareFrame();
  RenderFrame(later, scene);
  EXPECT_EQ(scene.currentOptimizer.Get(), optimizer);
  EXPECT_EQ(scene.reflector, kDefaults);
  const auto polylines = later.Of(Kind::Polyline);
  ASSERT_EQ(polylines.size(), 2u);
  EXPECT_EQ(polylines[0]->pen, kGreen);
  EXPECT_EQ(polylines[1]->pen, kRed);
  EXPECT_EQ(polylines[1]->points, kDefaults);
  EXPECT_TRUE(ScoreRows(later).empty());
  EXPECT_EQ(later.LabelAt(200, 0), nullptr);
}

TEST(RenderFrameTest, FrameAfterGenerationsShowsTheBestCandidate) {
  SceneState scene(3);
  RecordingCanvas first;
  scene.PrepareFrame();
  RenderFrame(first, scene);
  WaitUntilDone(scene);
  const Population population = PopulationOf(scene);
  ASSERT_EQ(population.candidates.size(), 10u);
  ASSERT_NE(population.bestIndex, -1);
  const Candidate& best = population.candidates[static_cast<std::size_t>(population.bestIndex)];

  RecordingCanvas canvas;
  scene.PrepareFrame();
  RenderFrame(canvas, scene);

  // Rays from each path's second point, then the candidate in red.
  std::vector<std::vector<ScreenPoint>> expectedRays;
  for (const RayRecord& record : best.rayRecords)
    if (record.path.size() >= 3) expectedRays.push_back(Truncated(record.path, 1));
  ASSERT_FALSE(expectedRays.empty());
  const auto polylines = canvas.Of(Kind::Polyline);
  ASSERT_EQ(polylines.size(), expectedRays.size() + 2);
  EXPECT_EQ(polylines.front()->pen, kGreen);
  for (std::size_t i = 0; i < expectedRays.size(); ++i) {
    EXPECT_EQ(polylines[i + 1]->points, expectedRays[i]) << "ray " << i;
    EXPECT_EQ(polylines[i + 1]->pen, kYellow);
  }
  EXPECT_EQ(polylines.back()->points, Truncated(best.vertices));
  EXPECT_EQ(polylines.back()->pen, kRed);

  // Ten rows at y = 20, 40, ..., the best one marked, and the best score on top.
  const auto rows = ScoreRows(canvas);
  ASSERT_EQ(rows.size(), 10u);
  char text[64];
  for (std::size_t j = 0; j < rows.size(); ++j) {
    const bool isBest = static_cast<int>(j) == population.bestIndex;
    std::snprintf(text, sizeof text, isBest ? "%.0f *" : "%.0f", population.candidates[j].score);
    EXPECT_EQ(rows[j]->points[0], (ScreenPoint{0, 20 + 20 * static_cast<int>(j)}));
    EXPECT_EQ(rows[j]->text, text);
  }
  const auto* top = canvas.LabelAt(200, 0);
  ASSERT_NE(top, nullptr);
  std::snprintf(text, sizeof text, "%.0f", best.score);
  EXPECT_EQ(top->text, text);

  ExpectDisc(&canvas.calls.back(), {250, 200}, kBlue);
}

TEST(PaintOptimizerStateTest, ZeroScoresLeaveRowsEmptyAndCoordinatesTruncate) {
  Population population;
  population.candidates.resize(3);
  population.candidates[0].score = 12.4;
  population.candidates[1].score = 0.0;
  population.candidates[2].score = 7.5;
  population.bestIndex = 2;
  Candidate& best = population.candidates[2];
  best.vertices = {{493.9, -0.7}, {10.2, 20.8}};
  best.rayRecords.resize(3);
  best.rayRecords[0].path = {{0, 0}, {493.9, -0.7}, {-0.7, 493.9}, {5.5, 6.5}};
  best.rayRecords[1].path = {{0, 0}, {100, 100}};  // met nothing: not drawn
  best.rayRecords[2].path = {{1, 1}, {2.9, 3.1}, {-4.2, -5.8}};
  SceneSnapshot snapshot;
  snapshot.target = {250.9, -0.7};

  RecordingCanvas canvas;
  PaintOptimizerState(canvas, {150, 200}, population, snapshot);

  const auto polylines = canvas.Of(Kind::Polyline);
  ASSERT_EQ(polylines.size(), 3u);
  EXPECT_EQ(polylines[0]->points, (std::vector<ScreenPoint>{{493, 0}, {0, 493}, {5, 6}}));
  EXPECT_EQ(polylines[1]->points, (std::vector<ScreenPoint>{{2, 3}, {-4, -5}}));
  EXPECT_EQ(polylines[2]->points, (std::vector<ScreenPoint>{{493, 0}, {10, 20}}));

  // Row 1 stays empty; row 2 keeps its place. "%.0f" rounds half to even.
  const auto labels = canvas.Of(Kind::Label);
  ASSERT_EQ(labels.size(), 3u);
  EXPECT_EQ(labels[0]->points[0], (ScreenPoint{0, 20}));
  EXPECT_EQ(labels[0]->text, "12");
  EXPECT_EQ(labels[1]->points[0], (ScreenPoint{0, 60}));
  EXPECT_EQ(labels[1]->text, "8 *");
  EXPECT_EQ(labels[2]->points[0], (ScreenPoint{200, 0}));
  EXPECT_EQ(labels[2]->text, "8");

  ExpectDisc(&canvas.calls.front(), {150, 200}, kYellow);
  ExpectDisc(&canvas.calls.back(), {250, 0}, kBlue);
}

TEST(PaintOptimizerStateTest, EmptyPopulationDrawsOnlyTheDiscs) {
  RecordingCanvas canvas;
  SceneSnapshot snapshot;
  snapshot.target = {250, 200};
  PaintOptimizerState(canvas, {150, 200}, Population{}, snapshot);
  ASSERT_EQ(canvas.calls.size(), 2u);
  ExpectDisc(&canvas.calls[0], {150, 200}, kYellow);
  ExpectDisc(&canvas.calls[1], {250, 200}, kBlue);
}

TEST(RenderFrameTest, DrawingShowsTheReflectorAndRubberBandOnly) {
  SceneState scene(0, nullptr);
  RecordingCanvas first;
  scene.PrepareFrame();
  RenderFrame(first, scene);

  // Just after the first right click: nothing to draw but the band.
  scene.OnMouseEvent(MouseEventKind::RightButtonUp, 100, 100);
  scene.OnMouseEvent(MouseEventKind::MouseMove, 150, 120);
  RecordingCanvas started;
  scene.PrepareFrame();
  RenderFrame(started, scene);
  ASSERT_EQ(started.calls.size(), 3u);
  EXPECT_EQ(started.calls[2].kind, Kind::Line);
  EXPECT_EQ(started.calls[2].points, (std::vector<ScreenPoint>{{100, 100}, {150, 120}}));
  EXPECT_EQ(started.calls[2].pen, kYellow);

  // With vertices, and even with a restarted optimiser behind it.
  scene.OnMouseEvent(MouseEventKind::RightButtonUp, 200, 150);
  scene.OnMouseEvent(MouseEventKind::MouseMove, 250, 300);
  scene.OnKeyEvent(true, kSpaceKey);
  RecordingCanvas canvas;
  scene.PrepareFrame();
  RenderFrame(canvas, scene);
  ASSERT_EQ(canvas.calls.size(), 4u);
  EXPECT_EQ(canvas.calls[0].text, "X 250");
  EXPECT_EQ(canvas.calls[1].text, "Y 300");
  EXPECT_EQ(canvas.calls[2].kind, Kind::Line);
  EXPECT_EQ(canvas.calls[2].points, (std::vector<ScreenPoint>{{200, 150}, {250, 300}}));
  EXPECT_EQ(canvas.calls[2].pen, kYellow);
  EXPECT_EQ(canvas.calls[3].kind, Kind::Polyline);
  EXPECT_EQ(canvas.calls[3].points, (std::vector<ScreenPoint>{{100, 100}, {200, 150}}));
  EXPECT_EQ(canvas.calls[3].pen, kGreen);
}

TEST(ToPixelTest, TruncatesTowardZeroAndNeverOverflows) {
  EXPECT_EQ(ToPixel(493.9), 493);
  EXPECT_EQ(ToPixel(-0.7), 0);
  EXPECT_EQ(ToPixel(-1.5), -1);
  EXPECT_EQ(ToPixel(2147483647.9), INT_MAX);
  EXPECT_EQ(ToPixel(-2147483648.9), INT_MIN);
  // Out of range, as the processor's conversion gives.
  EXPECT_EQ(ToPixel(2147483648.0), INT_MIN);
  EXPECT_EQ(ToPixel(1e300), INT_MIN);
  EXPECT_EQ(ToPixel(-std::numeric_limits<double>::infinity()), INT_MIN);
  EXPECT_EQ(ToPixel(std::nan("")), INT_MIN);
}

}  // namespace
}  // namespace reflector
