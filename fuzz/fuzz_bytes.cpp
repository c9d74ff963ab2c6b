// Byte decoders: 32-byte compressed and 64-byte uncompressed points, 32-byte
// scalars (also behind from_bytes of the Python commitment class, which reads
// its 32 bytes as a scalar) and the big-endian integers of BigInt. The whole
// input and its first 32 and 64 bytes are decoded.
#include <algorithm>
#include <cstring>

#include "fuzz_util.hpp"
#include "group/bigint.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"

using namespace nacrel;

namespace {

void check_point(const uint8_t* data, size_t len) {
  Point p;
  const bool ok = Point::deserialize(data, len, p);
  if (len != 32 && len != 64) {
    fuzz::require(!ok, "point decoded from a length other than 32 or 64");
    return;
  }
  if (!ok) return;
  fuzz::require(p.ge().is_on_curve(), "decoded point is not on the curve");
  const std::array<uint8_t, 32> c = p.serialize_compressed();
  const std::array<uint8_t, 64> u = p.serialize_uncompressed();
  Point pc, pu;
  fuzz::require(Point::deserialize(c.data(), 32, pc) && pc == p, "compressed round trip changed the point");
  fuzz::require(Point::deserialize(u.data(), 64, pu) && pu == p, "uncompressed round trip changed the point");
  // Apart from the identity, whose flag ignores the other bits, every
  // accepted encoding is the canonical one, except that the uncompressed
  // form accepts and ignores a sign bit (bit 7 of byte 0).
  if (!p.is_identity()) {
    uint8_t given[64];
    std::memcpy(given, data, len);
    if (len == 64) given[0] &= 0x7F;
    const uint8_t* canonical = len == 32 ? c.data() : u.data();
    fuzz::require(std::memcmp(canonical, given, len) == 0, "a non-canonical point encoding was accepted");
  }
}

void check_scalar(const uint8_t* data, size_t len) {
  Scalar s;
  const bool ok = Scalar::deserialize(data, len, s);
  fuzz::require(ok == (len == 32), "scalar decoder accepts exactly 32 bytes");
  if (!ok) return;
  const BigInt expected = BigInt::modulus(BigInt::from_bytes(data, len), Scalar::group_order());
  fuzz::require(s.to_bigint() == expected, "scalar is not the bytes reduced mod r");
  const std::array<uint8_t, 32> b = s.serialize();
  Scalar again;
  fuzz::require(Scalar::deserialize(b.data(), 32, again) && again == s, "scalar round trip changed the value");
  fuzz::require(BigInt::from_bytes(b.data(), 32) == expected, "scalar bytes are not the canonical value");
}

void check_bigint(const uint8_t* data, size_t len) {
  const BigInt n = BigInt::from_bytes(data, len);
  fuzz::require(!n.is_negative(), "integer of bytes is negative");
  const std::vector<uint8_t> b = n.to_bytes();
  fuzz::require(!b.empty() && (b.size() == 1 || b[0] != 0), "integer bytes are not minimal");
  fuzz::require(BigInt::from_bytes(b) == n, "integer bytes round trip changed the value");
  // The minimal bytes are the input without its leading zeros.
  size_t skip = 0;
  while (skip < len && data[skip] == 0) ++skip;
  if (skip == len)
    fuzz::require(n.is_zero(), "zero bytes give a non-zero integer");
  else
    fuzz::require(b.size() == len - skip && std::equal(b.begin(), b.end(), data + skip),
                  "integer bytes differ from the input");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_point(data, size);
  check_scalar(data, size);
  check_bigint(data, size);
  for (size_t len : {size_t(32), size_t(64)}) {
    if (size <= len) continue;
    check_point(data, len);
    if (len == 32) check_scalar(data, len);
  }
  return 0;
}
