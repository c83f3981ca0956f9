// Any bytes given to the checkpoint reader: a checkpoint that writes back to
// the same text, or one line of error; never a crash, a leak or a hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/checkpoint.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  reflector::Checkpoint checkpoint;
  std::string error;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (reflector::ParseCheckpoint(text, "fuzz.checkpoint", checkpoint, error)) {
    // What was accepted is whole: it reads back from its own text.
    reflector::Checkpoint again;
    if (!reflector::ParseCheckpoint(reflector::CheckpointToText(checkpoint), "again", again, error)) {
      __builtin_trap();
    }
  } else {
    if (error.rfind("fuzz.checkpoint", 0) != 0) __builtin_trap();
    for (unsigned char c : error) {
      if (c < 0x20 || c == 0x7f) __builtin_trap();
    }
  }
  return 0;
}
