// Scalar: an element of Fr with the label of the operation that made it.
// The label never affects arithmetic or equality.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "group/bigint.hpp"
#include "group/field.hpp"

namespace nacrel {

// The backend refused bytes (debug text "DeserializationError").
struct DeserializationError {
  static constexpr const char* kDebug = "DeserializationError";
};

struct Bn254Scalar {
  const char* purpose;  // static text
  Fr fe;
};

class Scalar {
 public:
  Bn254Scalar v;

  Scalar() : v{"zero", Fr::zero()} {}
  Scalar(const char* purpose, const Fr& fe) : v{purpose, fe} {}

  // Uniform non-zero element from the OS random source ("random scalar").
  static Scalar random();
  // 0 ("zero").
  static Scalar zero() { return Scalar("zero", Fr::zero()); }
  // n mod r, negative n included ("from_bigint").
  static Scalar from_bigint(const BigInt& n);
  static Scalar from_i64(int64_t n);
  // Exactly 32 bytes, big-endian, reduced mod r ("deserialized Scalar");
  // false for any other length.
  static bool deserialize(const uint8_t* data, size_t len, Scalar& out);
  // The group order r (built once).
  static const BigInt& group_order();

  BigInt to_bigint() const;
  std::array<uint8_t, 32> serialize() const;
  const Fr& fe() const { return v.fe; }
  bool is_zero() const { return v.fe.is_zero(); }

  Scalar operator+(const Scalar& b) const { return Scalar("add", v.fe + b.v.fe); }
  Scalar operator-(const Scalar& b) const { return Scalar("sub", v.fe - b.v.fe); }
  Scalar operator*(const Scalar& b) const { return Scalar("mul", v.fe * b.v.fe); }
  Scalar operator-() const { return Scalar("neg", -v.fe); }
  // The in-place forms keep the label of the left operand.
  Scalar& operator+=(const Scalar& b) { v.fe += b.v.fe; return *this; }
  Scalar& operator-=(const Scalar& b) { v.fe -= b.v.fe; return *this; }
  Scalar& operator*=(const Scalar& b) { v.fe *= b.v.fe; return *this; }
  // False for zero ("invert").
  bool invert(Scalar& out) const;

  friend bool operator==(const Scalar& a, const Scalar& b) { return a.v.fe == b.v.fe; }
  friend bool operator!=(const Scalar& a, const Scalar& b) { return !(a == b); }
};

}  // namespace nacrel
