// Helpers shared by the variable-time sums of curve.cpp and odd_tables.cpp:
// scalar bit access and batched affine arithmetic (public data only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "group/curve.hpp"
#include "group/error.hpp"

namespace nacrel {

// Number of significant bits of k (0 for k = 0).
inline int bit_length(const U256& k) {
  for (int i = 3; i >= 0; --i) {
    if (k.w[i]) return 64 * i + 64 - __builtin_clzll(k.w[i]);
  }
  return 0;
}

// Bits [pos, pos + c) of k, c <= 32; positions past bit 255 read as zero.
inline uint64_t bits_at(const U256& k, int pos, int c) {
  if (pos >= 256) return 0;
  const int w = pos / 64, s = pos % 64;
  uint64_t v = k.w[w] >> s;
  if (s != 0 && w < 3) v |= k.w[w + 1] << (64 - s);
  return v & ((uint64_t(1) << c) - 1);
}

// Calls emit(position, digit) for every non-zero digit of the width-w NAF of
// m (digits odd in (-2^(w-1), 2^(w-1))), least significant first: reads w
// bits at each position whose bit differs from the carry and carries the
// borrow of a negative digit.
template <class F>
inline void wnaf_digits(const U256& m, int w, F&& emit) {
  const int bits = bit_length(m);
  int carry = 0;
  for (int bit = 0; bit < bits || carry;) {
    // Skip to the next bit that differs from the carry (a set bit, or with
    // a carry a clear one; every bit past the top is clear).
    const int word_at = bit / 64;
    if (word_at >= 4) break;  // cannot happen for m below 2^255
    const uint64_t x = (carry ? ~m.w[word_at] : m.w[word_at]) >> (bit % 64);
    if (x == 0) {
      bit = 64 * (word_at + 1);
      continue;
    }
    bit += __builtin_ctzll(x);
    if (bit >= bits && !carry) break;
    int word = int(bits_at(m, bit, w)) + carry;  // odd
    carry = (word >> (w - 1)) & 1;
    word -= carry << w;
    emit(bit, word);
    bit += w;
  }
}

// Replaces every v[i] (none zero) by its inverse with one field inversion;
// prefix is scratch space.
void batch_invert(Fq* v, size_t m, std::vector<Fq>& prefix);

// Sums the points of every segment [start[b], start[b] + len[b]) of pts by
// pairwise affine additions, all pairs of a round sharing one inversion
// (identities allowed). On return segment b is pts[start[b]] when len[b] = 1
// and the identity when len[b] = 0.
void sum_buckets_affine(std::vector<G1Affine>& pts, const std::vector<size_t>& start, std::vector<size_t>& len);
// The same on AVX-512 IFMA, eight pairs at a time, when that path is on;
// false (nothing done) otherwise. (batch_ifma.cpp)
bool sum_buckets_wide(std::vector<G1Affine>& pts, const std::vector<size_t>& start, std::vector<size_t>& len);
// A point read where it is stored: its x and y (adjacent), negated when
// negate is set; the identity when identity is set.
struct PointRef {
  const Fq* xy;
  bool negate;
  bool identity;
};
inline PointRef ref_of(const G1Affine& p, bool negate) { return PointRef{&p.x, negate, p.infinity}; }
inline PointRef ref_of(const AffineXY& p, bool negate) { return PointRef{&p.x, negate, false}; }
static_assert(offsetof(G1Affine, y) == sizeof(Fq) && offsetof(AffineXY, y) == sizeof(Fq));
// out[b] = the sum of the points refs[start[b] .. start[b] + len[b]) for
// every segment b < buckets (the identity when len[b] = 0), by the same
// rounds of affine additions as sum_buckets_affine, without copying the
// points first.
void sum_bucket_refs(const PointRef* refs, const size_t* start, const size_t* len, size_t buckets, G1Affine* out);
// A point reference tagged with the segment it is summed into.
struct SegmentRef {
  PointRef ref;
  uint32_t seg;
};
// Most non-zero digits wnaf_digits gives for a GLV half (below 2^128): they
// are at least w bits apart in bits 0..128.
constexpr size_t wnaf_max_digits(int w) { return w >= 2 ? size_t(128 / w) + 1 : 129; }
// Tagged references written by index into a buffer sized up front (by
// wnaf_max_digits per half), so that the digit loops make no calls; a
// write past the end (halves longer than that bound) stops instead.
struct TaggedRefs {
  std::unique_ptr<SegmentRef[]> items;
  size_t used = 0, cap;
  explicit TaggedRefs(size_t n) : items(new SegmentRef[n]), cap(n) {}
  void add(const PointRef& r, uint32_t seg) {
    if (used == cap) fail("tagged references: more digits than the bound");
    items[used++] = SegmentRef{r, seg};
  }
};
// out[s] = the sum of the items tagged s, for every s < segs (the identity
// for none): the items sorted into their segments, then sum_bucket_refs.
void sum_tagged_refs(const TaggedRefs& items, size_t segs, G1Affine* out);
// The same on AVX-512 IFMA when that path is on; false (nothing done)
// otherwise. (batch_ifma.cpp)
bool sum_bucket_refs_wide(const PointRef* refs, const size_t* start, const size_t* len, size_t buckets,
                          G1Affine* out);
// build_fixed_tables on AVX-512 IFMA, eight points at a time, when that path
// is on; false (nothing done) otherwise. (batch_ifma.cpp)
bool build_fixed_tables_wide(const G1Affine* points, FixedTable* out, size_t n);

}  // namespace nacrel
