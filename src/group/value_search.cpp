#include "group/value_search.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "group/curve.hpp"

namespace nacrel {

namespace {

// The search widens in stages, so that a small value returns long before the
// table for a wide window is built (that table alone costs some 2^15 additions
// for the widest one): first a direct walk over |v| <= kWalked, then a table
// search over |v| <= kNear, then one over the whole window.
constexpr int64_t kWalked = 64;
constexpr int64_t kNear = 1024;
// Giant-step points normalised together with one inversion.
constexpr size_t kGiantBatch = 1024;

uint64_t isqrt(uint64_t n) {
  uint64_t s = static_cast<uint64_t>(std::sqrt(static_cast<double>(n)));
  while (s * s > n) --s;
  while ((s + 1) * (s + 1) <= n) ++s;
  return s;
}

// Direct walk over i*Q for 1 <= i <= n in the walk's order (i before -i):
// true with v set on a match. i*Q has the x of D exactly when it is D or -D,
// which its y then tells apart.
bool walk(const G1Affine& q, const G1Affine& d, int64_t n, int32_t& v) {
  G1Jac cur = to_jacobian(q);
  for (int64_t i = 1; i <= n; ++i) {
    const Fq z2 = cur.Z.sqr();
    if (cur.X == d.x * z2) {
      v = static_cast<int32_t>(cur.Y == d.y * z2 * cur.Z ? i : -i);
      return true;
    }
    cur = add_mixed(cur, q);
  }
  return false;
}

// The multiples j*Q, j = 1..m, indexed by x-coordinate. A point with the same
// x as j*Q is j*Q or -(j*Q), told apart by y.
class BabySteps {
 public:
  BabySteps(const G1Affine& q, uint64_t m) : points_(m) {
    std::vector<G1Jac> jac(m);
    G1Jac cur = to_jacobian(q);
    for (uint64_t j = 0; j < m; ++j) {
      jac[j] = cur;
      cur = add_mixed(cur, q);
    }
    batch_to_affine(jac.data(), points_.data(), m);

    size_t cap = 16;
    while (cap < 2 * m) cap <<= 1;
    mask_ = cap - 1;
    slots_.assign(cap, 0);
    for (uint64_t j = 0; j < m; ++j) {
      size_t h = slot_of(points_[j].x);
      while (slots_[h] != 0) h = (h + 1) & mask_;
      slots_[h] = static_cast<uint32_t>(j + 1);
    }
  }

  // Sets k to +j or -j when p == k*Q for 0 <= j <= m; false otherwise.
  bool find(const G1Affine& p, int64_t& k) const {
    if (p.infinity) {
      k = 0;
      return true;
    }
    for (size_t h = slot_of(p.x); slots_[h] != 0; h = (h + 1) & mask_) {
      const G1Affine& b = points_[slots_[h] - 1];
      if (b.x == p.x) {
        const int64_t j = slots_[h];
        k = (b.y == p.y) ? j : -j;
        return true;
      }
    }
    return false;
  }

 private:
  size_t slot_of(const Fq& x) const {
    return static_cast<size_t>((x.v[0] * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
  }

  std::vector<G1Affine> points_;
  std::vector<uint32_t> slots_;
  size_t mask_ = 0;
};

// Baby-step giant-step over |v| <= n: every such v is k*s + j with
// |j| <= m and s = 2m + 1, and D - k*(s*Q) is then one of the baby steps.
int32_t bsgs(const G1Affine& q, const G1Affine& d, int64_t n) {
  const uint64_t m = isqrt(static_cast<uint64_t>(n));
  const int64_t s = 2 * static_cast<int64_t>(m) + 1;
  const int64_t k_max = n > static_cast<int64_t>(m) ? (n - static_cast<int64_t>(m) + s - 1) / s : 0;

  const BabySteps baby(q, m);
  const G1Affine step = to_affine_vartime(mul_vartime(q, Fr::from_u64(static_cast<uint64_t>(s))));
  const G1Affine minus_step = neg(step);

  // Giant steps outwards from k = 0, so small values end the search early.
  std::vector<G1Jac> jac;
  std::vector<int64_t> ks;
  std::vector<G1Affine> aff(kGiantBatch);
  jac.reserve(kGiantBatch);
  ks.reserve(kGiantBatch);
  G1Jac up = to_jacobian(d);    // D - k*S
  G1Jac down = to_jacobian(d);  // D + k*S
  int64_t k = 0;
  while (k <= k_max) {
    jac.clear();
    ks.clear();
    if (k == 0) {
      jac.push_back(up);
      ks.push_back(0);
      ++k;
    }
    for (; k <= k_max && jac.size() + 2 <= kGiantBatch; ++k) {
      up = add_mixed(up, minus_step);
      down = add_mixed(down, step);
      jac.push_back(up);
      ks.push_back(k);
      jac.push_back(down);
      ks.push_back(-k);
    }
    batch_to_affine(jac.data(), aff.data(), jac.size());
    for (size_t i = 0; i < jac.size(); ++i) {
      int64_t j;
      if (baby.find(aff[i], j)) {
        // The only candidate within reach of the search; outside the window
        // means that no window value matches.
        const int64_t v = ks[i] * s + j;
        return (v >= -n && v <= n) ? static_cast<int32_t>(v) : -1;
      }
    }
  }
  return -1;
}

}  // namespace

int32_t find_small_multiple(const Point& base, const Point& target, int32_t range) {
  if (range < 1) return -1;
  const G1Affine& q = base.ge();
  const G1Affine& d = target.ge();
  if (d.infinity) return 0;
  if (q.infinity) return -1;
  const int64_t n = static_cast<int64_t>(range) - 1;  // largest |v| tried
  int32_t v;
  if (walk(q, d, n < kWalked ? n : kWalked, v)) return v;
  if (n <= kWalked) return -1;
  // Each stage covers the window from 0 and finds the unique match if it lies
  // within its reach; -1 itself was walked, so here -1 means no match yet.
  const int32_t near = bsgs(q, d, n < kNear ? n : kNear);
  if (near != -1 || n <= kNear) return near;
  return bsgs(q, d, n);
}

int32_t recover_committed_value(const Point& c, const Point& t, const Point& g, const Scalar& sk, int32_t range) {
  const Point target = c * sk - t;
  const Point base = g * sk;
  return find_small_multiple(base, target, range);
}

}  // namespace nacrel
