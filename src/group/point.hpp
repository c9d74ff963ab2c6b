// Point: an element of BN254 G1 (identity included) with the label of the
// operation that made it. The label never affects arithmetic or equality and
// shows only in the debug text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "group/bigint.hpp"
#include "group/curve.hpp"
#include "group/scalar.hpp"

namespace nacrel {

// Point decoding failure handed to callers; its one variant is
// DeserializationError, displayed as "failed to deserialize the point".
struct PointFromBytesError {
  static constexpr const char* kDisplay = "failed to deserialize the point";
  static constexpr const char* kDebug = "DeserializationError";
};

struct Bn254Point {
  const char* purpose;  // static text
  G1Affine ge;
};

class Point {
 public:
  Bn254Point v;

  Point() : v{"zero", G1Affine::identity()} {}
  Point(const char* purpose, const G1Affine& ge) : v{purpose, ge} {}

  // G = (1, 2) ("base_point"), built once.
  static const Point& generator();
  static Point identity() { return Point(); }
  // Coordinates reduced mod p; stops with "assertion failed: point.is_on_curve()"
  // when (x, y) is not on the curve ("point_from_coords").
  static Point from_coords(const BigInt& x, const BigInt& y);
  // 32 or 64 bytes with full validation ("deserialized point"); false otherwise.
  static bool deserialize(const uint8_t* data, size_t len, Point& out);

  BigInt x_coord() const;
  BigInt y_coord() const;
  std::array<uint8_t, 32> serialize_compressed() const;
  std::array<uint8_t, 64> serialize_uncompressed() const;
  bool is_identity() const { return v.ge.infinity; }
  const G1Affine& ge() const { return v.ge; }

  Point operator+(const Point& b) const;   // "add_point"
  Point operator-(const Point& b) const;   // "sub_point"
  Point operator-() const;                 // keeps the label
  // Constant time in the scalar: the default for every product ("scalar_mul").
  Point operator*(const Scalar& k) const;
  // Variable time: public scalars only ("scalar_mul").
  Point mul_public(const Scalar& k) const;
  // The in-place forms keep the label of the left operand.
  Point& operator+=(const Point& b);
  Point& operator-=(const Point& b);
  Point& operator*=(const Scalar& k);

  // Four lines: "Bn254Point {", "    purpose: \"L\",", "    ge: (x, y),", "}".
  std::string debug_text() const;
  // One line: "Bn254Point { purpose: \"L\", ge: (x, y) }".
  std::string debug_text_compact() const;

  friend bool operator==(const Point& a, const Point& b) { return a.v.ge == b.v.ge; }
  friend bool operator!=(const Point& a, const Point& b) { return !(a == b); }
};

// a*x + b*y, both products in constant time, one normalisation ("scalar_mul").
Point lincomb_ct(const Point& a, const Scalar& x, const Point& b, const Scalar& y);

// Sum of points[i]*scalars[i] for public scalars ("scalar_mul"); n = 0 gives the identity.
Point msm_public(const Point* points, const Scalar* scalars, size_t n);
inline Point msm_public(const std::vector<Point>& points, const std::vector<Scalar>& scalars) {
  return msm_public(points.data(), scalars.data(), points.size() < scalars.size() ? points.size() : scalars.size());
}

}  // namespace nacrel
