#pragma once

#include <atomic>

#include <string>
#include <string_view>
#include <vector>

namespace reflector {

struct JsonMember;

// A parsed JSON value that remembers where it stood in the text, so that
// messages about it can point there. Numbers keep their text, so callers can
// tell 3 from 3.0 and check ranges themselves.
struct JsonValue {
  enum class Kind { Null, Boolean, Number, String, Array, Object };

  Kind kind = Kind::Null;
  bool boolean = false;
  std::string text;  // a string's contents, or a number as written
  std::vector<JsonValue> items;
  // In order of appearance. JsonMember is completed below: a vector may hold
  // an incomplete type, a std::pair may not (clang with libstdc++ refuses it).
  std::vector<JsonMember> members;
  int line = 1;    // 1-based position of the value's first character
  int column = 1;
  int keyLine = 0;  // for an object member: where its key stood
  int keyColumn = 0;
};

// An object's key and its value.
struct JsonMember {
  std::string key;
  JsonValue value;
};

// Where and why a text is not JSON.
struct JsonError {
  int line = 1;
  int column = 1;
  std::string message;
};

// Parses one JSON document (RFC 8259), whitespace around it allowed. Nesting
// deeper than 64 levels is refused rather than risking the stack. Returns false
// and fills error on malformed input.
// With cancel given, a parse that sees it set stops and fails with the
// message kJsonCancelled.
bool ParseJson(std::string_view text, JsonValue& value, JsonError& error,
               const std::atomic<bool>* cancel = nullptr);
inline constexpr const char* kJsonCancelled = "cancelled";

// "an object", "an array", ... for messages.
const char* DescribeKind(JsonValue::Kind kind);

}  // namespace reflector
