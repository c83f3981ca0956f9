#pragma once

#include <cstdint>

#include "tracing/ray_path.h"

namespace reflector {

// The outcome of tracing one ray of the beam against one reflector.
struct RayRecord {
  std::uint8_t hitFlag = 0;  // 1 when the path holds three points or more
  double cost = 0.0;         // the ray's share of the score; 0 and unread for a miss
  RayPath path;              // the traced course, first point first
};

}  // namespace reflector
