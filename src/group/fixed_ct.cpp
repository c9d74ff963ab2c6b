// Constant-time sums of products over public bases (msm_ct_tables,
// msm_ct_public_bases, and sums_ct_combs over comb tables).
//
// Each scalar (below 2^254) is written in kDigits signed digits in
// [-kMultiples, kMultiples] of kWidth bits. The point of every digit is read
// from a table of P, 2P, ..., kMultiples*P by a full scan with masked moves
// and negated by a mask; a zero digit gives the identity. For each digit
// position the selected points of all products are summed by a binary tree
// of affine additions; the additions of one tree level (all positions
// together) share one constant-time inversion, so an addition costs about 6
// products against 12 for a complete projective one. The position sums are
// combined by Horner's rule with complete formulas.
//
// Wider digits mean fewer additions (one per digit) against longer scans;
// at 7 bits a scalar has 37 digits and a table 64 entries (4 KB).
//
// The affine additions have no branch: equal points (doubling), opposite
// points and identities are selected by masks, and every denominator is
// non-zero (2y for a doubling, since the group has no point of order 2;
// 1 where the result comes from the masks alone).
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "group/ct_pairs.hpp"
#include "group/curve.hpp"
#include "group/secret.hpp"
#include "group/field_impl.hpp"

namespace nacrel {

// Every field operation inlined into the sums (see curve.cpp).
#ifndef NACREL_FLATTEN
#define NACREL_FLATTEN __attribute__((flatten))
#endif

namespace {

constexpr int kWidth = CtTable::kWidth;
constexpr uint64_t kMultiples = CtTable::kMultiples;  // table P .. kMultiples * P
static_assert(kMultiples == uint64_t(1) << (kWidth - 1));
// Smallest count with kWidth * kDigits >= 255: a scalar below 2^254 then
// leaves no carry past the top digit.
constexpr int kScalarBits = 254;
constexpr int kDigits = CtTable::kDigits;
static_assert(kDigits == (kScalarBits + kWidth) / kWidth);
static_assert(kWidth * kDigits >= kScalarBits + 1 && kWidth * (kDigits - 1) < kScalarBits + 1);

inline uint64_t word_eq_mask(uint64_t a, uint64_t b) {
  const uint64_t x = a ^ b;
  return ((x | (uint64_t(0) - x)) >> 63) - 1;
}

inline uint64_t fq_eq_mask(const Fq& a, const Fq& b) {
  const uint64_t x = (a.v[0] ^ b.v[0]) | (a.v[1] ^ b.v[1]) | (a.v[2] ^ b.v[2]) | (a.v[3] ^ b.v[3]);
  return ((x | (uint64_t(0) - x)) >> 63) - 1;
}

inline void ct_point_cmov(CtPoint& r, const CtPoint& a, uint64_t mask) {
  Fq::cmov(r.x, a.x, mask);
  Fq::cmov(r.y, a.y, mask);
  r.inf ^= mask & (r.inf ^ a.inf);
}

// Per pair: the denominator, the numerator of the slope and the mask of
// opposite points, kept between the two passes.
struct PairScratch {
  std::vector<Fq> den, num, prefix;
  std::vector<uint64_t> opposite;
  void resize(size_t m) {
    den.resize(m);
    num.resize(m);
    prefix.resize(m);
    opposite.resize(m);
  }
};

// in[2k] + in[2k + 1] for k < m, in constant time with respect to the
// points; the m denominators share one inversion. The sums are written in
// rows of row_pairs with out_stride between rows: pair k goes to
// out[(k / row_pairs) * out_stride + k % row_pairs] (by default all in one
// row). out must not overlap in (the second pass runs backwards).
NACREL_FLATTEN void add_pairs_ct(const CtPoint* in, CtPoint* out, size_t m, PairScratch& s, size_t row_pairs = 0,
                                 size_t out_stride = 0) {
  if (row_pairs == 0) row_pairs = out_stride = m;
  if (m == 0) return;
  // Eight pairs at a time where the CPU can.
  if (m >= 16 && add_pairs_ct_wide(in, out, m, row_pairs, out_stride)) return;
  s.resize(m);
  const Fq one = Fq::one();
  Fq acc = one;
  for (size_t k = 0; k < m; ++k) {
    const CtPoint& p = in[2 * k];
    const CtPoint& q = in[2 * k + 1];
    const uint64_t eqx = fq_eq_mask(p.x, q.x), eqy = fq_eq_mask(p.y, q.y);
    const uint64_t finite = ~(p.inf | q.inf);
    const uint64_t doubling = eqx & eqy & finite;
    const uint64_t adding = ~eqx & finite;
    Fq den = q.x - p.x;
    Fq::cmov(den, p.y + p.y, doubling);
    Fq::cmov(den, one, ~(adding | doubling));
    Fq num = q.y - p.y;
    const Fq xx = p.x.sqr();
    Fq::cmov(num, xx + xx + xx, doubling);
    s.den[k] = den;
    s.num[k] = num;
    s.opposite[k] = eqx & ~eqy & finite;
    s.prefix[k] = acc;
    acc = acc * den;
  }
  Fq inv = acc.inverse_ct();
  for (size_t k = m; k-- > 0;) {
    const CtPoint p = in[2 * k];
    const CtPoint q = in[2 * k + 1];
    const Fq di = inv * s.prefix[k];
    inv = inv * s.den[k];
    const Fq lambda = s.num[k] * di;
    const Fq x3 = lambda.sqr() - p.x - q.x;
    CtPoint r{x3, lambda * (p.x - x3) - p.y, (p.inf & q.inf) | s.opposite[k]};
    const uint64_t r_inf = r.inf;
    ct_point_cmov(r, p, q.inf);
    ct_point_cmov(r, q, p.inf);
    r.inf = r_inf;
    out[(k / row_pairs) * out_stride + k % row_pairs] = r;
  }
}

constexpr size_t kKeptLeaves = size_t(1) << 17;  // about 9 MB of leaves

struct Workspace {
  std::vector<size_t> live;
  std::vector<CtPoint> cur, next, row;
  PairScratch scratch;
  // The tree nodes are selected by secret digits: zero them once a sum is
  // done, so they do not outlive the call in the thread's kept buffers.
  void wipe() {
    auto clear = [](auto& v) { secure_wipe(v.data(), v.capacity() * sizeof v[0]); };
    clear(cur);
    clear(next);
    clear(row);
    clear(scratch.den);
    clear(scratch.num);
    clear(scratch.prefix);
    clear(scratch.opposite);
  }
};

// kWidth bits of m at bit pos (pos public).
inline uint64_t window_at(const U256& m, int pos) {
  const int w = pos / 64, s = pos % 64;
  uint64_t v = m.w[w] >> s;
  if (s + kWidth > 64 && w < 3) v |= m.w[w + 1] << (64 - s);
  return v & ((uint64_t(1) << kWidth) - 1);
}

// Signed digits of m < 2^254: magnitudes in [0, kMultiples] and sign masks.
// Branch-free.
void recode(const U256& m, uint64_t* mag, uint64_t* sign) {
  uint64_t carry = 0;
  for (int j = 0; j < kDigits; ++j) {
    uint64_t d = window_at(m, j * kWidth) + carry;  // in [0, 2^kWidth]
    carry = (kMultiples - d) >> 63;                 // d > kMultiples
    d -= carry << kWidth;                           // as a signed value
    const uint64_t s = uint64_t(int64_t(d) >> 63);
    mag[j] = (d ^ s) - s;
    sign[j] = s;
  }
}

// Vectors of 64-bit lanes: two (SSE2, every x86-64) and four (AVX2).
typedef uint64_t Lanes2 __attribute__((vector_size(16)));
typedef uint64_t Lanes4 __attribute__((vector_size(32)));
typedef uint32_t Words4 __attribute__((vector_size(16)));

// out[d] = table[mag[d] - 1], or zeros for mag[d] = 0, for kCount digits
// in one pass over the table (each entry is loaded once for all of them);
// every entry is read and the choice is a mask from a lane-wise comparison,
// so neither a branch nor an address depends on a digit.
template <bool kWide, int kCount>
NACREL_INLINE void scan_lanes(const CtTable::Entry* table, const uint64_t* mag, CtPoint* const* out) {
  if constexpr (kWide) {
    const Lanes4 one = {1, 1, 1, 1};
    Lanes4 want[kCount], ax[kCount], ay[kCount];
#pragma GCC unroll 8
    for (int d = 0; d < kCount; ++d) {
      want[d] = one * mag[d];
      ax[d] = one - one;
      ay[d] = ax[d];
    }
    Lanes4 index = one;
    for (uint64_t j = 0; j < kMultiples; ++j) {
      Lanes4 ex, ey;
      std::memcpy(&ex, table[j].x.v, sizeof ex);
      std::memcpy(&ey, table[j].y.v, sizeof ey);
#pragma GCC unroll 8
      for (int d = 0; d < kCount; ++d) {
        const Lanes4 hit = Lanes4(index == want[d]);
        ax[d] |= ex & hit;
        ay[d] |= ey & hit;
      }
      index += one;
    }
#pragma GCC unroll 8
    for (int d = 0; d < kCount; ++d) {
      std::memcpy(out[d]->x.v, &ax[d], sizeof ax[d]);
      std::memcpy(out[d]->y.v, &ay[d], sizeof ay[d]);
    }
  } else {
    // The digits are below 2^31: compared as four equal 32-bit lanes, the
    // comparison is the whole mask.
    const Words4 one = {1, 1, 1, 1};
    Words4 want[kCount];
    Lanes2 a[kCount][4];
#pragma GCC unroll 8
    for (int d = 0; d < kCount; ++d) {
      want[d] = one * uint32_t(mag[d]);
#pragma GCC unroll 4
      for (int l = 0; l < 4; ++l) a[d][l] = Lanes2{0, 0};
    }
    Words4 index = one;
    for (uint64_t j = 0; j < kMultiples; ++j) {
      Lanes2 e[4];
      std::memcpy(&e[0], table[j].x.v, sizeof e[0]);
      std::memcpy(&e[1], table[j].x.v + 2, sizeof e[1]);
      std::memcpy(&e[2], table[j].y.v, sizeof e[2]);
      std::memcpy(&e[3], table[j].y.v + 2, sizeof e[3]);
#pragma GCC unroll 8
      for (int d = 0; d < kCount; ++d) {
        const Lanes2 hit = Lanes2(index == want[d]);
#pragma GCC unroll 4
        for (int l = 0; l < 4; ++l) a[d][l] |= e[l] & hit;
      }
      index += one;
    }
#pragma GCC unroll 8
    for (int d = 0; d < kCount; ++d) {
      std::memcpy(out[d]->x.v, &a[d][0], sizeof a[d][0]);
      std::memcpy(out[d]->x.v + 2, &a[d][1], sizeof a[d][1]);
      std::memcpy(out[d]->y.v, &a[d][2], sizeof a[d][2]);
      std::memcpy(out[d]->y.v + 2, &a[d][3], sizeof a[d][3]);
    }
  }
}

#if defined(__x86_64__)
#define NACREL_HAVE_WIDE_SCAN 1
// Eight 64-bit lanes hold a whole entry (x and y): one load per entry, and
// per digit one lane-wise comparison into a mask and one masked move.
template <int kCount>
__attribute__((target("avx512f"), noinline)) void scan_zmm(const CtTable::Entry* table, const uint64_t* mag,
                                                            CtPoint* const* out) {
  static_assert(sizeof(CtTable::Entry) == 64);
  __m512i acc[kCount], want[kCount];
#pragma GCC unroll 8
  for (int d = 0; d < kCount; ++d) {
    acc[d] = _mm512_setzero_si512();
    want[d] = _mm512_set1_epi64(int64_t(mag[d]));
  }
  const __m512i one = _mm512_set1_epi64(1);
  __m512i index = one;
  for (uint64_t j = 0; j < kMultiples; ++j) {
    const __m512i e = _mm512_loadu_si512(&table[j]);
#pragma GCC unroll 8
    for (int d = 0; d < kCount; ++d) acc[d] = _mm512_mask_mov_epi64(acc[d], _mm512_cmpeq_epi64_mask(index, want[d]), e);
    index = _mm512_add_epi64(index, one);
  }
#pragma GCC unroll 8
  for (int d = 0; d < kCount; ++d) _mm512_storeu_si512(out[d]->x.v, acc[d]);
}
#endif

// kCount digits of one table in one pass, on kLanes 64-bit lanes (8: the
// AVX-512 scan, called; 4 and 2: the vector scans above, inlined).
template <int kLanes, int kCount>
NACREL_INLINE void scan(const CtTable::Entry* table, const uint64_t* mag, CtPoint* const* out) {
  if constexpr (kLanes == 8) {
#ifdef NACREL_HAVE_WIDE_SCAN
    scan_zmm<kCount>(table, mag, out);
#endif
  } else {
    scan_lanes<kLanes == 4, kCount>(table, mag, out);
  }
}

// With a comb (one table per digit position) each digit has its own table
// and is scanned alone.
template <int kLanes>
NACREL_INLINE void select_comb_body(const CtCombTable& comb, const uint64_t* mag, CtPoint* leaves) {
  for (int p = 0; p < kDigits; ++p) {
    CtPoint* out = &leaves[p];
    scan<kLanes, 1>(comb.shifted[p].mult, mag + p, &out);
    leaves[p].inf = word_eq_mask(mag[p], 0);
  }
}

// The scan of every digit of one scalar: leaves[p * stride] for digit p,
// kLanes digits per pass over the table (as many as the vector registers
// hold accumulators for), the rest in one more pass.
template <int kLanes>
NACREL_INLINE void select_digits_body(const CtTable::Entry* table, const uint64_t* mag, CtPoint* leaves,
                                      size_t stride) {
  constexpr int kGroup = kLanes, kRest = kDigits % kGroup;
  int p = 0;
  for (; p + kGroup <= kDigits; p += kGroup) {
    CtPoint* out[kGroup];
    for (int d = 0; d < kGroup; ++d) out[d] = &leaves[size_t(p + d) * stride];
    scan<kLanes, kGroup>(table, mag + p, out);
  }
  if constexpr (kRest > 0) {
    CtPoint* out[kRest];
    for (int d = 0; d < kRest; ++d) out[d] = &leaves[size_t(p + d) * stride];
    scan<kLanes, kRest>(table, mag + p, out);
  }
  for (p = 0; p < kDigits; ++p) leaves[size_t(p) * stride].inf = word_eq_mask(mag[p], 0);
}

__attribute__((noinline)) void select_digits_base(const CtTable::Entry* table, const uint64_t* mag,
                                                  CtPoint* leaves, size_t stride) {
  select_digits_body<2>(table, mag, leaves, stride);
}

__attribute__((noinline)) void select_comb_base(const CtCombTable& comb, const uint64_t* mag, CtPoint* leaves) {
  select_comb_body<2>(comb, mag, leaves);
}

#ifdef NACREL_HAVE_WIDE_SCAN
__attribute__((noinline, target("avx2"))) void select_comb_avx2(const CtCombTable& comb, const uint64_t* mag,
                                                                 CtPoint* leaves) {
  select_comb_body<4>(comb, mag, leaves);
}

__attribute__((noinline, target("avx2"))) void select_digits_avx2(const CtTable::Entry* table,
                                                                   const uint64_t* mag, CtPoint* leaves,
                                                                   size_t stride) {
  select_digits_body<4>(table, mag, leaves, stride);
}

__attribute__((noinline)) void select_digits_avx512(const CtTable::Entry* table, const uint64_t* mag,
                                                    CtPoint* leaves, size_t stride) {
  select_digits_body<8>(table, mag, leaves, stride);
}

__attribute__((noinline)) void select_comb_avx512(const CtCombTable& comb, const uint64_t* mag, CtPoint* leaves) {
  select_comb_body<8>(comb, mag, leaves);
}

// The feature data is filled by a library constructor; called from another
// static initialiser it may not have run yet, hence the explicit init.
int widest_scan() {
  static const int lanes = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return 8;
    if (__builtin_cpu_supports("avx2")) return 4;
    return 2;
  }();
  return lanes;
}

std::atomic<int> g_scan_lanes{widest_scan()};
#endif

// The leaves of one scalar's digits (y negated under the sign masks, the
// identity for a zero digit), by the widest scan switched on.
void select_digits(const CtTable::Entry* table, const uint64_t* mag, const uint64_t* sign, CtPoint* leaves,
                   size_t stride, int lanes) {
#ifdef NACREL_HAVE_WIDE_SCAN
  if (lanes == 8)
    select_digits_avx512(table, mag, leaves, stride);
  else if (lanes == 4)
    select_digits_avx2(table, mag, leaves, stride);
  else
#endif
    select_digits_base(table, mag, leaves, stride);
  (void)lanes;
  for (int p = 0; p < kDigits; ++p) {
    CtPoint& r = leaves[size_t(p) * stride];
    Fq::cmov(r.y, -r.y, sign[p]);
  }
}

// The leaves of one scalar's digits over a comb, at leaves[0 .. kDigits).
void select_comb(const CtCombTable& comb, const uint64_t* mag, const uint64_t* sign, CtPoint* leaves, int lanes) {
#ifdef NACREL_HAVE_WIDE_SCAN
  if (lanes == 8)
    select_comb_avx512(comb, mag, leaves);
  else if (lanes == 4)
    select_comb_avx2(comb, mag, leaves);
  else
#endif
    select_comb_base(comb, mag, leaves);
  (void)lanes;
  for (int p = 0; p < kDigits; ++p) Fq::cmov(leaves[p].y, -leaves[p].y, sign[p]);
}

// A level of affine additions costs about 6 products per pair plus one
// inversion for the level; a complete addition about 12 products. Below
// this many pairs a level is not worth its inversion: 48 for the portable
// additions, 16 for the IFMA ones (eight pairs at a time; measured on the
// range prover's sums).
size_t min_tree_pairs() { return ifma_affine_sums_active() ? 16 : 48; }

// The affine points of Jacobian ones in constant time, with one shared
// inversion; Z = 0 gives the identity (its mask kept in s.opposite).
void normalise_ct(const G1Jac* in, CtPoint* out, size_t n, PairScratch& s) {
  s.resize(n);
  const Fq one = Fq::one();
  Fq acc = one;
  for (size_t k = 0; k < n; ++k) {
    Fq z = in[k].Z;
    s.opposite[k] = fq_eq_mask(z, Fq::zero());
    Fq::cmov(z, one, s.opposite[k]);
    s.den[k] = z;
    s.prefix[k] = acc;
    acc = acc * z;
  }
  Fq inv = acc.inverse_ct();
  for (size_t k = n; k-- > 0;) {
    const Fq zi = inv * s.prefix[k];
    inv = inv * s.den[k];
    const Fq zi2 = zi.sqr();
    out[k] = CtPoint{in[k].X * zi2, in[k].Y * zi2 * zi, s.opposite[k]};
  }
}

inline G1Affine affine_of(const CtPoint& p) {
  G1Affine r{p.x, p.y, (p.inf & 1) != 0};
  Fq::cmov(r.x, Fq::zero(), p.inf);
  Fq::cmov(r.y, Fq::zero(), p.inf);
  return r;
}

// Sums rows of leaves stored one after another (sizes[r] leaves in row r,
// each at least 1) by a binary tree per row; the additions of one level, all
// rows together, share one inversion. A row of odd size gets an identity at
// its end. Once a level would have fewer than min_tree_pairs() pairs, each row's
// remaining points are summed with complete formulas and the sums made
// affine together. The sum of row r ends in cur[r]; sizes is consumed.
void sum_rows(Workspace& ws, std::vector<size_t>& sizes) {
  std::vector<CtPoint>&cur = ws.cur, &next = ws.next, &row = ws.row;
  const CtPoint identity{Fq::zero(), Fq::zero(), ~uint64_t(0)};
  for (;;) {
    size_t total = 0, widest = 0;
    for (size_t w : sizes) {
      total += w + (w % 2);
      widest = std::max(widest, w);
    }
    if (widest <= 1) return;
    if (total / 2 < min_tree_pairs()) break;
    // Pairs of every row adjacent: rows of odd size padded.
    row.resize(total);
    size_t in = 0, o = 0;
    for (size_t& w : sizes) {
      std::copy(cur.begin() + in, cur.begin() + in + w, row.begin() + o);
      in += w;
      o += w;
      if (w % 2 == 1) row[o++] = identity;
      w = (w + 1) / 2;
    }
    next.resize(total / 2);
    add_pairs_ct(row.data(), next.data(), total / 2, ws.scratch);
    cur.swap(next);
  }
  const size_t rows = sizes.size();
  std::vector<G1Affine> points;
  std::vector<G1Jac> sums(rows);
  size_t in = 0;
  for (size_t r = 0; r < rows; ++r) {
    points.resize(sizes[r]);
    for (size_t i = 0; i < sizes[r]; ++i) points[i] = affine_of(cur[in + i]);
    in += sizes[r];
    sums[r] = horner_ct(points.data(), points.size(), 0);
  }
  secure_wipe(points.data(), points.capacity() * sizeof points[0]);
  normalise_ct(sums.data(), cur.data(), rows, ws.scratch);
  secure_wipe(sums.data(), sums.size() * sizeof sums[0]);
}

}  // namespace

void build_ct_comb_table(const G1Affine& p, CtCombTable& out) {
  // Public point: the shifted points 2^(kWidth j) P by plain doublings.
  out.identity = p.infinity;
  if (p.infinity) return;
  std::vector<G1Jac> shifted(kDigits);
  shifted[0] = to_jacobian(p);
  for (int j = 1; j < kDigits; ++j) {
    shifted[j] = shifted[j - 1];
    for (int d = 0; d < kWidth; ++d) shifted[j] = dbl(shifted[j]);
  }
  std::vector<G1Affine> points(kDigits);
  batch_to_affine(shifted.data(), points.data(), kDigits);
  build_ct_tables(points.data(), out.shifted, kDigits);
}

NACREL_FLATTEN void sums_ct_combs(const CtCombSum* sums, size_t n, G1Affine* out) {
  thread_local Workspace ws;
  std::vector<CtPoint>& cur = ws.cur;
  std::vector<size_t> sizes(n);
  size_t total = 0;
  for (size_t k = 0; k < n; ++k) {
    size_t w = sums[k].n_points;
    for (size_t t = 0; t < sums[k].n_combs; ++t) w += sums[k].combs[t]->identity ? 0 : kDigits;
    sizes[k] = std::max<size_t>(w, 1);
    total += sizes[k];
  }
  cur.resize(total);
  const int lanes = table_scan_lanes();
  {
    uint64_t mag[kDigits], sign[kDigits];
    size_t at = 0;
    for (size_t k = 0; k < n; ++k) {
      const CtCombSum& sum = sums[k];
      const size_t first = at;
      for (size_t t = 0; t < sum.n_combs; ++t) {
        if (sum.combs[t]->identity) continue;  // a public fact
        U256 m = sum.scalars[t].to_canonical();
        recode(m, mag, sign);
        select_comb(*sum.combs[t], mag, sign, &cur[at], lanes);
        at += kDigits;
        secure_wipe(&m, sizeof m);
      }
      for (size_t i = 0; i < sum.n_points; ++i) {
        // bits[i] - 1: all-ones (the identity) for 0, zero for 1.
        const uint64_t unselected = sum.bits[i] - 1;
        cur[at++] = CtPoint{sum.points[i].x, sum.points[i].y, unselected | (uint64_t(0) - uint64_t(sum.points[i].infinity))};
      }
      if (at == first) cur[at++] = CtPoint{Fq::zero(), Fq::zero(), ~uint64_t(0)};
    }
    secure_wipe(mag, sizeof mag);
    secure_wipe(sign, sizeof sign);
  }
  sum_rows(ws, sizes);
  for (size_t k = 0; k < n; ++k) out[k] = affine_of(cur[k]);
  ws.wipe();
  if (cur.capacity() > kKeptLeaves) ws = Workspace();
}

NACREL_FLATTEN void build_ct_tables(const G1Affine* points, CtTable* out, size_t n) {
  // The points are public: identities are marked and left out by a branch.
  std::vector<size_t> live;
  for (size_t i = 0; i < n; ++i) {
    out[i].identity = points[i].infinity;
    if (!points[i].infinity) live.push_back(i);
  }
  const size_t count = live.size();
  // Multiples built in kWidth - 1 rounds of shared-inversion additions:
  // round r forms (2^(r-1) + j)P = 2^(r-1)P + jP for j = 1 .. 2^(r-1).
  std::vector<CtPoint> base(count * kMultiples), pairs(count * kMultiples), added(count * kMultiples / 2);
  PairScratch scratch;
  for (size_t i = 0; i < count; ++i) base[i * kMultiples] = CtPoint{points[live[i]].x, points[live[i]].y, 0};
  for (uint64_t half = 1; half < kMultiples; half *= 2) {
    for (size_t i = 0; i < count; ++i) {
      for (uint64_t j = 0; j < half; ++j) {
        pairs[2 * (i * half + j)] = base[i * kMultiples + half - 1];
        pairs[2 * (i * half + j) + 1] = base[i * kMultiples + j];
      }
    }
    add_pairs_ct(pairs.data(), added.data(), count * half, scratch);
    for (size_t i = 0; i < count; ++i) {
      for (uint64_t j = 0; j < half; ++j) base[i * kMultiples + half + j] = added[i * half + j];
    }
  }
  for (size_t i = 0; i < count; ++i) {
    CtTable& t = out[live[i]];
    for (uint64_t j = 0; j < kMultiples; ++j) {
      const CtPoint& e = base[i * kMultiples + j];
      t.mult[j] = CtTable::Entry{e.x, e.y};
    }
  }
}

NACREL_FLATTEN G1Jac msm_ct_tables(const CtTable* const* tables, const Fr* scalars, size_t n) {
  // One workspace per thread, kept between calls: fresh buffers of this size
  // would come from the system as new zeroed pages every time.
  thread_local Workspace ws;
  std::vector<size_t>& live = ws.live;
  live.clear();
  for (size_t i = 0; i < n; ++i) {
    if (!tables[i]->identity) live.push_back(i);
  }
  const size_t count = live.size();
  if (count == 0) return G1Jac::identity();
  const int lanes = table_scan_lanes();

  // Leaves: position p of product i at p * stride + i. A row of odd width
  // has an identity at its end (stride = width + 1), so that the pairs of
  // every row are adjacent; each level writes its sums in that layout.
  const CtPoint identity{Fq::zero(), Fq::zero(), ~uint64_t(0)};
  auto stride_of = [](size_t w) { return w > 1 ? w + (w % 2) : w; };
  size_t width = count, stride = stride_of(width);
  std::vector<CtPoint>&cur = ws.cur, &next = ws.next;
  cur.resize(size_t(kDigits) * stride);
  if (stride != width) {
    for (int p = 0; p < kDigits; ++p) cur[size_t(p) * stride + width] = identity;
  }
  {
    uint64_t mag[kDigits], sign[kDigits];
    for (size_t i = 0; i < count; ++i) {
      U256 m = scalars[live[i]].to_canonical();
      recode(m, mag, sign);
      select_digits(tables[live[i]]->mult, mag, sign, &cur[i], stride, lanes);
      secure_wipe(&m, sizeof m);
    }
    secure_wipe(mag, sizeof mag);
    secure_wipe(sign, sizeof sign);
  }

  // The trees of all positions, level by level (on IFMA in one call).
  G1Affine sums[kDigits];
  CtPoint rows[kDigits];
  if (sum_columns_ct_wide(cur.data(), kDigits, width, stride, rows)) {
    for (int p = 0; p < kDigits; ++p) {
      cur[p] = rows[p];
      secure_wipe(&rows[p], sizeof rows[p]);
    }
    width = 1;
  }
  while (width > 1) {
    const size_t pairs = stride / 2, next_stride = stride_of(pairs);
    next.resize(size_t(kDigits) * next_stride);
    add_pairs_ct(cur.data(), next.data(), size_t(kDigits) * pairs, ws.scratch, pairs, next_stride);
    if (next_stride != pairs) {
      for (int p = 0; p < kDigits; ++p) next[size_t(p) * next_stride + pairs] = identity;
    }
    cur.swap(next);
    width = pairs;
    stride = next_stride;
  }

  for (int p = 0; p < kDigits; ++p) sums[p] = G1Affine{cur[p].x, cur[p].y, (cur[p].inf & 1) != 0};
  // A workspace for very long sums (beyond aggregated proofs of 64 x 16
  // bits) is given back rather than held by the thread.
  ws.wipe();
  if (cur.capacity() > kKeptLeaves) ws = Workspace();
  const G1Jac total = horner_ct(sums, kDigits, kWidth);
  secure_wipe(sums, sizeof sums);
  return total;
}

int table_scan_lanes() {
#ifdef NACREL_HAVE_WIDE_SCAN
  return g_scan_lanes.load(std::memory_order_relaxed);
#else
  return 2;
#endif
}

int set_table_scan_lanes(int lanes) {
#ifdef NACREL_HAVE_WIDE_SCAN
  const int active = lanes >= 8 ? widest_scan() : lanes >= 4 ? std::min(4, widest_scan()) : 2;
  g_scan_lanes.store(active, std::memory_order_relaxed);
  return active;
#else
  (void)lanes;
  return 2;
#endif
}

G1Jac msm_ct_public_bases(const G1Affine* points, const Fr* scalars, size_t n) {
  std::vector<CtTable> tables(n);
  build_ct_tables(points, tables.data(), n);
  std::vector<const CtTable*> ptrs(n);
  for (size_t i = 0; i < n; ++i) ptrs[i] = &tables[i];
  return msm_ct_tables(ptrs.data(), scalars, n);
}

}  // namespace nacrel
