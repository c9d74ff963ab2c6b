// Variable-time sums over a set of points used by several sums in a row
// (build_odd_tables, msm_vartime_odd): interleaved wNAF (Straus) whose tables
// of odd multiples are built and normalised once for all the sums.
#include <vector>

#include "group/curve.hpp"
#include "group/field_impl.hpp"

namespace nacrel {

namespace {

constexpr int kWindow = 5;                      // digits odd in (-16, 16)
constexpr int kMaxDigits = 136;                 // a GLV half is below 2^128
static_assert(OddTable::kEntries == 1 << (kWindow - 2));

// Width-5 non-adjacent form of m, least significant digit first; returns the
// number of digits.
int wnaf5(U256 m, int8_t* digits) {
  int len = 0;
  while ((m.w[0] | m.w[1] | m.w[2] | m.w[3]) != 0) {
    int d = 0;
    if (m.w[0] & 1) {
      d = int(m.w[0] & 31);
      if (d >= 16) d -= 32;
      // m -= d: the low five bits become zero, so no borrow leaves word 0
      // for positive d; a negative d adds with a carry.
      if (d > 0) {
        m.w[0] -= uint64_t(d);
      } else {
        uint64_t c = 0;
        m.w[0] = fieldimpl::adc(m.w[0], uint64_t(-d), c);
        for (int i = 1; i < 4; ++i) m.w[i] = fieldimpl::adc(m.w[i], 0, c);
      }
    }
    digits[len++] = int8_t(d);
    m.w[0] = (m.w[0] >> 1) | (m.w[1] << 63);
    m.w[1] = (m.w[1] >> 1) | (m.w[2] << 63);
    m.w[2] = (m.w[2] >> 1) | (m.w[3] << 63);
    m.w[3] >>= 1;
  }
  return len;
}

}  // namespace

void build_odd_tables(const G1Affine* points, OddTable* out, size_t n) {
  constexpr int kE = OddTable::kEntries;
  std::vector<G1Jac> jac(n * kE);
  for (size_t i = 0; i < n; ++i) {
    out[i].identity = points[i].infinity;
    G1Jac* t = &jac[i * kE];
    if (points[i].infinity) {
      for (int j = 0; j < kE; ++j) t[j] = G1Jac::identity();
      continue;
    }
    t[0] = to_jacobian(points[i]);
    const G1Jac p2 = dbl(t[0]);
    for (int j = 1; j < kE; ++j) t[j] = add(t[j - 1], p2);
  }
  std::vector<G1Affine> aff(n * kE);
  batch_to_affine(jac.data(), aff.data(), aff.size());
  for (size_t i = 0; i < n; ++i) {
    for (int j = 0; j < kE; ++j) {
      out[i].odd[0][j] = aff[i * kE + j];
      out[i].odd[1][j] = glv_endo(aff[i * kE + j]);
    }
  }
}

G1Jac msm_vartime_odd(const OddTable* const* tables, const Fr* scalars, size_t n) {
  struct Half {
    const G1Affine* table;
    bool negate;
    int len;
    int8_t digits[kMaxDigits];
  };
  std::vector<Half> halves;
  halves.reserve(2 * n);
  int maxlen = 0;
  for (size_t i = 0; i < n; ++i) {
    if (tables[i]->identity || scalars[i].is_zero()) continue;
    const GlvSplit s = glv_split(scalars[i]);
    for (int h = 0; h < 2; ++h) {
      Half& hf = halves.emplace_back();
      hf.table = tables[i]->odd[h];
      hf.negate = h ? s.neg2 : s.neg1;
      hf.len = wnaf5(h ? s.k2 : s.k1, hf.digits);
      if (hf.len > maxlen) maxlen = hf.len;
    }
  }
  G1Jac acc = G1Jac::identity();
  for (int bit = maxlen - 1; bit >= 0; --bit) {
    acc = dbl(acc);
    for (const Half& hf : halves) {
      if (bit >= hf.len) continue;
      const int d = hf.digits[bit];
      if (d == 0) continue;
      const G1Affine& q = hf.table[((d < 0 ? -d : d) - 1) / 2];
      acc = add_mixed(acc, (d < 0) != hf.negate ? neg(q) : q);
    }
  }
  return acc;
}

}  // namespace nacrel
