#include "group/encoding.hpp"

#include "group/secret.hpp"

namespace nacrel {

namespace {

constexpr const char* kCurve = "bn254";
constexpr const char* kCurveExpected = "curve name (constrained to be 'bn254')";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What differs between the point and the scalar objects.
struct Form {
  const char* member;          // "point" / "scalar"
  const char* value_expected;  // expected-part when the member is not a string
  const char* whole_expected;  // expected-part when the value is neither object nor array
  const char* array_second;    // missing-field name of the array form's second element
  const char* too_many;        // error for a third array element
};

constexpr Form kPointForm{"point", "point of bn254 curve", "point of bn254 curve", "point value",
                          "point consist of too many fields"};
constexpr Form kScalarForm{"scalar", "scalar value of bn254 curve", "scalar of bn254 curve", "scalar value",
                           "scalar consist of too many fields"};

void read_curve(json::Reader& r) {
  if (r.peek() != json::Kind::String) r.invalid_type(kCurveExpected);
  std::string name = r.read_string();
  if (name != kCurve) r.fail("belongs to " + name + " curve, expected bn254 curve");
}

Point decode_point_string(json::Reader& r) {
  if (r.peek() != json::Kind::String) r.invalid_type(kPointForm.value_expected);
  std::string s = r.read_string();
  if (s.size() != 64 && s.size() != 128) r.fail("invalid point");
  uint8_t bytes[64];
  if (!hex_decode(s, bytes)) r.fail("malformed hex encoding");
  Point p;
  if (!Point::deserialize(bytes, s.size() / 2, p))
    r.fail(std::string("invalid point: ") + PointFromBytesError::kDisplay);
  return p;
}

Scalar decode_scalar_string(json::Reader& r) {
  if (r.peek() != json::Kind::String) r.invalid_type(kScalarForm.value_expected);
  std::string s = r.read_string();
  if (s.size() != 64) r.invalid_length(s.size(), "64");
  uint8_t bytes[32];
  if (!hex_decode(s, bytes)) r.fail("malformed hex encoding");
  Scalar k;
  Scalar::deserialize(bytes, 32, k);  // 32 bytes always decode
  return k;
}

// Shared reader of {"curve": ..., MEMBER: ...} and [curve, value].
template <class T, class Decode>
T read_curve_value(json::Reader& r, const Form& form, Decode decode) {
  json::Kind kind = r.peek();
  if (kind == json::Kind::Object) {
    r.begin_object();
    bool have_curve = false, have_value = false;
    T value{};
    std::string key;
    while (r.next_key(key)) {
      if (key == "curve") {
        if (have_curve) r.duplicate_field("curve_name");
        read_curve(r);
        have_curve = true;
      } else if (key == form.member) {
        if (have_value) r.duplicate_field(form.member);
        value = decode(r);
        have_value = true;
      } else {
        r.unknown_field(key, {"curve", form.member});
      }
    }
    if (!have_curve) r.missing_field("curve_name");
    if (!have_value) r.missing_field(form.member);
    return value;
  }
  if (kind == json::Kind::Array) {
    r.begin_array();
    if (!r.next_element()) r.missing_field("curve name");
    read_curve(r);
    if (!r.next_element()) r.missing_field(form.array_second);
    T value = decode(r);
    if (r.next_element()) r.fail(form.too_many);
    return value;
  }
  r.invalid_type(form.whole_expected);
}

}  // namespace

// Without a table: the digits of secret bytes (a blinding printed by
// rand_r.get) must not select memory.
std::string hex_encode(const uint8_t* data, size_t len) {
  // Nibble v < 10 gives '0' + v; from 10 on, the mask adds 'a' - '0' - 10.
  auto digit = [](unsigned v) {
    const unsigned ge10 = (9u - v) >> 8;  // all-ones in the low byte when v > 9
    return char('0' + v + (ge10 & unsigned('a' - '0' - 10)));
  };
  std::string out(2 * len, '0');
  for (size_t i = 0; i < len; ++i) {
    out[2 * i] = digit(data[i] >> 4);
    out[2 * i + 1] = digit(data[i] & 15u);
  }
  return out;
}

namespace {

// The value of hex digit c (either case) and an all-ones mask when c is one,
// by arithmetic on c alone.
inline uint32_t hex_value_ct(uint8_t c, uint32_t& valid) {
  const int32_t d = int32_t(c) - '0';
  const int32_t l = int32_t(c | 0x20) - 'a';  // 'A'-'F' fold onto 'a'-'f'; nothing else does
  const uint32_t is_d = ~uint32_t((d | (9 - d)) >> 31);
  const uint32_t is_l = ~uint32_t((l | (5 - l)) >> 31);
  valid = is_d | is_l;
  return (uint32_t(d) & is_d) | (uint32_t(l + 10) & is_l);
}

}  // namespace

bool hex_decode_ct(const char* hex, uint8_t* out, size_t len) {
  uint32_t all_valid = ~uint32_t(0);
  for (size_t i = 0; i < len; ++i) {
    uint32_t vh, vl;
    const uint32_t hi = hex_value_ct(uint8_t(hex[2 * i]), vh);
    const uint32_t lo = hex_value_ct(uint8_t(hex[2 * i + 1]), vl);
    all_valid &= vh & vl;
    out[i] = uint8_t(hi << 4 | lo);
  }
  return all_valid != 0;
}

bool hex_decode(std::string_view hex, uint8_t* out) {
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    int hi = hex_value(hex[i]), lo = hex_value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i / 2] = uint8_t(hi << 4 | lo);
  }
  return true;
}

Point read_point(json::Reader& r) { return read_curve_value<Point>(r, kPointForm, decode_point_string); }

Scalar read_scalar(json::Reader& r) { return read_curve_value<Scalar>(r, kScalarForm, decode_scalar_string); }

std::vector<Point> read_point_list(json::Reader& r) {
  if (r.peek() != json::Kind::Array) r.invalid_type("a sequence");
  r.begin_array();
  std::vector<Point> out;
  while (r.next_element()) out.push_back(read_point(r));
  return out;
}

json::Value point_json(const Point& p) {
  std::array<uint8_t, 32> c = p.serialize_compressed();
  json::Value v = json::Value::object();
  v.set("curve", json::Value::string(kCurve));
  v.set("point", json::Value::string(hex_encode(c.data(), c.size())));
  return v;
}

json::Value scalar_json(const Scalar& s) {
  std::array<uint8_t, 32> b = s.serialize();
  json::Value v = json::Value::object();
  v.set("curve", json::Value::string(kCurve));
  v.set("scalar", json::Value::string(hex_encode(b.data(), b.size())));
  return v;
}

Point parse_string_to_scep256k1point(std::string_view s) {
  // The text is inserted unescaped, exactly as a caller-built JSON text would be.
  std::string text = "{\"curve\":\"bn254\",\"point\":\"";
  text.append(s);
  text += "\"}";
  return parse_document(text, [](json::Reader& r) { return read_point(r); });
}

Scalar parse_string_to_scep256k1scalar(std::string_view s) {
  // The text may hold a secret (a blinding or a key read back). 64 hex
  // digits, the only accepted form, decode without a branch on the digits;
  // any other text takes the JSON reader below for its refusal message.
  if (s.size() == 64) {
    Wiped<std::array<uint8_t, 32>> bytes;
    // Whether the text is valid: a refused text stops with its message anyway.
    bool ok = hex_decode_ct(s.data(), bytes->data(), 32);
    ct::publish(ok);
    if (ok) {
      Scalar k;
      Scalar::deserialize(bytes->data(), 32, k);  // 32 bytes always decode
      return k;
    }
  }
  std::string text = "{\"curve\":\"bn254\",\"scalar\":\"";
  text.append(s);
  text += "\"}";
  return parse_document(text, [](json::Reader& r) { return read_scalar(r); });
}

std::string parse_scep256k1point_to_string(const Point& p) {
  std::array<uint8_t, 32> c = p.serialize_compressed();
  return hex_encode(c.data(), c.size());
}

std::string parse_scep256k1scalar_to_string(const Scalar& s) {
  // The scalar may be a secret (a blinding or a key): its bytes do not stay behind.
  Wiped<std::array<uint8_t, 32>> b(s.serialize());
  return hex_encode(b->data(), b->size());
}

}  // namespace nacrel
