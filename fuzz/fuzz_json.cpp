// The JSON reader alone: every text is walked completely (member names,
// string values, every other value skipped) and then required to end.
// Failures must be json::Error with "MESSAGE at line L column C". A document
// of strings, arrays and objects only is written back, compactly and pretty,
// and must read back as the same tree. A second walk asks the reader to
// describe the first number, boolean or null it meets, as the invalid-type
// errors of the records do.
#include <memory>

#include "fuzz_util.hpp"
#include "group/json.hpp"

using namespace nacrel;

namespace {

struct Walk {
  bool only_strings = true;  // no numbers, booleans or nulls met
  bool describe = false;     // call invalid_type at the first of them
};

json::Value walk(json::Reader& r, Walk& w) {
  switch (r.peek()) {
    case json::Kind::Object: {
      json::Value v = json::Value::object();
      r.begin_object();
      std::string key;
      while (r.next_key(key)) v.set(key, walk(r, w));
      return v;
    }
    case json::Kind::Array: {
      json::Value v = json::Value::array();
      r.begin_array();
      while (r.next_element()) v.push(walk(r, w));
      return v;
    }
    case json::Kind::String:
      return json::Value::string(r.read_string());
    default:
      if (w.describe) r.invalid_type("a string");
      w.only_strings = false;
      r.skip_value();
      return json::Value::string("");
  }
}

bool same(const json::Value& a, const json::Value& b) {
  if (a.type() != b.type() || a.str() != b.str() || a.items().size() != b.items().size() ||
      a.members().size() != b.members().size())
    return false;
  for (size_t i = 0; i < a.items().size(); ++i)
    if (!same(a.items()[i], b.items()[i])) return false;
  for (size_t i = 0; i < a.members().size(); ++i)
    if (a.members()[i].first != b.members()[i].first || !same(a.members()[i].second, b.members()[i].second))
      return false;
  return true;
}

void check_error(const json::Error& e) {
  const std::string expected =
      e.message() + " at line " + std::to_string(e.line()) + " column " + std::to_string(e.column());
  fuzz::require(expected == e.what(), "JSON error text is not \"MESSAGE at line L column C\"");
  fuzz::require(e.line() >= 1, "JSON error line below 1");
}

// The tree of a whole document, or nullptr when the reader refuses it.
std::unique_ptr<json::Value> read_document(std::string_view text, Walk& w) {
  try {
    json::Reader r(text);
    auto v = std::make_unique<json::Value>(walk(r, w));
    r.finish();
    return v;
  } catch (const json::Error& e) {
    check_error(e);
    return nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::text_of(data, size);
  Walk w;
  std::unique_ptr<json::Value> tree = read_document(text, w);

  Walk describe;
  describe.describe = true;
  read_document(text, describe);

  if (!tree || !w.only_strings) return 0;
  for (const std::string& written : {json::write_compact(*tree), json::write_pretty(*tree)}) {
    Walk again;
    std::unique_ptr<json::Value> back = read_document(written, again);
    fuzz::require(back != nullptr, "written JSON text does not read back");
    fuzz::require(same(*tree, *back), "JSON round trip changed the document");
  }
  return 0;
}
