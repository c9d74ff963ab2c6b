// Parsing of whole proof texts into records.
#pragma once

#include <string_view>

#include "group/encoding.hpp"
#include "group/json.hpp"

namespace nacrel::sigma {

// Parses a whole text as one record (Record::read reads it through
// json::read_struct); every reading error stops with the unwrap message
// carrying the error and its position.
template <class Record>
Record parse_record(std::string_view text) {
  return parse_document(text, [](json::Reader& r) { return Record::read(r); });
}

}  // namespace nacrel::sigma
