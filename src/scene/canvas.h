#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "scene/screen_point.h"

namespace reflector {

// The drawing target of a frame, in integer client pixels with y growing
// downward. Lines and outlines use the current pen (1 pixel wide, not
// antialiased), disc interiors the current brush. Both stay set until changed.
class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual void SetPenColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) = 0;
  virtual void SetBrushColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) = 0;

  virtual void DrawLine(int x1, int y1, int x2, int y2) = 0;
  // Connected segments through the points; fewer than two points draw nothing.
  virtual void DrawPolyline(std::span<const ScreenPoint> points) = 0;
  // A filled, outlined disc in the box from (x - r, y - r) to (x + r, y + r).
  virtual void DrawDisc(int x, int y, int r) = 0;
  // Black text on an opaque white background, its top-left corner at (x, y).
  virtual void DrawLabel(int x, int y, std::string_view text) = 0;
};

}  // namespace reflector
