#include "group/curve.hpp"

#include <cstring>
#include <vector>

#include "group/field_impl.hpp"

namespace nacrel {

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

Proj proj_add(const Proj& p, const Proj& q) {
  Fq t0 = p.X * q.X;
  Fq t1 = p.Y * q.Y;
  Fq t2 = p.Z * q.Z;
  Fq t3 = p.X + p.Y;
  Fq t4 = q.X + q.Y;
  t3 = t3 * t4;
  t4 = t0 + t1;
  t3 = t3 - t4;
  t4 = p.Y + p.Z;
  Fq X3 = q.Y + q.Z;
  t4 = t4 * X3;
  X3 = t1 + t2;
  t4 = t4 - X3;
  X3 = p.X + p.Z;
  Fq Y3 = q.X + q.Z;
  X3 = X3 * Y3;
  Y3 = t0 + t2;
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

Proj proj_dbl(const Proj& p) {
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

void batch_to_affine(const G1Jac* in, G1Affine* out, size_t n) {
  if (n == 0) return;
  // prefix[i] = product of the non-zero Z of in[0..i).
  std::vector<Fq> prefix(n);
  Fq acc = Fq::one();
  for (size_t i = 0; i < n; ++i) {
    prefix[i] = acc;
    if (!in[i].is_identity()) acc = acc * in[i].Z;
  }
  Fq inv = acc.inverse_vartime();
  for (size_t i = n; i-- > 0;) {
    if (in[i].is_identity()) {
      out[i] = G1Affine::identity();
      continue;
    }
    Fq zi = inv * prefix[i];
    inv = inv * in[i].Z;
    Fq zi2 = zi.sqr();
    G1Affine a{in[i].X * zi2, in[i].Y * zi2 * zi, false};
    out[i] = a;
  }
}

// dbl-2009-l (a = 0).
G1Jac dbl(const G1Jac& p) {
  Fq A = p.X.sqr();
  Fq B = p.Y.sqr();
  Fq C = B.sqr();
  Fq D = (p.X + B).sqr() - A - C;
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
G1Jac add(const G1Jac& p, const G1Jac& q) {
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
  Fq I = (H + H).sqr();
  Fq J = H * I;
  Fq V = U1 * I;
  Fq X3 = rr.sqr() - J - V - V;
  Fq S1J = S1 * J;
  Fq Y3 = rr * (V - X3) - S1J - S1J;
  Fq Z3 = ((p.Z + q.Z).sqr() - Z1Z1 - Z2Z2) * H;
  return G1Jac{X3, Y3, Z3};
}

// madd-2007-bl, with the equal and opposite cases handled.
G1Jac add_mixed(const G1Jac& p, const G1Affine& q) {
  if (q.infinity) return p;
  if (p.is_identity()) return to_jacobian(q);
  Fq Z1Z1 = p.Z.sqr();
  Fq U2 = q.x * Z1Z1;
  Fq S2 = q.y * p.Z * Z1Z1;
  Fq H = U2 - p.X;
  Fq rr = S2 - p.Y;
  if (H.is_zero()) {
    if (rr.is_zero()) return dbl(p);
    return G1Jac::identity();
  }
  rr = rr + rr;
  Fq HH = H.sqr();
  Fq I = HH + HH;
  I = I + I;
  Fq J = H * I;
  Fq V = p.X * I;
  Fq X3 = rr.sqr() - J - V - V;
  Fq YJ = p.Y * J;
  Fq Y3 = rr * (V - X3) - YJ - YJ;
  Fq Z3 = (p.Z + H).sqr() - Z1Z1 - HH;
  return G1Jac{X3, Y3, Z3};
}

G1Jac neg(const G1Jac& p) { return G1Jac{p.X, -p.Y, p.Z}; }

G1Affine neg(const G1Affine& p) { return G1Affine{p.x, -p.y, p.infinity}; }

bool jac_eq_affine(const G1Jac& p, const G1Affine& q) {
  if (p.is_identity()) return q.infinity;
  if (q.infinity) return false;
  Fq z2 = p.Z.sqr();
  return p.X == q.x * z2 && p.Y == q.y * z2 * p.Z;
}

G1Jac mul_ct(const G1Affine& p, const Fr& k) {
  // Table of 0*P .. 15*P in projective form. P itself is public, but its
  // identity flag is still folded in by cmov.
  Proj table[16];
  const Proj id{Fq::zero(), Fq::one(), Fq::zero()};
  table[0] = id;
  table[1] = Proj{p.x, p.y, Fq::one()};
  proj_cmov(table[1], id, uint64_t(0) - uint64_t(p.infinity));
  for (int i = 2; i < 16; ++i) table[i] = (i % 2 == 0) ? proj_dbl(table[i / 2]) : proj_add(table[i - 1], table[1]);

  const U256 e = k.to_canonical();
  Proj acc = id;
  for (int w = 63; w >= 0; --w) {
    acc = proj_dbl(proj_dbl(proj_dbl(proj_dbl(acc))));
    uint64_t nib = (e.w[w / 16] >> ((w % 16) * 4)) & 15;
    Proj sel = id;
    for (uint64_t j = 0; j < 16; ++j) proj_cmov(sel, table[j], ct_eq_mask(j, nib));
    acc = proj_add(acc, sel);
  }
  // (X : Y : Z) projective -> (XZ, YZ^2, Z) Jacobian; Z = 0 stays the identity.
  Fq z2 = acc.Z.sqr();
  G1Jac out{acc.X * acc.Z, acc.Y * z2, acc.Z};
  // Keep the canonical identity representation without branching.
  uint64_t is_id = ct_zero_mask(acc.Z);
  Fq::cmov(out.X, Fq::one(), is_id);
  Fq::cmov(out.Y, Fq::one(), is_id);
  return out;
}

namespace {

// Width-w non-adjacent form of a 256-bit integer: digits odd in
// (-2^(w-1), 2^(w-1)) or zero, at most 257 of them.
int wnaf(const U256& k, int w, int8_t* digits) {
  uint64_t t[5] = {k.w[0], k.w[1], k.w[2], k.w[3], 0};
  const int64_t full = int64_t(1) << w;
  const int64_t half = full >> 1;
  int len = 0;
  auto nonzero = [&] { return (t[0] | t[1] | t[2] | t[3] | t[4]) != 0; };
  while (nonzero()) {
    int8_t d = 0;
    if (t[0] & 1) {
      int64_t v = int64_t(t[0] & uint64_t(full - 1));
      if (v >= half) v -= full;
      d = int8_t(v);
      // t -= v
      if (v > 0) {
        uint64_t b = 0;
        t[0] = fieldimpl::sbb(t[0], uint64_t(v), b);
        for (int i = 1; i < 5; ++i) t[i] = fieldimpl::sbb(t[i], 0, b);
      } else {
        uint64_t c = 0;
        t[0] = fieldimpl::adc(t[0], uint64_t(-v), c);
        for (int i = 1; i < 5; ++i) t[i] = fieldimpl::adc(t[i], 0, c);
      }
    }
    digits[len++] = d;
    for (int i = 0; i < 4; ++i) t[i] = (t[i] >> 1) | (t[i + 1] << 63);
    t[4] >>= 1;
  }
  return len;
}

constexpr int kWnafWidth = 5;
constexpr int kTableSize = 1 << (kWnafWidth - 2);  // P, 3P, ..., 15P

void odd_multiples(const G1Affine& p, G1Jac* table) {
  G1Jac pj = to_jacobian(p);
  G1Jac p2 = dbl(pj);
  table[0] = pj;
  for (int i = 1; i < kTableSize; ++i) table[i] = add(table[i - 1], p2);
}

}  // namespace

G1Jac mul_vartime(const G1Affine& p, const Fr& k) {
  if (p.infinity || k.is_zero()) return G1Jac::identity();
  return msm_vartime(&p, &k, 1);
}

G1Jac msm_vartime(const G1Affine* points, const Fr* scalars, size_t n) {
  // Interleaved wNAF (Straus): one doubling chain, one table per point.
  std::vector<G1Jac> tables(n * kTableSize);
  std::vector<int8_t> digits(n * 260);
  std::vector<int> lens(n);
  int maxlen = 0;
  for (size_t i = 0; i < n; ++i) {
    if (points[i].infinity) {
      lens[i] = 0;
      continue;
    }
    lens[i] = wnaf(scalars[i].to_canonical(), kWnafWidth, &digits[i * 260]);
    if (lens[i] > maxlen) maxlen = lens[i];
    if (lens[i] > 0) odd_multiples(points[i], &tables[i * kTableSize]);
  }
  G1Jac acc = G1Jac::identity();
  for (int bit = maxlen - 1; bit >= 0; --bit) {
    acc = dbl(acc);
    for (size_t i = 0; i < n; ++i) {
      if (bit >= lens[i]) continue;
      int d = digits[i * 260 + bit];
      if (d > 0) acc = add(acc, tables[i * kTableSize + (d - 1) / 2]);
      else if (d < 0) acc = add(acc, neg(tables[i * kTableSize + (-d - 1) / 2]));
    }
  }
  return acc;
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
