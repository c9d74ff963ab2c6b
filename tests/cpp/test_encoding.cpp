// Point and scalar texts: the bare hex forms, the nested JSON objects and
// every refusal text a caller can meet.
#include <gtest/gtest.h>

#include <string>

#include "group/encoding.hpp"
#include "group/error.hpp"
#include "failure_util.hpp"

using namespace nacrel;

using test_util::failure_of;
using test_util::unwrapped;

namespace {

const std::string kG = std::string(63, '0') + "1";
const std::string kMinusG = "8" + std::string(62, '0') + "1";
const std::string kIdentity = "40" + std::string(62, '0');
// Group order r: decodes to the zero scalar.
const std::string kOrderHex = "30644e72e131a029b85045b68181585d2833e84879b9709143e1f593f0000001";

Point read_point_text(const std::string& text) {
  return parse_document(text, [](json::Reader& r) { return read_point(r); });
}

Scalar read_scalar_text(const std::string& text) {
  return parse_document(text, [](json::Reader& r) { return read_scalar(r); });
}

std::string obj(const std::string& curve, const std::string& member, const std::string& value) {
  return "{\"curve\":" + curve + ",\"" + member + "\":" + value + "}";
}

}  // namespace

TEST(BareText, WritesKnownPoints) {
  EXPECT_EQ(parse_scep256k1point_to_string(Point::generator()), kG);
  EXPECT_EQ(parse_scep256k1point_to_string(-Point::generator()), kMinusG);
  EXPECT_EQ(parse_scep256k1point_to_string(Point::identity()), kIdentity);
  EXPECT_EQ(parse_scep256k1scalar_to_string(Scalar::from_i64(1)), kG);
}

TEST(BareText, ReadsEveryAcceptedForm) {
  const Point g = Point::generator();
  EXPECT_EQ(parse_string_to_scep256k1point(kG), g);
  EXPECT_EQ(parse_string_to_scep256k1point(kMinusG), -g);
  EXPECT_TRUE(parse_string_to_scep256k1point(kIdentity).is_identity());
  // 128 digits: the uncompressed form, y = 2 then x = 1.
  EXPECT_EQ(parse_string_to_scep256k1point(std::string(63, '0') + "2" + kG), g);
  // Upper-case digits read the same.
  std::string p2 = parse_scep256k1point_to_string(g * Scalar::from_i64(123456789));
  std::string p2_upper = p2;
  for (char& c : p2_upper) c = char(std::toupper(c));
  EXPECT_EQ(parse_string_to_scep256k1point(p2_upper), parse_string_to_scep256k1point(p2));
  EXPECT_EQ(parse_string_to_scep256k1point(p2).v.purpose, std::string("deserialized point"));

  EXPECT_TRUE(parse_string_to_scep256k1scalar(kOrderHex).is_zero());
  EXPECT_EQ(parse_string_to_scep256k1scalar(kG), Scalar::from_i64(1));
  EXPECT_EQ(parse_string_to_scep256k1scalar(std::string(64, 'F')),
            Scalar::from_bigint(BigInt::one() << 256) - Scalar::from_i64(1));
}

TEST(BareText, RoundTripsPointsAndScalars) {
  Point p = Point::generator();
  Scalar s = Scalar::from_i64(-7);
  for (int i = 0; i < 20; ++i) {
    p = p * Scalar::random();
    s = s * Scalar::random();
    EXPECT_EQ(parse_string_to_scep256k1point(parse_scep256k1point_to_string(p)), p);
    EXPECT_EQ(parse_string_to_scep256k1point(parse_scep256k1point_to_string(-p)), -p);
    EXPECT_EQ(parse_string_to_scep256k1scalar(parse_scep256k1scalar_to_string(s)), s);
  }
  EXPECT_TRUE(parse_string_to_scep256k1point(parse_scep256k1point_to_string(Point::identity())).is_identity());
  EXPECT_TRUE(parse_string_to_scep256k1scalar(parse_scep256k1scalar_to_string(Scalar::zero())).is_zero());
}

TEST(BareText, RefusalTexts) {
  struct Case {
    std::string input;
    bool scalar;
    std::string message;
  } cases[] = {
      {std::string(63, '0'), false, "invalid point"},
      {std::string(65, '0'), false, "invalid point"},
      {"", false, "invalid point"},
      {std::string(127, '0'), false, "invalid point"},
      {std::string(63, '0') + "g", false, "malformed hex encoding"},
      {"zz" + std::string(62, '0'), false, "malformed hex encoding"},
      {std::string(64, '0'), false, "invalid point: failed to deserialize the point"},  // 3 is no square
      {"c0" + std::string(62, '0'), false, "invalid point: failed to deserialize the point"},
      // x = p with the flags cleared.
      {"30644e72e131a029b85045b68181585d97816a916871ca8d3c208c16d87cfd47", false,
       "invalid point: failed to deserialize the point"},
      // (x, y) = (1, 1) uncompressed: not on the curve.
      {std::string(63, '0') + "1" + std::string(63, '0') + "1", false,
       "invalid point: failed to deserialize the point"},
      {std::string(62, '0'), true, "invalid length 62, expected 64"},
      {std::string(66, '0'), true, "invalid length 66, expected 64"},
      {std::string(63, '0') + "x", true, "malformed hex encoding"},
      {"x" + std::string(63, '0'), true, "malformed hex encoding"},
      {std::string(32, 'a') + "G" + std::string(31, 'F'), true, "malformed hex encoding"},
  };
  for (const Case& c : cases) {
    std::string got = failure_of([&] {
      if (c.scalar)
        parse_string_to_scep256k1scalar(c.input);
      else
        parse_string_to_scep256k1point(c.input);
    });
    EXPECT_EQ(unwrapped(got), c.message) << "input " << c.input;
  }
}

TEST(BareText, UnescapedInsertionOnlyEverFails) {
  // The text goes into the JSON document as it is; quotes and backslashes
  // change the document, and the result is a refusal, never a wrong point.
  for (const std::string& s : {kG + "\"", "\"" + kG, kG + "\",\"curve\":\"bn254", kG + "\\", std::string("\"}")}) {
    EXPECT_NE(failure_of([&] { parse_string_to_scep256k1point(s); }), "") << s;
  }
}

TEST(JsonObjects, AcceptsAnyOrderAndTheArrayForm) {
  const Point g = Point::generator();
  EXPECT_EQ(read_point_text("{\"point\":\"" + kG + "\",\"curve\":\"bn254\"}"), g);
  EXPECT_EQ(read_point_text(" [ \"bn254\" , \"" + kG + "\" ] "), g);
  EXPECT_EQ(read_point_text("{\n  \"curve\": \"bn254\",\n  \"point\": \"" + kG + "\"\n}"), g);
  EXPECT_EQ(read_scalar_text("[\"bn254\",\"" + kG + "\"]"), Scalar::from_i64(1));
  EXPECT_EQ(read_scalar_text("{\"scalar\":\"" + kG + "\",\"curve\":\"bn254\"}"), Scalar::from_i64(1));
}

TEST(JsonObjects, RefusalTexts) {
  const std::string pt = "\"" + kG + "\"";
  struct Case {
    std::string text;
    bool scalar;
    std::string message;
  } cases[] = {
      {obj("\"BN254\"", "point", pt), false, "belongs to BN254 curve, expected bn254 curve"},
      {obj("\"secp256k1\"", "point", pt), false, "belongs to secp256k1 curve, expected bn254 curve"},
      // A NUL quoted from the input stays in the message, and so does the position after it.
      {obj("\"a\\u0000b\"", "point", pt), false, std::string("belongs to a") + '\0' + "b curve, expected bn254 curve"},
      {"{\"curve\":\"bn254\",\"point\":" + pt + ",\"x\\u0000\":1}", false,
       std::string("unknown field `x") + '\0' + "`, expected `curve` or `point`"},
      {obj("5", "point", pt), false, "invalid type: integer `5`, expected curve name (constrained to be 'bn254')"},
      {obj("\"bn254\"", "point", "5"), false, "invalid type: integer `5`, expected point of bn254 curve"},
      {obj("\"bn254\"", "scalar", "true"), true, "invalid type: boolean `true`, expected scalar value of bn254 curve"},
      {"\"abc\"", false, "invalid type: string \"abc\", expected point of bn254 curve"},
      {"7", true, "invalid type: integer `7`, expected scalar of bn254 curve"},
      {"{\"point\":" + pt + "}", false, "missing field `curve_name`"},
      {"{\"curve\":\"bn254\"}", false, "missing field `point`"},
      {"{}", true, "missing field `curve_name`"},
      {"{\"curve\":\"bn254\"}", true, "missing field `scalar`"},
      {"{\"curve\":\"bn254\",\"curve\":\"bn254\",\"point\":" + pt + "}", false, "duplicate field `curve_name`"},
      {"{\"curve\":\"bn254\",\"point\":" + pt + ",\"point\":" + pt + "}", false, "duplicate field `point`"},
      {"{\"curve\":\"bn254\",\"point\":" + pt + ",\"x\":1}", false, "unknown field `x`, expected `curve` or `point`"},
      {"{\"curve\":\"bn254\",\"point\":" + pt + "}", true, "unknown field `point`, expected `curve` or `scalar`"},
      {"[]", false, "missing field `curve name`"},
      {"[\"bn254\"]", false, "missing field `point value`"},
      {"[\"bn254\"]", true, "missing field `scalar value`"},
      {"[\"bn254\"," + pt + ",1]", false, "point consist of too many fields"},
      {"[\"bn254\"," + pt + ",1]", true, "scalar consist of too many fields"},
      {"{\"curve\":\"bn254\",\"point\":" + pt + "} x", false, "trailing characters"},
  };
  for (const Case& c : cases) {
    std::string got = failure_of([&] {
      if (c.scalar)
        read_scalar_text(c.text);
      else
        read_point_text(c.text);
    });
    EXPECT_EQ(unwrapped(got), c.message) << "text " << c.text;
  }
}

TEST(JsonObjects, WritesCurveBeforeValue) {
  EXPECT_EQ(json::write_compact(point_json(Point::generator())),
            "{\"curve\":\"bn254\",\"point\":\"" + kG + "\"}");
  EXPECT_EQ(json::write_pretty(scalar_json(Scalar::from_i64(1))),
            "{\n  \"curve\": \"bn254\",\n  \"scalar\": \"" + kG + "\"\n}");
  // Written texts read back to equal values.
  Point p = Point::generator() * Scalar::random();
  EXPECT_EQ(read_point_text(json::write_pretty(point_json(p))), p);
  EXPECT_EQ(read_point_text(json::write_compact(point_json(Point::identity()))), Point::identity());
}
