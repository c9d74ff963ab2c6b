#include "group/json.hpp"

#include <charconv>
#include <cmath>
#include <algorithm>
#include <map>

namespace nacrel::json {

namespace {

bool is_ws(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void push_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// Well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool valid_utf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = uint8_t(s[i]);
    size_t n;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    for (size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size()) return false;
      const auto d = uint8_t(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

// A string value as an invalid-type description shows it: quoted, with
// quotes, backslashes and control characters escaped.
std::string debug_quoted(std::string_view s) {
  std::string out = "\"";
  for (char ch : s) {
    const auto c = uint8_t(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case 0: out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          static const char digits[] = "0123456789abcdef";
          out += "\\u{";
          if (c >= 0x10) out += digits[c >> 4];
          out += digits[c & 15];
          out += '}';
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

// Shortest round-trip digits written out without an exponent, always with a
// decimal point (1e3 -> "1000.0", 2^64 -> "18446744073709552000.0").
std::string float_text(double v) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  const size_t e = sci.find('e');
  const int exp10 = std::atoi(sci.c_str() + e + 1);
  std::string out;
  size_t i = 0;
  if (sci[0] == '-') out += '-', i = 1;
  std::string digits;
  for (; i < e; ++i)
    if (sci[i] != '.') digits += sci[i];
  // The value is 0.DIGITS * 10^(exp10 + 1).
  const long point = long(exp10) + 1;
  if (point <= 0) {
    out += "0." + std::string(size_t(-point), '0') + digits;
  } else if (size_t(point) >= digits.size()) {
    out += digits + std::string(size_t(point) - digits.size(), '0') + ".0";
  } else {
    out += digits.substr(0, size_t(point)) + "." + digits.substr(size_t(point));
  }
  return out;
}

// Value of a number text of valid JSON grammar, independent of the C locale.
// Overflow gives infinity, underflow a signed zero.
double parse_double(std::string_view text) {
  double v = 0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
  if (res.ec != std::errc::result_out_of_range) return v;
  const bool negative = text[0] == '-';
  // Decimal exponent of the leading non-zero digit decides between the two.
  const size_t e = text.find_first_of("eE");
  const std::string_view mant = text.substr(0, e);
  long exp = 0;
  if (e != std::string_view::npos) {
    size_t i = e + 1;
    const bool neg_exp = text[i] == '-';
    if (text[i] == '+' || text[i] == '-') ++i;
    for (; i < text.size(); ++i) exp = std::min(exp * 10 + (text[i] - '0'), 100000L);
    if (neg_exp) exp = -exp;
  }
  const size_t point = mant.find('.') == std::string_view::npos ? mant.size() : mant.find('.');
  const size_t lead = mant.find_first_of("123456789");
  const long lead_exp = lead < point ? long(point - lead) - 1 : -long(lead - point);
  if (lead_exp + exp >= 0) return negative ? -HUGE_VAL : HUGE_VAL;
  return negative ? -0.0 : 0.0;
}

constexpr const char* kEofValue = "EOF while parsing a value";
constexpr const char* kEofObject = "EOF while parsing an object";
constexpr const char* kEofList = "EOF while parsing a list";
constexpr const char* kEofString = "EOF while parsing a string";
constexpr const char* kExpectedValue = "expected value";
constexpr const char* kInvalidNumber = "invalid number";
constexpr const char* kRecursion = "recursion limit exceeded";

// Frame bits of the open containers.
constexpr uint8_t kObjectFrame = 1;
constexpr uint8_t kFirstFrame = 2;

}  // namespace

Error::Error(std::string message, size_t line, size_t column)
    : message_(std::move(message)), line_(line), column_(column) {
  full_ = message_ + " at line " + std::to_string(line_) + " column " + std::to_string(column_);
}

// ---------------------------------------------------------------- Reader

namespace {

// Line and column of a byte offset are counted only here, when failing:
// the column is the number of bytes of the line before the offset.
[[noreturn]] void error_at(std::string_view t, size_t index, const std::string& message) {
  size_t line = 1, line_start = 0;
  for (size_t i = 0; i < index; ++i)
    if (t[i] == '\n') ++line, line_start = i + 1;
  throw Error(message, line, index - line_start);
}

}  // namespace

// The scanning routines over the reader's text and position.
struct ReaderImpl {
  std::string_view t;
  size_t& pos;

  [[noreturn]] void error_at(size_t index, const std::string& message) const { json::error_at(t, index, message); }
  // Positioned after the last consumed byte.
  [[noreturn]] void error(const std::string& message) const { error_at(pos, message); }
  // Positioned on the next byte (counted as consumed), or at the end.
  [[noreturn]] void peek_error(const std::string& message) const { error_at(pos + 1 < t.size() ? pos + 1 : t.size(), message); }

  bool at_end() const { return pos >= t.size(); }
  char peek_or_null() const { return pos < t.size() ? t[pos] : '\0'; }

  // Skips whitespace; returns the next byte or '\0' at the end (with eof set).
  char skip_ws(bool& eof) {
    while (pos < t.size() && is_ws(t[pos])) ++pos;
    eof = pos >= t.size();
    return eof ? '\0' : t[pos];
  }

  void ident(const char* rest) {
    for (const char* p = rest; *p; ++p) {
      if (at_end()) error(kEofValue);
      if (t[pos++] != *p) error("expected ident");
    }
  }

  // Scans a number starting at pos (at '-' or a digit) and returns its text.
  // When `reading` (the value is being read, not skipped) an end of text
  // inside the number is "EOF while parsing a value".
  std::string_view number(bool reading) {
    const size_t start = pos;
    if (peek_or_null() == '-') ++pos;
    if (at_end()) {
      if (reading) error(kEofValue);
      error(kInvalidNumber);
    }
    const char first = t[pos++];
    if (first == '0') {
      if (is_digit(peek_or_null())) peek_error(kInvalidNumber);
    } else if (first >= '1' && first <= '9') {
      while (is_digit(peek_or_null())) ++pos;
    } else {
      error(kInvalidNumber);
    }
    if (peek_or_null() == '.') {
      ++pos;
      bool digit = false;
      while (is_digit(peek_or_null())) ++pos, digit = true;
      if (!digit) peek_error(reading && at_end() ? kEofValue : kInvalidNumber);
    }
    if (peek_or_null() == 'e' || peek_or_null() == 'E') {
      ++pos;
      if (peek_or_null() == '+' || peek_or_null() == '-') ++pos;
      if (at_end()) error(reading ? kEofValue : kInvalidNumber);
      if (!is_digit(t[pos++])) error(kInvalidNumber);
      while (is_digit(peek_or_null())) ++pos;
    }
    return t.substr(start, pos - start);
  }

  // Four hex digits of a \u escape (pos just after the 'u').
  uint32_t hex4() {
    if (t.size() - pos < 4) {
      pos = t.size();
      error(kEofString);
    }
    uint32_t v = 0;
    bool ok = true;
    for (int i = 0; i < 4; ++i) {
      const int d = hex_digit(t[pos + i]);
      ok = ok && d >= 0;
      v = v << 4 | uint32_t(d < 0 ? 0 : d);
    }
    pos += 4;
    if (!ok) error("invalid escape");
    return v;
  }

  // One escape after a backslash (pos just after it); appends to out when given.
  void escape(std::string* out) {
    if (at_end()) error(kEofString);
    const char c = t[pos++];
    char plain;
    switch (c) {
      case '"': plain = '"'; break;
      case '\\': plain = '\\'; break;
      case '/': plain = '/'; break;
      case 'b': plain = '\b'; break;
      case 'f': plain = '\f'; break;
      case 'n': plain = '\n'; break;
      case 'r': plain = '\r'; break;
      case 't': plain = '\t'; break;
      case 'u': {
        uint32_t n = hex4();
        if (!out) return;  // skipping checks only the shape of the escape
        if (n >= 0xDC00 && n <= 0xDFFF) error("lone leading surrogate in hex escape");
        if (n >= 0xD800 && n <= 0xDBFF) {
          // A leading surrogate must be followed by \u and a trailing one.
          if (at_end()) error(kEofString);
          if (t[pos++] != '\\') error("unexpected end of hex escape");
          if (at_end()) error(kEofString);
          if (t[pos++] != 'u') error("unexpected end of hex escape");
          const uint32_t n2 = hex4();
          if (n2 < 0xDC00 || n2 > 0xDFFF) error("lone leading surrogate in hex escape");
          n = 0x10000 + ((n - 0xD800) << 10) + (n2 - 0xDC00);
        }
        push_utf8(*out, n);
        return;
      }
      default:
        error("invalid escape");
    }
    if (out) *out += plain;
  }

  // String body after the opening quote, up to and including the closing one.
  void string_body(std::string* out) {
    for (;;) {
      const size_t run = pos;
      while (pos < t.size() && t[pos] != '"' && t[pos] != '\\' && uint8_t(t[pos]) >= 0x20) ++pos;
      if (out) out->append(t.data() + run, pos - run);
      if (at_end()) error(kEofString);
      const char c = t[pos++];
      if (c == '"') return;
      if (c == '\\') {
        escape(out);
        continue;
      }
      error("control character (\\u0000-\\u001F) found while parsing a string");
    }
  }

  std::string read_string_at_quote() {
    ++pos;  // opening quote
    std::string out;
    string_body(&out);
    if (!valid_utf8(out)) error("invalid unicode code point");
    return out;
  }

  // Skips one value iteratively, so nesting never grows the call stack.
  void skip(size_t depth) {
    std::string stack;  // open containers of this value: '[' or '{'
    for (;;) {
      bool eof;
      char c = skip_ws(eof);
      if (eof) peek_error(kEofValue);
      bool opened = false;
      switch (c) {
        case 'n': ++pos, ident("ull"); break;
        case 't': ++pos, ident("rue"); break;
        case 'f': ++pos, ident("alse"); break;
        case '"': ++pos, string_body(nullptr); break;
        case '[':
        case '{':
          if (depth + stack.size() + 1 > kMaxDepth) peek_error(kRecursion);
          stack += c;
          ++pos;
          opened = true;
          break;
        default:
          if (c == '-' || is_digit(c)) {
            number(false);
            break;
          }
          peek_error(kExpectedValue);
      }
      // After a value (or just inside a new container): close, separate or continue.
      bool accept_comma = !opened;
      for (;;) {
        if (stack.empty()) return;
        const char frame = stack.back();
        char n = skip_ws(eof);
        if (eof) peek_error(frame == '[' ? kEofList : kEofObject);
        if (n == ',' && accept_comma) {
          ++pos;
          break;
        }
        if ((n == ']' && frame == '[') || (n == '}' && frame == '{')) {
          ++pos;
          stack.pop_back();
          accept_comma = true;
          continue;
        }
        if (accept_comma) peek_error(frame == '[' ? "expected `,` or `]`" : "expected `,` or `}`");
        break;
      }
      if (stack.back() == '{') {
        char n = skip_ws(eof);
        if (eof) peek_error(kEofObject);
        if (n != '"') peek_error("key must be a string");
        ++pos;
        string_body(nullptr);
        n = skip_ws(eof);
        if (eof) peek_error(kEofObject);
        if (n != ':') peek_error("expected `:`");
        ++pos;
      }
    }
  }

  // Consumes the next value (not a container) and names it for an invalid-type message.
  std::string describe() {
    bool eof;
    const char c = skip_ws(eof);
    if (eof) peek_error(kEofValue);
    switch (c) {
      case 'n': ++pos, ident("ull"); return "null";
      case 't': ++pos, ident("rue"); return "boolean `true`";
      case 'f': ++pos, ident("alse"); return "boolean `false`";
      case '"': return "string " + debug_quoted(read_string_at_quote());
      case '[': return "sequence";
      case '{': return "map";
      default: break;
    }
    if (c != '-' && !is_digit(c)) peek_error(kExpectedValue);
    const std::string text(number(true));
    const bool negative = text[0] == '-';
    const bool integral = text.find_first_of(".eE") == std::string::npos;
    if (integral) {
      // Integers within 64 bits are shown as integers; larger ones (and -0) as floats.
      const char* b = text.data() + (negative ? 1 : 0);
      uint64_t mag = 0;
      auto res = std::from_chars(b, text.data() + text.size(), mag);
      if (res.ec == std::errc() && !negative) return "integer `" + text + "`";
      if (res.ec == std::errc() && negative && mag != 0 && mag <= uint64_t(1) << 63) return "integer `" + text + "`";
    }
    const double v = parse_double(text);
    if (std::isinf(v)) error("number out of range");
    return "floating point `" + float_text(v) + "`";
  }
};

Reader::Reader(std::string_view text) : text_(text) {}

#define IMPL ReaderImpl impl{text_, pos_}

void Reader::consume_colon() {
  if (!colon_pending_) return;
  IMPL;
  bool eof;
  const char c = impl.skip_ws(eof);
  if (eof) impl.peek_error(kEofObject);
  if (c != ':') impl.peek_error("expected `:`");
  ++pos_;
  colon_pending_ = false;
}

Kind Reader::peek() {
  consume_colon();
  IMPL;
  bool eof;
  const char c = impl.skip_ws(eof);
  if (eof) impl.peek_error(kEofValue);
  switch (c) {
    case '{': return Kind::Object;
    case '[': return Kind::Array;
    case '"': return Kind::String;
    case 't':
    case 'f': return Kind::Bool;
    case 'n': return Kind::Null;
    default:
      if (c == '-' || is_digit(c)) return Kind::Number;
      impl.peek_error(kExpectedValue);
  }
}

void Reader::begin_object() {
  if (peek() != Kind::Object) invalid_type("a map");
  IMPL;
  if (depth_ + 1 > kMaxDepth) impl.peek_error(kRecursion);
  ++pos_;
  ++depth_;
  frames_.push_back(kObjectFrame | kFirstFrame);
}

bool Reader::next_key(std::string& key) {
  if (colon_pending_) skip_value();  // the previous member's value was not read
  IMPL;
  if (frames_.empty() || !(frames_.back() & kObjectFrame)) fail("next_key outside an object");
  uint8_t& frame = frames_.back();
  bool eof;
  char c = impl.skip_ws(eof);
  if (eof) impl.peek_error(kEofObject);
  if (c == '}') {
    ++pos_;
    --depth_;
    frames_.pop_back();
    return false;
  }
  if (frame & kFirstFrame) {
    frame &= uint8_t(~kFirstFrame);
  } else {
    if (c != ',') impl.peek_error("expected `,` or `}`");
    ++pos_;
    c = impl.skip_ws(eof);
    if (eof) impl.peek_error(kEofValue);
    if (c == '}') impl.peek_error("trailing comma");
  }
  if (c != '"') impl.peek_error("key must be a string");
  key = impl.read_string_at_quote();
  impl.skip_ws(eof);
  colon_pending_ = true;
  return true;
}

void Reader::begin_array() {
  if (peek() != Kind::Array) invalid_type("a sequence");
  IMPL;
  if (depth_ + 1 > kMaxDepth) impl.peek_error(kRecursion);
  ++pos_;
  ++depth_;
  frames_.push_back(kFirstFrame);
}

bool Reader::next_element() {
  consume_colon();
  IMPL;
  if (frames_.empty() || (frames_.back() & kObjectFrame)) fail("next_element outside an array");
  uint8_t& frame = frames_.back();
  bool eof;
  char c = impl.skip_ws(eof);
  if (eof) impl.peek_error(kEofList);
  if (c == ']') {
    ++pos_;
    --depth_;
    frames_.pop_back();
    return false;
  }
  if (frame & kFirstFrame) {
    frame &= uint8_t(~kFirstFrame);
    return true;
  }
  if (c != ',') impl.peek_error("expected `,` or `]`");
  ++pos_;
  c = impl.skip_ws(eof);
  if (eof) impl.peek_error(kEofValue);
  if (c == ']') impl.peek_error("trailing comma");
  return true;
}

std::string Reader::read_string() {
  if (peek() != Kind::String) invalid_type("a string");
  IMPL;
  return impl.read_string_at_quote();
}

void Reader::skip_value() {
  consume_colon();
  IMPL;
  impl.skip(depth_);
}

void Reader::finish() {
  IMPL;
  bool eof;
  impl.skip_ws(eof);
  if (!eof) impl.peek_error("trailing characters");
}

void Reader::fail(const std::string& message) const {
  error_at(text_, pos_, message);
}

void Reader::invalid_type(std::string_view expected) {
  consume_colon();
  std::string what;
  {
    IMPL;
    what = impl.describe();
  }
  fail("invalid type: " + what + ", expected " + std::string(expected));
}

void Reader::invalid_length(size_t n, std::string_view expected) const {
  fail("invalid length " + std::to_string(n) + ", expected " + std::string(expected));
}

void Reader::missing_field(std::string_view name) const { fail("missing field `" + std::string(name) + "`"); }

void Reader::duplicate_field(std::string_view name) const { fail("duplicate field `" + std::string(name) + "`"); }

void Reader::unknown_field(std::string_view name, const std::vector<std::string_view>& expected) const {
  std::string m = "unknown field `" + std::string(name) + "`, ";
  if (expected.empty()) {
    m += "there are no fields";
  } else if (expected.size() == 1) {
    m += "expected `" + std::string(expected[0]) + "`";
  } else if (expected.size() == 2) {
    m += "expected `" + std::string(expected[0]) + "` or `" + std::string(expected[1]) + "`";
  } else {
    m += "expected one of ";
    for (size_t i = 0; i < expected.size(); ++i) m += (i ? ", `" : "`") + std::string(expected[i]) + "`";
  }
  fail(m);
}

#undef IMPL

// ---------------------------------------------------------------- Writer

Value Value::string(std::string s) {
  Value v;
  v.type_ = Type::String;
  v.str_ = std::move(s);
  return v;
}

Value Value::array() {
  Value v;
  v.type_ = Type::Array;
  return v;
}

Value Value::object() {
  Value v;
  v.type_ = Type::Object;
  return v;
}

Value& Value::push(Value v) {
  items_.push_back(std::move(v));
  return *this;
}

Value& Value::set(std::string key, Value v) {
  members_.emplace_back(std::move(key), std::move(v));
  return *this;
}

void append_quoted(std::string& out, std::string_view s) {
  static const char digits[] = "0123456789abcdef";
  out += '"';
  size_t run = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = uint8_t(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        out += "\\u00";
        out += digits[c >> 4];
        out += digits[c & 15];
    }
  }
  out.append(s.data() + run, s.size() - run);
  out += '"';
}

namespace {

void write_value(std::string& out, const Value& v, bool pretty, size_t level) {
  auto newline = [&](size_t lvl) {
    if (!pretty) return;
    out += '\n';
    out.append(2 * lvl, ' ');
  };
  switch (v.type()) {
    case Value::Type::String:
      append_quoted(out, v.str());
      return;
    case Value::Type::Array: {
      if (v.items().empty()) {
        out += "[]";
        return;
      }
      out += '[';
      for (size_t i = 0; i < v.items().size(); ++i) {
        if (i) out += ',';
        newline(level + 1);
        write_value(out, v.items()[i], pretty, level + 1);
      }
      newline(level);
      out += ']';
      return;
    }
    case Value::Type::Object: {
      if (v.members().empty()) {
        out += "{}";
        return;
      }
      out += '{';
      for (size_t i = 0; i < v.members().size(); ++i) {
        if (i) out += ',';
        newline(level + 1);
        append_quoted(out, v.members()[i].first);
        out += pretty ? ": " : ":";
        write_value(out, v.members()[i].second, pretty, level + 1);
      }
      newline(level);
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string write_pretty(const Value& v) {
  std::string out;
  write_value(out, v, true, 0);
  return out;
}

std::string write_compact(const Value& v) {
  std::string out;
  write_value(out, v, false, 0);
  return out;
}

Value merge_sorted(const Value& a, const Value& b) {
  // A later member of the same name replaces an earlier one.
  std::map<std::string, const Value*> sorted;
  for (const Value* src : {&a, &b})
    for (const auto& [key, value] : src->members()) sorted[key] = &value;
  Value out = Value::object();
  for (const auto& [key, value] : sorted) out.set(key, *value);
  return out;
}

}  // namespace nacrel::json
