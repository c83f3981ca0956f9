#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/json_value.h"
#include "geometry/point2.h"
#include "scene/scene_description.h"

namespace reflector {

// Reading the program's own fields out of parsed JSON, with messages of the
// form "NAME:LINE:COLUMN: problem". `what` names the value in the message
// ("the x of \"source\"", "reflector vertex 3").

// The largest coordinate magnitude a scene may hold.
inline constexpr double kMaxSceneCoordinate = 1e6;

// The most vertices a mirror may have. A run's result and checkpoint hold
// twelve copies of its mirror (the scene's, ten candidates' and the best
// ever), at most 52 bytes a vertex: so that every file written from an
// accepted scene reads back, 12 x 52 x this stays under kMaxInputFileSize.
inline constexpr std::size_t kMaxMirrorVertices = 400000;
// The largest scene, result or checkpoint file read.
inline constexpr std::size_t kMaxInputFileSize = std::size_t{256} << 20;

std::string Where(const std::string& name, int line, int column);
std::string Where(const std::string& name, const JsonValue& value);
std::string WhereKey(const std::string& name, const JsonValue& member);

// Text from the file, made safe for a one-line message on a terminal: at most
// 40 characters (the rest cut to "…"); control characters (C0, DEL and C1)
// as \xNN, separators and marks that reorder text as \uNNNN, and every byte
// that is not part of valid UTF-8 as \xNN.
std::string Echo(std::string_view text);

// A JSON number's text as the correctly rounded double. Integers stay exact
// and "-0" reads as 0, as integer coordinates always have; a decimal too small
// to hold reads as a zero of its sign. False when the magnitude overflows.
bool NumberToDouble(std::string_view text, double& out);

// A number with magnitude at most limit (finite in any case).
bool ReadNumber(const JsonValue& value, const std::string& name, const std::string& what,
                double limit, double& out, std::string& error);
// An integer written without fraction or exponent, from min to max.
bool ReadInteger(const JsonValue& value, const std::string& name, const std::string& what,
                 long long min, long long max, long long& out, std::string& error);
bool ReadUint32(const JsonValue& value, const std::string& name, const std::string& what,
                std::uint32_t& out, std::string& error);
// [x, y], each coordinate as ReadNumber.
bool ReadPoint(const JsonValue& value, const std::string& name, const std::string& what,
               double limit, Point2& out, std::string& error);
// [[x, y], ...]; items are called "<itemName> <index>" in messages.
bool ReadVertices(const JsonValue& value, const std::string& name, const std::string& what,
                  const std::string& itemName, double limit, std::vector<Point2>& out,
                  std::string& error);

// {"reflector": [...], "source": [x, y], "aim": [x, y], "target": [x, y]}:
// the reflector is required, the points default to the window's scene. With
// allowSeed (a scene file's top level), a "seed" is read too, and a
// "bestMirror" (vertices a saved scene keeps beside it) is checked but unused. Unknown and repeated keys are refused.
bool ReadSceneObject(const JsonValue& object, const std::string& name, bool allowSeed,
                     SceneDescription& scene, std::string& error);

// The member with that key, or nullptr.
const JsonValue* FindMember(const JsonValue& object, std::string_view key);

// The whole file at path, refused when larger than maxSize bytes; "what" names
// the kind of file in that message ("a scene").
bool ReadTextFile(const std::string& path, std::size_t maxSize, const char* what,
                  std::string& text, std::string& error);

}  // namespace reflector
