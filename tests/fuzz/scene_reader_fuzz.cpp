// Any bytes given to the scene reader: a scene or one line of error, never a
// crash, a leak or a hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/scene_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  reflector::SceneDescription scene;
  std::string error;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!reflector::ParseScene(text, "fuzz.json", scene, error)) {
    // One line, naming the file, with no raw control characters in it.
    if (error.rfind("fuzz.json", 0) != 0) __builtin_trap();
    for (unsigned char c : error) {
      if (c < 0x20 || c == 0x7f) __builtin_trap();
    }
  }
  return 0;
}
