#include "group/json.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

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

void append_utf8(std::string& out, uint32_t cp) {
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

// Strict UTF-8 check (no overlongs, no surrogates, at most U+10FFFF).
bool valid_utf8(std::string_view s) {
  size_t i = 0, n = s.size();
  while (i < n) {
    uint8_t c = uint8_t(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp, min;
    if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      uint8_t d = uint8_t(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// A string as Rust's Debug form shows it: quoted, with \" \\ \n \r \t \0
// and other control characters as \u{..}.
std::string debug_quoted(std::string_view s) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "\"";
  for (size_t i = 0; i < s.size(); ++i) {
    uint8_t c = uint8_t(s[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case 0: out += "\\0"; break;
      default: {
        uint32_t cp = c;
        if (c == 0xC2 && i + 1 < s.size() && uint8_t(s[i + 1]) >= 0x80 && uint8_t(s[i + 1]) <= 0x9F) {
          cp = uint8_t(s[i + 1]);  // C1 control character
          ++i;
        } else if (c >= 0x20 && c != 0x7F) {
          out += char(c);
          break;
        }
        out += "\\u{";
        if (cp >= 16) out += digits[cp >> 4];
        out += digits[cp & 15];
        out += '}';
      }
    }
  }
  out += '"';
  return out;
}

// Rust's Display of an f64: the shortest digits that read back to the same
// value, written out without an exponent, with ".0" added when there is no
// decimal point.
std::string float_text(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string sci(buf, res.ptr);  // [-]d[.ddd]e[+-]XX
  std::string out;
  size_t i = 0;
  if (sci[0] == '-') {
    out += '-';
    i = 1;
  }
  size_t e = sci.find('e');
  std::string digits;
  for (size_t k = i; k < e; ++k)
    if (sci[k] != '.') digits += sci[k];
  int exp = std::atoi(sci.c_str() + e + 1);
  // value = 0.digits * 10^(exp + 1)
  int point = exp + 1;
  if (point <= 0) {
    out += "0." + std::string(size_t(-point), '0') + digits;
  } else if (size_t(point) >= digits.size()) {
    out += digits + std::string(size_t(point) - digits.size(), '0') + ".0";
  } else {
    out += digits.substr(0, size_t(point)) + "." + digits.substr(size_t(point));
  }
  return out;
}

}  // namespace

Error::Error(std::string message, size_t line, size_t column)
    : message_(std::move(message)), line_(line), column_(column) {
  full_ = message_ + " at line " + std::to_string(line_) + " column " + std::to_string(column_);
}

Reader::Reader(std::string_view text) : text_(text) {}

// ---- positions and failures ----------------------------------------------

Error Reader::error_at(size_t index, const std::string& message) const {
  index = std::min(index, text_.size());
  size_t start_of_line = 0;
  size_t line = 1;
  for (size_t i = 0; i < index; ++i) {
    if (text_[i] == '\n') {
      ++line;
      start_of_line = i + 1;
    }
  }
  return Error(message, line, index - start_of_line);
}

void Reader::fail(const std::string& message) const { throw error_at(pos_, message); }

void Reader::peek_fail(const std::string& message) const { throw error_at(pos_ + 1, message); }

void Reader::invalid_length(size_t n, std::string_view expected) const {
  fail("invalid length " + std::to_string(n) + ", expected " + std::string(expected));
}

void Reader::missing_field(std::string_view name) const { fail("missing field `" + std::string(name) + "`"); }

void Reader::duplicate_field(std::string_view name) const {
  fail("duplicate field `" + std::string(name) + "`");
}

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
    for (size_t i = 0; i < expected.size(); ++i) {
      if (i) m += ", ";
      m += "`" + std::string(expected[i]) + "`";
    }
  }
  fail(m);
}

// ---- low-level scanning ---------------------------------------------------

void Reader::skip_ws() {
  while (pos_ < text_.size() && is_ws(text_[pos_])) ++pos_;
}

void Reader::take_colon() {
  if (!colon_pending_) return;
  colon_pending_ = false;
  skip_ws();
  if (pos_ == text_.size()) peek_fail("EOF while parsing an object");
  if (text_[pos_] != ':') peek_fail("expected `:`");
  ++pos_;
}

char Reader::value_start() {
  take_colon();
  skip_ws();
  if (pos_ == text_.size()) peek_fail("EOF while parsing a value");
  return text_[pos_];
}

void Reader::parse_ident(const char* rest) {
  for (; *rest; ++rest) {
    if (pos_ == text_.size()) fail("EOF while parsing a value");
    if (text_[pos_++] != *rest) fail("expected ident");
  }
}

void Reader::open(char c) {
  if (depth_ >= kMaxDepth) peek_fail("recursion limit exceeded");
  ++depth_;
  ++pos_;
  first_ = true;
  (void)c;
}

// Reads four hex digits after "\u"; pos_ is just past the 'u'.
uint32_t Reader::hex_escape() {
  if (text_.size() - pos_ < 4) {
    pos_ = text_.size();
    fail("EOF while parsing a string");
  }
  uint32_t n = 0;
  bool ok = true;
  for (int k = 0; k < 4; ++k) {
    int d = hex_digit(text_[pos_ + k]);
    if (d < 0) ok = false;
    n = n << 4 | uint32_t(d < 0 ? 0 : d);
  }
  pos_ += 4;
  if (!ok) fail("invalid escape");
  return n;
}

// pos_ is just past the opening quote. Decodes into out when out != nullptr.
void Reader::scan_string(std::string* out) {
  size_t start = pos_;
  const size_t n = text_.size();
  for (;;) {
    size_t i = pos_;
    while (i < n) {
      char c = text_[i];
      if (c == '"' || c == '\\' || uint8_t(c) < 0x20) break;
      ++i;
    }
    if (out) out->append(text_.data() + pos_, i - pos_);
    pos_ = i;
    if (pos_ == n) fail("EOF while parsing a string");
    char c = text_[pos_];
    if (c == '"') {
      ++pos_;
      if (out && !valid_utf8(text_.substr(start, pos_ - 1 - start))) fail("invalid unicode code point");
      return;
    }
    if (c != '\\') {
      if (out) ++pos_;  // the reading path reports the character itself, skipping reports before it
      fail("control character (\\u0000-\\u001F) found while parsing a string");
    }
    ++pos_;
    if (pos_ == n) fail("EOF while parsing a string");
    char e = text_[pos_++];
    switch (e) {
      case '"': if (out) *out += '"'; break;
      case '\\': if (out) *out += '\\'; break;
      case '/': if (out) *out += '/'; break;
      case 'b': if (out) *out += '\b'; break;
      case 'f': if (out) *out += '\f'; break;
      case 'n': if (out) *out += '\n'; break;
      case 'r': if (out) *out += '\r'; break;
      case 't': if (out) *out += '\t'; break;
      case 'u': {
        uint32_t cp = hex_escape();
        if (!out) break;  // skipped strings only need well-formed escapes
        if (cp >= 0xDC00 && cp <= 0xDFFF) fail("lone leading surrogate in hex escape");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          if (pos_ == n) fail("EOF while parsing a string");
          if (text_[pos_] != '\\') {
            ++pos_;
            fail("unexpected end of hex escape");
          }
          ++pos_;
          if (pos_ == n) fail("EOF while parsing a string");
          if (text_[pos_] != 'u') {
            ++pos_;
            fail("unexpected end of hex escape");
          }
          ++pos_;
          uint32_t lo = hex_escape();
          if (lo < 0xDC00 || lo > 0xDFFF) fail("lone leading surrogate in hex escape");
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        }
        append_utf8(*out, cp);
        break;
      }
      default:
        fail("invalid escape");
    }
  }
}

// Validates a number starting at pos_ and moves past it. With strict_eof,
// a number cut short by the end of the text reports "EOF while parsing a
// value" (as when the number is read); otherwise "invalid number" (as when
// it is skipped).
void Reader::scan_number(bool strict_eof) {
  const size_t n = text_.size();
  auto at = [&](size_t i) { return i < n ? text_[i] : '\0'; };
  if (at(pos_) == '-') ++pos_;
  if (pos_ == n) {
    if (strict_eof) fail("EOF while parsing a value");
    fail("invalid number");
  }
  char c = text_[pos_];
  if (c == '0') {
    ++pos_;
    if (is_digit(at(pos_))) peek_fail("invalid number");
  } else if (c >= '1' && c <= '9') {
    ++pos_;
    while (is_digit(at(pos_))) ++pos_;
  } else {
    ++pos_;
    fail("invalid number");
  }
  if (at(pos_) == '.') {
    ++pos_;
    if (!is_digit(at(pos_))) {
      if (pos_ == n && strict_eof) peek_fail("EOF while parsing a value");
      peek_fail("invalid number");
    }
    while (is_digit(at(pos_))) ++pos_;
  }
  if (at(pos_) == 'e' || at(pos_) == 'E') {
    ++pos_;
    if (at(pos_) == '+' || at(pos_) == '-') ++pos_;
    if (pos_ == n) {
      if (strict_eof) fail("EOF while parsing a value");
      fail("invalid number");
    }
    if (!is_digit(text_[pos_])) {
      ++pos_;
      fail("invalid number");
    }
    while (is_digit(at(pos_))) ++pos_;
  }
}

// ---- public reading API ---------------------------------------------------

Kind Reader::peek() {
  char c = value_start();
  switch (c) {
    case '{': return Kind::Object;
    case '[': return Kind::Array;
    case '"': return Kind::String;
    case 't':
    case 'f': return Kind::Bool;
    case 'n': return Kind::Null;
    default:
      if (c == '-' || is_digit(c)) return Kind::Number;
      peek_fail("expected value");
  }
}

void Reader::begin_object() {
  char c = value_start();
  if (c != '{') invalid_type("a map");
  open(c);
}

void Reader::begin_array() {
  char c = value_start();
  if (c != '[') invalid_type("a sequence");
  open(c);
}

bool Reader::next_key(std::string& key) {
  if (colon_pending_) skip_value();  // the previous member's value was not read: skip it
  skip_ws();
  if (pos_ == text_.size()) peek_fail("EOF while parsing an object");
  char c = text_[pos_];
  if (c == '}') {
    ++pos_;
    --depth_;
    first_ = false;
    return false;
  }
  if (!first_) {
    if (c != ',') peek_fail("expected `,` or `}`");
    ++pos_;
    skip_ws();
    if (pos_ == text_.size()) peek_fail("EOF while parsing a value");
    c = text_[pos_];
    if (c == '}') peek_fail("trailing comma");
  }
  first_ = false;
  if (c != '"') peek_fail("key must be a string");
  ++pos_;
  key.clear();
  scan_string(&key);
  // Whitespace up to the ':' belongs to the key: errors about the key
  // (unknown, duplicate) are reported after it, and the ':' is taken by
  // whatever reads the value.
  skip_ws();
  colon_pending_ = true;
  return true;
}

bool Reader::next_element() {
  skip_ws();
  if (pos_ == text_.size()) peek_fail("EOF while parsing a list");
  char c = text_[pos_];
  if (c == ']') {
    ++pos_;
    --depth_;
    first_ = false;
    return false;
  }
  if (!first_) {
    if (c != ',') peek_fail("expected `,` or `]`");
    ++pos_;
    skip_ws();
    if (pos_ == text_.size()) peek_fail("EOF while parsing a value");
    if (text_[pos_] == ']') peek_fail("trailing comma");
  }
  first_ = false;
  return true;
}

std::string Reader::read_string() {
  char c = value_start();
  if (c != '"') invalid_type("a string");
  ++pos_;
  std::string out;
  scan_string(&out);
  first_ = false;
  return out;
}

void Reader::skip_value() {
  // Iterative: a stack of open brackets instead of recursion, so nesting
  // depth costs memory proportional to the input and never the call stack.
  std::string frames;
  take_colon();
  const size_t n = text_.size();
  for (;;) {
    skip_ws();
    if (pos_ == n) peek_fail("EOF while parsing a value");
    char c = text_[pos_];
    bool opened = false;
    switch (c) {
      case 'n': ++pos_; parse_ident("ull"); break;
      case 't': ++pos_; parse_ident("rue"); break;
      case 'f': ++pos_; parse_ident("alse"); break;
      case '"': ++pos_; scan_string(nullptr); break;
      case '[':
      case '{':
        frames += c;
        ++pos_;
        opened = true;
        break;
      default:
        if (c == '-' || is_digit(c)) {
          scan_number(false);
          break;
        }
        peek_fail("expected value");
    }
    // After a value (or an opening bracket): close brackets, find the next value.
    bool accept_comma = !opened;
    for (;;) {
      if (frames.empty()) {
        first_ = false;
        return;
      }
      char frame = frames.back();
      skip_ws();
      if (pos_ == n) peek_fail(frame == '[' ? "EOF while parsing a list" : "EOF while parsing an object");
      char d = text_[pos_];
      if ((frame == '[' && d == ']') || (frame == '{' && d == '}')) {
        ++pos_;
        frames.pop_back();
        accept_comma = true;
        continue;
      }
      if (accept_comma) {
        if (d != ',') peek_fail(frame == '[' ? "expected `,` or `]`" : "expected `,` or `}`");
        ++pos_;
      }
      if (frame == '{') {
        skip_ws();
        if (pos_ == n) peek_fail("EOF while parsing an object");
        if (text_[pos_] != '"') peek_fail("key must be a string");
        ++pos_;
        scan_string(nullptr);
        skip_ws();
        if (pos_ == n) peek_fail("EOF while parsing an object");
        if (text_[pos_] != ':') peek_fail("expected `:`");
        ++pos_;
      }
      break;  // a value follows
    }
  }
}

void Reader::finish() {
  skip_ws();
  if (pos_ != text_.size()) peek_fail("trailing characters");
}

void Reader::invalid_type(std::string_view expected) {
  char c = value_start();
  std::string what;
  switch (c) {
    case '{': what = "map"; break;
    case '[': what = "sequence"; break;
    case 'n': ++pos_; parse_ident("ull"); what = "null"; break;
    case 't': ++pos_; parse_ident("rue"); what = "boolean `true`"; break;
    case 'f': ++pos_; parse_ident("alse"); what = "boolean `false`"; break;
    case '"': {
      ++pos_;
      std::string s;
      scan_string(&s);
      what = "string " + debug_quoted(s);
      break;
    }
    default: {
      if (c != '-' && !is_digit(c)) peek_fail("expected value");
      size_t start = pos_;
      scan_number(true);
      std::string_view num = text_.substr(start, pos_ - start);
      bool integral = num.find_first_of(".eE") == std::string_view::npos;
      bool negative = num[0] == '-';
      if (integral) {
        std::string_view digits = negative ? num.substr(1) : num;
        uint64_t mag = 0;
        auto res = std::from_chars(digits.data(), digits.data() + digits.size(), mag);
        bool fits = res.ec == std::errc() && res.ptr == digits.data() + digits.size();
        if (fits && !negative) {
          what = "integer `" + std::to_string(mag) + "`";
          break;
        }
        if (fits && mag != 0 && mag <= (uint64_t(1) << 63)) {
          what = "integer `-" + std::to_string(mag) + "`";
          break;
        }
      }
      double v = std::strtod(std::string(num).c_str(), nullptr);
      if (std::isinf(v)) fail("number out of range");
      what = "floating point `" + float_text(v) + "`";
    }
  }
  fail("invalid type: " + what + ", expected " + std::string(expected));
}

// ---- records ----------------------------------------------------------------

void read_record(Reader& r, std::string_view name, const std::vector<std::string_view>& fields,
                 const std::function<void(Reader&, size_t)>& read_field) {
  const std::string expected = "struct " + std::string(name);
  Kind kind = r.peek();
  if (kind == Kind::Object) {
    r.begin_object();
    std::vector<bool> seen(fields.size(), false);
    std::string key;
    while (r.next_key(key)) {
      auto it = std::find(fields.begin(), fields.end(), std::string_view(key));
      if (it == fields.end()) {
        r.skip_value();
        continue;
      }
      size_t i = size_t(it - fields.begin());
      if (seen[i]) r.duplicate_field(fields[i]);
      seen[i] = true;
      read_field(r, i);
    }
    for (size_t i = 0; i < fields.size(); ++i)
      if (!seen[i]) r.missing_field(fields[i]);
    return;
  }
  if (kind == Kind::Array) {
    const std::string with = expected + " with " + std::to_string(fields.size()) + " elements";
    r.begin_array();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!r.next_element()) r.invalid_length(i, with);
      read_field(r, i);
    }
    size_t count = fields.size();
    while (r.next_element()) {
      r.skip_value();
      ++count;
    }
    if (count != fields.size()) r.invalid_length(count, with);
    return;
  }
  r.invalid_type(expected);
}

// ---- values and writing -------------------------------------------------------

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
  size_t run = 0;  // start of the pending run of bytes copied as they are
  for (size_t i = 0; i < s.size(); ++i) {
    uint8_t c = uint8_t(s[i]);
    const char* esc = nullptr;
    switch (c) {
      case '"': esc = "\\\""; break;
      case '\\': esc = "\\\\"; break;
      case '\n': esc = "\\n"; break;
      case '\r': esc = "\\r"; break;
      case '\t': esc = "\\t"; break;
      case '\b': esc = "\\b"; break;
      case '\f': esc = "\\f"; break;
      default:
        if (c >= 0x20) continue;
    }
    out.append(s.data() + run, i - run);
    run = i + 1;
    if (esc) {
      out += esc;
    } else {
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
      bool first = true;
      for (const Value& item : v.items()) {
        if (!first) out += ',';
        first = false;
        if (pretty) newline(level + 1);
        write_value(out, item, pretty, level + 1);
      }
      if (pretty) newline(level);
      out += ']';
      return;
    }
    case Value::Type::Object: {
      if (v.members().empty()) {
        out += "{}";
        return;
      }
      out += '{';
      bool first = true;
      for (const auto& [key, member] : v.members()) {
        if (!first) out += ',';
        first = false;
        if (pretty) newline(level + 1);
        append_quoted(out, key);
        out += pretty ? ": " : ":";
        write_value(out, member, pretty, level + 1);
      }
      if (pretty) newline(level);
      out += '}';
      return;
    }
  }
}

Value sorted_copy(const Value& v) {
  switch (v.type()) {
    case Value::Type::String:
      return v;
    case Value::Type::Array: {
      Value out = Value::array();
      for (const Value& item : v.items()) out.push(sorted_copy(item));
      return out;
    }
    case Value::Type::Object:
      break;
  }
  std::vector<std::pair<std::string, Value>> members;
  for (const auto& [key, member] : v.members()) {
    auto it = std::find_if(members.begin(), members.end(), [&](const auto& m) { return m.first == key; });
    if (it != members.end()) {
      it->second = sorted_copy(member);  // a repeated name keeps its last value
    } else {
      members.emplace_back(key, sorted_copy(member));
    }
  }
  std::stable_sort(members.begin(), members.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  Value out = Value::object();
  for (auto& [key, member] : members) out.set(std::move(key), std::move(member));
  return out;
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
  Value both = Value::object();
  for (const auto& [key, member] : a.members()) both.set(key, member);
  for (const auto& [key, member] : b.members()) both.set(key, member);
  return sorted_copy(both);
}

}  // namespace nacrel::json
