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
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nacrel::json {

// A reading failure: message plus 1-based line and column.
// what() is "MESSAGE at line L column C".
class Error : public std::exception {
 public:
  Error(std::string message, size_t line, size_t column);
  const char* what() const noexcept override { return full_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  size_t line() const noexcept { return line_; }
  size_t column() const noexcept { return column_; }

 private:
  std::string message_;
  size_t line_, column_;
  std::string full_;
};

// Deepest nesting of arrays and objects the reader accepts when reading them
// through begin_object/begin_array; deeper input fails with "recursion limit
// exceeded". skip_value works without recursion and has no depth limit.
inline constexpr size_t kMaxDepth = 128;

enum class Kind { Object, Array, String, Number, Bool, Null };

// Pull reader over one JSON text. Every method throws Error on malformed input.
// Positions follow one rule: the column is that of the last byte consumed
// (errors about the next byte, such as "expected value", count that byte).
class Reader {
 public:
  explicit Reader(std::string_view text);

  // Kind of the next value (whitespace skipped); "EOF while parsing a value" at the end.
  Kind peek();

  // Consumes '{' (counts one nesting level).
  void begin_object();
  // Reads the next member name; false when '}' was consumed instead. The ':'
  // is taken by the next read of the value, so errors about the name itself
  // (duplicate, unknown) point just after it. A member whose value is left
  // unread is skipped by the following next_key.
  bool next_key(std::string& key);

  // Consumes '[' (counts one nesting level).
  void begin_array();
  // True when another element follows (positioned at it); false when ']' was consumed.
  bool next_element();

  // Reads a string value, escapes decoded to UTF-8.
  std::string read_string();
  // Validates and skips any value, however nested.
  void skip_value();
  // Requires that only whitespace remains; else "trailing characters".
  void finish();

  // Throws Error(message) at the current position.
  [[noreturn]] void fail(const std::string& message) const;
  // Throws "invalid type: <the next value, described>, expected <expected>"
  // (for example: string "abc", integer `5`, floating point `1.5`,
  // boolean `true`, null, map, sequence).
  [[noreturn]] void invalid_type(std::string_view expected);
  // Scalars (strings, numbers, literals) are consumed first, as the position
  // then points after them; arrays and objects are not.
  // "invalid length N, expected <expected>".
  [[noreturn]] void invalid_length(size_t n, std::string_view expected) const;
  // "missing field `NAME`".
  [[noreturn]] void missing_field(std::string_view name) const;
  // "duplicate field `NAME`".
  [[noreturn]] void duplicate_field(std::string_view name) const;
  // "unknown field `NAME`, expected `a` or `b`" (one of `a`, `b`, `c` for more).
  [[noreturn]] void unknown_field(std::string_view name, const std::vector<std::string_view>& expected) const;

 private:
  Error error_at(size_t index, const std::string& message) const;
  [[noreturn]] void peek_fail(const std::string& message) const;
  void skip_ws();
  void take_colon();
  char value_start();
  void parse_ident(const char* rest);
  void open(char c);
  uint32_t hex_escape();
  void scan_string(std::string* out);
  void scan_number(bool strict_eof);

  std::string_view text_;
  size_t pos_ = 0;
  size_t depth_ = 0;
  bool first_ = false;          // no element/member read yet in the innermost open container
  bool colon_pending_ = false;  // a member name was read, its ':' not yet
  // Line/column are computed from the byte offset only when an error is raised.
  friend class ReaderTestAccess;
};

// Reads a record (struct) NAME whose fields are `fields`, in field order,
// calling read_field(r, i) to read the value of field i (exactly one value).
//  - object: members in any order; unknown members are skipped; a repeated
//    field fails "duplicate field `F`"; after '}' the first absent field in
//    field order fails "missing field `F`";
//  - array: exactly fields.size() elements, element i being field i; any
//    other count N fails "invalid length N, expected struct NAME with K elements";
//  - anything else: "invalid type: ..., expected struct NAME".
void read_record(Reader& r, std::string_view name, const std::vector<std::string_view>& fields,
                 const std::function<void(Reader&, size_t)>& read_field);

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
// Object holding the members of both objects, sorted by name in byte order
// (nested objects sorted too; a name present in both keeps b's value).
Value merge_sorted(const Value& a, const Value& b);
// Appends s as a JSON string literal (quotes and escapes) to out.
void append_quoted(std::string& out, std::string_view s);

}  // namespace nacrel::json
