// Reading and writing of the sigma proof records.
//
// A record is read from either an object (members in any order, unknown
// members skipped, each known member at most once, missing members reported
// in field order) or an array of its values in field order. It is written as
// an object whose members follow the field order.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "group/encoding.hpp"
#include "group/json.hpp"

namespace nacrel::sigma {

// Reads the record `name` with the given field names; read_field(i, reader)
// reads the value of field i.
template <size_t N, class ReadField>
void read_record(json::Reader& r, std::string_view name, const std::array<std::string_view, N>& fields,
                 ReadField&& read_field) {
  const json::Kind kind = r.peek();
  if (kind == json::Kind::Object) {
    r.begin_object();
    std::array<bool, N> seen{};
    std::string key;
    while (r.next_key(key)) {
      size_t i = 0;
      while (i < N && fields[i] != key) ++i;
      if (i == N) {
        r.skip_value();
        continue;
      }
      if (seen[i]) r.duplicate_field(fields[i]);
      read_field(i, r);
      seen[i] = true;
    }
    for (size_t i = 0; i < N; ++i)
      if (!seen[i]) r.missing_field(fields[i]);
    return;
  }
  const std::string expected = "struct " + std::string(name) + " with " + std::to_string(N) + " elements";
  if (kind == json::Kind::Array) {
    r.begin_array();
    for (size_t i = 0; i < N; ++i) {
      if (!r.next_element()) r.invalid_length(i, expected);
      read_field(i, r);
    }
    // Extra values: count them all so that the message names the real length.
    size_t n = N;
    while (r.next_element()) {
      r.skip_value();
      ++n;
    }
    if (n != N) r.invalid_length(n, expected);
    return;
  }
  r.invalid_type("struct " + std::string(name));
}

// Parses a whole text as one record; every reading error stops with the
// unwrap message carrying the error and its position.
template <class Record>
Record parse_record(std::string_view text) {
  return parse_document(text, [](json::Reader& r) { return Record::read(r); });
}

}  // namespace nacrel::sigma
