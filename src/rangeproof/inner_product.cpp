#include "rangeproof/inner_product.hpp"

#include <algorithm>

#include "group/encoding.hpp"
#include "group/error.hpp"
#include "group/secret.hpp"
#include "group/sha2.hpp"
#include "rangeproof/detail.hpp"
#include "rangeproof/generators.hpp"
#include "sigma/challenge.hpp"

namespace nacrel::rangeproof {

namespace {

constexpr const char* kLengthMismatch = "inner product argument: vector lengths do not match";

std::vector<G1Affine> affine_of(const std::vector<Point>& v) {
  std::vector<G1Affine> out(v.size());
  for (size_t i = 0; i < v.size(); ++i) out[i] = v[i].ge();
  return out;
}

// out[i] = lo[i] + hi[i]*k (k public): one product per point, one batch
// normalisation.
std::vector<G1Affine> fold_generators(const G1Affine* lo, const G1Affine* hi, size_t n, const Fr& k) {
  std::vector<G1Jac> jac(n);
  for (size_t i = 0; i < n; ++i) jac[i] = add_mixed(mul_vartime(hi[i], k), lo[i]);
  std::vector<G1Affine> out(n);
  batch_to_affine(jac.data(), out.data(), n);
  return out;
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
                                       const Scalar* h_ratio, const Point* u_base, const Scalar* u_log) {
  size_t n = G.size();
  if (H.size() != n || a.size() != n || b.size() != n) fail(kLengthMismatch);
  detail::require_power_of_two(n);

  // The folded generators are kept up to a known factor: the true G^(t)[i] is
  // cg * g[i] and the true H^(t)[i] is ch * rho^i * h[i]. Folding
  //   G' = G_lo*x^-1 + G_hi*x = (cg*x^-1) * (g_lo + g_hi*x^2)
  //   H' = H_lo*x + H_hi*x^-1 = (ch*x) * rho^i * (h_lo + h_hi*x^-2*rho^m)
  // then costs one product per point, and the factors move into the scalars
  // of L and R.
  std::vector<G1Affine> g = affine_of(G), h = affine_of(H);
  // The witness vectors (and their halves below) are wiped on the way out.
  SecretVector<Fr> av(n), bv(n);
  for (size_t i = 0; i < n; ++i) {
    av[i] = a[i].fe();
    bv[i] = b[i].fe();
  }
  const G1Affine u = ux.ge();
  const Fr rho = h_ratio ? h_ratio->fe() : Fr::one();
  std::vector<Fr> rho_pow(n);  // rho^i
  {
    Fr p = Fr::one();
    for (size_t i = 0; i < n; ++i) {
      rho_pow[i] = p;
      p *= rho;
    }
  }
  Fr cg = Fr::one(), ch = Fr::one();
  // When G and H are the cached generator vectors, the L and R of the first
  // two steps and the second folding read their precomputed tables.
  std::vector<const FixedTable*> g_tab = generator_tables_for(G, H), h_tab;
  if (!g_tab.empty()) h_tab.assign(g_tab.begin() + n, g_tab.end());
  // k1g, k1h: the first step's folding factors.
  size_t round = 0;
  Fr k1g, k1h;
  // u joins those sums as one more table term (there are none for n = 1):
  // through the cached table of its base with u_log as a factor of its
  // scalars, or through a table built here.
  FixedTable u_own;
  const FixedTable* u_tab = &u_own;
  Fr u_factor = Fr::one();
  if (!g_tab.empty() && n > 1) {
    const FixedTable* base = u_base && u_log ? fixed_table_for(*u_base) : nullptr;
    if (base) {
      u_tab = base;
      u_factor = u_log->fe();
    } else {
      build_fixed_tables(&u, &u_own, 1);
    }
  }
  std::vector<const FixedTable*> lr_tab(2 * (n + 1));
  std::vector<Fr> lr_ks(2 * (n + 1));

  // The unfolded steps (see below): base tables g, h, u and the weights.
  // Every step over a base of b + b points costs two sums of b + 1 terms
  // (about a sixth of a product per term), a folding step of length n about
  // n products and two msms of n + 1 terms; with the change of base below
  // the unfolded steps are cheaper at every length measured (up to 1024,
  // where the tables of the base take 4.7 MB).
  constexpr size_t kLateFrom = 1024;
  // A base of kRebaseFrom + kRebaseFrom points or more is replaced by the
  // current generators once they are kRebaseRatio times shorter.
  constexpr size_t kRebaseFrom = 64, kRebaseRatio = 8;
  // Width of the base tables: a base serves a few steps, over which width 5
  // (half the tables of width 6, built in small rounds) costs less.
  constexpr int kBaseWindow = 5;
  bool late = false;
  size_t base_n = 0;
  std::vector<OddTable> base_tab;
  std::vector<Fr> wg, wh, late_ks;
  std::vector<const OddTable*> late_tab;

  InnerProductArg out;
  const size_t half = n / 2;
  std::vector<G1Affine> pts(2 * half + 1);
  std::vector<Fr> ks(2 * half + 1);
  SecretVector<Fr> a2(half), b2(half);
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
    // From a short enough vector on (after the table steps), the generators
    // are no longer folded: the current G[i] is sum of wg[j]*base_g[j] over
    // the base indices j = i mod n (the same for H with wh), so L and R are
    // sums over one fixed set of base points whose tables are built once.
    if (!late && n >= 4 && n <= kLateFrom && (g_tab.empty() || round >= 2)) {
      late = true;
      base_n = n;
      wg.resize(n);
      wh.resize(n);
      late_ks.resize(2 * n + 2);
      late_tab.resize(2 * n + 2);
      std::vector<G1Affine> base(2 * n + 1);
      for (size_t j = 0; j < n; ++j) {
        base[j] = g[j];
        base[n + j] = h[j];
        wg[j] = cg;
        wh[j] = ch * rho_pow[j];
      }
      base[2 * n] = u;
      base_tab.resize(2 * n + 1);
      build_odd_tables(base.data(), base_tab.data(), base.size(), kBaseWindow, true);
    } else if (late && base_n >= kRebaseFrom && base_n == kRebaseRatio * n) {
      // A large base makes every later step cost as much as the first: the
      // current generators G[i] = sum of wg[j]*base_g[j] over j = i mod n
      // (and H) become the new base, with weights 1, from 2n sums of
      // base_n/n terms over the same tables.
      const size_t per = base_n / n;
      std::vector<const OddTable*> tabs(2 * base_n);
      std::vector<Fr> wk(2 * base_n);
      std::vector<size_t> counts(2 * n, per);
      for (size_t i = 0; i < n; ++i) {
        for (size_t c = 0; c < per; ++c) {
          const size_t j = i + c * n;
          tabs[i * per + c] = &base_tab[j];
          wk[i * per + c] = wg[j];
          tabs[base_n + i * per + c] = &base_tab[base_n + j];
          wk[base_n + i * per + c] = wh[j];
        }
      }
      std::vector<G1Jac> cur(2 * n);
      msm_vartime_odd_sums(tabs.data(), wk.data(), counts.data(), 2 * n, cur.data());
      std::vector<G1Affine> base(2 * n + 1);
      batch_to_affine(cur.data(), base.data(), 2 * n);
      base[2 * n] = u;
      base_n = n;
      std::fill(wg.begin(), wg.begin() + n, Fr::one());
      std::fill(wh.begin(), wh.begin() + n, Fr::one());
      base_tab.assign(2 * n + 1, OddTable{});
      build_odd_tables(base.data(), base_tab.data(), base.size(), kBaseWindow, true);
    }
    // L = <a_lo, G_hi> + <b_hi, H_lo> + c_lo*u,  R = <a_hi, G_lo> + <b_lo, H_hi> + c_hi*u.
    G1Jac lr[2];
    for (int side = 0; late && side < 2; ++side) {
      // Base g[j] (i = j mod n) is in L when i >= m, with a[i - m]; base h[j]
      // when i < m, with b[m + i]; R takes the other halves.
      size_t t = side * (base_n + 1);
      for (size_t j = 0; j < base_n; ++j) {
        const size_t i = j % n;
        const bool g_in = (i >= m) == (side == 0);
        late_tab[t] = &base_tab[g_in ? j : base_n + j];
        late_ks[t] = g_in ? av[i >= m ? i - m : m + i] * wg[j] : bv[i >= m ? i - m : m + i] * wh[j];
        ++t;
      }
      late_tab[t] = &base_tab[2 * base_n];
      late_ks[t] = side == 0 ? c_lo : c_hi;
    }
    if (late) {
      // L and R together: their affine additions share inversions.
      const size_t counts[2] = {base_n + 1, base_n + 1};
      msm_vartime_odd_sums(late_tab.data(), late_ks.data(), counts, 2, lr);
    }
    for (int side = 0; !late && side < 2; ++side) {
      const size_t g_at = side == 0 ? m : 0, h_at = side == 0 ? 0 : m;
      const Fr* as = side == 0 ? a_lo : a_hi;
      const Fr* bs = side == 0 ? b_hi : b_lo;
      const Fr* rp = side == 0 ? rho_pow.data() : rho_pow.data() + m;
      // The first two steps read the tables instead of the points.
      const bool tabled = round < 2 && !g_tab.empty();
      for (size_t i = 0; i < m; ++i) {
        if (!tabled) {
          pts[i] = g[g_at + i];
          pts[m + i] = h[h_at + i];
        }
        ks[i] = as[i] * cg;
        ks[m + i] = bs[i] * ch * rp[i];
      }
      pts[2 * m] = u;
      ks[2 * m] = side == 0 ? c_lo : c_hi;
      // The table steps gather both sides' terms and run as one call.
      if (round == 0 && !g_tab.empty()) {
        const size_t g_off = side == 0 ? m : 0, h_off = side == 0 ? 0 : m;
        const size_t o = side * (2 * m + 1);
        for (size_t i = 0; i < m; ++i) {
          lr_tab[o + i] = g_tab[g_off + i];
          lr_tab[o + m + i] = h_tab[h_off + i];
        }
        lr_tab[o + 2 * m] = u_tab;
        std::copy(ks.begin(), ks.begin() + 2 * m, lr_ks.begin() + o);
        lr_ks[o + 2 * m] = ks[2 * m] * u_factor;
      } else if (round == 1 && !g_tab.empty()) {
        // The second step's generators are g'[i] = g[i] + k1*g[2m + i] (the
        // same for h), so its L and R are sums over the cached tables too,
        // with twice the terms.
        const size_t g_off = side == 0 ? m : 0, h_off = side == 0 ? 0 : m;
        const size_t o = side * (4 * m + 1);
        for (size_t i = 0; i < m; ++i) {
          lr_tab[o + i] = g_tab[g_off + i];
          lr_tab[o + m + i] = g_tab[2 * m + g_off + i];
          lr_tab[o + 2 * m + i] = h_tab[h_off + i];
          lr_tab[o + 3 * m + i] = h_tab[2 * m + h_off + i];
          lr_ks[o + i] = ks[i];
          lr_ks[o + m + i] = ks[i] * k1g;
          lr_ks[o + 2 * m + i] = ks[m + i];
          lr_ks[o + 3 * m + i] = ks[m + i] * k1h;
        }
        lr_tab[o + 4 * m] = u_tab;
        lr_ks[o + 4 * m] = ks[2 * m] * u_factor;
      } else {
        lr[side] = msm_vartime(pts.data(), ks.data(), 2 * m + 1);
      }
    }
    if (!late && round < 2 && !g_tab.empty()) {
      const size_t per = round == 0 ? 2 * (n / 2) + 1 : 4 * (n / 2) + 1;
      const size_t counts[2] = {per, per};
      msm_vartime_fixed_sums(lr_tab.data(), lr_ks.data(), counts, 2, lr);
    }
    G1Affine lr_aff[2];
    batch_to_affine(lr, lr_aff, 2);
    Point Lpt("scalar_mul", lr_aff[0]);
    Point Rpt("scalar_mul", lr_aff[1]);
    Scalar x = point_challenge({&Lpt, &Rpt, &ux});
    const Fr xf = x.fe();
    const Fr xi = detail::inverse_public(xf, "inner product challenge");

    for (size_t i = 0; i < m; ++i) {
      a2[i] = a_lo[i] * xf + a_hi[i] * xi;
      b2[i] = b_hi[i] * xf + b_lo[i] * xi;
    }
    if (late) {
      for (size_t j = 0; j < base_n; ++j) {
        const bool lo = j % n < m;
        wg[j] *= lo ? xi : xf;
        wh[j] *= lo ? xf : xi;
      }
    } else if (m > 1 && round < 2 && !g_tab.empty()) {
      // With the tables, the second step's L and R read them directly, so
      // the first folding is never formed; the second forms
      //   g''[i] = g[i] + k1*g[2m + i] + k*(g[m + i] + k1*g[3m + i])
      // from the original points and three table terms (the same for h).
      const Fr kg = xf * xf, kh = xi * xi * rho_pow[m];
      if (round == 1) {
        // Both vectors in one call (g's m outputs, then h's), so that their
        // additions share rounds.
        std::vector<const FixedTable*> terms[3];
        const size_t offs[3] = {2 * m, m, 3 * m};
        for (int t = 0; t < 3; ++t) {
          terms[t].assign(g_tab.begin() + offs[t], g_tab.begin() + offs[t] + m);
          terms[t].insert(terms[t].end(), h_tab.begin() + offs[t], h_tab.begin() + offs[t] + m);
        }
        const FixedTable* const* tt[3] = {terms[0].data(), terms[1].data(), terms[2].data()};
        const Fr ks2[6] = {k1g, kg, kg * k1g, k1h, kh, kh * k1h};
        std::vector<G1Affine> lo(g.begin(), g.begin() + m), folded(2 * m);
        lo.insert(lo.end(), h.begin(), h.begin() + m);
        fold_fixed(lo.data(), tt, ks2, 3, 2 * m, folded.data(), 2);
        g.assign(folded.begin(), folded.begin() + m);
        h.assign(folded.begin() + m, folded.end());
      }
      k1g = kg;
      k1h = kh;
      cg *= xi;
      ch *= xf;
    } else if (m > 1) {  // the last step's generators are never used
      g = fold_generators(g.data(), g.data() + m, m, xf * xf);
      h = fold_generators(h.data(), h.data() + m, m, xi * xi * rho_pow[m]);
      cg *= xi;
      ch *= xf;
    }

    ++round;
    out.L.push_back(Lpt);
    out.R.push_back(Rpt);
    av.assign(a2.begin(), a2.begin() + m);
    bv.assign(b2.begin(), b2.begin() + m);
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
    if (x.fe().is_zero()) fail("inner product challenge has no inverse");
    f.x.push_back(x);
  }
  // All inverses with one field inversion: prefix products, then back.
  std::vector<Fr> prefix(k + 1);
  prefix[0] = Fr::one();
  for (unsigned j = 0; j < k; ++j) prefix[j + 1] = prefix[j] * f.x[j].fe();
  Fr inv = prefix[k].inverse_vartime();  // 1 / prod x_j; also s[0]
  const Fr s0 = inv;
  f.x_inv.assign(k, Scalar());
  for (unsigned j = k; j-- > 0;) {
    f.x_inv[j] = Scalar("invert", inv * prefix[j]);
    inv *= f.x[j].fe();
  }
  // s[i] = prod_j x_j^(+1 if bit (k-1-j) of i is set, else -1).
  std::vector<Fr> sq(k);
  for (unsigned j = 0; j < k; ++j) sq[j] = f.x[j].fe() * f.x[j].fe();
  f.s.resize(n);
  f.s[0] = Scalar("ipa weight", s0);
  for (size_t i = 1; i < n; ++i) {
    unsigned top = 63 - unsigned(__builtin_clzll(uint64_t(i)));
    f.s[i] = Scalar("ipa weight", f.s[i - (size_t(1) << top)].fe() * sq[k - 1 - top]);
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
