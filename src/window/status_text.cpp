#include "window/status_text.h"

#include <cmath>
#include <cstdio>

namespace reflector {

namespace {

std::string Score(double value) {
  char text[400];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

constexpr const char* kDrawingHelp =
    " | right-click adds a vertex, left-click optimises, Backspace undoes, Escape cancels";

}  // namespace

const char* RunModeName(RunMode mode) {
  switch (mode) {
    case RunMode::Drawing: return "Drawing";
    case RunMode::Optimising: return "Optimising";
    case RunMode::Paused: return "Paused";
    case RunMode::Finished: return "Finished";
  }
  return "";
}

std::string StatusText(const RunStatus& status) {
  std::string text = RunModeName(status.mode);
  if (status.mode == RunMode::Drawing) return text + kDrawingHelp;
  text += " | generation " + std::to_string(status.generation);
  if (status.mode == RunMode::Optimising && status.generationsPerSecond) {
    text += " | " + std::to_string(std::lround(*status.generationsPerSecond)) + " gen/s";
  }
  if (status.best) text += " | best " + Score(*status.best);
  if (status.bestEver) {
    text += " | best ever " + Score(*status.bestEver) + " (generation " +
            std::to_string(status.bestEverGeneration) + ")";
  }
  if (status.rewound) {
    text += " | showing generation " + std::to_string(*status.rewound) + " (Escape: live)";
  }
  return text;
}

std::string StatusText(const OtherRunStatus& status) {
  std::string text = RunModeName(status.mode);
  if (status.mode == RunMode::Drawing) return text + kDrawingHelp;
  text += " | " + status.algorithm;
  if (!status.error.empty()) return text + " | " + status.error;
  text += " | evaluation " + std::to_string(status.evaluations) + " of " + std::to_string(status.budget);
  if (status.best) text += " | best " + Score(*status.best);
  if (status.bestEver) {
    text += " | best ever " + Score(*status.bestEver) + " (evaluation " +
            std::to_string(status.bestEverEvaluation) + ")";
  }
  return text;
}

}  // namespace reflector
