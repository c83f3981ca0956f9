#include "formats/opened_file.h"

#include "formats/json_reader.h"
#include "formats/scene_file.h"

namespace reflector {

RunStart ResumedStart(Checkpoint checkpoint) {
  RunStart start;
  start.population = std::move(checkpoint.population);
  start.record.completedGenerations = checkpoint.generations;
  start.record.firstGeneration = checkpoint.generations + 1;
  start.record.bestEver = std::move(checkpoint.bestEver);
  return start;
}

bool LooksLikeCheckpoint(std::string_view text) {
  // The format is the first member the program writes; a little room for a
  // byte-order mark and other spacing.
  return text.substr(0, 256).find("\"reflector-checkpoint\"") != std::string_view::npos;
}

bool LoadSceneOrCheckpointFile(const std::string& path, OpenedFile& opened, std::string& error,
                               const std::atomic<bool>* cancel) {
  std::string text;
  if (!ReadTextFile(path, kMaxInputFileSize, "a scene", text, error)) return false;
  if (LooksLikeCheckpoint(text)) {
    Checkpoint checkpoint;
    if (!ParseCheckpoint(text, path, checkpoint, error)) return false;
    opened.checkpoint = std::move(checkpoint);
    return true;
  }
  opened.checkpoint.reset();
  return ParseScene(text, path, opened.scene, error, cancel);
}

}  // namespace reflector
