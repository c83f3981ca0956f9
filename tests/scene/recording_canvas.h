#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scene/canvas.h"

namespace reflector {

// A canvas that draws nothing and remembers every call, in order, with the
// pen and brush in force when it was made.
class RecordingCanvas : public Canvas {
 public:
  struct Color {
    int red = -1, green = -1, blue = -1;  // -1: never set
    friend bool operator==(const Color&, const Color&) = default;
  };

  enum class Kind { Line, Polyline, Disc, Label };

  struct Call {
    Kind kind;
    std::vector<ScreenPoint> points;  // line: both ends; polyline: all; disc and label: the position
    int radius = 0;                   // discs
    std::string text;                 // labels
    Color pen;
    Color brush;
  };

  void SetPenColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) override {
    pen = {red, green, blue};
  }
  void SetBrushColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) override {
    brush = {red, green, blue};
  }
  void DrawLine(int x1, int y1, int x2, int y2) override {
    calls.push_back({Kind::Line, {{x1, y1}, {x2, y2}}, 0, {}, pen, brush});
  }
  void DrawPolyline(std::span<const ScreenPoint> points) override {
    calls.push_back({Kind::Polyline, {points.begin(), points.end()}, 0, {}, pen, brush});
  }
  void DrawDisc(int x, int y, int r) override {
    calls.push_back({Kind::Disc, {{x, y}}, r, {}, pen, brush});
  }
  void DrawLabel(int x, int y, std::string_view text) override {
    calls.push_back({Kind::Label, {{x, y}}, 0, std::string(text), pen, brush});
  }

  std::vector<const Call*> Of(Kind kind) const {
    std::vector<const Call*> found;
    for (const Call& call : calls)
      if (call.kind == kind) found.push_back(&call);
    return found;
  }

  // The label drawn at (x, y), or null.
  const Call* LabelAt(int x, int y) const {
    for (const Call& call : calls)
      if (call.kind == Kind::Label && call.points[0] == ScreenPoint{x, y}) return &call;
    return nullptr;
  }

  std::vector<Call> calls;
  Color pen;
  Color brush;
};

inline constexpr RecordingCanvas::Color kGreen{0, 255, 0};
inline constexpr RecordingCanvas::Color kYellow{255, 255, 0};
inline constexpr RecordingCanvas::Color kRed{255, 0, 0};
inline constexpr RecordingCanvas::Color kBlue{0, 0, 255};

}  // namespace reflector
