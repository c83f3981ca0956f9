#include "formats/svg_canvas.h"

namespace reflector {

// Coordinates: SVG puts integer coordinates on pixel edges, while the window's
// 1-pixel pen paints the pixel whose top-left corner is the given point. Lines
// therefore go through pixel centres (+0.5), and a disc, which the window
// paints over pixels x - r .. x + r - 1, is a circle centred on (x, y) whose
// 1-pixel outline, drawn on radius r - 0.5, ends at radius r: the same box.

namespace {

std::string Color(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "#";
  for (std::uint8_t c : {red, green, blue}) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

// An integer plus one half.
std::string Centre(int v) {
  if (v == -1) return "-0.5";
  return std::to_string(v < 0 ? v + 1 : v) + ".5";
}

// The label's bytes are Latin-1, as the window reads them: each kept one
// becomes its UTF-8 character, XML's special characters become entities, and
// control characters, which XML cannot hold, are dropped.
std::string EscapeLabel(std::string_view text, int& characters) {
  std::string out;
  characters = 0;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || (u >= 0x7F && u < 0xA0)) continue;
    ++characters;
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (u < 0x80) {
          out += c;
        } else {
          out += static_cast<char>(0xC0 | (u >> 6));
          out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
  }
  return out;
}

}  // namespace

SvgCanvas::SvgCanvas(int width, int height) : width_(width), height_(height) {}

void SvgCanvas::SetPenColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  pen_ = Color(red, green, blue);
}

void SvgCanvas::SetBrushColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  brush_ = Color(red, green, blue);
}

void SvgCanvas::DrawLine(int x1, int y1, int x2, int y2) {
  body_ += "<line x1=\"" + Centre(x1) + "\" y1=\"" + Centre(y1) + "\" x2=\"" + Centre(x2) +
           "\" y2=\"" + Centre(y2) + "\" stroke=\"" + pen_ +
           "\" stroke-linecap=\"square\" shape-rendering=\"crispEdges\"/>\n";
}

void SvgCanvas::DrawPolyline(std::span<const ScreenPoint> points) {
  if (points.size() < 2) return;
  body_ += "<polyline points=\"";
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (i) body_ += ' ';
    body_ += Centre(points[i].x) + "," + Centre(points[i].y);
  }
  body_ += "\" fill=\"none\" stroke=\"" + pen_ +
           "\" stroke-linecap=\"square\" stroke-linejoin=\"miter\" shape-rendering=\"crispEdges\"/>\n";
}

void SvgCanvas::DrawDisc(int x, int y, int r) {
  if (r <= 0) return;
  body_ += "<circle cx=\"" + std::to_string(x) + "\" cy=\"" + std::to_string(y) + "\" r=\"" +
           Centre(r - 1) + "\" fill=\"" + brush_ + "\" stroke=\"" + pen_ + "\"/>\n";
}

void SvgCanvas::DrawLabel(int x, int y, std::string_view text) {
  // The window measures the text with its font; 7 pixels a character and 16
  // pixels high is a close estimate for the 12-pixel sans-serif used here.
  int characters = 0;
  const std::string escaped = EscapeLabel(text, characters);
  body_ += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" width=\"" +
           std::to_string(7 * characters) + "\" height=\"16\" fill=\"#ffffff\"/>\n";
  body_ += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
           "\" fill=\"#000000\" font-family=\"sans-serif\" font-size=\"12\" "
           "dominant-baseline=\"hanging\">" +
           escaped + "</text>\n";
}

std::string SvgCanvas::Finish() const {
  const std::string w = std::to_string(width_);
  const std::string h = std::to_string(height_);
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + w + "\" height=\"" +
         h + "\" viewBox=\"0 0 " + w + " " + h + "\">\n";
  out += "<rect width=\"" + w + "\" height=\"" + h + "\" fill=\"#000000\"/>\n";
  out += body_;
  out += "</svg>\n";
  return out;
}

}  // namespace reflector
