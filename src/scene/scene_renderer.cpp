#include "scene/scene_renderer.h"

#include <cstdio>
#include <string_view>
#include <vector>

namespace reflector {

namespace {

constexpr int kDiscRadius = 5;
constexpr int kScoreRowHeight = 20;

// Large enough for "%.0f *" of the largest double (309 digits).
using LabelBuffer = char[400];

template <typename Value>
std::string_view Format(LabelBuffer& buffer, const char* format, Value value) {
  const int length = std::snprintf(buffer, sizeof buffer, format, value);
  return {buffer, static_cast<std::size_t>(length)};
}

}  // namespace

void PaintOptimizerState(Canvas& canvas, ScreenPoint source, const Population& population,
                         const SceneSnapshot& snapshot) {
  // The scene's source, not the snapshot's: a left click shows at once.
  canvas.SetBrushColor(255, 255, 0);
  canvas.SetPenColor(255, 0, 0);
  canvas.DrawDisc(source.x, source.y, kDiscRadius);

  if (!population.candidates.empty()) {
    const int shown = population.bestIndex != -1 ? population.bestIndex : 0;
    const Candidate& candidate = population.candidates[static_cast<std::size_t>(shown)];

    // Each ray from its first reflection on: the leg from the source is left
    // out, so a path of fewer than three points shows nothing.
    canvas.SetPenColor(255, 255, 0);
    std::vector<ScreenPoint> points;
    for (const RayRecord& record : candidate.rayRecords) {
      if (record.path.size() < 3) continue;
      points.clear();
      for (Point2 p : record.path) points.push_back(ToScreenPoint(p));
      canvas.DrawPolyline(std::span<const ScreenPoint>(points).subspan(1));
    }

    points.clear();
    for (Point2 p : candidate.vertices) points.push_back(ToScreenPoint(p));
    canvas.SetPenColor(255, 0, 0);
    canvas.DrawPolyline(points);

    // A zero score (not yet evaluated) leaves its row empty; the rows below
    // keep their places.
    LabelBuffer text;
    for (std::size_t j = 0; j < population.candidates.size(); ++j) {
      const double score = population.candidates[j].score;
      if (score == 0.0) continue;
      const bool best = static_cast<int>(j) == population.bestIndex;
      canvas.DrawLabel(0, kScoreRowHeight + kScoreRowHeight * static_cast<int>(j),
                       Format(text, best ? "%.0f *" : "%.0f", score));
    }
    if (population.bestIndex != -1) {
      const double bestScore =
          population.candidates[static_cast<std::size_t>(population.bestIndex)].score;
      canvas.DrawLabel(200, 0, Format(text, "%.0f", bestScore));
    }
  }

  canvas.SetBrushColor(0, 0, 255);
  canvas.SetPenColor(255, 0, 0);
  const ScreenPoint target = ToScreenPoint(snapshot.target);
  canvas.DrawDisc(target.x, target.y, kDiscRadius);
}

void RenderFrame(Canvas& canvas, const FrameScene& frame, const Population* population,
                 const SceneSnapshot* snapshot) {
  LabelBuffer text;
  canvas.DrawLabel(0, 0, Format(text, "X %i", frame.aim.x));
  canvas.DrawLabel(60, 0, Format(text, "Y %i", frame.aim.y));

  canvas.SetBrushColor(255, 255, 0);
  canvas.SetPenColor(255, 255, 0);

  if (frame.drawing) canvas.DrawLine(frame.anchor.x, frame.anchor.y, frame.aim.x, frame.aim.y);

  if (frame.reflector.size() >= 2) {
    canvas.SetPenColor(0, 255, 0);
    canvas.DrawPolyline(frame.reflector);
  }

  if (frame.running && population && snapshot) {
    PaintOptimizerState(canvas, frame.source, *population, *snapshot);
  }
}

void RenderFrame(Canvas& canvas, const SceneState& scene) {
  const FrameScene frame{scene.ShownPointer(), scene.source,  scene.reflector,
                         scene.drawing,        scene.anchor, scene.running};
  if (scene.rewinding() && scene.running) {
    // A past generation's best, retraced: the scene's own copy, no lock.
    RenderFrame(canvas, frame, &scene.rewindPopulation(), &scene.rewindSnapshot());
    return;
  }
  if (scene.running && scene.otherRun()) {
    // Another algorithm's best so far, as read at PrepareFrame: no lock.
    RenderFrame(canvas, frame, &scene.otherView().population, &scene.otherRun()->snapshot());
    return;
  }
  if (!scene.running || !scene.currentOptimizer) {
    RenderFrame(canvas, frame, nullptr, nullptr);
    return;
  }
  // Between two generations; nothing read here is kept after the unlock.
  ReflectorOptimizer& optimizer = *scene.currentOptimizer;
  const Population* population = nullptr;
  const SceneSnapshot* snapshot = nullptr;
  optimizer.LockState(&population, &snapshot);
  RenderFrame(canvas, frame, population, snapshot);
  optimizer.UnlockState();
}

FrameScene FrameOfScene(const SceneDescription& scene, std::vector<ScreenPoint>& reflectorPixels) {
  reflectorPixels.clear();
  for (Point2 p : scene.reflector) reflectorPixels.push_back(ToScreenPoint(p));
  FrameScene frame;
  frame.aim = ToScreenPoint(scene.aim);
  frame.source = ToScreenPoint(scene.source);
  frame.reflector = reflectorPixels;
  return frame;
}

}  // namespace reflector
