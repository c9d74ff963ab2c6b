#include "group/curve.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "group/batch_affine.hpp"
#include "group/error.hpp"
#include "group/field_impl.hpp"
#include "group/secret.hpp"

namespace nacrel {

// The point formulas get every field operation inlined: GCC's heuristics
// otherwise leave many products as calls.
#ifndef NACREL_FLATTEN
#define NACREL_FLATTEN __attribute__((flatten))
#endif

namespace {

// Constant-time helpers: masks are all-ones or zero.
inline uint64_t ct_eq_mask(uint64_t a, uint64_t b) {
  uint64_t x = a ^ b;
  return ((x | (uint64_t(0) - x)) >> 63) - 1;
}

inline uint64_t ct_zero_mask(const Fq& a) {
  uint64_t x = a.v[0] | a.v[1] | a.v[2] | a.v[3];
  return ((x | (uint64_t(0) - x)) >> 63) - 1;
}

// 3*b = 9 for y^2 = x^3 + 3, by additions.
inline Fq mul_b3(const Fq& a) {
  Fq a2 = a + a;
  Fq a4 = a2 + a2;
  Fq a8 = a4 + a4;
  return a8 + a;
}

const Fq& curve_b() {
  static const Fq b = Fq::from_u64(3);
  return b;
}

// Homogeneous projective point (X/Z, Y/Z); the identity is (0 : 1 : 0).
// Used by the constant-time multiplication with the complete formulas of
// Renes, Costello and Batina (2016) for a = 0: correct for every pair of
// inputs on a curve of odd order, so no case needs a branch.
struct Proj {
  Fq X, Y, Z;
};

NACREL_FLATTEN Proj proj_add(const Proj& p, const Proj& q) {
  Fq t0 = p.X * q.X;
  Fq t1 = p.Y * q.Y;
  Fq t2 = p.Z * q.Z;
  Fq t3 = add_for_product(p.X, p.Y) * add_for_product(q.X, q.Y);
  Fq t4 = t0 + t1;
  t3 = t3 - t4;
  t4 = add_for_product(p.Y, p.Z) * add_for_product(q.Y, q.Z);
  Fq X3 = t1 + t2;
  t4 = t4 - X3;
  X3 = add_for_product(p.X, p.Z) * add_for_product(q.X, q.Z);
  Fq Y3 = t0 + t2;
  Y3 = X3 - Y3;
  X3 = t0 + t0;
  t0 = X3 + t0;
  t2 = mul_b3(t2);
  Fq Z3 = t1 + t2;
  t1 = t1 - t2;
  Y3 = mul_b3(Y3);
  X3 = t4 * Y3;
  t2 = t3 * t1;
  X3 = t2 - X3;
  Y3 = Y3 * t0;
  t1 = t1 * Z3;
  Y3 = t1 + Y3;
  t0 = t0 * t3;
  Z3 = Z3 * t4;
  Z3 = Z3 + t0;
  return Proj{X3, Y3, Z3};
}

NACREL_FLATTEN Proj proj_dbl(const Proj& p) {
  Fq t0 = p.Y.sqr();
  Fq Z3 = t0 + t0;
  Z3 = Z3 + Z3;
  Z3 = Z3 + Z3;
  Fq t1 = p.Y * p.Z;
  Fq t2 = p.Z.sqr();
  t2 = mul_b3(t2);
  Fq X3 = t2 * Z3;
  Fq Y3 = t0 + t2;
  Z3 = t1 * Z3;
  t1 = t2 + t2;
  t2 = t1 + t2;
  t0 = t0 - t2;
  Y3 = t0 * Y3;
  Y3 = X3 + Y3;
  t1 = p.X * p.Y;
  X3 = t0 * t1;
  X3 = X3 + X3;
  return Proj{X3, Y3, Z3};
}

inline void proj_cmov(Proj& r, const Proj& a, uint64_t mask) {
  Fq::cmov(r.X, a.X, mask);
  Fq::cmov(r.Y, a.Y, mask);
  Fq::cmov(r.Z, a.Z, mask);
}

bool fq_is_negative(const Fq& y) {
  // y > (p-1)/2  <=>  y > p - 1 - y  <=>  canonical y > canonical -y.
  return u256_lt((-y).to_canonical(), y.to_canonical());
}

}  // namespace

G1Affine G1Affine::identity() { return G1Affine{Fq::zero(), Fq::zero(), true}; }

G1Affine G1Affine::generator() { return G1Affine{Fq::one(), Fq::from_u64(2), false}; }

bool G1Affine::is_on_curve() const {
  if (infinity) return true;
  return y.sqr() == x.sqr() * x + curve_b();
}

G1Jac G1Jac::identity() { return G1Jac{Fq::one(), Fq::one(), Fq::zero()}; }

G1Jac to_jacobian(const G1Affine& p) {
  if (p.infinity) return G1Jac::identity();
  return G1Jac{p.x, p.y, Fq::one()};
}

G1Jac to_jacobian_ct(const G1Affine& p) {
  G1Jac out{p.x, p.y, Fq::one()};
  Fq::cmov(out.Z, Fq::zero(), uint64_t(0) - uint64_t(p.infinity));
  return out;
}

G1Affine to_affine(const G1Jac& p) {
  // inverse_ct maps 0 to 0, so the identity comes out as (0, 0) without a branch.
  Fq zi = p.Z.inverse_ct();
  Fq zi2 = zi.sqr();
  G1Affine out;
  out.x = p.X * zi2;
  out.y = p.Y * zi2 * zi;
  out.infinity = p.Z.is_zero();
  return out;
}

G1Affine to_affine_vartime(const G1Jac& p) {
  if (p.is_identity()) return G1Affine::identity();
  Fq zi = p.Z.inverse_vartime();
  Fq zi2 = zi.sqr();
  return G1Affine{p.X * zi2, p.Y * zi2 * zi, false};
}

// Replaces every v[i] (none zero) by its inverse with one field inversion
// (Montgomery's trick). The running products go in four interleaved chains,
// so that consecutive multiplications do not wait for each other's results.
NACREL_FLATTEN void batch_invert(Fq* v, size_t m, std::vector<Fq>& prefix) {
  constexpr size_t kLanes = 4;
  if (m == 0) return;
  prefix.resize(m);
  Fq acc[kLanes] = {Fq::one(), Fq::one(), Fq::one(), Fq::one()};
  const size_t full = m / kLanes * kLanes;
  for (size_t k = 0; k < full; k += kLanes) {
    for (size_t l = 0; l < kLanes; ++l) {
      prefix[k + l] = acc[l];
      acc[l] = acc[l] * v[k + l];
    }
  }
  for (size_t k = full; k < m; ++k) {
    prefix[k] = acc[k - full];
    acc[k - full] = acc[k - full] * v[k];
  }
  // lane[l] = 1 / acc[l], from the one inversion of their product.
  const Fq a01 = acc[0] * acc[1], a23 = acc[2] * acc[3];
  const Fq inv = (a01 * a23).inverse_vartime();
  const Fq i01 = inv * a23, i23 = inv * a01;
  Fq lane[kLanes] = {i01 * acc[1], i01 * acc[0], i23 * acc[3], i23 * acc[2]};
  for (size_t k = m; k-- > full;) {
    const Fq vk = v[k];
    v[k] = lane[k - full] * prefix[k];
    lane[k - full] = lane[k - full] * vk;
  }
  for (size_t k = full; k > 0; k -= kLanes) {
    for (size_t l = kLanes; l-- > 0;) {
      const size_t at = k - kLanes + l;
      const Fq vk = v[at];
      v[at] = lane[l] * prefix[at];
      lane[l] = lane[l] * vk;
    }
  }
}

NACREL_FLATTEN void batch_to_affine(const G1Jac* in, G1Affine* out, size_t n) {
  if (n == 0) return;
  std::vector<Fq> zi, scratch;
  zi.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (!in[i].is_identity()) zi.push_back(in[i].Z);
  }
  batch_invert(zi.data(), zi.size(), scratch);
  size_t at = 0;
  for (size_t i = 0; i < n; ++i) {
    if (in[i].is_identity()) {
      out[i] = G1Affine::identity();
      continue;
    }
    const Fq z = zi[at++];
    const Fq z2 = z.sqr();
    out[i] = G1Affine{in[i].X * z2, in[i].Y * z2 * z, false};
  }
}

// dbl-2009-l (a = 0).
NACREL_FLATTEN G1Jac dbl(const G1Jac& p) {
  Fq A = p.X.sqr();
  Fq B = p.Y.sqr();
  Fq C = B.sqr();
  Fq D = add_for_product(p.X, B).sqr() - A - C;
  D = D + D;
  Fq E = A + A + A;
  Fq F = E.sqr();
  Fq X3 = F - D - D;
  Fq C8 = C + C;
  C8 = C8 + C8;
  C8 = C8 + C8;
  Fq Y3 = E * (D - X3) - C8;
  Fq Z3 = p.Y * p.Z;
  Z3 = Z3 + Z3;
  return G1Jac{X3, Y3, Z3};
}

// add-2007-bl, with the equal and opposite cases handled.
NACREL_FLATTEN G1Jac add(const G1Jac& p, const G1Jac& q) {
  if (p.is_identity()) return q;
  if (q.is_identity()) return p;
  Fq Z1Z1 = p.Z.sqr();
  Fq Z2Z2 = q.Z.sqr();
  Fq U1 = p.X * Z2Z2;
  Fq U2 = q.X * Z1Z1;
  Fq S1 = p.Y * q.Z * Z2Z2;
  Fq S2 = q.Y * p.Z * Z1Z1;
  Fq H = U2 - U1;
  Fq rr = S2 - S1;
  if (H.is_zero()) {
    if (rr.is_zero()) return dbl(p);
    return G1Jac::identity();
  }
  rr = rr + rr;
  Fq I = add_for_product(H, H).sqr();
  Fq J = H * I;
  Fq V = U1 * I;
  Fq X3 = rr.sqr() - J - V - V;
  Fq S1J = S1 * J;
  Fq Y3 = rr * (V - X3) - S1J - S1J;
  Fq Z3 = (add_for_product(p.Z, q.Z).sqr() - Z1Z1 - Z2Z2) * H;
  return G1Jac{X3, Y3, Z3};
}

namespace {
// madd-2007-bl without the exceptional cases, also giving Z3 / Z1 = 2H.
// False (and nothing written) when H = 0, i.e. p = +-q or p the identity.
NACREL_FLATTEN bool add_mixed_ratio(const G1Jac& p, const G1Affine& q, G1Jac& out, Fq& ratio) {
  Fq Z1Z1 = p.Z.sqr();
  Fq U2 = q.x * Z1Z1;
  Fq S2 = q.y * p.Z * Z1Z1;
  Fq H = U2 - p.X;
  if (H.is_zero()) return false;
  Fq rr = S2 - p.Y;
  rr = rr + rr;
  Fq HH = H.sqr();
  Fq I = HH + HH;
  I = I + I;
  Fq J = H * I;
  Fq V = p.X * I;
  Fq X3 = rr.sqr() - J - V - V;
  Fq YJ = p.Y * J;
  Fq Y3 = rr * (V - X3) - YJ - YJ;
  ratio = H + H;
  out = G1Jac{X3, Y3, p.Z * ratio};
  return true;
}
}  // namespace

// madd-2007-bl, with the equal and opposite cases handled.
NACREL_FLATTEN G1Jac add_mixed(const G1Jac& p, const G1Affine& q) {
  if (q.infinity) return p;
  if (p.is_identity()) return to_jacobian(q);
  G1Jac out;
  Fq ratio;
  if (add_mixed_ratio(p, q, out, ratio)) return out;
  // Same x: q is p or -p.
  const Fq S2 = q.y * p.Z * p.Z.sqr();
  return S2 == p.Y ? dbl(p) : G1Jac::identity();
}

G1Jac neg(const G1Jac& p) { return G1Jac{p.X, -p.Y, p.Z}; }

G1Affine neg(const G1Affine& p) { return G1Affine{p.x, -p.y, p.infinity}; }

bool jac_eq_affine(const G1Jac& p, const G1Affine& q) {
  if (p.is_identity()) return q.infinity;
  if (q.infinity) return false;
  Fq z2 = p.Z.sqr();
  return p.X == q.x * z2 && p.Y == q.y * z2 * p.Z;
}

namespace {

inline Proj proj_identity() { return Proj{Fq::zero(), Fq::one(), Fq::zero()}; }

// (X : Y : Z) projective -> (XZ, YZ^2, Z) Jacobian, the identity as (1, 1, 0).
G1Jac proj_to_jacobian(const Proj& p) {
  Fq z2 = p.Z.sqr();
  G1Jac out{p.X * p.Z, p.Y * z2, p.Z};
  uint64_t is_id = ct_zero_mask(p.Z);
  Fq::cmov(out.X, Fq::one(), is_id);
  Fq::cmov(out.Y, Fq::one(), is_id);
  return out;
}

}  // namespace

G1Jac sum_selected_ct(const G1Affine* points, const uint64_t* bits, size_t n) {
  Proj acc = proj_identity();
  for (size_t i = 0; i < n; ++i) {
    Proj p{points[i].x, points[i].y, Fq::one()};
    proj_cmov(p, proj_identity(), uint64_t(0) - uint64_t(points[i].infinity));
    Proj sel = proj_identity();
    proj_cmov(sel, p, uint64_t(0) - (bits[i] & 1));
    acc = proj_add(acc, sel);
  }
  return proj_to_jacobian(acc);
}

// ---- GLV endomorphism ----

namespace {

constexpr U256 kBeta{{0x5763473177fffffeULL, 0xd4f263f1acdb5c4fULL, 0x59e26bcea0d48bacULL, 0}};
constexpr U256 kLambda{{0x8b17ea66b99c90ddULL, 0x5bfc41088d8daaa7ULL, 0xb3c4d79d41a91758ULL, 0}};
// Short lattice basis (a1, b1), (a2, b2) of {(a, b) : a + b*lambda = 0 mod r}
// with a1 = b2 and b1 < 0; g1 = round(2^256 b2 / r), g2 = round(2^256 (-b1) / r).
constexpr U256 kMinusB1{{0x8211bbeb7d4f1128ULL, 0x6f4d8248eeb859fcULL, 0, 0}};
constexpr U256 kB2{{0x89d3256894d213e3ULL, 0, 0, 0}};
constexpr U256 kG1{{0xd91d232ec7e0b3d7ULL, 0x2ULL, 0, 0}};
constexpr U256 kG2{{0x7a7bd9d4391eb18eULL, 0x4ccef014a773d2cfULL, 0x2ULL, 0}};

const Fq& beta() {
  static const Fq b = [] {
    Fq f;
    Fq::from_canonical(kBeta, f);
    return f;
  }();
  return b;
}

Fr fr_const(const U256& v) {
  Fr f;
  Fr::from_canonical(v, f);
  return f;
}

// out[0 .. NA + NB) = a * b for a of NA words and b of NB words.
template <int NA, int NB>
inline void mul_words(const uint64_t* a, const uint64_t* b, uint64_t* out) {
  for (int i = 0; i < NA + NB; ++i) out[i] = 0;
  for (int i = 0; i < NB; ++i) {
    uint64_t c = 0;
    for (int j = 0; j < NA; ++j) out[i + j] = fieldimpl::mac(out[i + j], a[j], b[i], c);
    out[i + NA] = c;
  }
}

// The rounding of both splits for a canonical k: c1 = floor(k g1 / 2^256)
// and c2 = floor(k g2 / 2^256), the products written for the word sizes of
// g1 (two) and g2 (three); c1 < 2^64 and c2 < 2^128, far below r.
struct GlvRounding {
  uint64_t c1[2], c2[3];
};
inline GlvRounding glv_rounding(const U256& kc) {
  static_assert(kG1.w[2] == 0 && kG1.w[3] == 0 && kG2.w[3] == 0);
  uint64_t p1[6], p2[7];
  mul_words<4, 2>(kc.w, kG1.w, p1);
  mul_words<4, 3>(kc.w, kG2.w, p2);
  return GlvRounding{{p1[4], p1[5]}, {p2[4], p2[5], p2[6]}};
}

// Fr element as a signed integer in (-r/2, r/2]: magnitude and a sign mask
// (all-ones for negative). Branch-free.
void signed_of(const Fr& f, U256& mag, uint64_t& negative) {
  const U256 v = f.to_canonical();
  const U256 w = (-f).to_canonical();
  uint64_t borrow = 0;
  for (int i = 0; i < 4; ++i) fieldimpl::sbb(w.w[i], v.w[i], borrow);
  negative = uint64_t(0) - borrow;  // w < v
  for (int i = 0; i < 4; ++i) mag.w[i] = (v.w[i] & ~negative) | (w.w[i] & negative);
}

// x < r into Fr without the range check (and its branch).
Fr fr_of_reduced(const U256& x) {
  Fr f;
  fieldimpl::mont_mul<FrParams>(f.v, x.w, FrParams::R2.w);
  return f;
}

// The split of glv_split as magnitudes and sign masks, in constant time:
// fixed-length products, Fr arithmetic and masked selections only.
void glv_split_masks(const Fr& k, U256& k1, uint64_t& neg1, U256& k2, uint64_t& neg2) {
  // c1 ~ k b2 / r and c2 ~ k (-b1) / r; then k2 = c1 (-b1) - c2 b2 and
  // k1 = k - k2 lambda. The identity k = k1 + k2 lambda holds whatever the
  // rounding; rounding only decides that both halves stay near 2^127.
  static const Fr minus_b1 = fr_const(kMinusB1), b2 = fr_const(kB2);
  static const Fr lambda = fr_const(kLambda);
  const GlvRounding r = glv_rounding(k.to_canonical());
  Fr c1 = fr_of_reduced(U256{{r.c1[0], r.c1[1], 0, 0}});
  Fr c2 = fr_of_reduced(U256{{r.c2[0], r.c2[1], r.c2[2], 0}});
  Fr h2 = c1 * minus_b1 - c2 * b2;
  Fr h1 = k - h2 * lambda;
  signed_of(h1, k1, neg1);
  signed_of(h2, k2, neg2);
}

}  // namespace

G1Affine glv_endo(const G1Affine& p) { return G1Affine{p.x * beta(), p.y, p.infinity}; }

const Fr& glv_lambda() {
  static const Fr l = fr_const(kLambda);
  return l;
}

namespace {

constexpr U256 kA2{{0x0be4e1541221250bULL, 0x6f4d8248eeb859fdULL, 0, 0}};

// a - b mod 2^192 (three words).
inline void sub3(uint64_t* a, const uint64_t* b) {
  uint64_t borrow = 0;
  for (int i = 0; i < 3; ++i) a[i] = fieldimpl::sbb(a[i], b[i], borrow);
}

// A value mod 2^192 known to lie in (-2^128, 2^128) as magnitude and sign.
inline void from_twos3(const uint64_t* v, U256& mag, bool& negative) {
  negative = (v[2] >> 63) != 0;
  uint64_t m[3] = {v[0], v[1], v[2]};
  if (negative) {
    m[0] = m[1] = m[2] = 0;
    sub3(m, v);
  }
  mag = U256{{m[0], m[1], 0, 0}};
}

}  // namespace

// The same split as glv_split_masks, in plain integer arithmetic:
// k2 = c1 (-b1) - c2 b2 and k1 = k - c1 a1 - c2 a2, so that
// k1 + k2 lambda = k - c1 (a1 + b1 lambda) - c2 (a2 + b2 lambda) = k (mod r).
// Both are below 2^128 in absolute value, so they are formed mod 2^192 only
// and read as two's complement (the sign in the top word); they equal the
// signed representatives in (-r/2, r/2] that the masked split computes. The
// products are written for the sizes of the constants (-b1 and a2: 2 words,
// b2: 1) and of c1 (2) and c2 (3).
GlvSplit glv_split(const Fr& k) {
  static_assert(kMinusB1.w[2] == 0 && kA2.w[2] == 0 && kB2.w[1] == 0);
  const U256 kc = k.to_canonical();
  const GlvRounding r = glv_rounding(kc);
  const uint64_t* c1 = r.c1;
  const uint64_t* c2 = r.c2;
  uint64_t k2[4], t[5];
  mul_words<2, 2>(c1, kMinusB1.w, k2);
  mul_words<3, 1>(c2, kB2.w, t);
  sub3(k2, t);
  uint64_t k1[3] = {kc.w[0], kc.w[1], kc.w[2]};
  mul_words<2, 1>(c1, kB2.w, t);
  sub3(k1, t);
  mul_words<3, 2>(c2, kA2.w, t);
  sub3(k1, t);
  GlvSplit s;
  from_twos3(k1, s.k1, s.neg1);
  from_twos3(k2, s.k2, s.neg2);
  return s;
}

// ---- constant-time product ----

namespace {

// Signed odd base-16 digits of an odd m < 2^132, least significant first:
// d_i = (m_i mod 32) - 16 in {-15, ..., 15}, m_{i+1} = (m_i - d_i) / 16, which
// is (m_i >> 4) | 1 and again odd; the last digit is m_32 itself, odd and
// below 16. So m = sum d_i 16^i with every digit odd (never zero). Each digit
// is kept as a table index (|d| - 1) / 2 and a sign mask. Branch-free.
constexpr int kCtDigits = 33;

void ct_recode(U256 m, uint64_t* index, uint64_t* sign) {
  for (int i = 0; i < kCtDigits; ++i) {
    int64_t d = (i == kCtDigits - 1) ? int64_t(m.w[0] & 31) : int64_t(m.w[0] & 31) - 16;
    uint64_t s = uint64_t(d >> 63);
    uint64_t a = (uint64_t(d) ^ s) - s;
    index[i] = (a - 1) >> 1;
    sign[i] = s;
    m.w[0] = (m.w[0] >> 4) | (m.w[1] << 60);
    m.w[1] = (m.w[1] >> 4) | (m.w[2] << 60);
    m.w[2] = (m.w[2] >> 4) | (m.w[3] << 60);
    m.w[3] >>= 4;
    m.w[0] |= 1;
  }
}

// table[index] with its Y negated under the mask, reading all 8 entries.
inline Proj ct_select_signed(const Proj* table, uint64_t index, uint64_t negate) {
  Proj sel = table[0];
  for (uint64_t j = 1; j < 8; ++j) proj_cmov(sel, table[j], ct_eq_mask(j, index));
  Fq::cmov(sel.Y, -sel.Y, negate);
  return sel;
}

// One term p*k of a constant-time GLV sum: k = k1 + k2 lambda with |k1|,
// |k2| < 2^128, each half made odd (an even half is raised by one and the extra
// base point taken off at the end) and written in 33 signed odd digits, with
// tables of P, 3P, ..., 15P and their images under the endomorphism.
struct CtTerm {
  Proj table[2][8];
  uint64_t neg[2], even[2];
  uint64_t idx[2][kCtDigits], sgn[2][kCtDigits];
};

void ct_term(const G1Affine& p, const Fr& k, CtTerm& t) {
  Proj* t1 = t.table[0];
  Proj* t2 = t.table[1];
  t1[0] = Proj{p.x, p.y, Fq::one()};
  proj_cmov(t1[0], proj_identity(), uint64_t(0) - uint64_t(p.infinity));
  const Proj p2 = proj_dbl(t1[0]);
  for (int i = 1; i < 8; ++i) t1[i] = proj_add(t1[i - 1], p2);
  const Fq& b = beta();
  for (int i = 0; i < 8; ++i) t2[i] = Proj{t1[i].X * b, t1[i].Y, t1[i].Z};

  U256 m[2];
  glv_split_masks(k, m[0], t.neg[0], m[1], t.neg[1]);
  for (int h = 0; h < 2; ++h) {
    t.even[h] = (m[h].w[0] & 1) - 1;  // all-ones when even
    uint64_t c = 0;
    m[h].w[0] = fieldimpl::adc(m[h].w[0], t.even[h] & 1, c);
    for (int i = 1; i < 4; ++i) m[h].w[i] = fieldimpl::adc(m[h].w[i], 0, c);
    ct_recode(m[h], t.idx[h], t.sgn[h]);
  }
}

// Sum of the terms: one chain of 128 doublings; per digit one complete
// addition for each half of each term, every table scanned in full.
G1Jac ct_sum(const CtTerm* terms, size_t n) {
  Proj acc = proj_identity();
  for (int i = kCtDigits - 1; i >= 0; --i) {
    if (i != kCtDigits - 1) acc = proj_dbl(proj_dbl(proj_dbl(proj_dbl(acc))));
    for (size_t j = 0; j < n; ++j) {
      const CtTerm& t = terms[j];
      for (int h = 0; h < 2; ++h) acc = proj_add(acc, ct_select_signed(t.table[h], t.idx[h][i], t.sgn[h][i] ^ t.neg[h]));
    }
  }
  // Take off the base point of each half that was raised: (+-P or +-phi(P))
  // with the opposite sign of that half, or the identity.
  for (size_t j = 0; j < n; ++j) {
    const CtTerm& t = terms[j];
    for (int h = 0; h < 2; ++h) {
      Proj c = t.table[h][0];
      Fq::cmov(c.Y, -c.Y, ~t.neg[h]);
      proj_cmov(c, proj_identity(), ~t.even[h]);
      acc = proj_add(acc, c);
    }
  }
  return proj_to_jacobian(acc);
}

}  // namespace

// The terms hold the scalars' digits and multiples of the points, so they
// are wiped before their storage is released.
G1Jac mul_ct(const G1Affine& p, const Fr& k) {
  Wiped<CtTerm> t;
  ct_term(p, k, *t);
  return ct_sum(&*t, 1);
}

// The GLV terms of all points share the one doubling chain, so a sum of n
// products costs about 128 doublings plus n times 68 additions.
G1Jac msm_ct(const G1Affine* points, const Fr* scalars, size_t n) {
  if (n <= 4) {
    Wiped<CtTerm[4]> terms;
    for (size_t i = 0; i < n; ++i) ct_term(points[i], scalars[i], (*terms)[i]);
    return ct_sum(*terms, n);
  }
  SecretVector<CtTerm> terms(n);
  for (size_t i = 0; i < n; ++i) ct_term(points[i], scalars[i], terms[i]);
  return ct_sum(terms.data(), n);
}

// Both points go to projective coordinates (the identity as (0 : 1 : 0) by
// a mask) and meet in one complete addition.
G1Jac add_ct(const G1Jac& p, const G1Jac& q) {
  auto proj_of = [](const G1Jac& a) {
    const Fq z2 = a.Z.sqr();
    Proj r{a.X * a.Z, a.Y, z2 * a.Z};  // (X/Z^2, Y/Z^3) = (XZ/Z^3, Y/Z^3)
    proj_cmov(r, proj_identity(), ct_zero_mask(a.Z));
    return r;
  };
  return proj_to_jacobian(proj_add(proj_of(p), proj_of(q)));
}

void glv_split_ct(const Fr& k, U256& k1, uint64_t& neg1, U256& k2, uint64_t& neg2) {
  glv_split_masks(k, k1, neg1, k2, neg2);
}

G1Jac horner_ct(const G1Affine* pts, size_t n, int shift) {
  Proj acc = proj_identity();
  for (size_t j = n; j-- > 0;) {
    if (j + 1 != n) {
      for (int d = 0; d < shift; ++d) acc = proj_dbl(acc);
    }
    Proj p{pts[j].x, pts[j].y, Fq::one()};
    proj_cmov(p, proj_identity(), uint64_t(0) - uint64_t(pts[j].infinity));
    acc = proj_add(acc, p);
  }
  return proj_to_jacobian(acc);
}

// ---- variable-time products and sums ----

namespace {

// A term m * p of a sum with a non-negative integer m (signs folded into p).
// For the second half of a split, endo_of is the index of the first half's
// term (same base point) and flip tells whether the signs differ, so its
// tables follow from that term's by the endomorphism.
struct Term {
  G1Affine p;
  U256 m;
  long endo_of;
  bool flip;
};

// Splits each product with the endomorphism into two terms of about 128 bits.
std::vector<Term> glv_terms(const G1Affine* points, const Fr* scalars, size_t n) {
  std::vector<Term> terms;
  terms.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    if (points[i].infinity || scalars[i].is_zero()) continue;
    GlvSplit s = glv_split(scalars[i]);
    const G1Affine& p = points[i];
    long first = -1;
    if (bit_length(s.k1)) {
      first = long(terms.size());
      terms.push_back(Term{s.neg1 ? neg(p) : p, s.k1, -1, false});
    }
    if (bit_length(s.k2)) {
      G1Affine e = glv_endo(p);
      terms.push_back(Term{s.neg2 ? neg(e) : e, s.k2, first, s.neg1 != s.neg2});
    }
  }
  return terms;
}

// Width-w non-adjacent form: digits odd in (-2^(w-1), 2^(w-1)) or zero,
// least significant first; returns the number of digits (at most 257).
// Reads w bits at each odd position and carries the borrow of a negative
// digit upwards, skipping the positions whose bit equals the carry.
int wnaf(const U256& k, int w, int8_t* digits) {
  const int bits = bit_length(k);
  std::memset(digits, 0, size_t(bits) + 1);
  int carry = 0, len = 0;
  for (int bit = 0; bit <= bits || carry;) {
    if (int(bits_at(k, bit, 1)) == carry) {
      ++bit;
      continue;
    }
    int64_t word = int64_t(bits_at(k, bit, w)) + carry;  // odd
    carry = int((word >> (w - 1)) & 1);
    word -= int64_t(carry) << w;
    digits[bit] = int8_t(word);
    len = bit + 1;
    bit += w;
  }
  return len;
}

constexpr int kWnafWidth = 5;
constexpr int kTableSize = 1 << (kWnafWidth - 2);  // P, 3P, ..., 15P
constexpr int kMaxDigits = 260;

// Interleaved wNAF (Straus): one doubling chain for all terms, odd multiples
// of every term normalised together so the additions are mixed.
struct StrausTables {
  size_t n = 0;
  std::vector<G1Affine> at;      // kTableSize odd multiples per term
  std::vector<int8_t> digits;    // kMaxDigits per term
  std::vector<int> lens;
  int maxlen = 0;
};

// Each point's odd multiples P, 3P, ... are formed as in mul_vartime: on the
// curve scaled by u = Z(2P), 2P is affine, so they follow by mixed
// additions whose Z ratios are known; one inversion of every point's last
// Z (shared by all points) then makes all of them affine by those ratios.
// A point gets only as many multiples as its digits (and its second half's)
// use: a scalar of 1 needs none but the point itself.
StrausTables straus_tables(const std::vector<Term>& terms) {
  StrausTables st;
  const size_t n = terms.size();
  st.n = n;
  if (n == 0) return st;
  st.digits.resize(n * kMaxDigits);
  st.lens.resize(n);
  st.at.resize(n * kTableSize);
  std::vector<int> need(n, 0);
  for (size_t i = 0; i < n; ++i) {
    const int8_t* dg = &st.digits[i * kMaxDigits];
    st.lens[i] = wnaf(terms[i].m, kWnafWidth, &st.digits[i * kMaxDigits]);
    if (st.lens[i] > st.maxlen) st.maxlen = st.lens[i];
    int top = 0;
    for (int b = 0; b < st.lens[i]; ++b) top = std::max(top, dg[b] < 0 ? -dg[b] : int(dg[b]));
    need[i] = (top + 1) / 2;
  }
  for (size_t i = 0; i < n; ++i) {
    if (terms[i].endo_of >= 0) need[size_t(terms[i].endo_of)] = std::max(need[size_t(terms[i].endo_of)], need[i]);
  }
  std::vector<G1Jac> jt(n * kTableSize);
  std::vector<Fq> ratio(n * kTableSize), last_z;
  std::vector<size_t> scaled;  // terms whose multiples wait for the inversion
  for (size_t i = 0; i < n; ++i) {
    if (terms[i].endo_of >= 0 || need[i] == 0) continue;
    const G1Affine& p = terms[i].p;
    G1Affine* out = &st.at[i * kTableSize];
    out[0] = p;
    if (need[i] == 1) continue;
    const G1Jac d = dbl(to_jacobian(p));
    const Fq u2 = d.Z.sqr();
    const G1Affine d_aff{d.X, d.Y, false};
    G1Jac* t = &jt[i * kTableSize];
    t[0] = G1Jac{p.x * u2, p.y * u2 * d.Z, Fq::one()};
    bool ok = true;
    for (int j = 1; j < need[i] && ok; ++j) ok = add_mixed_ratio(t[j - 1], d_aff, t[j], ratio[i * kTableSize + j]);
    if (!ok) {
      // Cannot happen for a point of prime order r > 15; kept as a guard.
      const G1Jac p1 = to_jacobian(p), p2 = dbl(p1);
      G1Jac acc = p1;
      for (int j = 1; j < need[i]; ++j) {
        acc = add(acc, p2);
        out[j] = to_affine_vartime(acc);
      }
      continue;
    }
    scaled.push_back(i);
    last_z.push_back(t[need[i] - 1].Z * d.Z);
  }
  std::vector<Fq> scratch;
  batch_invert(last_z.data(), last_z.size(), scratch);
  for (size_t at = 0; at < scaled.size(); ++at) {
    const size_t i = scaled[at];
    const G1Jac* t = &jt[i * kTableSize];
    G1Affine* out = &st.at[i * kTableSize];
    Fq s = last_z[at];  // 1 / (Z_j u) for the entry j below
    for (int j = need[i] - 1; j >= 0; --j) {
      const Fq s2 = s.sqr();
      out[j] = G1Affine{t[j].X * s2, t[j].Y * s2 * s, false};
      if (j > 0) s = s * ratio[i * kTableSize + j];
    }
  }
  for (size_t i = 0; i < n; ++i) {
    if (terms[i].endo_of < 0) continue;
    // phi(jP) = (beta x, y), with the sign of the second half.
    const G1Affine* base = &st.at[size_t(terms[i].endo_of) * kTableSize];
    G1Affine* t = &st.at[i * kTableSize];
    for (int j = 0; j < need[i]; ++j) {
      t[j] = G1Affine{base[j].x * beta(), terms[i].flip ? -base[j].y : base[j].y, false};
    }
  }
  return st;
}

// The additions of every term at one digit position.
inline G1Jac straus_step(const StrausTables& st, int bit, G1Jac acc) {
  for (size_t i = 0; i < st.n; ++i) {
    if (bit >= st.lens[i]) continue;
    int d = st.digits[i * kMaxDigits + bit];
    if (d > 0) acc = add_mixed(acc, st.at[i * kTableSize + (d - 1) / 2]);
    else if (d < 0) acc = add_mixed(acc, neg(st.at[i * kTableSize + (-d - 1) / 2]));
  }
  return acc;
}

G1Jac straus(const std::vector<Term>& terms) {
  const StrausTables st = straus_tables(terms);
  G1Jac acc = G1Jac::identity();
  for (int bit = st.maxlen - 1; bit >= 0; --bit) acc = straus_step(st, bit, dbl(acc));
  return acc;
}

// Signed base-2^c digits in [-2^(c-1), 2^(c-1)] of every term, windows per
// term (row-major); returns the number of windows (0 if all terms are 0).
int signed_digits(const std::vector<Term>& terms, int c, std::vector<int32_t>& digits) {
  int maxbits = 0;
  for (const Term& t : terms) maxbits = std::max(maxbits, bit_length(t.m));
  if (maxbits == 0) return 0;
  const int windows = (maxbits + c - 1) / c + 1;  // one more for the last carry
  const int64_t full = int64_t(1) << c, half = full >> 1;
  digits.assign(terms.size() * windows, 0);
  for (size_t i = 0; i < terms.size(); ++i) {
    int64_t carry = 0;
    for (int w = 0; w < windows; ++w) {
      int64_t d = int64_t(bits_at(terms[i].m, w * c, c)) + carry;
      carry = d > half;
      if (carry) d -= full;
      digits[i * windows + w] = int32_t(d);
    }
  }
  return windows;
}

// Bucket method (Pippenger): per window, the points go into 2^(c-1) buckets
// by the absolute value of their digit, then sum_j (j+1) * bucket[j] is
// formed by running sums from the top.
G1Jac pippenger(const std::vector<Term>& terms, int c) {
  const size_t n = terms.size();
  std::vector<int32_t> digits;
  const int windows = signed_digits(terms, c, digits);
  if (windows == 0) return G1Jac::identity();
  const int64_t half = int64_t(1) << (c - 1);
  std::vector<G1Jac> buckets(half);
  G1Jac total = G1Jac::identity();
  for (int w = windows - 1; w >= 0; --w) {
    for (int j = 0; j < c; ++j) total = dbl(total);
    for (auto& b : buckets) b = G1Jac::identity();
    for (size_t i = 0; i < n; ++i) {
      int32_t d = digits[i * windows + w];
      if (d > 0) buckets[d - 1] = add_mixed(buckets[d - 1], terms[i].p);
      else if (d < 0) buckets[-d - 1] = add_mixed(buckets[-d - 1], neg(terms[i].p));
    }
    G1Jac running = G1Jac::identity(), window_sum = G1Jac::identity();
    for (int64_t j = half - 1; j >= 0; --j) {
      running = add(running, buckets[j]);
      window_sum = add(window_sum, running);
    }
    total = add(total, window_sum);
  }
  return total;
}

// The bucket method with affine buckets: the buckets of all windows are
// filled together in rounds; a round takes at most one pending point per
// bucket, and all its affine additions share one inversion (Montgomery's
// trick). An affine addition then costs about 6 multiplications against 11
// for a mixed Jacobian one.
constexpr size_t kMinAffineBatch = 64;

NACREL_FLATTEN G1Jac pippenger_affine(const std::vector<Term>& terms, int c) {
  const size_t n = terms.size();
  std::vector<int32_t> digits;
  const int windows = signed_digits(terms, c, digits);
  if (windows == 0) return G1Jac::identity();
  const size_t half = size_t(1) << (c - 1);
  std::vector<G1Affine> buckets(size_t(windows) * half, G1Affine::identity());

  struct Item {
    uint32_t bucket, term;
    bool negate;
  };
  std::vector<Item> pending, batch, deferred;
  for (size_t i = 0; i < n; ++i) {
    for (int w = 0; w < windows; ++w) {
      int32_t d = digits[i * windows + w];
      if (d != 0) pending.push_back(Item{uint32_t(w * half + size_t(d < 0 ? -d : d) - 1), uint32_t(i), d < 0});
    }
  }
  std::vector<uint32_t> stamp(buckets.size(), 0);
  std::vector<G1Jac> extra(buckets.size(), G1Jac::identity());
  std::vector<Fq> den, prefix;
  std::vector<uint8_t> kind;
  enum : uint8_t { kSet, kAdd, kDouble, kCancel };
  for (uint32_t round = 1; !pending.empty(); ++round) {
    batch.clear();
    deferred.clear();
    for (const Item& it : pending) {
      if (stamp[it.bucket] == round) {
        deferred.push_back(it);
      } else {
        stamp[it.bucket] = round;
        batch.push_back(it);
      }
    }
    const size_t m = batch.size();
    if (m < kMinAffineBatch) {
      // Few distinct buckets left (the top windows hold small digits only):
      // one inversion would cost more than it saves, so the rest goes into
      // Jacobian side sums.
      for (const Item& it : pending) {
        const G1Affine& q = terms[it.term].p;
        extra[it.bucket] = add_mixed(extra[it.bucket], it.negate ? neg(q) : q);
      }
      break;
    }
    den.resize(m);
    kind.resize(m);
    for (size_t k = 0; k < m; ++k) {
      const G1Affine& b = buckets[batch[k].bucket];
      const G1Affine& q = terms[batch[k].term].p;
      const Fq qy = batch[k].negate ? -q.y : q.y;
      den[k] = Fq::one();
      if (b.infinity) {
        kind[k] = kSet;
      } else if (b.x != q.x) {
        kind[k] = kAdd;
        den[k] = q.x - b.x;
      } else if (b.y == qy) {
        kind[k] = kDouble;  // y != 0: the group has no point of order 2
        den[k] = b.y + b.y;
      } else {
        kind[k] = kCancel;
      }
    }
    batch_invert(den.data(), m, prefix);
    for (size_t k = 0; k < m; ++k) {
      const Fq& di = den[k];
      G1Affine& b = buckets[batch[k].bucket];
      const G1Affine& q = terms[batch[k].term].p;
      const Fq qy = batch[k].negate ? -q.y : q.y;
      switch (kind[k]) {
        case kSet:
          b = G1Affine{q.x, qy, false};
          break;
        case kCancel:
          b = G1Affine::identity();
          break;
        default: {
          Fq xx = b.x.sqr();
          Fq lambda = kind[k] == kAdd ? (qy - b.y) * di : (xx + xx + xx) * di;
          Fq x3 = lambda.sqr() - b.x - q.x;
          Fq y3 = lambda * (b.x - x3) - b.y;
          b = G1Affine{x3, y3, false};
        }
      }
    }
    pending.swap(deferred);
  }

  G1Jac total = G1Jac::identity();
  for (int w = windows - 1; w >= 0; --w) {
    for (int j = 0; j < c; ++j) total = dbl(total);
    G1Jac running = G1Jac::identity(), window_sum = G1Jac::identity();
    for (size_t j = half; j-- > 0;) {
      running = add_mixed(running, buckets[w * half + j]);
      if (!extra[w * half + j].is_identity()) running = add(running, extra[w * half + j]);
      window_sum = add(window_sum, running);
    }
    total = add(total, window_sum);
  }
  return total;
}

}  // namespace

namespace {

// Interleaved wNAF costs about 25 us per point; the affine bucket method is
// faster from about 64 terms (32 points). Widths from the scan of bench_group.
constexpr size_t kPippengerFrom = 64;

int msm_window_for(size_t terms) {
  if (terms < 256) return 5;
  if (terms < 512) return 6;
  if (terms < 1024) return 7;
  if (terms < 4096) return 8;
  int lg = 0;
  while ((size_t(1) << (lg + 1)) <= terms) ++lg;
  return std::min(16, lg - 3);
}

}  // namespace

G1Jac msm_vartime_with(const G1Affine* points, const Fr* scalars, size_t n, int method) {
  std::vector<Term> terms = glv_terms(points, scalars, n);
  if (method == 0) return straus(terms);
  if (method > 100 && method <= 131) return pippenger_affine(terms, method - 100);
  if (method > 0 && method <= 31) return pippenger(terms, method);
  return pippenger_affine(terms, msm_window_for(terms.size()));
}


// One point: the odd multiples P, 3P, ..., 15P are made affine without an
// inversion. With u = Z(2P), the curve y^2 = x^3 + 3u^6 is isomorphic by
// (x, y) -> (u^2 x, u^3 y), and on it 2P is affine, so the multiples follow
// by mixed additions; each addition multiplies Z by a known ratio, so all of
// them are brought to the last one's Z, Zc, by those ratios. On the curve
// scaled once more by Zc they are affine. The formulas for a = 0 do not use
// the constant term, so the whole wNAF loop runs there (the endomorphism
// (beta x, y) commutes with the scaling) and the result returns to the
// original curve by multiplying its Z by u Zc.
G1Jac mul_vartime(const G1Affine& p, const Fr& k) {
  if (p.infinity || k.is_zero()) return G1Jac::identity();
  const G1Jac d = dbl(to_jacobian(p));
  const Fq u2 = d.Z.sqr(), u3 = u2 * d.Z;
  const G1Affine d_aff{d.X, d.Y, false};
  G1Jac t[kTableSize];
  Fq ratio[kTableSize];
  t[0] = G1Jac{p.x * u2, p.y * u3, Fq::one()};
  for (int i = 1; i < kTableSize; ++i) {
    // Cannot fail for a point of prime order r > 15; kept as a guard.
    if (!add_mixed_ratio(t[i - 1], d_aff, t[i], ratio[i])) return straus(glv_terms(&p, &k, 1));
  }
  G1Affine tab[2][kTableSize];
  Fq s = Fq::one();  // Zc / Z_i
  for (int i = kTableSize - 1; i >= 0; --i) {
    const Fq s2 = s.sqr();
    tab[0][i] = G1Affine{t[i].X * s2, t[i].Y * s2 * s, false};
    if (i > 0) s = s * ratio[i];
  }
  const Fq zc_u = t[kTableSize - 1].Z * d.Z;

  const GlvSplit sp = glv_split(k);
  const Fq& b = beta();
  // Signs folded in: the halves multiply +-P and +-phi(P) = (beta x, +-y).
  for (int i = 0; i < kTableSize; ++i) {
    tab[1][i] = G1Affine{tab[0][i].x * b, sp.neg2 ? -tab[0][i].y : tab[0][i].y, false};
    if (sp.neg1) tab[0][i].y = -tab[0][i].y;
  }
  int8_t digits[2][kMaxDigits];
  const int len[2] = {wnaf(sp.k1, kWnafWidth, digits[0]), wnaf(sp.k2, kWnafWidth, digits[1])};
  G1Jac acc = G1Jac::identity();
  for (int bit = std::max(len[0], len[1]) - 1; bit >= 0; --bit) {
    acc = dbl(acc);
    for (int h = 0; h < 2; ++h) {
      if (bit >= len[h]) continue;
      const int dg = digits[h][bit];
      if (dg > 0) acc = add_mixed(acc, tab[h][(dg - 1) / 2]);
      else if (dg < 0) acc = add_mixed(acc, neg(tab[h][(-dg - 1) / 2]));
    }
  }
  acc.Z = acc.Z * zc_u;
  return acc;
}

G1Jac msm_vartime(const G1Affine* points, const Fr* scalars, size_t n) {
  std::vector<Term> terms = glv_terms(points, scalars, n);
  if (terms.size() < kPippengerFrom) return straus(terms);
  return pippenger_affine(terms, msm_window_for(terms.size()));
}

NACREL_FLATTEN void build_fixed_tables(const G1Affine* points, FixedTable* out, size_t n) {
  constexpr int kDigits = FixedTable::kEntries;
  if (n == 0) return;
  // Eight lanes pay from three points on (a lane's doublings are a long
  // chain of dependent products either way).
  if (n >= 3 && build_fixed_tables_wide(points, out, n)) return;
  std::vector<G1Jac> jt(n * kDigits);
  for (size_t i = 0; i < n; ++i) {
    G1Jac p = to_jacobian(points[i]);
    for (int j = 0; j < kDigits; ++j) {
      jt[i * kDigits + j] = p;
      for (int d = 0; d < FixedTable::kStep; ++d) p = dbl(p);
    }
  }
  std::vector<G1Affine> at(n * kDigits);
  batch_to_affine(jt.data(), at.data(), jt.size());
  const Fq& b = beta();
  for (size_t i = 0; i < n; ++i) {
    out[i].identity = points[i].infinity;
    for (int j = 0; j < kDigits; ++j) {
      const G1Affine& a = at[i * kDigits + j];
      out[i].shifted[0][j] = AffineXY{a.x, a.y};
      out[i].shifted[1][j] = AffineXY{a.x * b, a.y};
    }
  }
}

void build_comb_table(const G1Affine& p, CombTable& out) {
  constexpr int kPos = CombTable::kPositions, kMul = CombTable::kMultiples;
  out.identity = p.infinity;
  if (p.infinity) return;
  // The bases 2^(kBits*j) P first, made affine together, then their
  // multiples by mixed additions, made affine together.
  std::vector<G1Jac> jac(size_t(kPos) * kMul);
  G1Jac q = to_jacobian(p);
  for (int j = 0; j < kPos; ++j) {
    jac[size_t(j) * kMul] = q;
    for (int d = 0; d < CombTable::kBits; ++d) q = dbl(q);
  }
  std::vector<G1Jac> bases(kPos);
  std::vector<G1Affine> base_aff(kPos);
  for (int j = 0; j < kPos; ++j) bases[j] = jac[size_t(j) * kMul];
  batch_to_affine(bases.data(), base_aff.data(), kPos);
  for (int j = 0; j < kPos; ++j) {
    G1Jac* row = &jac[size_t(j) * kMul];
    row[0] = to_jacobian(base_aff[j]);
    for (int d = 1; d < kMul; ++d) row[d] = add_mixed(row[d - 1], base_aff[j]);
  }
  batch_to_affine(jac.data(), &out.entries[0][0], jac.size());
}

G1Jac mul_comb(const CombTable& table, const Fr& k) {
  constexpr int kBits = CombTable::kBits;
  constexpr int64_t kFull = int64_t(1) << kBits, kHalf = kFull >> 1;
  if (table.identity || k.is_zero()) return G1Jac::identity();
  const GlvSplit s = glv_split(k);
  const Fq& b = beta();
  G1Jac acc = G1Jac::identity();
  for (int h = 0; h < 2; ++h) {
    const U256& m = h ? s.k2 : s.k1;
    const bool negate = h ? s.neg2 : s.neg1;
    int64_t carry = 0;
    for (int j = 0; j < CombTable::kPositions; ++j) {
      int64_t d = int64_t(bits_at(m, j * kBits, kBits)) + carry;
      carry = d > kHalf;
      if (carry) d -= kFull;
      if (d == 0) continue;
      const G1Affine& e = table.entries[j][(d < 0 ? -d : d) - 1];
      const Fq y = (d < 0) != negate ? -e.y : e.y;
      acc = add_mixed(acc, G1Affine{h ? e.x * b : e.x, y, false});
    }
  }
  return acc;
}

const CombTable& generator_comb() {
  static const CombTable* table = [] {
    CombTable* t = new CombTable;  // lives until exit
    build_comb_table(G1Affine::generator(), *t);
    return t;
  }();
  return *table;
}

// Sums the points of every bucket (segments [start[b], start[b+1]) of pts)
// by pairwise affine additions, all pairs of a round sharing one inversion;
// the number of rounds is the logarithm of the fullest bucket. On return
// bucket b is pts[start[b]] when len[b] = 1 and the identity when len[b] = 0.
// The sum of a bucket's pair k/2 goes straight to its position k/2: every
// earlier write lands below the pair being read.
NACREL_FLATTEN void sum_buckets_affine(std::vector<G1Affine>& pts, const std::vector<size_t>& start,
                                       std::vector<size_t>& len) {
  // Large sums go eight pairs at a time where the CPU can.
  if (pts.size() >= 64 && sum_buckets_wide(pts, start, len)) return;
  const size_t buckets = len.size();
  std::vector<Fq> den, prefix;
  struct Pair {
    size_t at, dst;  // first point of the pair, position of its sum
  };
  std::vector<Pair> pairs;
  for (;;) {
    pairs.clear();
    for (size_t b = 0; b < buckets; ++b) {
      for (size_t k = 0; k + 1 < len[b]; k += 2) pairs.push_back(Pair{start[b] + k, start[b] + k / 2});
    }
    if (pairs.empty()) return;
    const size_t m = pairs.size();
    den.resize(m);
    for (size_t k = 0; k < m; ++k) {
      const G1Affine& p = pts[pairs[k].at];
      const G1Affine& q = pts[pairs[k].at + 1];
      if (p.infinity || q.infinity) den[k] = Fq::one();
      else if (p.x != q.x) den[k] = q.x - p.x;
      else if (p.y == q.y) den[k] = p.y + p.y;  // y != 0: no point of order 2
      else den[k] = Fq::one();                  // opposite points
    }
    batch_invert(den.data(), m, prefix);
    for (size_t k = 0; k < m; ++k) {
      const Fq& di = den[k];
      const G1Affine& p = pts[pairs[k].at];
      const G1Affine& q = pts[pairs[k].at + 1];
      G1Affine& out = pts[pairs[k].dst];
      if (q.infinity) {
        out = p;
        continue;
      }
      if (p.infinity) {
        out = q;
        continue;
      }
      Fq lambda;
      if (p.x != q.x) {
        lambda = (q.y - p.y) * di;
      } else if (p.y == q.y) {
        const Fq xx = p.x.sqr();
        lambda = (xx + xx + xx) * di;
      } else {
        out = G1Affine::identity();
        continue;
      }
      const Fq x3 = lambda.sqr() - p.x - q.x;
      const Fq y3 = lambda * (p.x - x3) - p.y;
      out.x = x3;
      out.y = y3;
      out.infinity = false;
    }
    // An odd point out moves down after the pairs; every length halves.
    for (size_t b = 0; b < buckets; ++b) {
      const size_t l = len[b];
      if (l < 2) continue;
      if (l % 2) pts[start[b] + l / 2] = pts[start[b] + l - 1];
      len[b] = (l + 1) / 2;
    }
  }
}

void sum_bucket_refs(const PointRef* refs, const size_t* start, const size_t* len, size_t buckets, G1Affine* out) {
  size_t n = 0;
  for (size_t b = 0; b < buckets; ++b) n += len[b];
  if (n >= 64 && sum_bucket_refs_wide(refs, start, len, buckets, out)) return;
  // Portable: the points copied into place, then summed there.
  std::vector<size_t> st(buckets), ln(len, len + buckets);
  std::vector<G1Affine> pts(n);
  size_t at = 0;
  for (size_t b = 0; b < buckets; ++b) {
    st[b] = at;
    for (size_t k = 0; k < len[b]; ++k, ++at) {
      const PointRef& r = refs[start[b] + k];
      const G1Affine q{r.xy[0], r.xy[1], r.identity};
      pts[at] = r.negate ? neg(q) : q;
    }
  }
  sum_buckets_affine(pts, st, ln);
  for (size_t b = 0; b < buckets; ++b) out[b] = ln[b] ? pts[st[b]] : G1Affine::identity();
}

void sum_tagged_refs(const TaggedRefs& tagged, size_t segs, G1Affine* out) {
  const SegmentRef* items = tagged.items.get();
  const size_t n = tagged.used;
  std::vector<size_t> len(segs, 0), start(segs + 1, 0);
  for (size_t i = 0; i < n; ++i) ++len[items[i].seg];
  for (size_t s = 0; s < segs; ++s) start[s + 1] = start[s] + len[s];
  std::unique_ptr<PointRef[]> refs(new PointRef[n]);
  {
    std::vector<size_t> pos(start.begin(), start.end() - 1);
    for (size_t i = 0; i < n; ++i) refs[pos[items[i].seg]++] = items[i].ref;
  }
  sum_bucket_refs(refs.get(), start.data(), len.data(), segs, out);
}

namespace {

// For each group g < groups of count buckets (bucket b of group g being
// bucket[g * count + b], the identity when empty):
// out[g] = sum over b of (b + 1) * bucket, and plain[g] = the plain sum of
// the group's buckets. With b = a*W + c the weighted sum is
// W * sum_a a*C_a + sum_c (c + 1)*D_c for the row sums C_a and the column
// sums D_c; all rows and columns of all groups are summed affinely together
// (each bucket goes into one of each), which leaves R + W running sums per
// group instead of R*W.
NACREL_FLATTEN void weighted_bucket_sums(const G1Affine* bucket, size_t count, size_t groups, G1Jac* out,
                                         G1Jac* plain) {
  int lg = 0;
  while ((size_t(1) << lg) < count) ++lg;
  const size_t W = size_t(1) << ((lg + 1) / 2), R = (count + W - 1) / W, segs = R + W;
  std::vector<size_t> seg_len(groups * segs, 0), seg_start(groups * segs + 1, 0);
  for (size_t g = 0; g < groups; ++g) {
    for (size_t b = 0; b < count; ++b) {
      if (bucket[g * count + b].infinity) continue;
      ++seg_len[g * segs + b / W];
      ++seg_len[g * segs + R + b % W];
    }
  }
  for (size_t k = 0; k < groups * segs; ++k) seg_start[k + 1] = seg_start[k] + seg_len[k];
  std::vector<G1Affine> rc(seg_start[groups * segs]);
  {
    std::vector<size_t> pos(seg_start.begin(), seg_start.end() - 1);
    for (size_t g = 0; g < groups; ++g) {
      for (size_t b = 0; b < count; ++b) {
        const G1Affine& q = bucket[g * count + b];
        if (q.infinity) continue;
        rc[pos[g * segs + b / W]++] = q;
        rc[pos[g * segs + R + b % W]++] = q;
      }
    }
  }
  sum_buckets_affine(rc, seg_start, seg_len);
  for (size_t g = 0; g < groups; ++g) {
    const size_t first = g * segs;
    // sum over a in [1, R) of a * row[a], by running sums from the top.
    G1Jac running = G1Jac::identity(), rows = G1Jac::identity();
    for (size_t a = R; a-- > 1;) {
      if (seg_len[first + a] != 0) running = add_mixed(running, rc[seg_start[first + a]]);
      rows = add(rows, running);
    }
    for (size_t w = 1; w < W; w <<= 1) rows = dbl(rows);
    // The columns carry weights c + 1: the running sum over all of them once
    // more gives sum_c (c + 1) * D_c.
    G1Jac cols = G1Jac::identity();
    running = G1Jac::identity();
    for (size_t c = W; c-- > 0;) {
      if (seg_len[first + R + c] != 0) running = add_mixed(running, rc[seg_start[first + R + c]]);
      cols = add(cols, running);
    }
    plain[g] = running;
    out[g] = add(rows, cols);
  }
}

// Sums over fixed tables (sum s takes the next counts[s] tables and
// scalars). Every non-zero width-w NAF digit d of a GLV half at bit j puts
// the table entry +-2^j P (or its image) into the bucket of |d|, one of
// 2^(w-2) odd magnitudes per sum; the buckets of all sums are summed
// affinely together and each sum combined as
// sum_o o * bucket[o] = 2 * sum_b (b + 1) * bucket[b] - sum_b bucket[b] for
// o = 2b + 1. The tables hold every 2^j P, so no doubling is needed, and
// NAF digits are a tenth fewer than fixed windows for the same buckets.
template <int w>
void fixed_bucket_sums(const FixedTable* const* tables, const Fr* scalars, const size_t* counts, size_t sums,
                       G1Jac* out) {
  constexpr size_t nb = size_t(1) << (w - 2);  // odd magnitudes 1, 3, .., 2^(w-1) - 1
  size_t total = 0;
  for (size_t s = 0; s < sums; ++s) total += counts[s];
  TaggedRefs items(total * 2 * wnaf_max_digits(w));
  size_t at = 0;
  for (size_t s = 0; s < sums; ++s) {
    for (size_t t = 0; t < counts[s]; ++t, ++at) {
      const FixedTable& tab = *tables[at];
      if (tab.identity || scalars[at].is_zero()) continue;
      const GlvSplit split = glv_split(scalars[at]);
      for (int h = 0; h < 2; ++h) {
        const bool negate = h ? split.neg2 : split.neg1;
        const AffineXY* shifted = tab.shifted[h];
        wnaf_digits(h ? split.k2 : split.k1, w, [&](int bit, int d) {
          const uint32_t bucket = uint32_t(s * nb) + uint32_t(((d < 0 ? -d : d) - 1) / 2);
          // The entries are spread over megabytes of tables: fetched now,
          // read when the buckets are summed.
          __builtin_prefetch(&shifted[bit]);
          items.add(ref_of(shifted[bit], (d < 0) != negate), bucket);
        });
      }
    }
  }
  std::vector<G1Affine> bucket(sums * nb);
  sum_tagged_refs(items, bucket.size(), bucket.data());
  std::vector<G1Jac> weighted(sums), plain(sums);
  weighted_bucket_sums(bucket.data(), nb, sums, weighted.data(), plain.data());
  for (size_t s = 0; s < sums; ++s) out[s] = add(dbl(weighted[s]), neg(plain[s]));
}

}  // namespace

void msm_vartime_fixed_sums(const FixedTable* const* tables, const Fr* scalars, const size_t* counts, size_t sums,
                            G1Jac* out) {
  if (sums == 0) return;
  size_t total = 0;
  for (size_t s = 0; s < sums; ++s) total += counts[s];
  // Widths by the terms of a sum (time per point against the width).
  const size_t per = total / sums;
  if (per < 48) fixed_bucket_sums<8>(tables, scalars, counts, sums, out);
  else if (per < 100) fixed_bucket_sums<9>(tables, scalars, counts, sums, out);
  else if (per < 200) fixed_bucket_sums<10>(tables, scalars, counts, sums, out);
  else if (per < 400) fixed_bucket_sums<11>(tables, scalars, counts, sums, out);
  else fixed_bucket_sums<12>(tables, scalars, counts, sums, out);
}

G1Jac msm_vartime_fixed(const FixedTable* const* tables, const Fr* fixed_scalars, size_t n_fixed,
                        const G1Affine* points, const Fr* scalars, size_t n) {
  G1Jac fixed;
  msm_vartime_fixed_sums(tables, fixed_scalars, &n_fixed, 1, &fixed);
  return add(fixed, msm_vartime(points, scalars, n));
}

// The width-5 NAF digits of a group's ks' halves are shared by its points:
// a digit d (odd, |d| < 16) at bit j puts point i's table entry j into the
// bucket of |d|, one of its own 8; all buckets of all groups are summed
// affinely together, and each point's result is sum_o o * bucket[o].
void fold_fixed(const G1Affine* lo, const FixedTable* const* const* tables, const Fr* ks, size_t terms, size_t n,
                G1Affine* out, size_t groups) {
  constexpr int kWidth = 5;
  constexpr size_t kBuckets = size_t(1) << (kWidth - 2);  // odd magnitudes 1, 3, .., 15
  if (n == 0) return;
  if (groups == 0 || n % groups != 0) fail("fold_fixed: the outputs do not split into the groups");
  struct Digit {
    size_t term;
    int half, entry;
    uint32_t bucket;
    bool negate;
  };
  // The digits of each group's ks; point i belongs to group i / per.
  const size_t per = n / groups;
  std::vector<std::vector<Digit>> group_digits(groups);
  for (size_t g = 0; g < groups; ++g) {
    for (size_t t = 0; t < terms; ++t) {
      const Fr& k = ks[g * terms + t];
      if (k.is_zero()) continue;
      const GlvSplit s = glv_split(k);
      for (int h = 0; h < 2; ++h) {
        const bool negate = h ? s.neg2 : s.neg1;
        wnaf_digits(h ? s.k2 : s.k1, kWidth, [&](int bit, int d) {
          group_digits[g].push_back(Digit{t, h, bit, uint32_t(((d < 0 ? -d : d) - 1) / 2), (d < 0) != negate});
        });
      }
    }
  }
  // Bucket b of point i is segment i * kBuckets + b; identity tables put
  // nothing in.
  const size_t buckets = n * kBuckets;
  std::vector<size_t> len(buckets, 0), start(buckets + 1, 0);
  for (size_t i = 0; i < n; ++i) {
    for (const Digit& d : group_digits[i / per]) {
      if (!tables[d.term][i]->identity) ++len[i * kBuckets + d.bucket];
    }
  }
  for (size_t b = 0; b < buckets; ++b) start[b + 1] = start[b] + len[b];
  std::vector<PointRef> refs(start[buckets]);
  {
    std::vector<size_t> pos(start.begin(), start.end() - 1);
    for (size_t i = 0; i < n; ++i) {
      for (const Digit& d : group_digits[i / per]) {
        const FixedTable& tab = *tables[d.term][i];
        if (tab.identity) continue;
        const AffineXY& q = tab.shifted[d.half][d.entry];
        // The entries are spread over megabytes of tables: fetched now, read
        // when the buckets are summed.
        __builtin_prefetch(&q);
        refs[pos[i * kBuckets + d.bucket]++] = ref_of(q, d.negate);
      }
    }
  }
  std::vector<G1Affine> bucket(buckets);
  sum_bucket_refs(refs.data(), start.data(), len.data(), buckets, bucket.data());
  // lo + sum_b (2b + 1) * bucket[b] = all + 2*(s0 + 2*(s1 + 2*s2)), where
  // all is the sum of lo and the point's buckets and sk the sum of the
  // buckets whose index has bit k set: the four sums of every point in one
  // call, then six rounds of additions of all points together (each round's
  // inversion shared).
  static_assert(kBuckets == 8);
  constexpr size_t kParts = 4;  // all, s0, s1, s2
  // lo[i] joins the point's plain sum (weight 1), which saves a round.
  std::vector<size_t> plen(n * kParts, 0), pstart(n * kParts + 1, 0);
  for (size_t i = 0; i < n; ++i) {
    if (!lo[i].infinity) ++plen[i * kParts];
    for (size_t b = 0; b < kBuckets; ++b) {
      if (len[i * kBuckets + b] == 0) continue;
      ++plen[i * kParts];
      for (size_t k = 0; k < 3; ++k) plen[i * kParts + 1 + k] += (b >> k) & 1;
    }
  }
  for (size_t k = 0; k < n * kParts; ++k) pstart[k + 1] = pstart[k] + plen[k];
  std::vector<G1Affine> parts(pstart[n * kParts]);
  {
    std::vector<size_t> pos(pstart.begin(), pstart.end() - 1);
    for (size_t i = 0; i < n; ++i) {
      if (!lo[i].infinity) parts[pos[i * kParts]++] = lo[i];
      for (size_t b = 0; b < kBuckets; ++b) {
        const size_t at = i * kBuckets + b;
        if (len[at] == 0) continue;
        parts[pos[i * kParts]++] = bucket[at];
        for (size_t k = 0; k < 3; ++k) {
          if ((b >> k) & 1) parts[pos[i * kParts + 1 + k]++] = bucket[at];
        }
      }
    }
  }
  sum_buckets_affine(parts, pstart, plen);
  auto part = [&](size_t i, size_t k) {
    const size_t s = i * kParts + k;
    return plen[s] ? parts[pstart[s]] : G1Affine::identity();
  };
  // acc[i] = acc[i] + other(i), for every point at once.
  std::vector<G1Affine> acc(n), pair(2 * n);
  std::vector<size_t> two_start(n + 1), two_len(n);
  auto round = [&](auto&& other) {
    for (size_t i = 0; i < n; ++i) {
      pair[2 * i] = acc[i];
      pair[2 * i + 1] = other(i);
      two_start[i] = 2 * i;
      two_len[i] = 2;
    }
    two_start[n] = 2 * n;
    sum_buckets_affine(pair, two_start, two_len);
    for (size_t i = 0; i < n; ++i) acc[i] = two_len[i] ? pair[2 * i] : G1Affine::identity();
  };
  for (size_t i = 0; i < n; ++i) acc[i] = part(i, 3);
  for (size_t k : {2, 1, 0}) {  // then s1, s0 and all (with lo), each after a doubling
    round([&](size_t i) { return acc[i]; });
    round([&](size_t i) { return part(i, k); });
  }
  std::copy(acc.begin(), acc.end(), out);
}

void encode_compressed(const G1Affine& p, uint8_t out[32]) {
  if (p.infinity) {
    std::memset(out, 0, 32);
    out[0] = 0x40;
    return;
  }
  p.x.to_be_bytes(out);
  if (fq_is_negative(p.y)) out[0] |= 0x80;
}

void encode_uncompressed(const G1Affine& p, uint8_t out[64]) {
  if (p.infinity) {
    std::memset(out, 0, 64);
    out[0] = 0x40;
    return;
  }
  p.y.to_be_bytes(out);
  p.x.to_be_bytes(out + 32);
}

// Every point on the curve lies in the order-r group (cofactor 1), so the
// curve equation is the whole validation: the product r*P of a point that
// satisfies it is always the identity.
bool decode_point(const uint8_t* data, size_t len, G1Affine& out) {
  if (len != 32 && len != 64) return false;
  const uint8_t flags = data[0] & 0xC0;
  if (flags == 0xC0) return false;
  const bool identity = flags == 0x40;
  uint8_t first[32];
  std::memcpy(first, data, 32);
  first[0] &= 0x3F;
  Fq a;
  if (!Fq::from_canonical(u256_from_be(first), a)) return false;

  if (len == 32) {
    if (identity) {
      out = G1Affine::identity();
      return true;
    }
    const Fq& x = a;
    Fq y;
    if (!fq_sqrt(x.sqr() * x + curve_b(), y)) return false;
    const bool want_negative = flags == 0x80;
    if (fq_is_negative(y) != want_negative) y = -y;
    G1Affine pt{x, y, false};
    if (!pt.is_on_curve()) return false;
    out = pt;
    return true;
  }

  Fq x;
  if (!Fq::from_canonical(u256_from_be(data + 32), x)) return false;
  if (identity) {
    out = G1Affine::identity();
    return true;
  }
  G1Affine pt{x, a, false};  // the sign flag of this form is ignored
  if (!pt.is_on_curve()) return false;
  out = pt;
  return true;
}

}  // namespace nacrel
