// Variable-time sums over a set of points used by several sums in a row
// (build_odd_tables, msm_vartime_odd, msm_vartime_odd_sums): tables of odd
// multiples built and normalised once for all the sums, then per sum the
// width-w NAF digits of every GLV half, summed per bit position by affine
// additions that share inversions, and the position sums combined by
// Horner's rule.
#include <vector>

#include "group/batch_affine.hpp"
#include "group/curve.hpp"
#include "group/field_impl.hpp"

#ifndef NACREL_FLATTEN
#define NACREL_FLATTEN __attribute__((flatten))
#endif

namespace nacrel {

namespace {

// Digit positions of a half below 2^128: bits 0..127 and the final carry.
constexpr int kPositions = 129;

}  // namespace

// The odd multiples in rounds of affine additions (sum_bucket_refs: each
// round's pairs share one inversion, eight at a time on IFMA): 2P; then with
// 2^r P known, the odd multiples in [2^r, 2^(r+1)) as 2^r P + kP for the odd
// k below 2^r, and 2^(r+1) P if a later round needs it. No addition meets
// opposite points: 2^r and k differ and their sum is far below the group
// order.
NACREL_FLATTEN void build_odd_tables(const G1Affine* points, OddTable* out, size_t n, int window, bool twice) {
  const int entries = 1 << (window - 2);
  std::vector<size_t> live;
  for (size_t i = 0; i < n; ++i) {
    out[i].identity = points[i].infinity;
    out[i].window = window;
    out[i].has_twice = twice;
    if (!points[i].infinity) live.push_back(i);
  }
  const size_t l = live.size();
  std::vector<G1Affine> pow2(l), next;  // 2^r P of each live point
  for (size_t t = 0; t < l; ++t) pow2[t] = out[live[t]].odd[0][0] = points[live[t]];
  std::vector<PointRef> refs;
  std::vector<size_t> start, len;
  std::vector<G1Affine*> dst;
  std::vector<G1Affine> sums;
  // The pairs of refs (2k, 2k + 1) summed into *dst[k], all in one call.
  auto run_round = [&] {
    const size_t m = dst.size();
    start.resize(m);
    len.assign(m, 2);
    for (size_t k = 0; k < m; ++k) start[k] = 2 * k;
    sums.resize(m);
    sum_bucket_refs(refs.data(), start.data(), len.data(), m, sums.data());
    for (size_t k = 0; k < m; ++k) *dst[k] = sums[k];
  };
  for (int r = 0; (1 << r) < 2 * entries - 1; ++r) {
    // Round r: from 2^r P to the entries above it (and to 2^(r+1) P).
    refs.clear();
    dst.clear();
    const bool more = (2 << r) < 2 * entries - 1;
    next.assign(more ? l : 0, G1Affine{});
    for (size_t t = 0; t < l; ++t) {
      G1Affine* odd = out[live[t]].odd[0];
      if (r > 0) {
        for (int k = 1; k < (1 << r) && (1 << r) + k < 2 * entries; k += 2) {
          refs.push_back(ref_of(pow2[t], false));
          refs.push_back(ref_of(odd[(k - 1) / 2], false));
          dst.push_back(&odd[((1 << r) + k - 1) / 2]);
        }
      }
      if (more) {
        refs.push_back(ref_of(pow2[t], false));
        refs.push_back(ref_of(pow2[t], false));
        dst.push_back(&next[t]);
      }
    }
    if (dst.empty()) break;
    run_round();
    if (more) pow2.swap(next);
  }
  if (twice && l != 0) {
    // One more round: 2(2j + 1)P = P + (4j + 1)P while that is an entry,
    // else top + (the rest) with top the largest entry (a doubling at the
    // end, as 2P = P + P at the start).
    const int top = 2 * entries - 1;
    refs.clear();
    dst.clear();
    for (size_t t = 0; t < l; ++t) {
      G1Affine* odd = out[live[t]].odd[0];
      for (int j = 0; j < entries; ++j) {
        const int m = 2 * (2 * j + 1);
        const int a = m - 1 <= top ? 1 : top;
        refs.push_back(ref_of(odd[(a - 1) / 2], false));
        refs.push_back(ref_of(odd[(m - a - 1) / 2], false));
        dst.push_back(&out[live[t]].twice[0][j]);
      }
    }
    run_round();
  }
  for (size_t i : live) {
    for (int j = 0; j < entries; ++j) {
      out[i].odd[1][j] = glv_endo(out[i].odd[0][j]);
      if (twice) out[i].twice[1][j] = glv_endo(out[i].twice[0][j]);
    }
  }
}

NACREL_FLATTEN void msm_vartime_odd_sums(const OddTable* const* tables, const Fr* scalars, const size_t* counts,
                                         size_t sums, G1Jac* out) {
  // With the doubles in every table, a digit at bit 2k + 1 is the double
  // of its entry at position k: half the positions, two doublings each.
  size_t total = 0;
  for (size_t s = 0; s < sums; ++s) total += counts[s];
  bool two = true;
  for (size_t k = 0; k < total; ++k) two = two && (tables[k]->identity || tables[k]->has_twice);
  const int shift = two ? 1 : 0;
  const size_t positions = two ? (kPositions + 1) / 2 : kPositions;
  size_t cap = 0;
  for (size_t k = 0; k < total; ++k) cap += 2 * wnaf_max_digits(tables[k]->window);
  TaggedRefs items(cap);
  size_t at = 0;
  for (size_t s = 0; s < sums; ++s) {
    for (size_t c = 0; c < counts[s]; ++c, ++at) {
      const OddTable& tab = *tables[at];
      if (tab.identity || scalars[at].is_zero()) continue;
      const GlvSplit split = glv_split(scalars[at]);
      for (int h = 0; h < 2; ++h) {
        const bool negate = h ? split.neg2 : split.neg1;
        const G1Affine* const entries[2] = {tab.odd[h], tab.twice[h]};
        const uint32_t base = uint32_t(s * positions);
        wnaf_digits(h ? split.k2 : split.k1, tab.window, [&](int bit, int d) {
          const uint32_t seg = base + uint32_t(bit >> shift);
          const G1Affine& q = entries[bit & shift][((d < 0 ? -d : d) - 1) / 2];
          items.add(ref_of(q, (d < 0) != negate), seg);
        });
      }
    }
  }
  std::vector<G1Affine> column(sums * positions);
  sum_tagged_refs(items, column.size(), column.data());
  for (size_t s = 0; s < sums; ++s) {
    G1Jac acc = G1Jac::identity();
    for (size_t p = positions; p-- > 0;) {
      if (!acc.is_identity()) {
        acc = dbl(acc);
        if (two) acc = dbl(acc);
      }
      const G1Affine& c = column[s * positions + p];
      if (!c.infinity) acc = add_mixed(acc, c);
    }
    out[s] = acc;
  }
}

G1Jac msm_vartime_odd(const OddTable* const* tables, const Fr* scalars, size_t n) {
  G1Jac out;
  msm_vartime_odd_sums(tables, scalars, &n, 1, &out);
  return out;
}

}  // namespace nacrel
