#include "group/hash_to_curve.hpp"

#include "group/error.hpp"

namespace nacrel {

namespace {

Fq constant(uint64_t w3, uint64_t w2, uint64_t w1, uint64_t w0) {
  Fq out;
  if (!Fq::from_canonical(U256{{w0, w1, w2, w3}}, out)) fail("should not fail");
  return out;
}

struct SvdwConstants {
  Fq c1 = Fq::from_u64(4);  // g(Z)
  // -Z/2 = (p - 1)/2
  Fq c2 = constant(0x183227397098d014, 0xdc2822db40c0ac2e, 0xcbc0b548b438e546, 0x9e10460b6c3e7ea3);
  // sqrt(-g(Z) * (3Z^2 + 4A)) = sqrt(-12), the even root
  Fq c3 = constant(0x0000000000000001, 0x6789af3a83522eb3, 0x53c98fc6b36d713d, 0x5d8d1cc5dffffffa);
  // -4 g(Z) / (3Z^2 + 4A) = -16/3
  Fq c4 = constant(0x10216f7ba065e00d, 0xe81ac1e7808072c9, 0xdd2b2385cd7b4384, 0x69602eb24829a9bd);
};

const SvdwConstants& svdw() {
  static const SvdwConstants k;
  return k;
}

Fq curve_rhs(const Fq& x) { return x.sqr() * x + Fq::from_u64(3); }

}  // namespace

G1Affine map_to_curve_g1_unchecked(const Fq& u) {
  const SvdwConstants& k = svdw();
  Fq t1 = u.sqr() * k.c1;
  Fq t2 = Fq::one() + t1;
  t1 = Fq::one() - t1;
  Fq den = t1 * t2;
  if (den.is_zero()) fail("should not fail");
  Fq t3 = den.inverse_vartime();
  Fq t4 = u * t1 * t3 * k.c3;
  Fq x1 = k.c2 - t4;
  // The input is public, so the Euler tests may take the faster Jacobi
  // symbol and stop at the first candidate that is a square.
  Fq x;
  if (fq_is_square_vartime(curve_rhs(x1))) {
    x = x1;
  } else {
    Fq x2 = k.c2 + t4;
    x = fq_is_square_vartime(curve_rhs(x2)) ? x2 : (t2.sqr() * t3).sqr() * k.c4 + Fq::one();
  }
  Fq y;
  if (!fq_sqrt(curve_rhs(x), y)) fail("should not fail");
  if (u.is_odd() != y.is_odd()) y = -y;
  G1Affine ge{x, y, false};
  ensure(ge.is_on_curve(), "point.is_on_curve()");
  return ge;
}

Point generate_random_point(const uint8_t* data, size_t len) {
  Fq u = Fq::from_be_bytes_reduce(data, len);
  G1Affine ge = map_to_curve_g1_unchecked(u);
  // Validated as a decoded point is; with cofactor 1 the curve test covers
  // group membership.
  if (!ge.is_on_curve()) fail(std::string(kUnwrapPrefix) + PointFromBytesError::kDebug);
  return Point("deserialized point", ge);
}

}  // namespace nacrel
