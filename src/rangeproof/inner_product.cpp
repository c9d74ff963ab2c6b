#include "rangeproof/inner_product.hpp"

#include "group/encoding.hpp"
#include "group/error.hpp"
#include "group/sha2.hpp"
#include "rangeproof/detail.hpp"
#include "sigma/challenge.hpp"

namespace nacrel::rangeproof {

namespace {

constexpr const char* kLengthMismatch = "inner product argument: vector lengths do not match";

std::vector<G1Affine> affine_of(const std::vector<Point>& v) {
  std::vector<G1Affine> out(v.size());
  for (size_t i = 0; i < v.size(); ++i) out[i] = v[i].ge();
  return out;
}

// out[i] = lo[i]*x_lo*f_lo[i] + hi[i]*x_hi*f_hi[i] for public values (f null:
// all ones); one batch normalisation.
std::vector<G1Affine> fold_generators(const G1Affine* lo, const G1Affine* hi, size_t n, const Fr& x_lo,
                                      const Fr& x_hi, const Fr* f_lo = nullptr, const Fr* f_hi = nullptr) {
  std::vector<G1Jac> jac(n);
  for (size_t i = 0; i < n; ++i) {
    const G1Affine pts[2] = {lo[i], hi[i]};
    const Fr ks[2] = {f_lo ? x_lo * f_lo[i] : x_lo, f_hi ? x_hi * f_hi[i] : x_hi};
    jac[i] = msm_vartime(pts, ks, 2);
  }
  std::vector<G1Affine> out(n);
  batch_to_affine(jac.data(), out.data(), n);
  return out;
}

// sum g[i]*a[i] + sum h[i]*b[i] + u*c as one constant-time multiscalar product.
Point cross_term(const G1Affine* g, const Fr* a, const G1Affine* h, const Fr* b, size_t n, const G1Affine& u,
                 const Fr& c) {
  std::vector<G1Affine> pts(2 * n + 1);
  std::vector<Fr> ks(2 * n + 1);
  for (size_t i = 0; i < n; ++i) {
    pts[i] = g[i];
    ks[i] = a[i];
    pts[n + i] = h[i];
    ks[n + i] = b[i];
  }
  pts[2 * n] = u;
  ks[2 * n] = c;
  return Point("scalar_mul", to_affine(detail::sum_ct(pts.data(), ks.data(), pts.size())));
}

}  // namespace

Scalar point_challenge(const Point* const* points, size_t n) { return challenge_scalar<Sha256>(points, n); }

Scalar point_challenge(std::initializer_list<const Point*> points) {
  return challenge_scalar<Sha256>(points.begin(), points.size());
}

Scalar integer_challenge(const std::vector<BigInt>& values) {
  Sha256 state;
  for (const BigInt& v : values) {
    std::vector<uint8_t> bytes = v.to_bytes();
    state.update(bytes.data(), bytes.size());
  }
  const uint8_t counter[4] = {0, 0, 0, 0};
  state.update(counter, 4);
  uint8_t digest[Sha256::kDigestSize];
  state.finish(digest);
  Scalar c;
  Scalar::deserialize(digest, 32, c);  // 32 bytes always decode
  return c;
}

Scalar inner_product(const std::vector<Scalar>& a, const std::vector<Scalar>& b) {
  if (a.size() != b.size()) fail("inner_product(a,b): lengths of vectors do not match");
  Fr acc = Fr::zero();
  for (size_t i = 0; i < a.size(); ++i) acc += a[i].fe() * b[i].fe();
  return Scalar("inner_product", acc);
}

InnerProductArg InnerProductArg::prove(const std::vector<Point>& G, const std::vector<Point>& H, const Point& ux,
                                       const std::vector<Scalar>& a, const std::vector<Scalar>& b,
                                       const std::vector<Scalar>* h_factors) {
  size_t n = G.size();
  if (H.size() != n || a.size() != n || b.size() != n) fail(kLengthMismatch);
  if (h_factors && h_factors->size() != n) fail(kLengthMismatch);
  detail::require_power_of_two(n);

  std::vector<G1Affine> g = affine_of(G), h = affine_of(H);
  std::vector<Fr> av(n), bv(n);
  for (size_t i = 0; i < n; ++i) {
    av[i] = a[i].fe();
    bv[i] = b[i].fe();
  }
  const G1Affine u = ux.ge();
  // Public factors of H, applied in the first halving step only.
  std::vector<Fr> hf;
  if (h_factors)
    for (const Scalar& f : *h_factors) hf.push_back(f.fe());

  InnerProductArg out;
  while (n > 1) {
    const size_t m = n / 2;
    const Fr* a_lo = av.data();
    const Fr* a_hi = av.data() + m;
    const Fr* b_lo = bv.data();
    const Fr* b_hi = bv.data() + m;
    Fr c_lo = Fr::zero(), c_hi = Fr::zero();
    for (size_t i = 0; i < m; ++i) {
      c_lo += a_lo[i] * b_hi[i];
      c_hi += a_hi[i] * b_lo[i];
    }
    std::vector<Fr> bh_scaled, bl_scaled;  // b times the factors of the H entries they meet
    if (!hf.empty()) {
      bh_scaled.resize(m);
      bl_scaled.resize(m);
      for (size_t i = 0; i < m; ++i) {
        bh_scaled[i] = b_hi[i] * hf[i];
        bl_scaled[i] = b_lo[i] * hf[m + i];
      }
    }
    Point Lpt = cross_term(g.data() + m, a_lo, h.data(), hf.empty() ? b_hi : bh_scaled.data(), m, u, c_lo);
    Point Rpt = cross_term(g.data(), a_hi, h.data() + m, hf.empty() ? b_lo : bl_scaled.data(), m, u, c_hi);
    Scalar x = point_challenge({&Lpt, &Rpt, &ux});
    Fr xf = x.fe();
    Fr xi = detail::inverse_public(xf, "inner product challenge");

    std::vector<Fr> a2(m), b2(m);
    for (size_t i = 0; i < m; ++i) {
      a2[i] = a_lo[i] * xf + a_hi[i] * xi;
      b2[i] = b_hi[i] * xf + b_lo[i] * xi;
    }
    std::vector<G1Affine> g2 = fold_generators(g.data(), g.data() + m, m, xi, xf);
    std::vector<G1Affine> h2 = hf.empty() ? fold_generators(h.data(), h.data() + m, m, xf, xi)
                                          : fold_generators(h.data(), h.data() + m, m, xf, xi, hf.data(), hf.data() + m);
    hf.clear();

    out.L.push_back(Lpt);
    out.R.push_back(Rpt);
    av.swap(a2);
    bv.swap(b2);
    g.swap(g2);
    h.swap(h2);
    n = m;
  }
  out.a_tag = Scalar("a_tag", av[0]).to_bigint();
  out.b_tag = Scalar("b_tag", bv[0]).to_bigint();
  return out;
}

IpaFolding InnerProductArg::fold(size_t n, const Point& ux) const {
  detail::require_power_of_two(n);
  const unsigned k = detail::log2_exact(n);
  IpaFolding f;
  f.x.reserve(k);
  f.x_inv.reserve(k);
  for (unsigned j = 0; j < k; ++j) {
    if (j >= L.size() || j >= R.size())
      fail("inner product argument: L and R hold " + std::to_string(L.size() < R.size() ? L.size() : R.size()) +
           " entries, " + std::to_string(k) + " needed");
    Scalar x = point_challenge({&L[j], &R[j], &ux});
    f.x_inv.push_back(Scalar("invert", detail::inverse_public(x.fe(), "inner product challenge")));
    f.x.push_back(x);
  }
  // s[i] = prod_j x_j^(+1 if bit (k-1-j) of i is set, else -1).
  f.s.resize(n);
  Fr s0 = Fr::one();
  for (const Scalar& xi : f.x_inv) s0 *= xi.fe();
  f.s[0] = Scalar("ipa weight", s0);
  for (size_t i = 1; i < n; ++i) {
    unsigned top = 63 - unsigned(__builtin_clzll(uint64_t(i)));
    const Fr& xj = f.x[k - 1 - top].fe();
    f.s[i] = Scalar("ipa weight", f.s[i - (size_t(1) << top)].fe() * xj * xj);
  }
  return f;
}

bool InnerProductArg::verify(const std::vector<Point>& G, const std::vector<Point>& H, const Point& ux,
                             const Point& P) const {
  const size_t n = G.size();
  if (H.size() != n) fail(kLengthMismatch);
  IpaFolding f = fold(n, ux);
  const size_t k = f.x.size();
  const Fr a = Scalar::from_bigint(a_tag).fe();
  const Fr b = Scalar::from_bigint(b_tag).fe();

  // P + sum(L_j x_j^2 + R_j x_j^-2) - a <s, G> - b <s^-1, H> - ab ux == 0.
  std::vector<G1Affine> pts;
  std::vector<Fr> ks;
  pts.reserve(2 * n + 2 * k + 2);
  ks.reserve(pts.capacity());
  pts.push_back(P.ge());
  ks.push_back(Fr::one());
  for (size_t j = 0; j < k; ++j) {
    pts.push_back(L[j].ge());
    ks.push_back(f.x[j].fe() * f.x[j].fe());
    pts.push_back(R[j].ge());
    ks.push_back(f.x_inv[j].fe() * f.x_inv[j].fe());
  }
  for (size_t i = 0; i < n; ++i) {
    pts.push_back(G[i].ge());
    ks.push_back(-(a * f.s[i].fe()));
    pts.push_back(H[i].ge());
    ks.push_back(-(b * f.s[n - 1 - i].fe()));
  }
  pts.push_back(ux.ge());
  ks.push_back(-(a * b));
  return msm_vartime(pts.data(), ks.data(), pts.size()).is_identity();
}

json::Value InnerProductArg::to_json() const {
  json::Value l = json::Value::array(), r = json::Value::array();
  for (const Point& p : L) l.push(point_json(p));
  for (const Point& p : R) r.push(point_json(p));
  json::Value v = json::Value::object();
  v.set("L", std::move(l));
  v.set("R", std::move(r));
  v.set("a_tag", json::Value::string(a_tag.to_json_hex()));
  v.set("b_tag", json::Value::string(b_tag.to_json_hex()));
  return v;
}

InnerProductArg InnerProductArg::read(json::Reader& r) {
  static constexpr std::string_view kFields[] = {"L", "R", "a_tag", "b_tag"};
  InnerProductArg out;
  json::read_struct(r, "InnerProductArg", kFields, [&](size_t i, json::Reader& rd) {
    switch (i) {
      case 0: out.L = read_point_list(rd); break;
      case 1: out.R = read_point_list(rd); break;
      case 2: out.a_tag = detail::read_bigint(rd); break;
      default: out.b_tag = detail::read_bigint(rd); break;
    }
  });
  return out;
}

InnerProductArg InnerProductArg::from_json_text(std::string_view text) {
  return parse_document(text, [](json::Reader& r) { return InnerProductArg::read(r); });
}

}  // namespace nacrel::rangeproof
