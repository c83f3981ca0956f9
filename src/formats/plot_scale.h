#pragma once

#include <optional>
#include <string_view>

namespace reflector {

// The score axis of a convergence plot: logarithmic when the scores span
// more than two decades (automatic), or as chosen.
enum class PlotScale { kAuto, kLinear, kLog };

// "auto", "linear" or "log"; anything else is none.
inline std::optional<PlotScale> ParsePlotScale(std::string_view text) {
  if (text == "auto") return PlotScale::kAuto;
  if (text == "linear") return PlotScale::kLinear;
  if (text == "log") return PlotScale::kLog;
  return std::nullopt;
}

}  // namespace reflector
