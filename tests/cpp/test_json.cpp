// JSON reader and writer: exact error texts and positions, records in both
// forms, escapes, nesting limits and the two output layouts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "group/json.hpp"

using namespace nacrel::json;

namespace {

// Reads any value through the pull API: strings are decoded, other scalars skipped.
void read_any(Reader& r) {
  switch (r.peek()) {
    case Kind::Object: {
      r.begin_object();
      std::string key;
      while (r.next_key(key)) read_any(r);
      return;
    }
    case Kind::Array:
      r.begin_array();
      while (r.next_element()) read_any(r);
      return;
    case Kind::String:
      r.read_string();
      return;
    default:
      r.skip_value();
  }
}

// what() of the error raised by f, or "ok".
template <class F>
std::string error_of(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e.what();
  }
  return "ok";
}

std::string parse_error(const std::string& text) {
  return error_of([&] {
    Reader r(text);
    read_any(r);
    r.finish();
  });
}

std::string skip_error(const std::string& text) {
  return error_of([&] {
    Reader r(text);
    r.skip_value();
    r.finish();
  });
}

struct Case {
  std::string text;
  std::string expected;
};

TEST(JsonReader, SyntaxErrorsWithPositions) {
  const std::vector<Case> cases = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"x", "expected value at line 1 column 1"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"[,1]", "expected value at line 1 column 2"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"{\"a\":}", "expected value at line 1 column 6"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"\\", "EOF while parsing a string at line 1 column 2"},
      {"\"\\x\"", "invalid escape at line 1 column 3"},
      {"\"\\u12G4\"", "invalid escape at line 1 column 7"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"\"\xff\"", "invalid unicode code point at line 1 column 3"},
      {"\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 5"},
      {"1 2", "trailing characters at line 1 column 3"},
      {"[1]\n x", "trailing characters at line 2 column 2"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"nulx", "expected ident at line 1 column 4"},
      {"{\n  \"a\": tru\n}", "expected ident at line 3 column 0"},
      {"01", "invalid number at line 1 column 2"},
      {"1.", "invalid number at line 1 column 2"},
      {"1.x", "invalid number at line 1 column 3"},
      {"-", "invalid number at line 1 column 1"},
      {"-x", "invalid number at line 1 column 2"},
      {"1e", "invalid number at line 1 column 2"},
      {"1e+x", "invalid number at line 1 column 4"},
      {"[1, -01]", "invalid number at line 1 column 7"},
      {"{\"a\": [\n  1,\n  2\n  }", "expected `,` or `]` at line 4 column 3"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_error(c.text), c.expected) << "input: " << c.text;
}

TEST(JsonReader, AcceptsValidDocuments) {
  const std::vector<std::string> good = {
      "{}", "[]", " \t\r\n[ ] ", "0", "-0", "1.25e-3", "1E+2", "-12.5E7", "true", "false", "null",
      "\"\"", "{\"a\":[1,{\"b\":null}],\"c\":\"d\"}", "[[],[[]],{}]",
      "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0041\\ud83d\\ude00\"",
  };
  for (const std::string& text : good) {
    EXPECT_EQ(parse_error(text), "ok") << text;
    EXPECT_EQ(skip_error(text), "ok") << text;
  }
}

// The skipping path reports the same texts; a control character is reported
// before itself there, as the skipping path never consumes it.
TEST(JsonReader, SkipValidates) {
  const std::vector<Case> cases = {
      {"[1,]", "expected value at line 1 column 4"},
      {"{\"a\":1,}", "key must be a string at line 1 column 8"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"[\"a\x01\"]", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"[\"\\q\"]", "invalid escape at line 1 column 4"},
      {"[01]", "invalid number at line 1 column 3"},
      {"[tru]", "expected ident at line 1 column 5"},
      {"[1] 2", "trailing characters at line 1 column 5"},
  };
  for (const Case& c : cases) EXPECT_EQ(skip_error(c.text), c.expected) << "input: " << c.text;
}

TEST(JsonReader, DepthLimit) {
  // kMaxDepth nested arrays are read; one more fails at the offending bracket.
  std::string ok = std::string(kMaxDepth, '[') + std::string(kMaxDepth, ']');
  EXPECT_EQ(parse_error(ok), "ok");
  std::string deep = std::string(kMaxDepth + 1, '[') + std::string(kMaxDepth + 1, ']');
  EXPECT_EQ(parse_error(deep), "recursion limit exceeded at line 1 column 129");
  // Very deep input never exhausts the stack, neither read nor skipped.
  std::string huge(100000, '[');
  EXPECT_EQ(parse_error(huge), "recursion limit exceeded at line 1 column 129");
  EXPECT_EQ(skip_error(huge), "EOF while parsing a list at line 1 column 100000");
  EXPECT_EQ(skip_error(huge + std::string(100000, ']')), "ok");
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_EQ(parse_error(objects), "recursion limit exceeded at line 1 column 641");
}

TEST(JsonReader, DecodesStrings) {
  const std::vector<Case> cases = {
      {"\"plain\"", "plain"},
      {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\/\b\f\n\r\t"},
      {"\"\\u0041\\u00e9\\u20AC\"", "A\xc3\xa9\xe2\x82\xac"},
      {"\"\\ud83d\\ude00\"", "\xf0\x9f\x98\x80"},
      {"\"\\uDBFF\\uDFFF\"", "\xf4\x8f\xbf\xbf"},
      {"\"\\u0000\"", std::string(1, '\0')},
      {"\"h\xc3\xa9 \xf0\x9f\x98\x80\"", "h\xc3\xa9 \xf0\x9f\x98\x80"},
  };
  for (const Case& c : cases) {
    Reader r(c.text);
    EXPECT_EQ(r.read_string(), c.expected) << c.text;
    r.finish();
  }
}

TEST(JsonReader, InvalidTypeDescribesTheValue) {
  const std::vector<Case> cases = {
      {"5", "invalid type: integer `5`, expected a string at line 1 column 1"},
      {" -17 ", "invalid type: integer `-17`, expected a string at line 1 column 4"},
      {"1.5", "invalid type: floating point `1.5`, expected a string at line 1 column 3"},
      {"1e2", "invalid type: floating point `100.0`, expected a string at line 1 column 3"},
      {"-0", "invalid type: floating point `-0.0`, expected a string at line 1 column 2"},
      {"18446744073709551615", "invalid type: integer `18446744073709551615`, expected a string at line 1 column 20"},
      {"18446744073709551616",
       "invalid type: floating point `18446744073709552000.0`, expected a string at line 1 column 20"},
      {"-9223372036854775808", "invalid type: integer `-9223372036854775808`, expected a string at line 1 column 20"},
      {"1e400", "number out of range at line 1 column 5"},
      {"true", "invalid type: boolean `true`, expected a string at line 1 column 4"},
      {"false", "invalid type: boolean `false`, expected a string at line 1 column 5"},
      {"null", "invalid type: null, expected a string at line 1 column 4"},
      {" [1]", "invalid type: sequence, expected a string at line 1 column 1"},
      {"{}", "invalid type: map, expected a string at line 1 column 0"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(error_of([&] {
                Reader r(c.text);
                if (r.peek() != Kind::String) r.invalid_type("a string");
              }),
              c.expected)
        << c.text;
  }
  EXPECT_EQ(error_of([] {
              Reader r("\"a\\\"b\\n\\u0001\"");
              r.invalid_type("x");
            }),
            "invalid type: string \"a\\\"b\\n\\u{1}\", expected x at line 1 column 14");
  EXPECT_EQ(error_of([] {
              Reader r("{\"a\":1}");
              r.begin_array();
            }),
            "invalid type: map, expected a sequence at line 1 column 0");
}

TEST(JsonReader, FieldMessages) {
  Reader r("{\"a\" : 1}");
  std::string key;
  r.begin_object();
  ASSERT_TRUE(r.next_key(key));
  EXPECT_EQ(key, "a");
  // Errors about the name point after it and its whitespace, before the ':'.
  EXPECT_EQ(error_of([&] { r.duplicate_field("a"); }), "duplicate field `a` at line 1 column 5");
  EXPECT_EQ(error_of([&] { r.missing_field("b"); }), "missing field `b` at line 1 column 5");
  EXPECT_EQ(error_of([&] { r.unknown_field("a", {"x"}); }), "unknown field `a`, expected `x` at line 1 column 5");
  EXPECT_EQ(error_of([&] { r.unknown_field("a", {"x", "y"}); }),
            "unknown field `a`, expected `x` or `y` at line 1 column 5");
  EXPECT_EQ(error_of([&] { r.unknown_field("a", {"x", "y", "z"}); }),
            "unknown field `a`, expected one of `x`, `y`, `z` at line 1 column 5");
  EXPECT_EQ(error_of([&] { r.unknown_field("a", {}); }), "unknown field `a`, there are no fields at line 1 column 5");
  EXPECT_EQ(error_of([&] { r.invalid_length(3, "64"); }), "invalid length 3, expected 64 at line 1 column 5");
  EXPECT_EQ(error_of([&] { r.fail("own words"); }), "own words at line 1 column 5");
  // A value left unread is skipped by the next next_key.
  EXPECT_FALSE(r.next_key(key));
  r.finish();
}

// A three-field record whose fields are strings.
struct Triple {
  std::string f[3];
};

Triple read_triple(const std::string& text) {
  Triple t;
  Reader r(text);
  read_record(r, "DLogProofExplicit", {"pk", "pk_t_rand_commitment", "challenge_response"},
              [&](Reader& rr, size_t i) {
                if (rr.peek() != Kind::String) rr.invalid_type("a string");
                t.f[i] = rr.read_string();
              });
  r.finish();
  return t;
}

TEST(JsonRecord, BothFormsAnyOrderUnknownSkipped) {
  const std::vector<std::string> texts = {
      "{\"pk\":\"a\",\"pk_t_rand_commitment\":\"b\",\"challenge_response\":\"c\"}",
      "{ \"challenge_response\" : \"c\" ,\n \"pk\":\"a\", \"pk_t_rand_commitment\":\"b\" }",
      "{\"x\":[1,{\"y\":null,\"z\":[[]]}],\"pk\":\"a\",\"pk_t_rand_commitment\":\"b\",\"w\":\"\\u0041\","
      "\"challenge_response\":\"c\",\"v\":-1.5e3}",
      "[\"a\",\"b\",\"c\"]",
      " [ \"a\" , \"b\" , \"c\" ] ",
  };
  for (const std::string& text : texts) {
    Triple t;
    EXPECT_EQ(error_of([&] { t = read_triple(text); }), "ok") << text;
    EXPECT_EQ(t.f[0], "a");
    EXPECT_EQ(t.f[1], "b");
    EXPECT_EQ(t.f[2], "c");
  }
}

TEST(JsonRecord, Errors) {
  const std::string with = ", expected struct DLogProofExplicit with 3 elements at line 1 column ";
  const std::vector<Case> cases = {
      {"{}", "missing field `pk` at line 1 column 2"},
      {"{\"pk\":\"a\",\"challenge_response\":\"c\"}", "missing field `pk_t_rand_commitment` at line 1 column 35"},
      {"{\"pk\":\"a\",\"pk\":\"b\"}", "duplicate field `pk` at line 1 column 14"},
      {"{\"pk\":\"a\",\"pk\" :\"b\"}", "duplicate field `pk` at line 1 column 15"},
      {"{\"pk\":5}", "invalid type: integer `5`, expected a string at line 1 column 7"},
      {"{\"pk\":\"a\",\"x\":[1,}", "expected value at line 1 column 18"},
      {"[]", "invalid length 0" + with + "2"},
      {"[\"a\",\"b\"]", "invalid length 2" + with + "9"},
      {"[\"a\",\"b\",\"c\",\"d\"]", "invalid length 4" + with + "17"},
      {"[\"a\",\"b\",\"c\",[1],{},5]", "invalid length 6" + with + "22"},
      {"[\"a\",\"b\",\"c\",]", "trailing comma at line 1 column 14"},
      {"\"x\"", "invalid type: string \"x\", expected struct DLogProofExplicit at line 1 column 3"},
      {"5", "invalid type: integer `5`, expected struct DLogProofExplicit at line 1 column 1"},
      {"null", "invalid type: null, expected struct DLogProofExplicit at line 1 column 4"},
      {"", "EOF while parsing a value at line 1 column 0"},
      {"{\"pk\":\"a\",\"pk_t_rand_commitment\":\"b\",\"challenge_response\":\"c\"} x",
       "trailing characters at line 1 column 64"},
  };
  for (const Case& c : cases) EXPECT_EQ(error_of([&] { read_triple(c.text); }), c.expected) << c.text;
}

TEST(JsonRecord, NestedRecords) {
  // An outer record whose second field is itself a record.
  auto read = [](const std::string& text) {
    std::string got;
    Reader r(text);
    read_record(r, "Outer", {"a", "inner"}, [&](Reader& rr, size_t i) {
      if (i == 0) {
        got += rr.read_string();
        return;
      }
      read_record(rr, "Inner", {"b"}, [&](Reader& r3, size_t) { got += "/" + r3.read_string(); });
    });
    r.finish();
    return got;
  };
  EXPECT_EQ(read("{\"inner\":{\"b\":\"y\"},\"a\":\"x\"}"), "/yx");
  EXPECT_EQ(read("[\"x\",[\"y\"]]"), "x/y");
  EXPECT_EQ(error_of([&] { read("{\"a\":\"x\",\"inner\":[]}"); }),
            "invalid length 0, expected struct Inner with 1 elements at line 1 column 19");
  EXPECT_EQ(error_of([&] { read("{\"a\":\"x\",\"inner\":{}}"); }), "missing field `b` at line 1 column 19");
  EXPECT_EQ(error_of([&] { read("{\"a\":\"x\",\"inner\":\"s\"}"); }),
            "invalid type: string \"s\", expected struct Inner at line 1 column 20");
}

TEST(JsonWriter, Layouts) {
  Value inner = Value::object();
  inner.set("e", Value::string("z"));
  Value list = Value::array();
  list.push(Value::string("y")).push(inner);
  Value v = Value::object();
  v.set("a", Value::string("x")).set("b", Value::array()).set("c", Value::object()).set("d", list);
  EXPECT_EQ(write_pretty(v),
            "{\n"
            "  \"a\": \"x\",\n"
            "  \"b\": [],\n"
            "  \"c\": {},\n"
            "  \"d\": [\n"
            "    \"y\",\n"
            "    {\n"
            "      \"e\": \"z\"\n"
            "    }\n"
            "  ]\n"
            "}");
  EXPECT_EQ(write_compact(v), "{\"a\":\"x\",\"b\":[],\"c\":{},\"d\":[\"y\",{\"e\":\"z\"}]}");
  EXPECT_EQ(write_pretty(Value::string("s")), "\"s\"");
  EXPECT_EQ(write_pretty(Value::object()), "{}");
  EXPECT_EQ(write_pretty(Value::array()), "[]");
}

TEST(JsonWriter, Escapes) {
  std::string all;
  for (int c = 0; c < 0x20; ++c) all += char(c);
  all += "\"\\/\x7f" "\xc3\xa9\xf0\x9f\x98\x80";
  std::string out;
  append_quoted(out, all);
  EXPECT_EQ(out,
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
            "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
            "\\u001e\\u001f\\\"\\\\/\x7f\xc3\xa9\xf0\x9f\x98\x80\"");
  // Whatever is written reads back unchanged.
  Reader r(out);
  EXPECT_EQ(r.read_string(), all);
  r.finish();
}

TEST(JsonWriter, RoundTripThroughReader) {
  Value v = Value::object();
  Value pts = Value::array();
  for (int i = 0; i < 3; ++i) {
    Value p = Value::object();
    p.set("curve", Value::string("bn254")).set("point", Value::string(std::string(64, char('0' + i))));
    pts.push(p);
  }
  v.set("L", pts).set("k\"ey\n", Value::string("va\\l")).set("e", Value::array());
  for (const std::string& text : {write_pretty(v), write_compact(v)}) {
    Reader r(text);
    std::vector<std::string> seen;
    r.begin_object();
    std::string key;
    while (r.next_key(key)) {
      seen.push_back(key);
      if (key == "L") {
        r.begin_array();
        int n = 0;
        while (r.next_element()) {
          read_record(r, "P", {"curve", "point"}, [&](Reader& rr, size_t i) {
            std::string s = rr.read_string();
            EXPECT_EQ(s, i == 0 ? std::string("bn254") : std::string(64, char('0' + n)));
          });
          ++n;
        }
        EXPECT_EQ(n, 3);
      } else if (key == "e") {
        r.begin_array();
        EXPECT_FALSE(r.next_element());
      } else {
        EXPECT_EQ(r.read_string(), "va\\l");
      }
    }
    r.finish();
    EXPECT_EQ(seen, (std::vector<std::string>{"L", "k\"ey\n", "e"}));
  }
}

TEST(JsonWriter, MergeSorted) {
  Value a = Value::object();
  a.set("pk_t_rand_commitment", Value::string("1")).set("pk", Value::string("2"))
      .set("challenge_response", Value::string("3"));
  Value b = Value::object();
  b.set("chalrsph2r", Value::string("4")).set("challengepk", Value::string("5"));
  Value m = merge_sorted(a, b);
  std::vector<std::string> keys;
  for (const auto& [k, _] : m.members()) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"challenge_response", "challengepk", "chalrsph2r", "pk",
                                            "pk_t_rand_commitment"}));
  // Byte order: upper case before lower case, bytes >= 0x80 last.
  Value c = Value::object();
  c.set("\xc3\xa9", Value::string("")).set("b", Value::string("")).set("B", Value::string(""));
  keys.clear();
  Value mc = merge_sorted(c, Value::object());
  for (const auto& [k, _] : mc.members()) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"B", "b", "\xc3\xa9"}));
}

}  // namespace
