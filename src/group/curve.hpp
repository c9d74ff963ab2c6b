// BN254 G1: y^2 = x^3 + 3 over Fq, prime order r (cofactor 1), generator (1, 2).
// Affine points at the boundary, Jacobian coordinates inside arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "group/field.hpp"

namespace nacrel {

// Affine point; the identity has infinity = true and x = y = 0, so field-wise
// comparison is point equality.
struct G1Affine {
  Fq x, y;
  bool infinity;

  static G1Affine identity();
  // (1, 2).
  static G1Affine generator();
  bool is_on_curve() const;  // identity counts as on the curve
  friend bool operator==(const G1Affine& a, const G1Affine& b) {
    return a.infinity == b.infinity && a.x == b.x && a.y == b.y;
  }
  friend bool operator!=(const G1Affine& a, const G1Affine& b) { return !(a == b); }
};

// Jacobian point (X/Z^2, Y/Z^3); Z = 0 is the identity.
struct G1Jac {
  Fq X, Y, Z;

  static G1Jac identity();
  bool is_identity() const { return Z.is_zero(); }
};

G1Jac to_jacobian(const G1Affine& p);
// The same without a branch on p; the identity comes out as (0, 0, 0).
G1Jac to_jacobian_ct(const G1Affine& p);
// Constant-time normalisation (after secret multiplications).
G1Affine to_affine(const G1Jac& p);
// Variable-time normalisation (public values).
G1Affine to_affine_vartime(const G1Jac& p);
// Normalises n points with one inversion (Montgomery's trick); identities allowed.
void batch_to_affine(const G1Jac* in, G1Affine* out, size_t n);

G1Jac dbl(const G1Jac& p);
G1Jac add(const G1Jac& p, const G1Jac& q);
G1Jac add_mixed(const G1Jac& p, const G1Affine& q);
G1Jac neg(const G1Jac& p);
G1Affine neg(const G1Affine& p);
// Point equality without normalising (variable time).
bool jac_eq_affine(const G1Jac& p, const G1Affine& q);

// p*k in constant time with respect to k: no branch or memory index depends on k.
G1Jac mul_ct(const G1Affine& p, const Fr& k);
// sum of points[i]*scalars[i] in constant time with respect to the scalars
// (and the points); n = 0 gives the identity. One doubling chain for all
// points, so much cheaper than n calls of mul_ct.
G1Jac msm_ct(const G1Affine* points, const Fr* scalars, size_t n);
// sum of the points[i] whose bits[i] is 1 (each bit 0 or 1), in constant time
// with respect to the bits: every point is selected by a mask and added with
// complete formulas. n = 0 gives the identity.
G1Jac sum_selected_ct(const G1Affine* points, const uint64_t* bits, size_t n);
// p + q in constant time: complete formulas, no branch on either point
// (identities included).
G1Jac add_ct(const G1Jac& p, const G1Jac& q);
// Multiples P, 2P, ..., 64P of a public point (4 KB), for constant-time sums
// over fixed points.
struct alignas(64) CtTable {
  static constexpr int kWidth = 7;  // bits of a signed digit
  static constexpr int kMultiples = 1 << (kWidth - 1);
  static constexpr int kDigits = (254 + kWidth) / kWidth;  // of a scalar below 2^254
  struct Entry {
    Fq x, y;
  };
  Entry mult[kMultiples];  // mult[j] = (j + 1) P
  bool identity;           // P is the identity (the entries are then unset)
};
// Fills out[i] for the public points[i], with shared inversions.
void build_ct_tables(const G1Affine* points, CtTable* out, size_t n);
// sum of tables[i]'s point times scalars[i], constant time in the scalars
// (the points are public). Every signed 7-bit digit of every scalar is one
// table scan and one affine addition in a summation tree per digit position;
// the additions of a tree level share one inversion. n = 0 gives the identity.
// (fixed_ct.cpp)
G1Jac msm_ct_tables(const CtTable* const* tables, const Fr* scalars, size_t n);
// The same for points without tables: builds them first.
G1Jac msm_ct_public_bases(const G1Affine* points, const Fr* scalars, size_t n);
// The tables of 2^(7j) P for every digit position j of a scalar (37 tables,
// 148 KB), for constant-time products of a fixed point: a product is then one
// table scan per digit and a sum of the 37 selected points, with no doubling.
struct CtCombTable {
  CtTable shifted[CtTable::kDigits];  // shifted[j] is the table of 2^(7j) P
  bool identity;                      // P is the identity (the tables are then unset)
};
void build_ct_comb_table(const G1Affine& p, CtCombTable& out);
// A constant-time sum of products of comb points by secret scalars and of
// public points selected by secret bits (each 0 or 1):
//   sum over t < n_combs of combs[t]'s point times scalars[t]
//   + sum over i < n_points of bits[i] * points[i].
struct CtCombSum {
  const CtCombTable* const* combs;
  const Fr* scalars;
  size_t n_combs;
  const G1Affine* points;
  const uint64_t* bits;
  size_t n_points;
};
// out[k] = sums[k] for k < n, affine (the identity as (0, 0)), in constant
// time with respect to the scalars and bits: every selected point is a leaf of
// one tree of affine additions per sum, and the additions of a tree level
// share one inversion across all the sums. (fixed_ct.cpp)
void sums_ct_combs(const CtCombSum* sums, size_t n, G1Affine* out);
// The 64-bit lanes of the table scans of msm_ct_tables and sums_ct_combs:
// 8 (AVX-512), 4 (AVX2) or 2 (SSE2), the widest the CPU has (chosen at
// start-up by cpuid; x86-64 only). Every width gives identical results.
int table_scan_lanes();
// Narrows the scans (or widens them back, up to what the CPU has), for
// tests and benchmarks; returns the width in effect afterwards.
int set_table_scan_lanes(int lanes);
// Whether the batched affine additions run on AVX-512 IFMA (chosen at
// start-up by cpuid; x86-64 only): the variable-time bucket sums (the
// fixed-base, bucket and odd-table sums and the generator folding) and the
// constant-time trees of msm_ct_tables, sums_ct_combs and build_ct_tables.
// Both paths give identical results.
bool ifma_affine_sums_active();
// Switches them off (or back on where available), for tests and benchmarks;
// returns whether they are active afterwards.
bool set_ifma_affine_sums(bool on);
// The split of glv_split as magnitudes below 2^128 and sign masks
// (all-ones for negative), in constant time.
void glv_split_ct(const Fr& k, U256& k1, uint64_t& neg1, U256& k2, uint64_t& neg2);
// sum over j < n of 2^(shift*j) * pts[j] by Horner's rule with complete
// formulas: constant time in the points (identities allowed).
G1Jac horner_ct(const G1Affine* pts, size_t n, int shift);
// p*k in variable time (GLV + wNAF); for public scalars only.
G1Jac mul_vartime(const G1Affine& p, const Fr& k);
// sum of points[i]*scalars[i], variable time; n = 0 gives the identity.
G1Jac msm_vartime(const G1Affine* points, const Fr* scalars, size_t n);

// Precomputed table of a fixed point for public multiplications: the affine
// points 2^j P for every bit position j of a GLV half (and one for the last
// carry), and their images under the endomorphism. A product is then a sum
// of table entries times odd digits, with no doubling at all, for digits of
// any width (a digit 2^t * o at bit j reads entry j + t). 16.5 KB per point.
// A point's coordinates alone, on one cache line (entries of tables whose
// point is not the identity, read at random by the bucket sums).
struct alignas(64) AffineXY {
  Fq x, y;
};
struct FixedTable {
  static constexpr int kStep = 1;
  static constexpr int kEntries = 128 / kStep + 1;  // one for the last carry
  AffineXY shifted[2][kEntries];  // shifted[0][j] = 2^j P, shifted[1][j] = phi(2^j P); unset for the identity
  bool identity = true;
  G1Affine point() const {
    return identity ? G1Affine::identity() : G1Affine{shifted[0][0].x, shifted[0][0].y, false};
  }
};
// Fills out[i] for points[i] (identities allowed), with one shared inversion.
void build_fixed_tables(const G1Affine* points, FixedTable* out, size_t n);
// sum of tables[i].point()*fixed_scalars[i] + sum of points[j]*scalars[j],
// variable time; equals msm_vartime over all the points. Either count may be zero.
G1Jac msm_vartime_fixed(const FixedTable* const* tables, const Fr* fixed_scalars, size_t n_fixed,
                        const G1Affine* points, const Fr* scalars, size_t n);
// Several sums over fixed tables: out[s] = sum over the next counts[s]
// tables of their point times the scalar (variable time); their bucket
// additions share inversions.
void msm_vartime_fixed_sums(const FixedTable* const* tables, const Fr* scalars, const size_t* counts, size_t sums,
                            G1Jac* out);
// out[i] = lo[i] + sum over t < terms of tables[t][i]->point()*ks[g*terms + t]
// for i < n, g = i / (n / groups) the group of output i (public ks, variable
// time), all normalised together; lo[i] may be the identity. Each tables[t]
// is an array of n tables; n must be a multiple of groups.
void fold_fixed(const G1Affine* lo, const FixedTable* const* const* tables, const Fr* ks, size_t terms, size_t n,
                G1Affine* out, size_t groups = 1);

// Odd multiples P, 3P, ..., (2^(w-1) - 1)P of a public point and their images
// under the endomorphism, affine, for variable-time sums over the points
// (width 5 for the inner product's base points and the verifier's points;
// up to 6).
// With their doubles too, a sum needs half the additions in its doubling
// chain (one per two bit positions).
struct OddTable {
  static constexpr int kWindow = 6;  // widest NAF digits read from it
  static constexpr int kEntries = 1 << (kWindow - 2);
  G1Affine odd[2][kEntries];  // odd[0][j] = (2j + 1) P, odd[1][j] = phi((2j + 1) P), j < 2^(window-2)
  G1Affine twice[2][kEntries];  // 2 odd[h][j], when has_twice
  int window;
  bool identity;
  bool has_twice;
};
// Fills out[i] for points[i] (identities allowed) up to width window (2 to
// kWindow), normalised together, with the doubles when twice is set.
void build_odd_tables(const G1Affine* points, OddTable* out, size_t n, int window = OddTable::kWindow,
                      bool twice = false);
// sum of tables[i]'s point times scalars[i], variable time: the NAF digits
// of all GLV halves summed per bit position (per two positions when every
// table has its doubles) by affine additions with shared inversions, then
// one doubling chain. (odd_tables.cpp)
G1Jac msm_vartime_odd(const OddTable* const* tables, const Fr* scalars, size_t n);
// Several such sums at once, their affine additions sharing inversions: sum
// s (out[s]) takes the next counts[s] tables and scalars.
void msm_vartime_odd_sums(const OddTable* const* tables, const Fr* scalars, const size_t* counts, size_t sums,
                          G1Jac* out);
// Multiples of a fixed point for single public products: for each position
// j of a signed base-2^kBits digit of a GLV half, the affine points
// d * 2^(kBits*j) * P for d = 1 .. 2^(kBits-1) (the images under the
// endomorphism are formed when read). A product is then one mixed addition
// per non-zero digit, about 38 of them, and no doubling. 88 KB per point.
struct CombTable {
  static constexpr int kBits = 7;
  static constexpr int kPositions = (128 + kBits) / kBits;  // 129 bits: a half and its last carry
  static constexpr int kMultiples = 1 << (kBits - 1);
  bool identity = true;
  G1Affine entries[kPositions][kMultiples];  // entries[j][d - 1] = d * 2^(kBits*j) * P
};
void build_comb_table(const G1Affine& p, CombTable& out);
// p*k for the table's point p, variable time (public k only).
G1Jac mul_comb(const CombTable& table, const Fr& k);
// The table of the standard generator (1, 2), built on first use.
const CombTable& generator_comb();

// GLV endomorphism: phi(x, y) = (beta*x, y) = lambda*P for every point P,
// with beta a cube root of unity in Fq and lambda one in Fr.
G1Affine glv_endo(const G1Affine& p);
const Fr& glv_lambda();
// k = (neg1 ? -k1 : k1) + (neg2 ? -k2 : k2) * lambda (mod r), with k1, k2
// below 2^128 (variable time; public scalars only).
struct GlvSplit {
  U256 k1, k2;
  bool neg1, neg2;
};
GlvSplit glv_split(const Fr& k);

// msm_vartime by a chosen method, for tests and benchmarks: 0 = interleaved
// wNAF, 1..31 = Jacobian buckets of that width, 101..131 = affine buckets of
// width method - 100, anything else = affine buckets of the default width.
G1Jac msm_vartime_with(const G1Affine* points, const Fr* scalars, size_t n, int method);

// 32 bytes: x big-endian; 0x80 in byte 0 if y is negative, 0x40 for the identity.
void encode_compressed(const G1Affine& p, uint8_t out[32]);
// 64 bytes: y then x big-endian; 0x40 in byte 0 for the identity; no sign bit.
void encode_uncompressed(const G1Affine& p, uint8_t out[64]);
// Decodes 32 (compressed) or 64 (uncompressed) bytes with full validation;
// false for any other length or any invalid encoding.
bool decode_point(const uint8_t* data, size_t len, G1Affine& out);

}  // namespace nacrel
