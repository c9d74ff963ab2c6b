// Text forms of points and scalars: the point/scalar JSON objects nested in
// every proof record, and the bare hexadecimal texts exchanged with Python.
#pragma once

#include <string>
#include <string_view>

#include "group/error.hpp"
#include "group/json.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"

namespace nacrel {

// Lower-case hex of bytes.
std::string hex_encode(const uint8_t* data, size_t len);
// Hex (either case) of exactly len/2 bytes into out; false on a non-hex character.
bool hex_decode(std::string_view hex, uint8_t* out);
// The same for exactly 2*len characters, without a branch on them (for
// secret texts); out is written in full even when the text is refused.
bool hex_decode_ct(const char* hex, uint8_t* out, size_t len);

// Reads a point JSON value (object in any order, or [curve, point] array).
Point read_point(json::Reader& r);
// Reads a scalar JSON value (object in any order, or [curve, scalar] array).
Scalar read_scalar(json::Reader& r);
// Reads a JSON array of point JSON values.
std::vector<Point> read_point_list(json::Reader& r);

// {"curve": "bn254", "point": "<compressed hex>"}.
json::Value point_json(const Point& p);
// {"curve": "bn254", "scalar": "<element bytes hex>"}.
json::Value scalar_json(const Scalar& s);

// Bare text -> Point through the compact point JSON text; stops with the unwrap message.
Point parse_string_to_scep256k1point(std::string_view s);
// Bare text -> Scalar through the compact scalar JSON text; stops with the unwrap message.
Scalar parse_string_to_scep256k1scalar(std::string_view s);
// The 64 lower-case hex digits of the compressed encoding.
std::string parse_scep256k1point_to_string(const Point& p);
// The 64 lower-case hex digits of the element bytes.
std::string parse_scep256k1scalar_to_string(const Scalar& s);

// Parses a whole JSON document with read(reader), then requires the end of
// the text; any reading error stops with the unwrap message.
template <class F>
auto parse_document(std::string_view text, F&& read) {
  try {
    json::Reader r(text);
    auto value = read(r);
    r.finish();
    return value;
  } catch (const json::Error& e) {
    fail(std::string(kUnwrapPrefix) + e.text());
  }
}

}  // namespace nacrel
