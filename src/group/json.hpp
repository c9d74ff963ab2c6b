// One JSON reader and one writer for the whole system (RFC 8259).
//
// The reader is pull-style: a record decodes itself member by member straight
// from the text, so every error carries the line and column where it was found.
// The writer renders a small value tree in the pretty layout (two-space
// indentation, ": ", "[]" for an empty array, no final newline) or compactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nacrel::json {

// A reading failure: message plus 1-based line and column.
// what() and text() are "MESSAGE at line L column C"; text() also keeps the
// NUL bytes a message may quote from the input (a member name, a curve name),
// where what() ends at the first of them.
class Error : public std::exception {
 public:
  Error(std::string message, size_t line, size_t column);
  const char* what() const noexcept override { return full_.c_str(); }
  const std::string& text() const noexcept { return full_; }
  const std::string& message() const noexcept { return message_; }
  size_t line() const noexcept { return line_; }
  size_t column() const noexcept { return column_; }

 private:
  std::string message_;
  size_t line_, column_;
  std::string full_;
};

// Deepest nesting of arrays and objects the reader accepts.
inline constexpr size_t kMaxDepth = 128;

enum class Kind { Object, Array, String, Number, Bool, Null };

// Pull reader over one JSON text. Every method throws Error on malformed input.
class Reader {
 public:
  explicit Reader(std::string_view text);

  // Kind of the next value (whitespace skipped); "EOF while parsing a value" at the end.
  Kind peek();

  // Consumes '{' (counts one nesting level).
  void begin_object();
  // Reads the next member name; false when '}' was consumed instead. The ':'
  // is consumed by the next value operation (peek, skip_value, read_*,
  // invalid_type), so that errors about the name itself are placed right
  // after it.
  bool next_key(std::string& key);

  // Consumes '[' (counts one nesting level).
  void begin_array();
  // True when another element follows (positioned at it); false when ']' was consumed.
  bool next_element();

  // Reads a string value, escapes decoded to UTF-8.
  std::string read_string();
  // Validates and skips any value, however nested (up to kMaxDepth).
  void skip_value();
  // Requires that only whitespace remains; else "trailing characters".
  void finish();

  // Throws Error(message) at the current position.
  [[noreturn]] void fail(const std::string& message) const;
  // Throws "invalid type: <the next value, described>, expected <expected>"
  // (for example: string "abc", integer `5`, floating point `1.5`,
  // boolean `true`, null, map, sequence).
  [[noreturn]] void invalid_type(std::string_view expected);
  // "invalid length N, expected <expected>".
  [[noreturn]] void invalid_length(size_t n, std::string_view expected) const;
  // "missing field `NAME`".
  [[noreturn]] void missing_field(std::string_view name) const;
  // "duplicate field `NAME`".
  [[noreturn]] void duplicate_field(std::string_view name) const;
  // "unknown field `NAME`, expected `a` or `b`" (one of `a`, `b`, `c` for more).
  [[noreturn]] void unknown_field(std::string_view name, const std::vector<std::string_view>& expected) const;

 private:
  std::string_view text_;
  size_t pos_ = 0;
  size_t depth_ = 0;
  // One entry per open container: whether it is an object, and whether its
  // first member or element is still to come.
  void consume_colon();
  std::vector<uint8_t> frames_;
  bool colon_pending_ = false;  // a member name was read, its ':' not yet
  // Line/column bookkeeping is the implementation's; positions are computed
  // from the byte offset only when an error is raised.
  friend struct ReaderImpl;
  friend class ReaderTestAccess;
};

// Reads a record (struct) NAME whose fields are `fields`, in declaration order.
// - Object form: members in any order; unknown members skipped; a known member
//   twice -> "duplicate field `F`"; after '}', the first absent field in field
//   order -> "missing field `F`".
// - Array form: exactly fields.size() values in field order, otherwise
//   "invalid length N, expected struct NAME with K elements" (N = values given).
// - Anything else: "invalid type: <value>, expected struct NAME".
// read_field(i, reader) reads the value of field i and is called once per field.
template <class ReadField>
void read_struct(Reader& r, std::string_view name, std::span<const std::string_view> fields, ReadField&& read_field) {
  const Kind kind = r.peek();
  if (kind == Kind::Object) {
    r.begin_object();
    std::vector<bool> seen(fields.size());
    std::string key;
    while (r.next_key(key)) {
      size_t i = 0;
      while (i < fields.size() && fields[i] != key) ++i;
      if (i == fields.size()) {
        r.skip_value();
        continue;
      }
      if (seen[i]) r.duplicate_field(fields[i]);
      read_field(i, r);
      seen[i] = true;
    }
    for (size_t i = 0; i < fields.size(); ++i)
      if (!seen[i]) r.missing_field(fields[i]);
    return;
  }
  const std::string expected = "struct " + std::string(name);
  if (kind == Kind::Array) {
    const std::string with = expected + " with " + std::to_string(fields.size()) + " elements";
    r.begin_array();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!r.next_element()) r.invalid_length(i, with);
      read_field(i, r);
    }
    // Count every surplus value so that the message names the real length.
    size_t n = fields.size();
    while (r.next_element()) {
      r.skip_value();
      ++n;
    }
    if (n != fields.size()) r.invalid_length(n, with);
    return;
  }
  r.invalid_type(expected);
}

template <class ReadField>
void read_struct(Reader& r, std::string_view name, std::initializer_list<std::string_view> fields,
                 ReadField&& read_field) {
  read_struct(r, name, std::span<const std::string_view>(fields.begin(), fields.size()),
              std::forward<ReadField>(read_field));
}

// Value tree for writing.
class Value {
 public:
  enum class Type { String, Array, Object };

  static Value string(std::string s);
  static Value array();
  // Members kept in insertion order.
  static Value object();

  Type type() const { return type_; }
  // Appends to an array.
  Value& push(Value v);
  // Adds a member to an object (insertion order; names are not checked).
  Value& set(std::string key, Value v);

  const std::string& str() const { return str_; }
  const std::vector<Value>& items() const { return items_; }
  const std::vector<std::pair<std::string, Value>>& members() const { return members_; }

 private:
  Type type_ = Type::String;
  std::string str_;
  std::vector<Value> items_;
  std::vector<std::pair<std::string, Value>> members_;
};

// Pretty layout: two-space indentation, "key": value, empty array "[]",
// empty object "{}", no final newline.
std::string write_pretty(const Value& v);
// Compact layout: no whitespace at all.
std::string write_compact(const Value& v);
// Object holding the members of both objects, sorted by name in byte order.
Value merge_sorted(const Value& a, const Value& b);
// Appends s as a JSON string literal (quotes and escapes) to out.
void append_quoted(std::string& out, std::string_view s);

}  // namespace nacrel::json
