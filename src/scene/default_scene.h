#pragma once

#include <array>

#include "scene/screen_point.h"

namespace reflector {

// The scene the window starts with, and the headless runner's default.
inline constexpr ScreenPoint kDefaultSource{150, 200};
inline constexpr ScreenPoint kDefaultAim{500, 200};
inline constexpr ScreenPoint kDefaultTarget{250, 200};
inline constexpr std::array<ScreenPoint, 6> kDefaultReflector{
    {{494, 52}, {494, 105}, {493, 148}, {494, 189}, {493, 244}, {489, 304}}};

}  // namespace reflector
