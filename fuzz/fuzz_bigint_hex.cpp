// BigInt hex: the even-length hex strings of the range proof's a_tag and
// b_tag. The decoder must accept exactly the even-length strings of hex
// digits, give the integer of their bytes and re-encode minimally. Input
// split at the first ',' also feeds two decoded integers through the
// arithmetic the proofs use, checked against its defining identities.
#include "fuzz_util.hpp"
#include "group/bigint.hpp"
#include "group/encoding.hpp"

using namespace nacrel;

namespace {

bool decode(std::string_view s, BigInt& out) {
  const bool ok = BigInt::from_json_hex(s, out);
  const bool valid = s.size() % 2 == 0 && s.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
  fuzz::require(ok == valid, "hex decoder accepts other than even-length hex digits");
  if (!ok) return false;
  std::vector<uint8_t> bytes(s.size() / 2);
  hex_decode(s, bytes.data());
  fuzz::require(out == BigInt::from_bytes(bytes), "hex decodes to another integer than its bytes");
  const std::string hex = out.to_json_hex();
  fuzz::require(hex.size() % 2 == 0 && (hex.size() == 2 || hex.compare(0, 2, "00") != 0), "hex not minimal");
  BigInt again;
  fuzz::require(BigInt::from_json_hex(hex, again) && again == out, "hex round trip changed the integer");
  const std::string plain = out.to_hex();
  fuzz::require(plain == "0" ? out.is_zero() : plain[0] != '0', "to_hex has leading zeros");
  return true;
}

void check_arithmetic(const BigInt& a, const BigInt& b) {
  fuzz::require((a + b) - b == a, "(a + b) - b != a");
  fuzz::require(a * b == b * a, "a * b != b * a");
  fuzz::require(((a << 67) >> 67) == a, "(a << 67) >> 67 != a");
  if (b.is_zero()) return;
  BigInt q, rem;
  BigInt::divmod_trunc(a, b, q, rem);
  fuzz::require(q * b + rem == a, "q * b + rem != a");
  fuzz::require(rem.bit_length() <= b.bit_length() && rem < b, "remainder not below the divisor");
  const BigInt m = BigInt::modulus(a, b);
  fuzz::require(m >= BigInt() && m < b, "modulus outside [0, b)");
  fuzz::require(BigInt::mod_mul(a, a, b) == BigInt::modulus(a * a, b), "mod_mul != (a * a) mod b");
  fuzz::require(BigInt::mod_pow(a, BigInt::from_u64(3), b) == BigInt::modulus(a * a * a, b),
                "mod_pow(a, 3) != a^3 mod b");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::text_of(data, size);
  BigInt whole;
  decode(text, whole);
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) return 0;
  BigInt a, b;
  if (decode(text.substr(0, comma), a) && decode(text.substr(comma + 1), b)) check_arithmetic(a, b);
  return 0;
}
