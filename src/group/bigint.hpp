// Arbitrary-precision signed integer: sign and magnitude. Values in this
// system stay within a few thousand bits, so schoolbook methods suffice.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nacrel {

class BigInt {
 public:
  BigInt() = default;  // zero
  static BigInt from_u64(uint64_t v);
  static BigInt from_i64(int64_t v);
  static BigInt one() { return from_u64(1); }
  // Non-negative integer of big-endian bytes; leading zeros allowed; empty gives 0.
  static BigInt from_bytes(const uint8_t* data, size_t len);
  static BigInt from_bytes(const std::vector<uint8_t>& b) { return from_bytes(b.data(), b.size()); }

  // Magnitude as minimal big-endian bytes; zero is {0x00}; the sign is dropped.
  std::vector<uint8_t> to_bytes() const;
  // Lower-case hex of the magnitude, "0" for zero, "-" in front when negative.
  std::string to_hex() const;
  // Decimal, "-" in front when negative.
  std::string to_dec() const;

  bool is_zero() const { return mag_.empty(); }
  bool is_negative() const { return neg_; }
  // Low 64 bits of the magnitude.
  uint64_t low_u64() const { return mag_.empty() ? 0 : mag_[0]; }
  size_t bit_length() const;  // of the magnitude
  bool bit(size_t i) const;   // of the magnitude

  friend BigInt operator+(const BigInt& a, const BigInt& b);
  friend BigInt operator-(const BigInt& a, const BigInt& b);
  friend BigInt operator*(const BigInt& a, const BigInt& b);
  BigInt operator-() const;
  // Truncating division and remainder (remainder has the sign of a);
  // a zero divisor throws InternalFailure.
  static void divmod_trunc(const BigInt& a, const BigInt& b, BigInt& q, BigInt& rem);

  // self^e.
  BigInt pow(uint32_t e) const;
  // a^e mod m (floored), for e >= 0 and m != 0; otherwise InternalFailure.
  static BigInt mod_pow(const BigInt& a, const BigInt& e, const BigInt& m);
  // ((a mod m) + (b mod m)) mod m, floored remainders.
  static BigInt mod_add(const BigInt& a, const BigInt& b, const BigInt& m);
  // ((a mod m) - (b mod m) + m) mod m.
  static BigInt mod_sub(const BigInt& a, const BigInt& b, const BigInt& m);
  // ((a mod m) * (b mod m)) mod m.
  static BigInt mod_mul(const BigInt& a, const BigInt& b, const BigInt& m);
  // Remainder with the sign of a, plus m when negative; in [0, m) for m > 0.
  static BigInt modulus(const BigInt& a, const BigInt& m);

  // Bitwise and, negative operands in two's complement of unbounded width.
  friend BigInt operator&(const BigInt& a, const BigInt& b);
  BigInt operator<<(size_t n) const;
  // Floor division by 2^n.
  BigInt operator>>(size_t n) const;

  friend bool operator==(const BigInt& a, const BigInt& b) = default;
  friend std::strong_ordering operator<=>(const BigInt& a, const BigInt& b);

  // JSON form: hex of to_bytes(), two digits per byte ("00" for zero).
  std::string to_json_hex() const;
  // Reads an even-length string of 0-9a-fA-F as big-endian bytes (empty = 0);
  // false for odd length or any other character ("malformed hex encoding").
  static bool from_json_hex(std::string_view s, BigInt& out);

 private:
  bool neg_ = false;            // never true for zero
  std::vector<uint64_t> mag_;   // little-endian words, no high zero words
};

}  // namespace nacrel
