#pragma once

#include <string>

#include "scene/canvas.h"

namespace reflector {

// A canvas that writes the frame as SVG: the same primitives the window paints,
// as vector shapes (a line per DrawLine, a polyline per DrawPolyline, a circle
// per disc, a white box and black text per label) on a black background.
class SvgCanvas : public Canvas {
 public:
  SvgCanvas(int width, int height);

  void SetPenColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) override;
  void SetBrushColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) override;
  void DrawLine(int x1, int y1, int x2, int y2) override;
  void DrawPolyline(std::span<const ScreenPoint> points) override;
  void DrawDisc(int x, int y, int r) override;
  void DrawLabel(int x, int y, std::string_view text) override;

  // The whole document.
  std::string Finish() const;

 private:
  int width_;
  int height_;
  std::string pen_ = "#000000";
  std::string brush_ = "none";
  std::string body_;
};

}  // namespace reflector
