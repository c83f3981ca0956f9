#include "app/scene_renderer.h"

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

void RenderFrame(Canvas& canvas, SceneState& scene) {
  LabelBuffer text;
  canvas.DrawLabel(0, 0, Format(text, "X %i", scene.aim.x));
  canvas.DrawLabel(60, 0, Format(text, "Y %i", scene.aim.y));

  canvas.SetBrushColor(255, 255, 0);
  canvas.SetPenColor(255, 255, 0);

  if (scene.defaultsLoaded == 0) {
    scene.reflector.insert(scene.reflector.end(), kDefaultReflector.begin(),
                           kDefaultReflector.end());
    scene.defaultsLoaded = 1;
  }

  if (scene.drawing) canvas.DrawLine(scene.anchor.x, scene.anchor.y, scene.aim.x, scene.aim.y);

  if (scene.reflector.size() >= 2) {
    canvas.SetPenColor(0, 255, 0);
    canvas.DrawPolyline(scene.reflector);
  }

  if (!scene.running) return;

  if (!scene.currentOptimizer) scene.RestartOptimizer();
  if (!scene.running || !scene.currentOptimizer) return;

  // Between two generations; nothing read here is kept after the unlock.
  ReflectorOptimizer& optimizer = *scene.currentOptimizer;
  const Population* population = nullptr;
  const SceneSnapshot* snapshot = nullptr;
  optimizer.LockState(&population, &snapshot);
  PaintOptimizerState(canvas, scene.source, *population, *snapshot);
  optimizer.UnlockState();
}

}  // namespace reflector
