#include "formats/json_value.h"

#include <cstdint>

namespace reflector {

namespace {

constexpr int kMaxDepth = 64;
// Past the most any accepted file holds (twelve mirrors of the most vertices,
// three values a vertex), so that a file of millions of tiny values is
// refused before its tree takes gigabytes.
constexpr std::uint32_t kMaxValues = 16000000;

class Parser {
 public:
  Parser(std::string_view text, JsonError& error, const std::atomic<bool>* cancel)
      : text_(text), error_(error), cancel_(cancel) {}

  bool ParseDocument(JsonValue& value) {
    SkipWhitespace();
    if (!ParseValue(value, 0)) return false;
    SkipWhitespace();
    if (pos_ != text_.size()) return Fail("unexpected text after the JSON value");
    return true;
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  void Advance() {
    if (text_[pos_] == '\n') {
      ++line_;
      column_ = 1;
    } else if ((static_cast<unsigned char>(text_[pos_]) & 0xC0) != 0x80) {
      ++column_;  // count characters, not UTF-8 continuation bytes
    }
    ++pos_;
  }

  bool Fail(std::string message) {
    error_.line = line_;
    error_.column = column_;
    error_.message = std::move(message);
    return false;
  }

  void SkipWhitespace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
      Advance();
    }
  }

  bool Expect(std::string_view word) {
    for (char c : word) {
      if (Peek() != c) return Fail("invalid literal (expected '" + std::string(word) + "')");
      Advance();
    }
    return true;
  }

  // Looked at every few thousand values: cheap, and soon enough.
  bool Cancelled() {
    return cancel_ && (values_ & 4095) == 0 && cancel_->load(std::memory_order_relaxed);
  }

  bool ParseValue(JsonValue& value, int depth) {
    if (++values_ > kMaxValues) return Fail("more than 16000000 values: too large to read");
    if (Cancelled()) return Fail(kJsonCancelled);
    value.line = line_;
    value.column = column_;
    if (AtEnd()) return Fail("unexpected end of file");
    switch (Peek()) {
      case '{':
        return ParseObject(value, depth);
      case '[':
        return ParseArray(value, depth);
      case '"':
        value.kind = JsonValue::Kind::String;
        return ParseString(value.text);
      case 't':
        value.kind = JsonValue::Kind::Boolean;
        value.boolean = true;
        return Expect("true");
      case 'f':
        value.kind = JsonValue::Kind::Boolean;
        return Expect("false");
      case 'n':
        value.kind = JsonValue::Kind::Null;
        return Expect("null");
      default:
        if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) return ParseNumber(value);
        return Fail(std::string("unexpected character '") + Printable(Peek()) + "'");
    }
  }

  static std::string Printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) return std::string(1, c);
    char buffer[8];
    static const char kHex[] = "0123456789abcdef";
    buffer[0] = '\\';
    buffer[1] = 'x';
    buffer[2] = kHex[u >> 4];
    buffer[3] = kHex[u & 15];
    buffer[4] = '\0';
    return buffer;
  }

  bool ParseObject(JsonValue& value, int depth) {
    if (depth >= kMaxDepth) return Fail("nesting is too deep");
    value.kind = JsonValue::Kind::Object;
    Advance();  // '{'
    SkipWhitespace();
    if (Peek() == '}') {
      Advance();
      return true;
    }
    for (;;) {
      SkipWhitespace();
      if (Peek() != '"') return Fail("expected a string key in quotes");
      const int keyLine = line_;
      const int keyColumn = column_;
      std::string key;
      if (!ParseString(key)) return false;
      SkipWhitespace();
      if (Peek() != ':') return Fail("expected ':' after the key");
      Advance();
      SkipWhitespace();
      JsonValue member;
      if (!ParseValue(member, depth + 1)) return false;
      member.keyLine = keyLine;
      member.keyColumn = keyColumn;
      value.members.push_back({std::move(key), std::move(member)});
      SkipWhitespace();
      if (Peek() == ',') {
        Advance();
        continue;
      }
      if (Peek() == '}') {
        Advance();
        return true;
      }
      return AtEnd() ? Fail("unexpected end of file inside an object")
                     : Fail("expected ',' or '}' in an object");
    }
  }

  bool ParseArray(JsonValue& value, int depth) {
    if (depth >= kMaxDepth) return Fail("nesting is too deep");
    value.kind = JsonValue::Kind::Array;
    Advance();  // '['
    SkipWhitespace();
    if (Peek() == ']') {
      Advance();
      return true;
    }
    for (;;) {
      SkipWhitespace();
      JsonValue item;
      if (!ParseValue(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
      SkipWhitespace();
      if (Peek() == ',') {
        Advance();
        continue;
      }
      if (Peek() == ']') {
        Advance();
        return true;
      }
      return AtEnd() ? Fail("unexpected end of file inside an array")
                     : Fail("expected ',' or ']' in an array");
    }
  }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  bool ParseNumber(JsonValue& value) {
    value.kind = JsonValue::Kind::Number;
    const std::size_t begin = pos_;
    if (Peek() == '-') Advance();
    if (Peek() == '0') {
      Advance();
    } else if (IsDigit(Peek())) {
      while (IsDigit(Peek())) Advance();
    } else {
      return Fail("invalid number");
    }
    if (Peek() == '.') {
      Advance();
      if (!IsDigit(Peek())) return Fail("invalid number: digits must follow '.'");
      while (IsDigit(Peek())) Advance();
    }
    if (Peek() == 'e' || Peek() == 'E') {
      Advance();
      if (Peek() == '+' || Peek() == '-') Advance();
      if (!IsDigit(Peek())) return Fail("invalid number: digits must follow the exponent");
      while (IsDigit(Peek())) Advance();
    }
    value.text = std::string(text_.substr(begin, pos_ - begin));
    return true;
  }

  bool ParseHex4(std::uint32_t& code) {
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = Peek();
      std::uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return Fail("invalid \\u escape");
      }
      code = code * 16 + digit;
      Advance();
    }
    return true;
  }

  static void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool ParseString(std::string& out) {
    Advance();  // opening quote
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      const char c = Peek();
      if (c == '"') {
        Advance();
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out += c;
        Advance();
        continue;
      }
      Advance();
      const char e = Peek();
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          Advance();
          std::uint32_t code;
          if (!ParseHex4(code)) return false;
          if (code >= 0xD800 && code < 0xDC00 && Peek() == '\\') {
            Advance();
            if (Peek() != 'u') return Fail("invalid surrogate pair");
            Advance();
            std::uint32_t low;
            if (!ParseHex4(low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("invalid surrogate pair");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, code);
          continue;
        }
        default:
          return AtEnd() ? Fail("unterminated string") : Fail("invalid escape in a string");
      }
      Advance();
    }
  }

  std::string_view text_;
  JsonError& error_;
  std::size_t pos_ = 0;
  int line_ = 1;
  int column_ = 1;
  const std::atomic<bool>* cancel_;
  std::uint32_t values_ = 0;
};

}  // namespace

bool ParseJson(std::string_view text, JsonValue& value, JsonError& error,
               const std::atomic<bool>* cancel) {
  value = JsonValue{};
  return Parser(text, error, cancel).ParseDocument(value);
}

const char* DescribeKind(JsonValue::Kind kind) {
  switch (kind) {
    case JsonValue::Kind::Null: return "null";
    case JsonValue::Kind::Boolean: return "a boolean";
    case JsonValue::Kind::Number: return "a number";
    case JsonValue::Kind::String: return "a string";
    case JsonValue::Kind::Array: return "an array";
    case JsonValue::Kind::Object: return "an object";
  }
  return "a value";
}

}  // namespace reflector
