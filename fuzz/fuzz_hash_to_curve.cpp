// Hash to curve: any bytes, read as one big-endian integer mod p, map to a
// point on the curve other than the identity whose y has the parity of the
// input; the only inputs without an image are +-1/2, which stop with
// "should not fail". The same bytes also go through the range proof's
// generator derivation (SHA-512, then the map).
#include "fuzz_util.hpp"
#include "group/hash_to_curve.hpp"
#include "rangeproof/generators.hpp"

using namespace nacrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Fq half = Fq::from_u64(2).inverse_vartime();
  const Fq u = Fq::from_be_bytes_reduce(data, size);
  const bool no_image = u == half || u == -half;

  Point p;
  std::string stop;
  try {
    p = generate_random_point(data, size);
  } catch (const InternalFailure& e) {
    stop = e.message();
  }
  if (no_image) {
    fuzz::require(stop == "should not fail", "+-1/2 did not stop with \"should not fail\"");
  } else {
    if (!stop.empty()) fuzz::finding("hash to curve stopped: " + stop);
    fuzz::require(!p.is_identity() && p.ge().is_on_curve(), "hashed point is not a curve point");
    fuzz::require(p.ge().y.is_odd() == u.is_odd(), "sign of y differs from the sign of u");
    fuzz::require(p.ge() == map_to_curve_g1_unchecked(u), "hash to curve differs from the map of u");
  }

  const Point g = rangeproof::derive_generator(BigInt::from_bytes(data, size));
  fuzz::require(!g.is_identity() && g.ge().is_on_curve(), "derived generator is not a curve point");
  return 0;
}
