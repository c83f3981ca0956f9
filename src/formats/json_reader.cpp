#include "formats/json_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace reflector {

namespace {

bool IsIntegerText(std::string_view text) { return text.find_first_of(".eE") == text.npos; }

// Whether a JSON number's value is below 1 in magnitude, from its digits and
// exponent: tells an underflow from an overflow when from_chars reports
// either as out of range.
bool BelowOne(std::string_view text) {
  std::size_t i = text.starts_with('-') ? 1 : 0;
  long long magnitude = 0;  // the power of ten of the first significant digit, roughly
  bool significant = false;
  bool fraction = false;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
    if (text[i] == '.') {
      fraction = true;
    } else if (!significant) {
      if (text[i] != '0') {
        significant = true;
        if (!fraction) magnitude = 1;
      } else if (fraction) {
        --magnitude;
      }
    } else if (!fraction) {
      ++magnitude;
    }
  }
  long long exponent = 0;
  if (i < text.size()) {
    ++i;
    const bool negative = text[i] == '-';
    if (text[i] == '+' || text[i] == '-') ++i;
    for (; i < text.size(); ++i) {
      exponent = std::min<long long>(exponent * 10 + (text[i] - '0'), 1'000'000'000);
    }
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent <= 0;
}

std::string RangeText(double limit) {
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, limit, std::chars_format::fixed).ptr;
  const std::string number(buffer, end);
  return " is out of range (-" + number + " to " + number + ")";
}

bool FailOutOfRange(const JsonValue& value, const std::string& name, const std::string& what,
                    double limit, std::string& error) {
  error = Where(name, value) + what + " " + Echo(value.text) +
          (std::isfinite(limit) ? RangeText(limit) : " is too large for a double");
  return false;
}

}  // namespace

std::string Where(const std::string& name, int line, int column) {
  return name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": ";
}

std::string Where(const std::string& name, const JsonValue& value) {
  return Where(name, value.line, value.column);
}

std::string WhereKey(const std::string& name, const JsonValue& member) {
  return Where(name, member.keyLine, member.keyColumn);
}

namespace {

// The code point of the UTF-8 sequence at text[at], and its length; a length
// of 0 for a byte that starts no valid sequence (overlong forms, surrogates
// and values past U+10FFFF included).
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char first = byte(0);
  if (first < 0x80) return {first, 1};
  std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 0;
  if (length == 0 || first > 0xF4 || at + length > text.size()) return {0, 0};
  char32_t point = first & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {0, 0};
    point = (point << 6) | (byte(i) & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
    return {0, 0};
  }
  return {point, length};
}

// Characters that would act on a terminal rather than show: C0 and C1
// controls, DEL, the line and paragraph separators, and the marks that
// reorder text (which can make a message read other than it is).
bool Unprintable(char32_t point) {
  return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x2028 ||
         point == 0x2029 || (point >= 0x200E && point <= 0x200F) ||
         (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

}  // namespace

std::string Echo(std::string_view text) {
  constexpr std::size_t kMaxCharacters = 40;
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  std::size_t characters = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (characters == kMaxCharacters - 1 && at < text.size()) {
      // Room for one more: the last character, or the mark that some are cut.
      const auto [point, length] = DecodeUtf8(text, at);
      if (at + std::max<std::size_t>(length, 1) < text.size()) {
        out += "\xE2\x80\xA6";  // …
        break;
      }
    }
    const auto [point, length] = DecodeUtf8(text, at);
    if (length == 0) {
      // A byte of no valid sequence, as its value.
      const auto u = static_cast<unsigned char>(text[at]);
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
      at += 1;
    } else if (Unprintable(point)) {
      if (point < 0x100) {
        out += "\\x";
        out += kHex[point >> 4];
        out += kHex[point & 15];
      } else {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(point >> shift) & 15];
      }
      at += length;
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
    ++characters;
  }
  return out;
}

bool NumberToDouble(std::string_view text, double& out) {
  double x = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), x);
  if (ec == std::errc::result_out_of_range && BelowOne(text)) {
    x = text.starts_with('-') ? -0.0 : 0.0;
  } else if (ec != std::errc() || end != text.data() + text.size()) {
    return false;
  }
  if (x == 0.0 && IsIntegerText(text)) x = 0.0;  // "-0" is the integer 0
  out = x;
  return true;
}

bool ReadNumber(const JsonValue& value, const std::string& name, const std::string& what,
                double limit, double& out, std::string& error) {
  if (value.kind != JsonValue::Kind::Number) {
    error = Where(name, value) + what + " must be a number, not " + DescribeKind(value.kind);
    return false;
  }
  double x;
  if (!NumberToDouble(value.text, x) || !(std::fabs(x) <= limit)) {
    return FailOutOfRange(value, name, what, limit, error);
  }
  out = x;
  return true;
}

bool ReadInteger(const JsonValue& value, const std::string& name, const std::string& what,
                 long long min, long long max, long long& out, std::string& error) {
  if (value.kind != JsonValue::Kind::Number || !IsIntegerText(value.text)) {
    error = Where(name, value) + what + " must be an integer, not " +
            (value.kind == JsonValue::Kind::Number ? Echo(value.text)
                                                   : std::string(DescribeKind(value.kind)));
    return false;
  }
  const std::string& text = value.text;
  long long number = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end != text.data() + text.size() || number < min || number > max) {
    error = Where(name, value) + what + " " + Echo(text) + " is out of range (" +
            std::to_string(min) + " to " + std::to_string(max) + ")";
    return false;
  }
  out = number;
  return true;
}

bool ReadUint32(const JsonValue& value, const std::string& name, const std::string& what,
                std::uint32_t& out, std::string& error) {
  long long number;
  if (!ReadInteger(value, name, what, 0, UINT32_MAX, number, error)) return false;
  out = static_cast<std::uint32_t>(number);
  return true;
}

bool ReadPoint(const JsonValue& value, const std::string& name, const std::string& what,
               double limit, Point2& out, std::string& error) {
  if (value.kind != JsonValue::Kind::Array || value.items.size() != 2) {
    const std::string found = value.kind == JsonValue::Kind::Array
                                  ? "an array of " + std::to_string(value.items.size())
                                  : std::string(DescribeKind(value.kind));
    error = Where(name, value) + what + " must be an [x, y] pair of numbers, not " + found;
    return false;
  }
  Point2 point;
  if (!ReadNumber(value.items[0], name, "the x of " + what, limit, point.x, error) ||
      !ReadNumber(value.items[1], name, "the y of " + what, limit, point.y, error)) {
    return false;
  }
  out = point;
  return true;
}

bool ReadVertices(const JsonValue& value, const std::string& name, const std::string& what,
                  const std::string& itemName, double limit, std::vector<Point2>& out,
                  std::string& error) {
  if (value.kind != JsonValue::Kind::Array) {
    error = Where(name, value) + what + " must be an array of [x, y] pairs, not " +
            DescribeKind(value.kind);
    return false;
  }
  if (value.items.size() > kMaxMirrorVertices) {
    error = Where(name, value) + what + " has " + std::to_string(value.items.size()) +
            " vertices; at most " + std::to_string(kMaxMirrorVertices) +
            " can be run (a run's result and checkpoint hold twelve copies of the mirror, and "
            "must stay readable)";
    return false;
  }
  std::vector<Point2> vertices;
  vertices.reserve(value.items.size());
  for (std::size_t i = 0; i < value.items.size(); ++i) {
    Point2 vertex;
    if (!ReadPoint(value.items[i], name, itemName + " " + std::to_string(i), limit, vertex,
                   error)) {
      return false;
    }
    vertices.push_back(vertex);
  }
  out = std::move(vertices);
  return true;
}

bool ReadSceneObject(const JsonValue& object, const std::string& name, bool allowSeed,
                     SceneDescription& scene, std::string& error) {
  if (object.kind != JsonValue::Kind::Object) {
    error = Where(name, object) + "a scene must be a JSON object, not " + DescribeKind(object.kind);
    return false;
  }
  SceneDescription parsed;
  // A saved scene may keep the best mirror its run found beside it; only the
  // reflector starts a run, so that one is checked and set aside.
  static constexpr const char* kKeys[] = {"reflector", "source", "aim",
                                          "target",    "seed",   "bestMirror"};
  const int keyCount = allowSeed ? 6 : 4;
  bool seen[6] = {};
  for (const auto& [key, value] : object.members) {
    int slot = 0;
    while (slot < keyCount && key != kKeys[slot]) ++slot;
    if (slot == keyCount) {
      error = WhereKey(name, value) + "unknown key \"" + Echo(key) +
              (allowSeed ? "\" (expected \"reflector\", \"source\", \"aim\", \"target\", \"seed\" or "
                           "\"bestMirror\")"
                         : "\" (expected \"reflector\", \"source\", \"aim\" or \"target\")");
      return false;
    }
    if (seen[slot]) {
      error = WhereKey(name, value) + "\"" + key + "\" is given twice";
      return false;
    }
    seen[slot] = true;
    const std::string quoted = "\"" + key + "\"";
    bool ok = true;
    switch (slot) {
      case 0:
        ok = ReadVertices(value, name, quoted, "reflector vertex", kMaxSceneCoordinate,
                          parsed.reflector, error);
        break;
      case 1: ok = ReadPoint(value, name, quoted, kMaxSceneCoordinate, parsed.source, error); break;
      case 2: ok = ReadPoint(value, name, quoted, kMaxSceneCoordinate, parsed.aim, error); break;
      case 3: ok = ReadPoint(value, name, quoted, kMaxSceneCoordinate, parsed.target, error); break;
      case 4: {
        std::uint32_t seed;
        ok = ReadUint32(value, name, quoted, seed, error);
        parsed.seed = seed;
        break;
      }
      case 5: {
        std::vector<Point2> unused;
        ok = ReadVertices(value, name, quoted, "best-mirror vertex", kMaxSceneCoordinate, unused,
                          error);
        break;
      }
    }
    if (!ok) return false;
  }
  if (!seen[0]) {
    error = Where(name, object) + "the scene has no \"reflector\" (an array of [x, y] pairs)";
    return false;
  }
  scene = std::move(parsed);
  return true;
}

const JsonValue* FindMember(const JsonValue& object, std::string_view key) {
  for (const JsonMember& member : object.members) {
    if (member.key == key) return &member.value;
  }
  return nullptr;
}

bool ReadTextFile(const std::string& path, std::size_t maxSize, const char* what,
                  std::string& text, std::string& error) {
  // Opened without waiting: a pipe that nobody writes to would otherwise
  // hold the open (and the window) for good. Once open it is read normally.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(fdopen(fd, "rb"), &std::fclose);
  if (!file) {
    error = path + ": cannot open: " + std::strerror(errno);
    close(fd);
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    error = path + ": cannot read: " + std::strerror(EISDIR);
    return false;
  }
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
    error = path + ": cannot read: not a file (a device or a socket)";
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  std::string contents;
  char buffer[65536];
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
    contents.append(buffer, n);
    if (contents.size() > maxSize) {
      error = path + ": cannot read: larger than " + std::to_string(maxSize >> 20) +
              " MiB, too large for " + what;
      return false;
    }
    if (n < sizeof buffer) break;
  }
  if (std::ferror(file.get())) {
    error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  if (contents.empty() && S_ISFIFO(info.st_mode)) {
    error = path + ": cannot read: nothing was written to this pipe";
    return false;
  }
  text = std::move(contents);
  return true;
}

}  // namespace reflector
