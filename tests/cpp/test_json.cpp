// JSON reader errors (texts and positions), the record helper, and the writer.
#include <gtest/gtest.h>

#include <string>

#include "group/json.hpp"

using namespace nacrel;
using json::Kind;

namespace {

// Reads any value through the typed calls, the way records read their members.
void read_any(json::Reader& r) {
  std::string key;
  switch (r.peek()) {
    case Kind::Object:
      r.begin_object();
      while (r.next_key(key)) read_any(r);
      break;
    case Kind::Array:
      r.begin_array();
      while (r.next_element()) read_any(r);
      break;
    case Kind::String:
      r.read_string();
      break;
    default:
      r.skip_value();
  }
}

// "MESSAGE at line L column C" of the failure, or "ok".
template <class F>
std::string outcome(const std::string& text, F read) {
  try {
    json::Reader r(text);
    read(r);
    r.finish();
  } catch (const json::Error& e) {
    EXPECT_EQ(std::string(e.what()),
              e.message() + " at line " + std::to_string(e.line()) + " column " + std::to_string(e.column()));
    return e.what();
  }
  return "ok";
}

std::string typed(const std::string& text) { return outcome(text, read_any); }
std::string skipped(const std::string& text) { return outcome(text, [](json::Reader& r) { r.skip_value(); }); }
std::string as_string(const std::string& text) { return outcome(text, [](json::Reader& r) { r.read_string(); }); }

struct Case {
  std::string text;
  std::string want;
};

}  // namespace

TEST(JsonReader, SyntaxErrors) {
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"\"abc", "EOF while parsing a string at line 1 column 4"},
      {"\"ab\\", "EOF while parsing a string at line 1 column 4"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"x", "expected value at line 1 column 1"},
      {"[1,x]", "expected value at line 1 column 4"},
      {"[,1]", "expected value at line 1 column 2"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,2:3}", "key must be a string at line 1 column 8"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"\"\\x\"", "invalid escape at line 1 column 3"},
      {"\"\\u12G4\"", "invalid escape at line 1 column 7"},
      {"\"\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"\"\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
      {"\"\\uD800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"\"\\uD800\\n\"", "unexpected end of hex escape at line 1 column 9"},
      {"\"\\uD800", "EOF while parsing a string at line 1 column 7"},
      {"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"\"\xff\"", "invalid unicode code point at line 1 column 3"},
      {"\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 5"},  // encoded surrogate
      {"\"\xc0\xaf\"", "invalid unicode code point at line 1 column 4"},      // overlong
      {"1 2", "trailing characters at line 1 column 3"},
      {"{} x", "trailing characters at line 1 column 4"},
      {"tru", "EOF while parsing a value at line 1 column 3"},
      {"trux", "expected ident at line 1 column 4"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"-", "invalid number at line 1 column 1"},
      {"-a", "invalid number at line 1 column 2"},
      {"01", "invalid number at line 1 column 2"},
      {"1.", "invalid number at line 1 column 2"},
      {"1.e5", "invalid number at line 1 column 3"},
      {"1e", "invalid number at line 1 column 2"},
      {"1e+x", "invalid number at line 1 column 4"},
      {"+1", "expected value at line 1 column 1"},
      {".5", "expected value at line 1 column 1"},
      {"{\n  \"a\": 1,\n  \"b\" 2\n}", "expected `:` at line 3 column 7"},
      {"[\n1,\n]", "trailing comma at line 3 column 1"},
      {"{\n  \"a\": tru\n}", "expected ident at line 3 column 0"},  // the newline was consumed
      {"{\"a\": [\n  1,\n  2\n  }", "expected `,` or `]` at line 4 column 3"},
      {"\xef\xbb\xbf{}", "expected value at line 1 column 1"},  // no byte order mark
      {"[1]\n\n x", "trailing characters at line 3 column 2"},
  };
  for (const Case& c : cases) EXPECT_EQ(typed(c.text), c.want) << c.text;
}

TEST(JsonReader, SkippingValidatesEverything) {
  const Case cases[] = {
      {"[1, {\"a\": [true, false, null, \"\\u00e9\\n\"]}, -0.5e+3, {}, []]", "ok"},
      {"\"\\uDC00\"", "ok"},  // skipping checks only the shape of escapes
      {"[1,]", "expected value at line 1 column 4"},
      {"{\"a\":1,}", "key must be a string at line 1 column 8"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{\"a\":1 2}", "expected `,` or `}` at line 1 column 8"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"[01]", "invalid number at line 1 column 3"},
      {"[1.]", "invalid number at line 1 column 4"},
      {"[1e]", "invalid number at line 1 column 4"},
      {"[-]", "invalid number at line 1 column 3"},
      {"[\"\\q\"]", "invalid escape at line 1 column 4"},
      {"[\"a\tb\"]", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4"},
      {"[tru]", "expected ident at line 1 column 5"},
      {"[}", "expected value at line 1 column 2"},
      {"{]", "key must be a string at line 1 column 2"},
      {"[1]]", "trailing characters at line 1 column 4"},
  };
  for (const Case& c : cases) EXPECT_EQ(skipped(c.text), c.want) << c.text;
}

TEST(JsonReader, DepthLimitInsteadOfStackExhaustion) {
  const std::string ok_depth = std::string(json::kMaxDepth, '[') + std::string(json::kMaxDepth, ']');
  EXPECT_EQ(typed(ok_depth), "ok");
  EXPECT_EQ(skipped(ok_depth), "ok");
  const std::string deep(100000, '[');
  const std::string want = "recursion limit exceeded at line 1 column " + std::to_string(json::kMaxDepth + 1);
  EXPECT_EQ(typed(deep), want);
  EXPECT_EQ(skipped(deep), want);
  EXPECT_EQ(typed(std::string(50000, '[') + std::string(50000, ']')), want);
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_EQ(skipped(objects).substr(0, 24), "recursion limit exceeded");
  // The limit counts the levels already open around a skipped value.
  EXPECT_EQ(outcome("[[" + std::string(json::kMaxDepth - 1, '['),
                    [](json::Reader& r) {
                      r.begin_array();
                      r.next_element();
                      r.skip_value();
                    }),
            want);
}

TEST(JsonReader, LongInputsReadInLinearTime) {
  // Quadratic position or string handling would take minutes here.
  std::string big = "[";
  for (int i = 0; i < 200000; ++i) big += "\"abcdefgh\\n\",\n";
  big += "1";
  EXPECT_EQ(typed(big + "]"), "ok");
  EXPECT_EQ(skipped(big + "]"), "ok");
  EXPECT_EQ(typed(big + "x"), "expected `,` or `]` at line 200001 column 2");
}

TEST(JsonReader, DecodesStrings) {
  json::Reader r(
      "[\"plain\", \"q\\\" b\\\\ s\\/ \\b\\f\\n\\r\\t\", \"\\u0041\\u00e9\\u20ac\", \"\\ud83d\\ude00\", \"\\uD834\\uDD1E\","
      " \"h\xc3\xa9 \xf0\x9f\x98\x80\", \"\", \"\\uDBFF\\uDFFF\\u0000\"]");
  const std::string want[] = {"plain", "q\" b\\ s/ \b\f\n\r\t", "A\xc3\xa9\xe2\x82\xac", "\xf0\x9f\x98\x80",
                              "\xf0\x9d\x84\x9e", "h\xc3\xa9 \xf0\x9f\x98\x80", "",
                              std::string("\xf4\x8f\xbf\xbf\0", 5)};
  r.begin_array();
  for (const std::string& w : want) {
    ASSERT_TRUE(r.next_element());
    EXPECT_EQ(r.read_string(), w);
  }
  EXPECT_FALSE(r.next_element());
  r.finish();
}

TEST(JsonReader, InvalidTypeDescribesTheValue) {
  const Case cases[] = {
      {"5", "invalid type: integer `5`, expected a string at line 1 column 1"},
      {" -5 ", "invalid type: integer `-5`, expected a string at line 1 column 3"},
      {"1.5", "invalid type: floating point `1.5`, expected a string at line 1 column 3"},
      {"1e3", "invalid type: floating point `1000.0`, expected a string at line 1 column 3"},
      {"-0", "invalid type: floating point `-0.0`, expected a string at line 1 column 2"},
      {"0.1e-5", "invalid type: floating point `0.000001`, expected a string at line 1 column 6"},
      {"18446744073709551615", "invalid type: integer `18446744073709551615`, expected a string at line 1 column 20"},
      {"18446744073709551616",
       "invalid type: floating point `18446744073709552000.0`, expected a string at line 1 column 20"},
      {"-9223372036854775808", "invalid type: integer `-9223372036854775808`, expected a string at line 1 column 20"},
      {"-9223372036854775809",
       "invalid type: floating point `-9223372036854776000.0`, expected a string at line 1 column 20"},
      {"1e400", "number out of range at line 1 column 5"},
      {"-25e307", "number out of range at line 1 column 7"},
      {"1e-400", "invalid type: floating point `0.0`, expected a string at line 1 column 6"},
      {"-0.001e-330", "invalid type: floating point `-0.0`, expected a string at line 1 column 11"},
      {"0e99999", "invalid type: floating point `0.0`, expected a string at line 1 column 7"},
      {"123.5e-2", "invalid type: floating point `1.235`, expected a string at line 1 column 8"},
      {"true", "invalid type: boolean `true`, expected a string at line 1 column 4"},
      {"false", "invalid type: boolean `false`, expected a string at line 1 column 5"},
      {"null", "invalid type: null, expected a string at line 1 column 4"},
      {"  [1]", "invalid type: sequence, expected a string at line 1 column 2"},
      {"{}", "invalid type: map, expected a string at line 1 column 0"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"nulx", "expected ident at line 1 column 4"},
  };
  for (const Case& c : cases) EXPECT_EQ(as_string(c.text), c.want) << c.text;
  EXPECT_EQ(outcome("\"a\\\"b\\\\c\\n\\u0001\"", [](json::Reader& r) { r.invalid_type("x"); }),
            "invalid type: string \"a\\\"b\\\\c\\n\\u{1}\", expected x at line 1 column 17");
}

TEST(JsonReader, FieldMessages) {
  auto run = [](auto f) { return outcome("{}", [&](json::Reader& r) { f(r); }); };
  EXPECT_EQ(run([](json::Reader& r) { r.missing_field("pk"); }), "missing field `pk` at line 1 column 0");
  EXPECT_EQ(run([](json::Reader& r) { r.duplicate_field("pk"); }), "duplicate field `pk` at line 1 column 0");
  EXPECT_EQ(run([](json::Reader& r) { r.invalid_length(2, "struct X with 3 elements"); }),
            "invalid length 2, expected struct X with 3 elements at line 1 column 0");
  EXPECT_EQ(run([](json::Reader& r) { r.unknown_field("x", {}); }),
            "unknown field `x`, there are no fields at line 1 column 0");
  EXPECT_EQ(run([](json::Reader& r) { r.unknown_field("x", {"a"}); }),
            "unknown field `x`, expected `a` at line 1 column 0");
  EXPECT_EQ(run([](json::Reader& r) { r.unknown_field("x", {"a", "b"}); }),
            "unknown field `x`, expected `a` or `b` at line 1 column 0");
  EXPECT_EQ(run([](json::Reader& r) { r.unknown_field("x", {"a", "b", "c"}); }),
            "unknown field `x`, expected one of `a`, `b`, `c` at line 1 column 0");
}

namespace {

struct Rec {
  std::string a, b;
  static Rec read(json::Reader& r) {
    Rec rec;
    json::read_struct(r, "Rec", {"a", "b"}, [&](size_t i, json::Reader& rd) { (i == 0 ? rec.a : rec.b) = rd.read_string(); });
    return rec;
  }
};

std::string rec_outcome(const std::string& text, Rec* out = nullptr) {
  return outcome(text, [&](json::Reader& r) {
    Rec rec = Rec::read(r);
    if (out) *out = rec;
  });
}

}  // namespace

TEST(JsonRecord, ObjectAndArrayForms) {
  Rec rec;
  EXPECT_EQ(rec_outcome("{\"b\": \"2\", \"zz\": [1, {\"q\": null}], \"a\": \"1\"}", &rec), "ok");
  EXPECT_EQ(rec.a, "1");
  EXPECT_EQ(rec.b, "2");
  EXPECT_EQ(rec_outcome(" [\"x\", \"y\"] ", &rec), "ok");
  EXPECT_EQ(rec.a, "x");
  EXPECT_EQ(rec.b, "y");
  const Case cases[] = {
      {"{}", "missing field `a` at line 1 column 2"},
      {"{\"b\":\"2\"}", "missing field `a` at line 1 column 9"},
      {"{\"a\":\"1\"}", "missing field `b` at line 1 column 9"},
      {"{\"a\":\"1\",\"a\":\"2\"}", "duplicate field `a` at line 1 column 12"},
      {"{\"a\":\"1\",\"a\" :\"2\"}", "duplicate field `a` at line 1 column 13"},
      {"{\"a\":5}", "invalid type: integer `5`, expected a string at line 1 column 6"},
      {"[]", "invalid length 0, expected struct Rec with 2 elements at line 1 column 2"},
      {"[\"x\"]", "invalid length 1, expected struct Rec with 2 elements at line 1 column 5"},
      {"[\"x\",\"y\",1,[2]]", "invalid length 4, expected struct Rec with 2 elements at line 1 column 15"},
      {"\"x\"", "invalid type: string \"x\", expected struct Rec at line 1 column 3"},
      {"7", "invalid type: integer `7`, expected struct Rec at line 1 column 1"},
      {"null", "invalid type: null, expected struct Rec at line 1 column 4"},
      {"{\"a\":\"1\",\"b\":\"2\",}", "trailing comma at line 1 column 18"},
      {"{\"a\":\"1\",\"b\":\"2\"} 1", "trailing characters at line 1 column 19"},
      {"{\"z\":[1,}", "expected value at line 1 column 9"},
  };
  for (const Case& c : cases) EXPECT_EQ(rec_outcome(c.text), c.want) << c.text;
}

TEST(JsonWriter, Layouts) {
  json::Value inner = json::Value::object();
  inner.set("curve", json::Value::string("bn254")).set("point", json::Value::string("00"));
  json::Value list = json::Value::array();
  list.push(inner).push(json::Value::string("s"));
  json::Value root = json::Value::object();
  root.set("L", list).set("E", json::Value::array()).set("O", json::Value::object()).set("x", json::Value::string("y"));
  EXPECT_EQ(json::write_pretty(root),
            "{\n"
            "  \"L\": [\n"
            "    {\n"
            "      \"curve\": \"bn254\",\n"
            "      \"point\": \"00\"\n"
            "    },\n"
            "    \"s\"\n"
            "  ],\n"
            "  \"E\": [],\n"
            "  \"O\": {},\n"
            "  \"x\": \"y\"\n"
            "}");
  EXPECT_EQ(json::write_compact(root), "{\"L\":[{\"curve\":\"bn254\",\"point\":\"00\"},\"s\"],\"E\":[],\"O\":{},\"x\":\"y\"}");
  EXPECT_EQ(json::write_pretty(json::Value::string("a")), "\"a\"");
  EXPECT_EQ(json::write_pretty(json::Value::array()), "[]");
  EXPECT_EQ(json::write_pretty(json::Value::object()), "{}");
}

TEST(JsonWriter, EscapesAndRoundTrips) {
  std::string out;
  json::append_quoted(out, std::string("q\" b\\ /\n\r\t\b\f\x01\x1f\x7f \xc3\xa9\xf0\x9f\x98\x80"));
  EXPECT_EQ(out, "\"q\\\" b\\\\ /\\n\\r\\t\\b\\f\\u0001\\u001f\x7f \xc3\xa9\xf0\x9f\x98\x80\"");
  std::string all;
  for (int c = 0; c < 128; ++c) all += char(c);
  all += "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
  json::Value v = json::Value::object();
  v.set(all, json::Value::string(all));
  for (const std::string& text : {json::write_pretty(v), json::write_compact(v)}) {
    json::Reader r(text);
    r.begin_object();
    std::string key;
    ASSERT_TRUE(r.next_key(key));
    EXPECT_EQ(key, all);
    EXPECT_EQ(r.read_string(), all);
    EXPECT_FALSE(r.next_key(key));
    r.finish();
  }
}

TEST(JsonWriter, MergeSortedByByteOrder) {
  json::Value a = json::Value::object();
  a.set("pk", json::Value::string("1")).set("pk_t_rand_commitment", json::Value::string("2"));
  a.set("challenge_response", json::Value::string("3"));
  json::Value b = json::Value::object();
  b.set("chalrsph2r", json::Value::string("4")).set("challengepk", json::Value::string("5")).set("Z", json::Value::string("6"));
  EXPECT_EQ(json::write_compact(json::merge_sorted(a, b)),
            "{\"Z\":\"6\",\"challenge_response\":\"3\",\"challengepk\":\"5\",\"chalrsph2r\":\"4\",\"pk\":\"1\","
            "\"pk_t_rand_commitment\":\"2\"}");
}

TEST(JsonRecord, NestedRecordsAndMemberPositions) {
  // An outer record whose second field is itself a record, in either form.
  auto read = [](const std::string& text) {
    std::string got;
    std::string result = outcome(text, [&](json::Reader& r) {
      json::read_struct(r, "Outer", {"a", "inner"}, [&](size_t i, json::Reader& rd) {
        if (i == 0) {
          got += rd.read_string();
          return;
        }
        json::read_struct(rd, "Inner", {"b"}, [&](size_t, json::Reader& r3) { got += "/" + r3.read_string(); });
      });
    });
    return result == "ok" ? got : result;
  };
  EXPECT_EQ(read("{\"inner\":{\"b\":\"y\"},\"a\":\"x\"}"), "/yx");
  EXPECT_EQ(read("[\"x\",[\"y\"]]"), "x/y");
  EXPECT_EQ(read("[\"x\",{\"b\":\"y\"}]"), "x/y");
  EXPECT_EQ(read("{\"a\":\"x\",\"inner\":[]}"),
            "invalid length 0, expected struct Inner with 1 elements at line 1 column 19");
  EXPECT_EQ(read("{\"a\":\"x\",\"inner\":{}}"), "missing field `b` at line 1 column 19");
  EXPECT_EQ(read("{\"a\":\"x\",\"inner\":{\"b\":\"1\",\"b\":\"2\"}}"), "duplicate field `b` at line 1 column 29");
  EXPECT_EQ(read("{\"a\":\"x\",\"inner\":\"s\"}"),
            "invalid type: string \"s\", expected struct Inner at line 1 column 20");
  EXPECT_EQ(read("{\"a\":\"x\",\"inner\":{\"b\":\"y\"}"), "EOF while parsing an object at line 1 column 26");

  // Errors about a member name sit after the name and its whitespace, before
  // the ':'; a value left unread is skipped by the next next_key.
  json::Reader r("{\"a\" : [1, {\"c\": 2}], \"b\": 3}");
  std::string key;
  r.begin_object();
  ASSERT_TRUE(r.next_key(key));
  EXPECT_EQ(key, "a");
  try {
    r.unknown_field(key, {"x", "y"});
    ADD_FAILURE();
  } catch (const json::Error& e) {
    EXPECT_STREQ(e.what(), "unknown field `a`, expected `x` or `y` at line 1 column 5");
  }
  ASSERT_TRUE(r.next_key(key));
  EXPECT_EQ(key, "b");
  EXPECT_FALSE(r.next_key(key));
  r.finish();
}
