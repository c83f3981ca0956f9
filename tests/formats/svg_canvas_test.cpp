#include "formats/svg_canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace reflector {
namespace {

// A small XML well-formedness check: tags nest and close, attributes are
// quoted, text holds no raw '<' or stray '&', no control characters.
// Returns the element names in document order, or fails the test.
std::vector<std::string> Elements(const std::string& xml) {
  std::vector<std::string> names;
  std::vector<std::string> open;
  std::size_t i = 0;
  auto fail = [&](const char* why) {
    ADD_FAILURE() << why << " at byte " << i << ": " << xml.substr(i, 40);
    return std::vector<std::string>{};
  };
  if (xml.starts_with("<?xml")) i = xml.find("?>") + 2;
  while (i < xml.size()) {
    const unsigned char c = xml[i];
    if (c < 0x20 && c != '\n') return fail("control character");
    if (c == '&') {
      const std::size_t semicolon = xml.find(';', i);
      const std::string entity = xml.substr(i, semicolon - i + 1);
      if (entity != "&amp;" && entity != "&lt;" && entity != "&gt;" && entity != "&quot;") {
        return fail("bad entity");
      }
      i = semicolon + 1;
      continue;
    }
    if (c == '>') return fail("raw '>'");
    if (c != '<') {
      ++i;
      continue;
    }
    const bool closing = xml[i + 1] == '/';
    std::size_t j = i + (closing ? 2 : 1);
    const std::size_t nameStart = j;
    while (j < xml.size() && (std::isalnum(static_cast<unsigned char>(xml[j])) || xml[j] == '-')) ++j;
    const std::string name = xml.substr(nameStart, j - nameStart);
    if (name.empty()) return fail("no element name");
    if (closing) {
      if (open.empty() || open.back() != name || xml[j] != '>') return fail("mismatched close");
      open.pop_back();
      i = j + 1;
      continue;
    }
    for (;;) {  // attributes: name="value"
      while (xml[j] == ' ' || xml[j] == '\n') ++j;
      if (xml[j] == '/' && xml[j + 1] == '>') {
        j += 2;
        break;
      }
      if (xml[j] == '>') {
        open.push_back(name);
        ++j;
        break;
      }
      const std::size_t attrStart = j;
      while (j < xml.size() && (std::isalnum(static_cast<unsigned char>(xml[j])) || xml[j] == '-')) ++j;
      if (j == attrStart || xml[j] != '=' || xml[j + 1] != '"') return fail("bad attribute");
      const std::size_t close = xml.find('"', j + 2);
      if (close == std::string::npos) return fail("unterminated attribute");
      const std::string value = xml.substr(j + 2, close - j - 2);
      if (value.find_first_of("<&") != std::string::npos) return fail("raw '<' or '&' in a value");
      j = close + 1;
    }
    names.push_back(name);
    i = j;
  }
  if (!open.empty()) return fail("unclosed element");
  return names;
}

TEST(SvgCanvas, WritesOneShapePerCallOnABlackBackground) {
  SvgCanvas canvas(640, 480);
  canvas.SetPenColor(255, 0, 128);
  canvas.DrawLine(0, 0, 10, -3);
  canvas.DrawLine(5, 5, 5, 5);
  const ScreenPoint points[] = {{1, 2}, {3, 4}, {-1, 6}};
  canvas.DrawPolyline(points);
  canvas.DrawPolyline(std::span<const ScreenPoint>(points, 1));  // draws nothing
  canvas.SetBrushColor(0, 16, 255);
  canvas.DrawDisc(250, 200, 5);
  canvas.DrawLabel(10, 20, "best 0.25");
  const std::string svg = canvas.Finish();

  const std::vector<std::string> names = Elements(svg);
  EXPECT_EQ(names, (std::vector<std::string>{"svg", "rect", "line", "line", "polyline", "circle",
                                              "rect", "text"}));
  EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"640\" "
                     "height=\"480\" viewBox=\"0 0 640 480\">"),
            std::string::npos);
  EXPECT_NE(svg.find("<rect width=\"640\" height=\"480\" fill=\"#000000\"/>"), std::string::npos);
  // Lines through pixel centres; the disc's outline ends on the window's box.
  EXPECT_NE(svg.find("<line x1=\"0.5\" y1=\"0.5\" x2=\"10.5\" y2=\"-2.5\" stroke=\"#ff0080\""),
            std::string::npos);
  EXPECT_NE(svg.find("points=\"1.5,2.5 3.5,4.5 -0.5,6.5\" fill=\"none\" stroke=\"#ff0080\""),
            std::string::npos);
  EXPECT_NE(svg.find("<circle cx=\"250\" cy=\"200\" r=\"4.5\" fill=\"#0010ff\" stroke=\"#ff0080\"/>"),
            std::string::npos);
  EXPECT_NE(svg.find("<rect x=\"10\" y=\"20\" width=\"63\" height=\"16\" fill=\"#ffffff\"/>"),
            std::string::npos);
  EXPECT_NE(svg.find("dominant-baseline=\"hanging\">best 0.25</text>"), std::string::npos);
}

TEST(SvgCanvas, EscapesLabelText) {
  SvgCanvas canvas(100, 100);
  canvas.DrawLabel(0, 0, std::string("a<b>&\"c\"\x01\n\x7f\xe9", 12));
  const std::string svg = canvas.Finish();
  EXPECT_EQ(Elements(svg).size(), 4u);
  // Latin-1 like the window: 0xe9 is U+00E9; control characters are dropped.
  EXPECT_NE(svg.find(">a&lt;b&gt;&amp;&quot;c&quot;\xC3\xA9</text>"), std::string::npos) << svg;
  EXPECT_NE(svg.find("width=\"63\""), std::string::npos);  // nine characters kept

  // A second opinion on well-formedness where xmllint is installed.
  if (std::system("xmllint --version >/dev/null 2>&1") == 0) {
    const std::string path = ::testing::TempDir() + "svg_canvas_test.svg";
    std::ofstream(path, std::ios::binary) << svg;
    EXPECT_EQ(std::system(("xmllint --noout " + path).c_str()), 0) << svg;
    std::remove(path.c_str());
  }
}

}  // namespace
}  // namespace reflector
