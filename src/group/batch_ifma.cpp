// Batched affine point arithmetic on AVX-512 IFMA, eight lanes at a time, the
// field elements on five 52-bit limbs: the variable-time bucket sums
// (sum_buckets_affine, sum_bucket_refs), the constant-time pair additions of
// the constant-time sums (add_pairs_ct_wide), the constant-time trees of
// msm_ct_tables (sum_columns_ct_wide) and the fixed tables
// (build_fixed_tables_wide).
//
// The limbs hold the same integers as Fq's Montgomery words (a*2^256 mod p),
// so nothing is converted but the limb split. The IFMA Montgomery reduction
// divides by 2^260; with the product shifted left by four bits first,
// 16ab/2^260 = ab/2^256, the product of Fq. Bounds: p < 2^254, every
// product takes a < 2p and b < 2^255 and gives a result below 2p; sums and
// differences are kept below those bounds, and every stored value is
// reduced (below p), so that equal limbs mean equal elements.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "group/batch_affine.hpp"
#include "group/ct_pairs.hpp"
#include "group/secret.hpp"
#include "group/field_impl.hpp"

#ifndef NACREL_FLATTEN
#define NACREL_FLATTEN __attribute__((flatten))
#endif

#if defined(__x86_64__)
#define NACREL_HAVE_IFMA 1
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 warns about the undefined inputs its own gather and shift intrinsics use.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#endif

namespace nacrel {

#ifdef NACREL_HAVE_IFMA
namespace {

#define NACREL_IFMA __attribute__((target("avx512f,avx512ifma,avx512vl")))
#define NACREL_IFMA_INLINE __attribute__((target("avx512f,avx512ifma,avx512vl"), always_inline)) inline
#define NACREL_IFMA_LAMBDA __attribute__((target("avx512f,avx512ifma,avx512vl"), always_inline))

constexpr uint64_t kMask52 = (uint64_t(1) << 52) - 1;

// 4 x 64-bit words to 5 x 52-bit limbs and back (values below 2^256).
inline void to_limbs(const uint64_t w[4], uint64_t* l) {
  l[0] = w[0] & kMask52;
  l[1] = ((w[0] >> 52) | (w[1] << 12)) & kMask52;
  l[2] = ((w[1] >> 40) | (w[2] << 24)) & kMask52;
  l[3] = ((w[2] >> 28) | (w[3] << 36)) & kMask52;
  l[4] = w[3] >> 16;
}
inline void from_limbs(const uint64_t* l, uint64_t w[4]) {
  w[0] = l[0] | (l[1] << 52);
  w[1] = (l[1] >> 12) | (l[2] << 40);
  w[2] = (l[2] >> 24) | (l[3] << 28);
  w[3] = (l[3] >> 36) | (l[4] << 16);
}

struct Fv {
  __m512i l[5];
};

struct Consts {
  uint64_t p[5], p2[5], one[5];
  uint64_t pinv;  // -p^-1 mod 2^52
};

const Consts& consts() {
  static const Consts c = [] {
    Consts k{};
    to_limbs(FqParams::M.w, k.p);
    uint64_t p2w[4];
    uint64_t carry = 0;
    #pragma GCC unroll 5
    for (int i = 0; i < 4; ++i) {
      const uint64_t w = FqParams::M.w[i];
      p2w[i] = (w << 1) | carry;
      carry = w >> 63;
    }
    to_limbs(p2w, k.p2);
    to_limbs(Fq::one().v, k.one);
    k.pinv = FqParams::INV & kMask52;
    return k;
  }();
  return c;
}

NACREL_IFMA_INLINE Fv splat(const uint64_t* l) {
  Fv r;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) r.l[j] = _mm512_set1_epi64(int64_t(l[j]));
  return r;
}

// Carries of non-negative limbs into the next one; the top limb keeps the rest.
NACREL_IFMA_INLINE void carry_up(__m512i* t) {
  const __m512i m = _mm512_set1_epi64(int64_t(kMask52));
  #pragma GCC unroll 5
  for (int j = 0; j < 4; ++j) {
    t[j + 1] = _mm512_add_epi64(t[j + 1], _mm512_srli_epi64(t[j], 52));
    t[j] = _mm512_and_si512(t[j], m);
  }
}
// The same for signed limbs (arithmetic shifts); the top limb carries the sign.
NACREL_IFMA_INLINE void carry_up_signed(__m512i* t) {
  const __m512i m = _mm512_set1_epi64(int64_t(kMask52));
  #pragma GCC unroll 5
  for (int j = 0; j < 4; ++j) {
    t[j + 1] = _mm512_add_epi64(t[j + 1], _mm512_srai_epi64(t[j], 52));
    t[j] = _mm512_and_si512(t[j], m);
  }
}

// Fq's product from a ten-limb integer product t (limbs below 2^57): the
// limbs hold Fq's Montgomery integers (x*2^256 mod p) and the IFMA
// reduction divides by 2^260, so t is taken times 16 first (a shift within
// each limb) and reduced: 16t/2^260 = t/2^256 mod p, below 2p when
// t < 2^256 * p.
NACREL_IFMA_INLINE Fv reduce_product(__m512i* t, const __m512i* p, __m512i pinv) {
  const __m512i zero = _mm512_setzero_si512();
  #pragma GCC unroll 10
  for (int k = 0; k < 10; ++k) t[k] = _mm512_slli_epi64(t[k], 4);
  #pragma GCC unroll 5
  for (int i = 0; i < 5; ++i) {
    const __m512i m = _mm512_madd52lo_epu64(zero, t[i], pinv);
    #pragma GCC unroll 5
    for (int j = 0; j < 5; ++j) t[i + j] = _mm512_madd52lo_epu64(t[i + j], p[j], m);
    #pragma GCC unroll 5
    for (int j = 0; j < 5; ++j) t[i + j + 1] = _mm512_madd52hi_epu64(t[i + j + 1], p[j], m);
    // The low 52 bits of t[i] are zero now: carry the rest.
    t[i + 1] = _mm512_add_epi64(t[i + 1], _mm512_srli_epi64(t[i], 52));
  }
  carry_up(t + 5);
  Fv r;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) r.l[j] = t[5 + j];
  return r;
}

// a*b mod p (Fq's product) for a < 2p, b < 2^255: the result is below 2p.
// Every limb of the product is below 2^56 (ten halves of 52-bit products).
NACREL_IFMA_INLINE Fv mul(const Fv& a, const Fv& b, const __m512i* p, __m512i pinv) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i t[10];
  #pragma GCC unroll 10
  for (int k = 0; k < 10; ++k) t[k] = zero;
  #pragma GCC unroll 5
  for (int i = 0; i < 5; ++i) {
    #pragma GCC unroll 5
    for (int j = 0; j < 5; ++j) t[i + j] = _mm512_madd52lo_epu64(t[i + j], a.l[j], b.l[i]);
    #pragma GCC unroll 5
    for (int j = 0; j < 5; ++j) t[i + j + 1] = _mm512_madd52hi_epu64(t[i + j + 1], a.l[j], b.l[i]);
  }
  return reduce_product(t, p, pinv);
}

// a^2 mod p for a < 2p: the cross products once, doubled, then the squares.
NACREL_IFMA_INLINE Fv sqr(const Fv& a, const __m512i* p, __m512i pinv) {
  const __m512i zero = _mm512_setzero_si512();
  __m512i t[10];
  #pragma GCC unroll 10
  for (int k = 0; k < 10; ++k) t[k] = zero;
  #pragma GCC unroll 5
  for (int i = 0; i < 5; ++i) {
    #pragma GCC unroll 5
    for (int j = i + 1; j < 5; ++j) {
      t[i + j] = _mm512_madd52lo_epu64(t[i + j], a.l[j], a.l[i]);
      t[i + j + 1] = _mm512_madd52hi_epu64(t[i + j + 1], a.l[j], a.l[i]);
    }
  }
  #pragma GCC unroll 10
  for (int k = 0; k < 10; ++k) t[k] = _mm512_slli_epi64(t[k], 1);
  #pragma GCC unroll 5
  for (int i = 0; i < 5; ++i) {
    t[2 * i] = _mm512_madd52lo_epu64(t[2 * i], a.l[i], a.l[i]);
    t[2 * i + 1] = _mm512_madd52hi_epu64(t[2 * i + 1], a.l[i], a.l[i]);
  }
  return reduce_product(t, p, pinv);
}

// a - b + c for a constant c with a - b + c >= 0.
NACREL_IFMA_INLINE Fv sub_plus(const Fv& a, const Fv& b, const Fv& c) {
  Fv r;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) r.l[j] = _mm512_add_epi64(_mm512_sub_epi64(a.l[j], b.l[j]), c.l[j]);
  carry_up_signed(r.l);
  return r;
}

NACREL_IFMA_INLINE Fv add(const Fv& a, const Fv& b) {
  Fv r;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) r.l[j] = _mm512_add_epi64(a.l[j], b.l[j]);
  carry_up(r.l);
  return r;
}

// v - c where that is not negative, else v.
NACREL_IFMA_INLINE Fv sub_if_above(const Fv& v, const Fv& c) {
  Fv t;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) t.l[j] = _mm512_sub_epi64(v.l[j], c.l[j]);
  carry_up_signed(t.l);
  const __mmask8 keep = _mm512_cmpge_epi64_mask(t.l[4], _mm512_setzero_si512());
  Fv r;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) r.l[j] = _mm512_mask_blend_epi64(keep, v.l[j], t.l[j]);
  return r;
}

// v mod p for v < 4p.
NACREL_IFMA_INLINE Fv reduce4(const Fv& v, const Fv& p2, const Fv& p) { return sub_if_above(sub_if_above(v, p2), p); }

NACREL_IFMA_INLINE __mmask8 equal(const Fv& a, const Fv& b) {
  __mmask8 k = 0xff;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) k &= _mm512_cmpeq_epi64_mask(a.l[j], b.l[j]);
  return k;
}

NACREL_IFMA_INLINE Fv blend(__mmask8 k, const Fv& a, const Fv& b) {
  Fv r;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) r.l[j] = _mm512_mask_blend_epi64(k, a.l[j], b.l[j]);
  return r;
}

// The 4 x 64-bit words of eight field elements (lane l at base + stride*l)
// to five 52-bit limbs and back.
NACREL_IFMA_INLINE Fv limbs_of_words(const __m512i* w) {
  const __m512i m = _mm512_set1_epi64(int64_t(kMask52));
  Fv r;
  r.l[0] = _mm512_and_si512(w[0], m);
  r.l[1] = _mm512_and_si512(_mm512_or_si512(_mm512_srli_epi64(w[0], 52), _mm512_slli_epi64(w[1], 12)), m);
  r.l[2] = _mm512_and_si512(_mm512_or_si512(_mm512_srli_epi64(w[1], 40), _mm512_slli_epi64(w[2], 24)), m);
  r.l[3] = _mm512_and_si512(_mm512_or_si512(_mm512_srli_epi64(w[2], 28), _mm512_slli_epi64(w[3], 36)), m);
  r.l[4] = _mm512_srli_epi64(w[3], 16);
  return r;
}
NACREL_IFMA_INLINE void words_of_limbs(const Fv& v, __m512i* w) {
  w[0] = _mm512_or_si512(v.l[0], _mm512_slli_epi64(v.l[1], 52));
  w[1] = _mm512_or_si512(_mm512_srli_epi64(v.l[1], 12), _mm512_slli_epi64(v.l[2], 40));
  w[2] = _mm512_or_si512(_mm512_srli_epi64(v.l[2], 24), _mm512_slli_epi64(v.l[3], 28));
  w[3] = _mm512_or_si512(_mm512_srli_epi64(v.l[3], 36), _mm512_slli_epi64(v.l[4], 16));
}

// Lane i of x moved to lane i + k (k > 0), or to lane i - k (k < 0); the
// lanes left empty hold fill.
NACREL_IFMA_INLINE Fv shift_lanes(const Fv& x, int k, const Fv& fill) {
  const __m512i lane = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
  const __m512i from = _mm512_sub_epi64(lane, _mm512_set1_epi64(k));
  const __mmask8 keep = k > 0 ? __mmask8(0xff << k) : __mmask8(0xff >> -k);
  Fv r;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) r.l[j] = _mm512_mask_permutexvar_epi64(fill.l[j], keep, from, x.l[j]);
  return r;
}

// Replaces the lanes of v[0 .. count) (count 1 or 2, no lane zero) by their
// inverses with one Fq inversion: inverse_ct for secret lanes (the scalars
// wiped), inverse_vartime for public ones. With c = v[0] (times v[1]), the
// products of the other lanes of c come from prefix and suffix products
// across the lanes, so that 1/c_i = (prod c)^-1 * prod_{j != i} c_j.
template <bool kSecret, int count>
NACREL_IFMA_INLINE void invert_lanes(Fv* v, const Fv& P2, const Fv& P) {
  static_assert(count == 1 || count == 2);
  const Consts& k = consts();
  const Fv ONE = splat(k.one);
  const __m512i pinv = _mm512_set1_epi64(int64_t(k.pinv));
  const Fv c = count == 2 ? mul(v[0], v[1], P.l, pinv) : v[0];
  Fv pre = c, suf = c;  // inclusive prefix and suffix products
  for (int s = 1; s < 8; s *= 2) {
    pre = mul(pre, shift_lanes(pre, s, ONE), P.l, pinv);
    suf = mul(suf, shift_lanes(suf, -s, ONE), P.l, pinv);
  }
  const Fv others = mul(shift_lanes(pre, 1, ONE), shift_lanes(suf, -1, ONE), P.l, pinv);
  // The product of all lanes is lane 7 of pre; inverted through Fq.
  const Fv total = reduce4(pre, P2, P);
  alignas(64) uint64_t limbs[5][8];
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) _mm512_store_si512(limbs[j], total.l[j]);
  uint64_t li[5] = {limbs[0][7], limbs[1][7], limbs[2][7], limbs[3][7], limbs[4][7]};
  Fq t;
  from_limbs(li, t.v);
  Fq inv = kSecret ? t.inverse_ct() : t.inverse_vartime();
  to_limbs(inv.v, li);
  const Fv c_inv = mul(splat(li), others, P.l, pinv);
  if constexpr (count == 2) {
    const Fv v0 = v[0];
    v[0] = mul(v[1], c_inv, P.l, pinv);
    v[1] = mul(v0, c_inv, P.l, pinv);
  } else {
    v[0] = c_inv;
  }
  if constexpr (kSecret) {
    secure_wipe(limbs, sizeof limbs);
    secure_wipe(li, sizeof li);
    secure_wipe(&t, sizeof t);
    secure_wipe(&inv, sizeof inv);
  }
}

// An array of n 64-byte aligned T (vector types) kept by a thread between
// calls, grown on demand and given back by drop().
template <class T>
struct AlignedArray {
  T* p = nullptr;
  size_t cap = 0;
  AlignedArray() = default;
  AlignedArray(const AlignedArray&) = delete;
  ~AlignedArray() { std::free(p); }
  T* reserve(size_t n) {
    if (n > cap) {
      std::free(p);
      p = static_cast<T*>(std::aligned_alloc(64, n * sizeof(T)));
      cap = p ? n : 0;
      if (!p) throw std::bad_alloc();
    }
    return p;
  }
  void drop() {
    std::free(p);
    p = nullptr;
    cap = 0;
  }
};

// kCount planes of cap words each, every one 64-byte aligned, kept by a
// thread between calls.
template <int kCount>
struct PlaneSet {
  AlignedArray<uint64_t> mem;
  size_t cap = 0;
  void reserve(size_t n) {
    n = (n + 7) / 8 * 8;
    if (n <= cap) return;
    cap = 0;  // nothing held if the allocation fails
    mem.reserve(kCount * n);
    cap = n;
  }
  void drop() {
    mem.drop();
    cap = 0;
  }
  uint64_t* plane(int q) { return mem.p + size_t(q) * cap; }
};

// The working points of the bucket sums: five limb planes of x and five of
// y, each a contiguous array, so that a group of eight results is stored
// with plain vector stores. The identity is y = 0 (no point of the group
// has y = 0: there is no point of order 2). Public data only.
struct Planes : PlaneSet<10> {
  uint64_t* x(int j) { return plane(j); }
  uint64_t* y(int j) { return plane(5 + j); }
};

NACREL_IFMA_INLINE __mmask8 is_zero(const Fv& v) {
  __m512i o = v.l[0];
  #pragma GCC unroll 4
  for (int j = 1; j < 5; ++j) o = _mm512_or_si512(o, v.l[j]);
  return _mm512_cmpeq_epi64_mask(o, _mm512_setzero_si512());
}

struct Group {
  Fv px, py, qx, qy, den, num, prefix;
  __mmask8 pinf, qinf, gen, dbl;
};

// Point i of the planes as an affine point.
inline G1Affine plane_point(Planes& e, size_t i) {
  uint64_t lx[5], ly[5];
  for (int j = 0; j < 5; ++j) {
    lx[j] = e.x(j)[i];
    ly[j] = e.y(j)[i];
  }
  G1Affine out;
  from_limbs(lx, out.x.v);
  from_limbs(ly, out.y.v);
  out.infinity = out.y.is_zero();
  return out.infinity ? G1Affine::identity() : out;
}

// The work space of the bucket sums, kept by the thread between calls
// (public data only): the planes, the index lists of the segments and of a
// round's pairs, and the groups of a round.
struct BucketWork {
  Planes e;
  std::vector<uint32_t> idx, pi, qi, oi;
  std::vector<size_t> len;  // a copy of the segment lengths, when the caller keeps its own
  AlignedArray<Group> groups;
  // After a very large sum (beyond aggregated proofs of 64 x 16 bits) the
  // buffers are given back rather than held by the thread.
  void trim() {
    constexpr size_t kKeptPoints = size_t(1) << 17;  // planes of about 10 MB
    if (e.cap > kKeptPoints) e.drop();
    if (groups.cap > kKeptPoints / 16) groups.drop();
    if (idx.capacity() > kKeptPoints) {
      idx = {};
      pi = {};
      qi = {};
      oi = {};
    }
  }
};

BucketWork& bucket_work() {
  thread_local BucketWork w;
  return w;
}

// Rounds needed for segments of these lengths (the logarithm of the longest).
size_t rounds_for(const size_t* len, size_t segs) {
  size_t rounds = 0;
  for (size_t b = 0; b < segs; ++b) {
    size_t r = 0;
    while ((size_t(1) << r) < len[b]) ++r;
    rounds = std::max(rounds, r);
  }
  return rounds;
}

// The ten plane pointers of a round (hoisted: the planes do not move within it).
struct PlanePtrs {
  uint64_t* x[5];
  uint64_t* y[5];
  explicit PlanePtrs(Planes& e) {
    for (int j = 0; j < 5; ++j) {
      x[j] = e.x(j);
      y[j] = e.y(j);
    }
  }
};

NACREL_IFMA_INLINE Fv load_plane(uint64_t* const* plane, size_t at) {
  Fv r;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) r.l[j] = _mm512_load_si512(plane[j] + at);
  return r;
}
NACREL_IFMA_INLINE Fv gather_plane(uint64_t* const* plane, __m256i idx) {
  Fv r;
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) r.l[j] = _mm512_i32gather_epi64(idx, plane[j], 8);
  return r;
}

// One round of pair additions over ng groups of eight pairs: load(g, gr)
// puts the points of group g's pairs into gr.px, .py, .qx, .qy; the sums go
// to the planes at top + 8g. No group depends on another but through the
// shared inversion.
template <class Load>
NACREL_IFMA_INLINE void add_round(BucketWork& w, size_t top, size_t ng, Load&& load) {
  const Consts& c = consts();
  const Fv P = splat(c.p), P2 = splat(c.p2), ONE = splat(c.one);
  const __m512i pinv = _mm512_set1_epi64(int64_t(c.pinv));
  const Fv zero{{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(),
                 _mm512_setzero_si512()}};
  const PlanePtrs e(w.e);
  Group* groups = w.groups.reserve(ng);
  // Denominators and numerators of the slopes.
  for (size_t g = 0; g < ng; ++g) {
    Group& gr = groups[g];
    load(g, gr);
    gr.pinf = is_zero(gr.py);
    gr.qinf = is_zero(gr.qy);
    const __mmask8 fin = __mmask8(~gr.pinf & ~gr.qinf);
    const __mmask8 eqx = equal(gr.px, gr.qx);
    gr.gen = fin & __mmask8(~eqx);
    gr.dbl = fin & eqx & equal(gr.py, gr.qy);  // y != 0: no point of order 2
    gr.den = blend(gr.gen, ONE, sub_plus(gr.qx, gr.px, P));
    gr.num = sub_plus(gr.qy, gr.py, P);
    if (gr.dbl) {
      const Fv xx = reduce4(sqr(gr.px, P.l, pinv), P2, P);
      gr.den = blend(gr.dbl, gr.den, add(gr.py, gr.py));
      gr.num = blend(gr.dbl, gr.num, sub_if_above(add(add(xx, xx), xx), P2));
    }
  }
  // Running products of the denominators in two chains (even and odd
  // groups), so that two products are in flight; one inversion for the
  // sixteen lane products; then each group's inverse.
  Fv acc[2] = {ONE, ONE};
  for (size_t g = 0; g < ng; ++g) {
    groups[g].prefix = acc[g & 1];
    acc[g & 1] = mul(acc[g & 1], groups[g].den, P.l, pinv);
  }
  invert_lanes<false, 2>(acc, P2, P);
  for (size_t g = ng; g-- > 0;) {
    Group& gr = groups[g];
    gr.prefix = mul(acc[g & 1], gr.prefix, P.l, pinv);  // now 1/den
    acc[g & 1] = mul(acc[g & 1], gr.den, P.l, pinv);
  }
  // The sums, two groups at a time so that two chains of dependent products
  // are in flight. Lanes outside the general and doubling cases take their
  // result from the masks.
  auto finish = [&](const Group& gr, Fv rx, Fv ry, size_t g) NACREL_IFMA_LAMBDA {
    const __mmask8 sum = gr.gen | gr.dbl;
    if (sum != 0xff) {
      // Opposite points (and two identities) give y = 0: the identity.
      rx = blend(sum, zero, rx);
      ry = blend(sum, zero, ry);
      const __mmask8 take_q = gr.pinf, take_p = gr.qinf & __mmask8(~gr.pinf);
      rx = blend(take_q, blend(take_p, rx, gr.px), gr.qx);
      ry = blend(take_q, blend(take_p, ry, gr.py), gr.qy);
    }
    const size_t at = top + 8 * g;
    #pragma GCC unroll 5
    for (int j = 0; j < 5; ++j) {
      _mm512_store_si512(e.x[j] + at, rx.l[j]);
      _mm512_store_si512(e.y[j] + at, ry.l[j]);
    }
  };
  size_t g = 0;
  for (; g + 1 < ng; g += 2) {
    const Group& a = groups[g];
    const Group& b = groups[g + 1];
    const Fv la = mul(a.num, a.prefix, P.l, pinv);
    const Fv lb = mul(b.num, b.prefix, P.l, pinv);
    const Fv lla = sqr(la, P.l, pinv);
    const Fv llb = sqr(lb, P.l, pinv);
    const Fv xa = reduce4(sub_plus(sub_plus(lla, a.px, P), a.qx, P), P2, P);
    const Fv xb = reduce4(sub_plus(sub_plus(llb, b.px, P), b.qx, P), P2, P);
    const Fv ta = mul(la, sub_plus(a.px, xa, P), P.l, pinv);
    const Fv tb = mul(lb, sub_plus(b.px, xb, P), P.l, pinv);
    finish(a, xa, reduce4(sub_plus(ta, a.py, P), P2, P), g);
    finish(b, xb, reduce4(sub_plus(tb, b.py, P), P2, P), g + 1);
  }
  if (g < ng) {
    const Group& a = groups[g];
    const Fv la = mul(a.num, a.prefix, P.l, pinv);
    const Fv xa = reduce4(sub_plus(sub_plus(sqr(la, P.l, pinv), a.px, P), a.qx, P), P2, P);
    const Fv ta = mul(la, sub_plus(a.px, xa, P), P.l, pinv);
    finish(a, xa, reduce4(sub_plus(ta, a.py, P), P2, P), g);
  }
}

// Sums the points of every segment b, the points with indices
// w.idx[start[b] .. start[b] + len[b]) in the planes. Each round pairs the
// points of every segment, (e[2k], e[2k + 1]), and appends their sums to the
// planes at top (a multiple of 8, moved on); a segment's index list is
// replaced by its sums' indices (and its odd point out, last). The pairs of
// a round are read by index (gathers). On return len[b] <= 1 and
// w.idx[start[b]] indexes segment b's sum. The planes must hold top + (all
// the points) + 8 * rounds_for(len) points.
NACREL_IFMA_INLINE void sum_segments(BucketWork& w, size_t& top, const size_t* start, size_t* len, size_t segs) {
  for (;;) {
    // The pairs of this round; each bucket's list becomes its sums' indices.
    uint32_t* idx = w.idx.data();
    uint32_t* pi = w.pi.data();
    uint32_t* qi = w.qi.data();
    size_t m = 0;
    for (size_t b = 0; b < segs; ++b) {
      const size_t l = len[b];
      if (l < 2) continue;
      uint32_t* list = idx + start[b];
      for (size_t k = 0; 2 * k + 1 < l; ++k, ++m) {
        pi[m] = list[2 * k];
        qi[m] = list[2 * k + 1];
        list[k] = uint32_t(top + m);
      }
      if (l % 2) list[l / 2] = list[l - 1];
      len[b] = (l + 1) / 2;
    }
    if (m == 0) break;
    const size_t ng = (m + 7) / 8;
    for (size_t k = m; k < ng * 8; ++k) {  // spare lanes repeat pair 0
      pi[k] = pi[0];
      qi[k] = qi[0];
    }
    const PlanePtrs e(w.e);
    add_round(w, top, ng, [&](size_t g, Group& gr) NACREL_IFMA_LAMBDA {
      const __m256i vp = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pi + 8 * g));
      const __m256i vq = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(qi + 8 * g));
      gr.px = gather_plane(e.x, vp);
      gr.py = gather_plane(e.y, vp);
      gr.qx = gather_plane(e.x, vq);
      gr.qy = gather_plane(e.y, vq);
    });
    top += 8 * ng;
  }
}

// Lane l of out[j] = word j of in[l]: an 8 x 8 transpose of 64-bit words.
NACREL_IFMA_INLINE void transpose8(const __m512i* in, __m512i* out) {
  __m512i t[8], u[8];
  #pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    t[2 * k] = _mm512_unpacklo_epi64(in[2 * k], in[2 * k + 1]);      // words 0, 2, 4, 6 of a pair
    t[2 * k + 1] = _mm512_unpackhi_epi64(in[2 * k], in[2 * k + 1]);  // words 1, 3, 5, 7
  }
  const __m512i lo = _mm512_set_epi64(13, 12, 5, 4, 9, 8, 1, 0), hi = _mm512_set_epi64(15, 14, 7, 6, 11, 10, 3, 2);
  #pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {  // points 0..3, then 4..7
    u[4 * h + 0] = _mm512_permutex2var_epi64(t[4 * h], lo, t[4 * h + 2]);      // words 0, 4
    u[4 * h + 2] = _mm512_permutex2var_epi64(t[4 * h], hi, t[4 * h + 2]);      // words 2, 6
    u[4 * h + 1] = _mm512_permutex2var_epi64(t[4 * h + 1], lo, t[4 * h + 3]);  // words 1, 5
    u[4 * h + 3] = _mm512_permutex2var_epi64(t[4 * h + 1], hi, t[4 * h + 3]);  // words 3, 7
  }
  #pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    out[j] = _mm512_shuffle_i64x2(u[j], u[4 + j], 0x44);
    out[4 + j] = _mm512_shuffle_i64x2(u[j], u[4 + j], 0xee);
  }
}

// No point: the identity in a spare lane.
constexpr uint32_t kNoPoint = ~uint32_t(0);

// The points src[0 .. 8) (point(i) gives the i-th input point and whether to
// negate it; kNoPoint for the identity) into the planes at at, a multiple of
// 8: one 64-byte load per point (x then y), a transpose, the limb split and
// the negations in the lanes.
template <class Point>
NACREL_IFMA_INLINE void convert8(Point& point, const uint32_t* src, const PlanePtrs& e, size_t at, const Fv& P) {
  alignas(64) static const uint64_t kZero[8] = {};
  __m512i r[8], w[8];
  __mmask8 neg = 0, keep = 0;
  #pragma GCC unroll 8
  for (int l = 0; l < 8; ++l) {
    const uint64_t* xy = kZero;
    if (src[l] != kNoPoint) {
      const PointRef pr = point(src[l]);
      if (!pr.identity) {
        xy = pr.xy[0].v;
        keep |= __mmask8(1u << l);
      }
      if (pr.negate) neg |= __mmask8(1u << l);
    }
    r[l] = _mm512_loadu_si512(xy);
  }
  transpose8(r, w);
  const Fv x = limbs_of_words(w);
  Fv y = limbs_of_words(w + 4);
  if (neg) {
    const Fv zero{{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(),
                   _mm512_setzero_si512()}};
    y = blend(neg, y, sub_plus(P, y, zero));  // p - y, below p: y is not 0 for a point
  }
  #pragma GCC unroll 5
  for (int j = 0; j < 5; ++j) {
    _mm512_store_si512(e.x[j] + at, _mm512_maskz_mov_epi64(keep, x.l[j]));
    _mm512_store_si512(e.y[j] + at, _mm512_maskz_mov_epi64(keep, y.l[j]));
  }
}

// The first round needs no gathers: the points are converted straight into
// a layout where pair k of the round is (P[k], Q[k]), P and Q being two
// areas of the planes, and each segment's odd point out goes to a third
// area; the later rounds read their pairs by index. point(i) gives the i-th
// input point and whether to negate it; done(b, sum) takes segment b's sum
// for every non-empty segment. len is consumed.
template <class Point, class Done>
NACREL_IFMA_INLINE void sum_buckets_ifma(size_t n, Point&& point, const size_t* start, size_t* len, size_t buckets,
                                         Done&& done) {
  size_t pairs = 0, odd = 0;
  for (size_t b = 0; b < buckets; ++b) {
    pairs += len[b] / 2;
    odd += len[b] % 2;
  }
  const size_t ng = (pairs + 7) / 8, no = (odd + 7) / 8;
  const size_t q_at = 8 * ng, odd_at = 16 * ng;
  size_t top = odd_at + 8 * no;
  BucketWork& w = bucket_work();
  // The two areas, the odd points, then every round's sums, each round's
  // rounded up to a whole group: all the sums together are fewer than n.
  w.e.reserve(top + n + 8 * (rounds_for(len, buckets) + 1));
  w.idx.resize(n);
  w.pi.resize(std::max(n / 2 + 8, 8 * ng));
  w.qi.resize(std::max(n / 2 + 8, 8 * ng));
  w.oi.resize(8 * no);
  {
    // Where each area's points come from (spare lanes: the identity).
    uint32_t* idx = w.idx.data();
    uint32_t* pi = w.pi.data();
    uint32_t* qi = w.qi.data();
    uint32_t* oi = w.oi.data();
    size_t k = 0, o = 0;
    for (size_t b = 0; b < buckets; ++b) {
      const size_t l = len[b], s = start[b];
      uint32_t* list = idx + s;
      for (size_t t = 0; 2 * t + 1 < l; ++t, ++k) {
        pi[k] = uint32_t(s + 2 * t);
        qi[k] = uint32_t(s + 2 * t + 1);
        list[t] = uint32_t(top + k);
      }
      if (l % 2) {
        oi[o] = uint32_t(s + l - 1);
        list[l / 2] = uint32_t(odd_at + o++);
      }
      len[b] = (l + 1) / 2;
    }
    for (; k < 8 * ng; ++k) pi[k] = qi[k] = kNoPoint;
    for (; o < 8 * no; ++o) oi[o] = kNoPoint;
    const PlanePtrs e(w.e);
    const Fv P = splat(consts().p);
    for (size_t g = 0; g < ng; ++g) {
      convert8(point, pi + 8 * g, e, 8 * g, P);
      convert8(point, qi + 8 * g, e, q_at + 8 * g, P);
    }
    for (size_t g = 0; g < no; ++g) convert8(point, oi + 8 * g, e, odd_at + 8 * g, P);
  }
  if (ng != 0) {
    const PlanePtrs e(w.e);
    add_round(w, top, ng, [&](size_t g, Group& gr) NACREL_IFMA_LAMBDA {
      gr.px = load_plane(e.x, 8 * g);
      gr.py = load_plane(e.y, 8 * g);
      gr.qx = load_plane(e.x, q_at + 8 * g);
      gr.qy = load_plane(e.y, q_at + 8 * g);
    });
    top += 8 * ng;
  }
  sum_segments(w, top, start, len, buckets);
  Planes& e = w.e;
  for (size_t b = 0; b < buckets; ++b) {
    if (len[b] != 0) done(b, plane_point(e, w.idx[start[b]]));
  }
  w.trim();
}

NACREL_IFMA NACREL_FLATTEN void sum_buckets_ifma(std::vector<G1Affine>& pts, const std::vector<size_t>& start,
                                                std::vector<size_t>& len) {
  G1Affine* p = pts.data();
  sum_buckets_ifma(
      pts.size(), [p](size_t i) { return ref_of(p[i], false); }, start.data(), len.data(), len.size(),
      [&](size_t b, const G1Affine& sum) { p[start[b]] = sum; });
}

NACREL_IFMA NACREL_FLATTEN void sum_bucket_refs_ifma(const PointRef* refs, const size_t* start, const size_t* len,
                                                    size_t buckets, G1Affine* out) {
  size_t n = 0;
  for (size_t b = 0; b < buckets; ++b) {
    out[b] = G1Affine::identity();
    n = std::max(n, start[b] + len[b]);
  }
  std::vector<size_t>& left = bucket_work().len;
  left.assign(len, len + buckets);
  sum_buckets_ifma(
      n,
      [refs, n](size_t i) {
        // The points are spread over the tables: fetch ahead.
        constexpr size_t kAhead = 16;
        if (i + kAhead < n) {
          const char* q = reinterpret_cast<const char*>(refs[i + kAhead].xy);
          __builtin_prefetch(q);
          __builtin_prefetch(q + 2 * sizeof(Fq) - 1);
        }
        return refs[i];
      },
      start, left.data(), buckets, [out](size_t b, const G1Affine& sum) { out[b] = sum; });
}

// Fixed tables (build_fixed_tables_wide): eight points at a time, their
// doublings in Jacobian coordinates, every entry of every table then
// normalised with one inversion.

// a + b and a - b for a, b < 2p, results below 2p.
NACREL_IFMA_INLINE Fv add2(const Fv& a, const Fv& b, const Fv& P2) { return sub_if_above(add(a, b), P2); }
NACREL_IFMA_INLINE Fv sub2(const Fv& a, const Fv& b, const Fv& P2) { return sub_if_above(sub_plus(a, b, P2), P2); }

struct JacEntry {
  Fv X, Y, Z, prefix;
};

NACREL_IFMA NACREL_FLATTEN void build_fixed_tables_ifma(const G1Affine* points, FixedTable* out, size_t n,
                                                       JacEntry* jac) {
  constexpr int kE = FixedTable::kEntries;
  static_assert(FixedTable::kStep == 1);
  const Consts& c = consts();
  const Fv P = splat(c.p), P2 = splat(c.p2), ONE = splat(c.one);
  const __m512i pinv = _mm512_set1_epi64(int64_t(c.pinv));
  const size_t ng = (n + 7) / 8;
  // 2^j P for every lane: the doubling of a = 0 (dbl-2009-l), every value
  // kept below 2p.
  for (size_t g = 0; g < ng; ++g) {
    alignas(64) uint64_t lx[5][8], ly[5][8];
    for (int l = 0; l < 8; ++l) {
      const size_t i = g * 8 + size_t(l) < n ? g * 8 + size_t(l) : 0;  // spare lanes repeat point 0
      uint64_t a[5], b[5];
      to_limbs(points[i].x.v, a);
      to_limbs(points[i].y.v, b);
      for (int j = 0; j < 5; ++j) {
        lx[j][l] = a[j];
        ly[j][l] = b[j];
      }
    }
    Fv X, Y, Z = ONE;
    #pragma GCC unroll 5
    for (int j = 0; j < 5; ++j) {
      X.l[j] = _mm512_load_si512(lx[j]);
      Y.l[j] = _mm512_load_si512(ly[j]);
    }
    JacEntry* e = jac + g * kE;
    for (int k = 0; k < kE; ++k) {
      e[k].X = X;
      e[k].Y = Y;
      e[k].Z = Z;
      if (k + 1 == kE) break;
      const Fv A = sqr(X, P.l, pinv), B = sqr(Y, P.l, pinv);
      const Fv C = sqr(B, P.l, pinv);
      const Fv T = sqr(add2(X, B, P2), P.l, pinv);
      const Fv D0 = sub2(sub2(T, A, P2), C, P2);
      const Fv D = add2(D0, D0, P2);
      const Fv E = add2(add2(A, A, P2), A, P2);
      const Fv F = sqr(E, P.l, pinv);
      const Fv Z3 = mul(add2(Y, Y, P2), Z, P.l, pinv);
      X = sub2(F, add2(D, D, P2), P2);
      const Fv C2 = add2(C, C, P2), C4 = add2(C2, C2, P2), C8 = add2(C4, C4, P2);
      Y = sub2(mul(E, sub2(D, X, P2), P.l, pinv), C8, P2);
      Z = Z3;
    }
  }
  // Running products of all Z per lane, one inversion, then each entry.
  const size_t total = ng * kE;
  Fv acc = ONE;
  for (size_t k = 0; k < total; ++k) {
    jac[k].prefix = acc;
    acc = mul(acc, jac[k].Z, P.l, pinv);
  }
  invert_lanes<false, 1>(&acc, P2, P);
  Fq beta_fq = glv_endo(G1Affine{Fq::one(), Fq::one(), false}).x;
  uint64_t beta_l[5];
  to_limbs(beta_fq.v, beta_l);
  const Fv BETA = splat(beta_l);
  for (size_t k = total; k-- > 0;) {
    JacEntry& e = jac[k];
    const Fv zi = mul(acc, e.prefix, P.l, pinv);
    acc = mul(acc, e.Z, P.l, pinv);
    const Fv zi2 = sqr(zi, P.l, pinv);
    const Fv x = reduce4(mul(e.X, zi2, P.l, pinv), P2, P);
    const Fv y = reduce4(mul(mul(e.Y, zi2, P.l, pinv), zi, P.l, pinv), P2, P);
    const Fv bx = reduce4(mul(x, BETA, P.l, pinv), P2, P);
    alignas(64) uint64_t lx[5][8], ly[5][8], lb[5][8];
    #pragma GCC unroll 5
    for (int j = 0; j < 5; ++j) {
      _mm512_store_si512(lx[j], x.l[j]);
      _mm512_store_si512(ly[j], y.l[j]);
      _mm512_store_si512(lb[j], bx.l[j]);
    }
    const size_t g = k / kE, entry = k % kE;
    for (int l = 0; l < 8 && g * 8 + size_t(l) < n; ++l) {
      FixedTable& t = out[g * 8 + size_t(l)];
      const uint64_t ax[5] = {lx[0][l], lx[1][l], lx[2][l], lx[3][l], lx[4][l]};
      const uint64_t ay[5] = {ly[0][l], ly[1][l], ly[2][l], ly[3][l], ly[4][l]};
      const uint64_t ab[5] = {lb[0][l], lb[1][l], lb[2][l], lb[3][l], lb[4][l]};
      AffineXY& s0 = t.shifted[0][entry];
      AffineXY& s1 = t.shifted[1][entry];
      from_limbs(ax, s0.x.v);
      from_limbs(ay, s0.y.v);
      from_limbs(ab, s1.x.v);
      s1.y = s0.y;
      t.identity = false;
    }
  }
}

// Constant-time pair additions (add_pairs_ct_wide). Every point is read and
// written through lane indices that depend on the pair number only; the
// special cases (identities, doubling, opposite points) are lane masks that
// only ever select between computed values.

constexpr int kCtWords = int(sizeof(CtPoint) / sizeof(uint64_t));  // x, y, inf
static_assert(sizeof(CtPoint) == 9 * sizeof(uint64_t));

NACREL_IFMA_INLINE Fv gather_fq(const uint64_t* base, __m512i idx) {
  __m512i w[4];
  #pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) w[j] = _mm512_i64gather_epi64(idx, base + j, 8);
  return limbs_of_words(w);
}
NACREL_IFMA_INLINE void scatter_fq(uint64_t* base, __mmask8 k, __m512i idx, const Fv& v) {
  __m512i w[4];
  words_of_limbs(v, w);
  #pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) _mm512_mask_i64scatter_epi64(base + j, k, idx, w[j], 8);
}

// The slope of p + q in constant time: numerator and denominator
// (qy - py)/(qx - px), or 3px^2/(2py) for a doubling, and 1/1 where the
// result comes from the masks alone (an identity, or opposite points, whose
// mask goes to opp). pinf, qinf: the identity masks.
NACREL_IFMA_INLINE void ct_slope(const Fv& px, const Fv& py, const Fv& qx, const Fv& qy, __mmask8 pinf, __mmask8 qinf,
                                 Fv& den, Fv& num, __mmask8& opp) {
  const Consts& c = consts();
  const Fv P = splat(c.p), P2 = splat(c.p2), ONE = splat(c.one);
  const __m512i pinv = _mm512_set1_epi64(int64_t(c.pinv));
  const __mmask8 finite = __mmask8(~(pinf | qinf));
  const __mmask8 eqx = equal(px, qx), eqy = equal(py, qy);
  const __mmask8 dbl = __mmask8(eqx & eqy & finite);
  const __mmask8 adding = __mmask8(~eqx & finite);
  opp = __mmask8(eqx & ~eqy & finite);
  den = blend(__mmask8(adding | dbl), ONE, blend(dbl, sub_plus(qx, px, P), add(py, py)));
  const Fv xx = reduce4(sqr(px, P.l, pinv), P2, P);
  num = blend(dbl, sub_plus(qy, py, P), sub_if_above(add(add(xx, xx), xx), P2));
}

// p + q in constant time from the slope lambda: as the portable additions,
// p where q is the identity, then q where p is; rinf the identity mask of
// the result.
NACREL_IFMA_INLINE void ct_sum(const Fv& px, const Fv& py, const Fv& qx, const Fv& qy, __mmask8 pinf, __mmask8 qinf,
                               __mmask8 opp, const Fv& lambda, Fv& rx, Fv& ry, __mmask8& rinf) {
  const Consts& c = consts();
  const Fv P = splat(c.p), P2 = splat(c.p2);
  const __m512i pinv = _mm512_set1_epi64(int64_t(c.pinv));
  const Fv ll = sqr(lambda, P.l, pinv);
  const Fv x3 = reduce4(sub_plus(sub_plus(ll, px, P), qx, P), P2, P);
  const Fv t = mul(lambda, sub_plus(px, x3, P), P.l, pinv);
  const Fv y3 = reduce4(sub_plus(t, py, P), P2, P);
  rx = blend(pinf, blend(qinf, x3, px), qx);
  ry = blend(pinf, blend(qinf, y3, py), qy);
  rinf = __mmask8((pinf & qinf) | opp);
}

struct CtGroup {
  Fv px, py, qx, qy, den, num, prefix;
  __mmask8 pinf, qinf, opp;
};

NACREL_IFMA NACREL_FLATTEN void add_pairs_ct_ifma(const CtPoint* in, CtPoint* out, size_t m, size_t row_pairs,
                                                 size_t out_stride, CtGroup* groups) {
  const Consts& c = consts();
  const Fv P = splat(c.p), P2 = splat(c.p2), ONE = splat(c.one);
  const __m512i pinv = _mm512_set1_epi64(int64_t(c.pinv));
  const __m512i zero = _mm512_setzero_si512();
  const uint64_t* src = reinterpret_cast<const uint64_t*>(in);
  uint64_t* dst = reinterpret_cast<uint64_t*>(out);
  const size_t ng = (m + 7) / 8;
  Fv acc = ONE;
  for (size_t g = 0; g < ng; ++g) {
    CtGroup& gr = groups[g];
    alignas(64) int64_t ip[8];
    for (int l = 0; l < 8; ++l) {
      const size_t k = g * 8 + size_t(l) < m ? g * 8 + size_t(l) : 0;  // spare lanes repeat pair 0
      ip[l] = int64_t(2 * kCtWords * k);
    }
    const __m512i vp = _mm512_load_si512(ip), vq = _mm512_add_epi64(vp, _mm512_set1_epi64(kCtWords));
    gr.px = gather_fq(src, vp);
    gr.py = gather_fq(src + 4, vp);
    gr.qx = gather_fq(src, vq);
    gr.qy = gather_fq(src + 4, vq);
    gr.pinf = _mm512_cmpneq_epi64_mask(_mm512_i64gather_epi64(vp, src + 8, 8), zero);
    gr.qinf = _mm512_cmpneq_epi64_mask(_mm512_i64gather_epi64(vq, src + 8, 8), zero);
    ct_slope(gr.px, gr.py, gr.qx, gr.qy, gr.pinf, gr.qinf, gr.den, gr.num, gr.opp);
    gr.prefix = acc;
    acc = mul(acc, gr.den, P.l, pinv);
  }
  // The eight lane products inverted together through Fq, in constant time.
  Fv lane = acc;
  invert_lanes<true, 1>(&lane, P2, P);
  const __m512i ones = _mm512_set1_epi64(-1);
  for (size_t g = ng; g-- > 0;) {
    const CtGroup& gr = groups[g];
    const Fv inv = mul(lane, gr.prefix, P.l, pinv);
    lane = mul(lane, gr.den, P.l, pinv);
    Fv rx, ry;
    __mmask8 rinf;
    ct_sum(gr.px, gr.py, gr.qx, gr.qy, gr.pinf, gr.qinf, gr.opp, mul(gr.num, inv, P.l, pinv), rx, ry, rinf);
    alignas(64) int64_t id[8];
    __mmask8 active = 0;
    for (int l = 0; l < 8; ++l) {
      const size_t k = g * 8 + size_t(l);
      if (k < m) active |= __mmask8(1u << l);
      const size_t kk = k < m ? k : 0;
      id[l] = int64_t(kCtWords * ((kk / row_pairs) * out_stride + kk % row_pairs));
    }
    const __m512i vd = _mm512_load_si512(id);
    scatter_fq(dst, active, vd, rx);
    scatter_fq(dst + 4, active, vd, ry);
    _mm512_mask_i64scatter_epi64(dst + 8, active, vd, _mm512_maskz_mov_epi64(rinf, ones), 8);
  }
  secure_wipe(&lane, sizeof lane);
  secure_wipe(&acc, sizeof acc);
}

// Constant-time column sums (sum_columns_ct_wide). The leaves move once into
// limb planes (x, y and the identity mask), column-major with the rows
// padded to whole groups of eight: leaf i of row p at i * rb + p. A tree
// level then adds blocks 2j and 2j + 1 into block j, every group of eight
// pairs read and written by plain vector loads and stores at addresses that
// depend on (j, group) alone; two buffers alternate between levels.

constexpr int kCtPlanes = 11;  // five limbs of x, five of y, the mask

// Two buffers of planes: x, y (five limbs each) and the mask.
struct CtPlanes : PlaneSet<2 * kCtPlanes> {
  uint64_t* plane(int buf, int q) { return PlaneSet::plane(buf * kCtPlanes + q); }
};

struct CtLevelGroup {
  Fv den, num, prefix;
  __mmask8 pinf, qinf, opp;
};

NACREL_IFMA NACREL_FLATTEN void sum_columns_ct_ifma(const CtPoint* leaves, size_t rows, size_t width, size_t stride,
                                                   CtPoint* out, CtPlanes& pl, CtLevelGroup* groups) {
  const Consts& c = consts();
  const Fv P = splat(c.p), P2 = splat(c.p2), ONE = splat(c.one);
  const __m512i pinv = _mm512_set1_epi64(int64_t(c.pinv));
  const __m512i zero = _mm512_setzero_si512(), ones = _mm512_set1_epi64(-1);
  const size_t rb = (rows + 7) / 8 * 8, gpb = rb / 8;  // lanes and groups per block
  auto planes = [&](int buf, uint64_t** x, uint64_t** y, uint64_t*& inf) {
    for (int j = 0; j < 5; ++j) {
      x[j] = pl.plane(buf, j);
      y[j] = pl.plane(buf, 5 + j);
    }
    inf = pl.plane(buf, 10);
  };
  {
    // The leaves into buffer 0; the padding lanes are identities.
    uint64_t *X[5], *Y[5], *I;
    planes(0, X, Y, I);
    const uint64_t* src = reinterpret_cast<const uint64_t*>(leaves);
    for (size_t i = 0; i < width; ++i) {
      for (size_t g = 0; g < gpb; ++g) {
        alignas(64) int64_t id[8];
        __mmask8 valid = 0;
        for (int l = 0; l < 8; ++l) {
          const size_t p = 8 * g + size_t(l);
          id[l] = p < rows ? int64_t((p * stride + i) * kCtWords) : 0;
          if (p < rows) valid |= __mmask8(1u << l);
        }
        const __m512i vi = _mm512_load_si512(id);
        __m512i w[4];
        const size_t at = i * rb + 8 * g;
        #pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) w[j] = _mm512_mask_i64gather_epi64(zero, valid, vi, src + j, 8);
        const Fv x = limbs_of_words(w);
        #pragma GCC unroll 4
        for (int j = 0; j < 4; ++j) w[j] = _mm512_mask_i64gather_epi64(zero, valid, vi, src + 4 + j, 8);
        const Fv y = limbs_of_words(w);
        #pragma GCC unroll 5
        for (int j = 0; j < 5; ++j) {
          _mm512_store_si512(X[j] + at, x.l[j]);
          _mm512_store_si512(Y[j] + at, y.l[j]);
        }
        _mm512_store_si512(I + at, _mm512_mask_i64gather_epi64(ones, valid, vi, src + 8, 8));
      }
    }
  }
  int cur = 0;
  for (size_t w = width; w > 1;) {
    const size_t pairs = w / 2, ng = pairs * gpb;
    uint64_t *X[5], *Y[5], *I, *OX[5], *OY[5], *OI;
    planes(cur, X, Y, I);
    planes(cur ^ 1, OX, OY, OI);
    auto load = [&](size_t at, Fv& px, Fv& py, Fv& qx, Fv& qy) NACREL_IFMA_LAMBDA {
      px = load_plane(X, at);
      py = load_plane(Y, at);
      qx = load_plane(X, at + rb);
      qy = load_plane(Y, at + rb);
    };
    auto pair_at = [&](size_t g) { return 2 * (g / gpb) * rb + 8 * (g % gpb); };
    // Slopes' numerators and denominators, and the two chains of products.
    Fv acc[2] = {ONE, ONE};
    for (size_t g = 0; g < ng; ++g) {
      CtLevelGroup& gr = groups[g];
      const size_t at = pair_at(g);
      Fv px, py, qx, qy;
      load(at, px, py, qx, qy);
      gr.pinf = _mm512_cmpneq_epi64_mask(_mm512_load_si512(I + at), zero);
      gr.qinf = _mm512_cmpneq_epi64_mask(_mm512_load_si512(I + at + rb), zero);
      ct_slope(px, py, qx, qy, gr.pinf, gr.qinf, gr.den, gr.num, gr.opp);
      gr.prefix = acc[g & 1];
      acc[g & 1] = mul(acc[g & 1], gr.den, P.l, pinv);
    }
    invert_lanes<true, 2>(acc, P2, P);
    // Back down the chains, one group of each at a time.
    auto sum = [&](size_t g, const Fv& lambda) NACREL_IFMA_LAMBDA {
      const CtLevelGroup& gr = groups[g];
      const size_t at = pair_at(g), to = (g / gpb) * rb + 8 * (g % gpb);
      Fv px, py, qx, qy, rx, ry;
      __mmask8 rinf;
      load(at, px, py, qx, qy);
      ct_sum(px, py, qx, qy, gr.pinf, gr.qinf, gr.opp, lambda, rx, ry, rinf);
      #pragma GCC unroll 5
      for (int j = 0; j < 5; ++j) {
        _mm512_store_si512(OX[j] + to, rx.l[j]);
        _mm512_store_si512(OY[j] + to, ry.l[j]);
      }
      _mm512_store_si512(OI + to, _mm512_maskz_mov_epi64(rinf, ones));
    };
    size_t g = ng;
    if (g % 2) {
      --g;
      const Fv inv = mul(acc[g & 1], groups[g].prefix, P.l, pinv);
      acc[g & 1] = mul(acc[g & 1], groups[g].den, P.l, pinv);
      sum(g, mul(groups[g].num, inv, P.l, pinv));
    }
    while (g > 0) {
      g -= 2;
      const CtLevelGroup& a = groups[g + 1];  // odd: chain 1
      const CtLevelGroup& b = groups[g];
      const Fv ia = mul(acc[1], a.prefix, P.l, pinv);
      const Fv ib = mul(acc[0], b.prefix, P.l, pinv);
      acc[1] = mul(acc[1], a.den, P.l, pinv);
      acc[0] = mul(acc[0], b.den, P.l, pinv);
      const Fv la = mul(a.num, ia, P.l, pinv);
      const Fv lb = mul(b.num, ib, P.l, pinv);
      sum(g + 1, la);
      sum(g, lb);
    }
    if (w % 2) {  // the last block has no partner: it moves on as it is
      const size_t from = (w - 1) * rb, to = pairs * rb;
      for (int q = 0; q < kCtPlanes; ++q)
        std::memcpy(pl.plane(cur ^ 1, q) + to, pl.plane(cur, q) + from, rb * sizeof(uint64_t));
    }
    w = pairs + w % 2;
    cur ^= 1;
    secure_wipe(acc, sizeof acc);
  }
  // The row sums are block 0.
  for (size_t p = 0; p < rows; ++p) {
    uint64_t lx[5], ly[5];
    for (int j = 0; j < 5; ++j) {
      lx[j] = pl.plane(cur, j)[p];
      ly[j] = pl.plane(cur, 5 + j)[p];
    }
    from_limbs(lx, out[p].x.v);
    from_limbs(ly, out[p].y.v);
    out[p].inf = pl.plane(cur, 10)[p];
    secure_wipe(lx, sizeof lx);
    secure_wipe(ly, sizeof ly);
  }
}

bool cpu_has_ifma() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512ifma") &&
           __builtin_cpu_supports("avx512vl");
  }();
  return has;
}

std::atomic<bool> g_use_ifma{cpu_has_ifma()};

}  // namespace
#endif

bool ifma_affine_sums_active() {
#ifdef NACREL_HAVE_IFMA
  return g_use_ifma.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

bool set_ifma_affine_sums(bool on) {
#ifdef NACREL_HAVE_IFMA
  const bool active = on && cpu_has_ifma();
  g_use_ifma.store(active, std::memory_order_relaxed);
  return active;
#else
  (void)on;
  return false;
#endif
}

bool add_pairs_ct_wide(const CtPoint* in, CtPoint* out, size_t m, size_t row_pairs, size_t out_stride) {
#ifdef NACREL_HAVE_IFMA
  if (!g_use_ifma.load(std::memory_order_relaxed)) return false;
  if (m == 0) return true;
  if (row_pairs == 0) row_pairs = out_stride = m;
  // Scratch kept by the thread; it holds secret-dependent values, so it is
  // wiped after every call.
  thread_local AlignedArray<CtGroup> scratch;
  const size_t ng = (m + 7) / 8;
  add_pairs_ct_ifma(in, out, m, row_pairs, out_stride, scratch.reserve(ng));
  secure_wipe(scratch.p, ng * sizeof(CtGroup));
  if (scratch.cap > 8192) scratch.drop();  // about 20 MB: not held after a very large sum
  return true;
#else
  (void)in;
  (void)out;
  (void)m;
  (void)row_pairs;
  (void)out_stride;
  return false;
#endif
}

bool sum_columns_ct_wide(const CtPoint* leaves, size_t rows, size_t width, size_t stride, CtPoint* out) {
#ifdef NACREL_HAVE_IFMA
  if (!g_use_ifma.load(std::memory_order_relaxed)) return false;
  if (rows == 0) return true;
  // Scratch kept by the thread; it holds secret-dependent values, so it is
  // wiped after every call, and given back after very large sums.
  struct Scratch {
    CtPlanes planes;
    AlignedArray<CtLevelGroup> groups;
  };
  thread_local Scratch s;
  const size_t rb = (rows + 7) / 8 * 8, points = std::max<size_t>(width, 1) * rb;
  s.planes.reserve(points);
  const size_t ng = std::max<size_t>(width / 2 * (rb / 8), 1);
  CtLevelGroup* groups = s.groups.reserve(ng);
  if (width == 0) {
    for (size_t p = 0; p < rows; ++p) out[p] = CtPoint{Fq::zero(), Fq::zero(), ~uint64_t(0)};
  } else {
    sum_columns_ct_ifma(leaves, rows, width, stride, out, s.planes, groups);
  }
  // Buffer 0 held the leaves; buffer 1 at most the first level's sums.
  const size_t used[2] = {points, (width + 1) / 2 * rb};
  for (int buf = 0; buf < 2; ++buf) {
    for (int q = 0; q < kCtPlanes; ++q) secure_wipe(s.planes.plane(buf, q), used[buf] * sizeof(uint64_t));
  }
  secure_wipe(s.groups.p, ng * sizeof(CtLevelGroup));
  if (s.planes.cap > (size_t(1) << 16)) s.planes.drop();  // about 11 MB
  if (s.groups.cap > 4096) s.groups.drop();
  return true;
#else
  (void)leaves;
  (void)rows;
  (void)width;
  (void)stride;
  (void)out;
  return false;
#endif
}

bool build_fixed_tables_wide(const G1Affine* points, FixedTable* out, size_t n) {
#ifdef NACREL_HAVE_IFMA
  if (!g_use_ifma.load(std::memory_order_relaxed)) return false;
  // Identities are marked; the rest go eight at a time.
  std::vector<G1Affine> live;
  std::vector<size_t> at;
  for (size_t i = 0; i < n; ++i) {
    if (points[i].infinity) {
      out[i].identity = true;
      continue;
    }
    live.push_back(points[i]);
    at.push_back(i);
  }
  if (live.empty()) return true;
  const size_t ng = (live.size() + 7) / 8;
  AlignedArray<JacEntry> jac;
  jac.reserve(ng * FixedTable::kEntries);
  if (at.size() == n) {
    build_fixed_tables_ifma(points, out, n, jac.p);
  } else {
    std::vector<FixedTable> tmp(live.size());
    build_fixed_tables_ifma(live.data(), tmp.data(), live.size(), jac.p);
    for (size_t k = 0; k < at.size(); ++k) out[at[k]] = tmp[k];
  }
  return true;
#else
  (void)points;
  (void)out;
  (void)n;
  return false;
#endif
}

bool sum_bucket_refs_wide(const PointRef* refs, const size_t* start, const size_t* len, size_t buckets,
                          G1Affine* out) {
#ifdef NACREL_HAVE_IFMA
  if (!g_use_ifma.load(std::memory_order_relaxed)) return false;
  sum_bucket_refs_ifma(refs, start, len, buckets, out);
  return true;
#else
  (void)refs;
  (void)start;
  (void)len;
  (void)buckets;
  (void)out;
  return false;
#endif
}

bool sum_buckets_wide(std::vector<G1Affine>& pts, const std::vector<size_t>& start, std::vector<size_t>& len) {
#ifdef NACREL_HAVE_IFMA
  if (!g_use_ifma.load(std::memory_order_relaxed)) return false;
  sum_buckets_ifma(pts, start, len);
  return true;
#else
  (void)pts;
  (void)start;
  (void)len;
  return false;
#endif
}

}  // namespace nacrel
