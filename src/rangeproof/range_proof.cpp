#include "rangeproof/range_proof.hpp"

#include <algorithm>

#include "group/encoding.hpp"
#include "group/error.hpp"
#include "group/secret.hpp"
#include "rangeproof/detail.hpp"
#include "rangeproof/generators.hpp"

namespace nacrel::rangeproof {

namespace {

// Powers base^0 .. base^(count-1).
std::vector<Fr> powers(const Fr& base, size_t count) {
  std::vector<Fr> out(count);
  Fr acc = Fr::one();
  for (size_t i = 0; i < count; ++i) {
    out[i] = acc;
    acc *= base;
  }
  return out;
}

// Low N bits of agg = sum_j v_j * 2^(j*n), added with carries over a fixed
// width so that nothing branches on the values.
SecretVector<uint64_t> aggregate_bits(const std::vector<Scalar>& secrets, uint64_t n, size_t N) {
  SecretVector<uint64_t> bits(N, 0);
  for (size_t j = 0; j < secrets.size(); ++j) {
    Wiped<std::array<uint8_t, 32>> be_bytes(secrets[j].serialize());
    const std::array<uint8_t, 32>& be = *be_bytes;
    const size_t offset = size_t(j * n);
    uint64_t carry = 0;
    for (size_t t = offset; t < N; ++t) {
      const size_t pos = t - offset;  // bit position inside v_j
      uint64_t vb = 0;
      if (pos < 256) vb = (be[31 - pos / 8] >> (pos % 8)) & 1;
      const uint64_t s = bits[t] + vb + carry;
      bits[t] = s & 1;
      carry = s >> 1;
    }
  }
  return bits;
}

SecretVector<Scalar> scalars_of(const std::vector<Fr>& v, const char* purpose) {
  SecretVector<Scalar> out(v.size());
  for (size_t i = 0; i < v.size(); ++i) out[i] = Scalar(purpose, v[i]);
  return out;
}

}  // namespace

void check_range_shape(size_t g_len, size_t h_len, uint64_t n, uint64_t m) {
  uint64_t N = 0;
  if (__builtin_mul_overflow(n, m, &N) || g_len != N || h_len != N)
    fail("range proof: generator vectors must hold n*m = " + std::to_string(n) + "*" + std::to_string(m) +
         " entries (got " + std::to_string(g_len) + " and " + std::to_string(h_len) + ")");
  detail::require_power_of_two(N);
}

RangeChallenges range_challenges(const RangeProof& proof, const Point& G, const Point& H,
                                 const std::vector<Point>& commitments) {
  RangeChallenges c;
  c.y = point_challenge({&proof.A, &proof.S});
  c.ux = integer_challenge({proof.tau_x.to_bigint(), proof.miu.to_bigint(), proof.tx.to_bigint()});
  // B*y and G*ux, through comb tables where G has one, made affine with one
  // inversion.
  const CombTable* g_comb = comb_for(G);
  const G1Jac prods[2] = {mul_comb(generator_comb(), c.y.fe()),
                          g_comb ? mul_comb(*g_comb, c.ux.fe()) : mul_vartime(G.ge(), c.ux.fe())};
  G1Affine aff[2];
  batch_to_affine(prods, aff, 2);
  const Point by("scalar_mul", aff[0]);
  c.z = point_challenge({&by});
  std::vector<const Point*> tx_points = {&proof.T1, &proof.T2, &G, &H};
  for (const Point& v : commitments) tx_points.push_back(&v);
  c.x = point_challenge(tx_points.data(), tx_points.size());
  c.Gx = Point("scalar_mul", aff[1]);
  return c;
}

Scalar range_delta(const Scalar& y, const Scalar& z, uint64_t n, uint64_t m) {
  const Fr zf = z.fe(), z2 = zf * zf;
  Fr sum_y = Fr::zero(), yi = Fr::one();
  for (uint64_t i = 0; i < n * m; ++i) {
    sum_y += yi;
    yi *= y.fe();
  }
  Fr sum_2 = Fr::zero(), two_k = Fr::one();
  for (uint64_t k = 0; k < n; ++k) {
    sum_2 += two_k;
    two_k = two_k.dbl();
  }
  Fr sum_z = Fr::zero(), zj = z2 * zf;  // z^(j+3)
  for (uint64_t j = 0; j < m; ++j) {
    sum_z += zj;
    zj *= zf;
  }
  return Scalar("delta", (zf - z2) * sum_y - sum_z * sum_2);
}

RangeProof RangeProof::prove(const std::vector<Point>& g_vec, const std::vector<Point>& h_vec, const Point& G,
                             const Point& H, const std::vector<Scalar>& secrets, const std::vector<Scalar>& blindings,
                             uint64_t n) {
  const uint64_t m = secrets.size();
  if (blindings.size() < m) fail("range proof: fewer blindings than secrets");
  check_range_shape(g_vec.size(), h_vec.size(), n, m);
  const size_t N = size_t(n * m);

  // Every point and integer of the proof, and the commitments V, are
  // published as they are made; the values, their bits, the blindings and
  // the nonces stay secret and are wiped on the way out.
  // With the comb tables of G and H (the standard generator and the test
  // blinding base), every product of G or H by a secret is a sum of selected
  // table points in the trees of sums_ct_combs, several sums at a time.
  const CtCombTable* const gh_combs[2] = {ct_comb_for(G), ct_comb_for(H)};
  const bool combs = gh_combs[0] != nullptr && gh_combs[1] != nullptr;
  std::vector<Point> V;
  V.reserve(m);
  if (!combs) {
    for (size_t j = 0; j < m; ++j) V.push_back(detail::lincomb_secret(G, secrets[j], H, blindings[j]));
    for (const Point& v : V) ct::publish(v);
  }

  const Wiped<Scalar> alpha(Scalar::random());
  const Wiped<Scalar> rho(Scalar::random());

  // A = H*alpha + sum_i (aL[i] ? g[i] : -h[i])
  //   = H*alpha + sum_i aL[i]*(g[i] + h[i]) - sum_i h[i]:
  // the secret parts are a constant-time product and a constant-time sum of
  // the points selected by the bits; the rest is public.
  const SecretVector<uint64_t> aL = aggregate_bits(secrets, n, N);
  RangeProof proof;
  {
    // g[i] + h[i] and -sum h[i]: kept with the cached generators, else formed here.
    GeneratorSums own;
    const GeneratorSums* gh = generator_sums_for(g_vec, h_vec);
    if (gh == nullptr) {
      own = generator_sums(g_vec.data(), h_vec.data(), N);
      gh = &own;
    }
    std::vector<G1Affine> pts(gh->gh);
    pts.push_back(gh->minus_h);
    if (combs) {
      // The commitments V_j = G*v_j + H*gamma_j (two comb products each) and
      // A as one more sum: H*alpha over H's comb, the g[i] + h[i] selected by
      // the bits and the public -sum h[i] (always selected).
      SecretVector<uint64_t> bits(N + 1);
      std::copy(aL.begin(), aL.end(), bits.begin());
      bits[N] = 1;
      SecretVector<Fr> ks(2 * m);
      std::vector<CtCombSum> sums(m + 1);
      for (size_t j = 0; j < m; ++j) {
        ks[2 * j] = secrets[j].fe();
        ks[2 * j + 1] = blindings[j].fe();
        sums[j] = CtCombSum{gh_combs, &ks[2 * j], 2, nullptr, nullptr, 0};
      }
      sums[m] = CtCombSum{&gh_combs[1], &alpha->fe(), 1, pts.data(), bits.data(), N + 1};
      std::vector<G1Affine> out(m + 1);
      sums_ct_combs(sums.data(), m + 1, out.data());
      for (size_t j = 0; j < m; ++j) V.push_back(Point("scalar_mul", out[j]));
      for (const Point& v : V) ct::publish(v);
      proof.A = Point("add_point", out[m]);
    } else {
      // Both sums have secret operands: complete additions.
      G1Jac a = add_ct(mul_ct(H.ge(), alpha->fe()), sum_selected_ct(pts.data(), aL.data(), N));
      a = add_ct(a, to_jacobian(pts[N]));
      proof.A = Point("add_point", to_affine(a));
    }
    ct::publish(proof.A);
  }

  SecretVector<Fr> sR(N), sL(N);
  fr_random_nonzero(sR.data(), N);
  fr_random_nonzero(sL.data(), N);
  {
    std::vector<G1Affine> pts(2 * N + 1);
    SecretVector<Fr> ks(2 * N + 1);
    pts[0] = H.ge();
    ks[0] = rho->fe();
    for (size_t i = 0; i < N; ++i) {
      pts[1 + i] = g_vec[i].ge();
      ks[1 + i] = sL[i];
      pts[1 + N + i] = h_vec[i].ge();
      ks[1 + N + i] = sR[i];
    }
    // The cached generators come with their constant-time tables; H's is
    // the first of its comb, or built here.
    const std::vector<const CtTable*> gen_tables = generator_ct_tables_for(g_vec, h_vec);
    G1Jac s;
    if (!gen_tables.empty()) {
      CtTable h_table;
      if (gh_combs[1] == nullptr) build_ct_tables(&pts[0], &h_table, 1);
      std::vector<const CtTable*> tables(2 * N + 1);
      tables[0] = gh_combs[1] != nullptr ? &gh_combs[1]->shifted[0] : &h_table;
      std::copy(gen_tables.begin(), gen_tables.end(), tables.begin() + 1);
      s = msm_ct_tables(tables.data(), ks.data(), tables.size());
    } else {
      s = detail::sum_ct(pts.data(), ks.data(), pts.size());
    }
    proof.S = Point("add_point", to_affine(s));
    ct::publish(proof.S);
  }

  const Scalar y = point_challenge({&proof.A, &proof.S});
  const Point by("scalar_mul", to_affine_vartime(mul_comb(generator_comb(), y.fe())));
  const Scalar z = point_challenge({&by});
  const Fr yf = y.fe(), zf = z.fe();
  const std::vector<Fr> yN = powers(yf, N);
  const std::vector<Fr> two_n = powers(Fr::from_u64(2), size_t(n));
  std::vector<Fr> z_j2(m);  // z^(j+2)
  {
    Fr zp = zf * zf;
    for (size_t j = 0; j < m; ++j) {
      z_j2[j] = zp;
      zp *= zf;
    }
  }

  SecretVector<Fr> aLf(N), aRf(N);
  for (size_t i = 0; i < N; ++i) {
    aLf[i] = Fr::from_u64(aL[i]);
    aRf[i] = aLf[i] - Fr::one();
  }

  Wiped<Fr> t1_w(Fr::zero()), t2_w(Fr::zero());
  Fr& t1 = *t1_w;
  Fr& t2 = *t2_w;
  for (size_t i = 0; i < N; ++i) {
    const Fr zk = z_j2[i / n] * two_n[i % n];
    t2 += sR[i] * yN[i] * sL[i];
    t1 += sL[i] * (aRf[i] + zf) * yN[i] + (aLf[i] - zf) * sR[i] * yN[i] + sL[i] * zk;
  }

  const Wiped<Scalar> tau1(Scalar::random());
  const Wiped<Scalar> tau2(Scalar::random());
  if (combs) {
    Wiped<Fr[4]> ks;
    (*ks)[0] = t1;
    (*ks)[1] = tau1->fe();
    (*ks)[2] = t2;
    (*ks)[3] = tau2->fe();
    const CtCombSum sums[2] = {{gh_combs, &(*ks)[0], 2, nullptr, nullptr, 0},
                               {gh_combs, &(*ks)[2], 2, nullptr, nullptr, 0}};
    G1Affine t[2];
    sums_ct_combs(sums, 2, t);
    proof.T1 = Point("scalar_mul", t[0]);
    proof.T2 = Point("scalar_mul", t[1]);
  } else {
    proof.T1 = detail::lincomb_secret(G, Scalar("t1", t1), H, *tau1);
    proof.T2 = detail::lincomb_secret(G, Scalar("t2", t2), H, *tau2);
  }
  ct::publish(proof.T1);
  ct::publish(proof.T2);

  std::vector<const Point*> x_points = {&proof.T1, &proof.T2, &G, &H};
  for (const Point& v : V) x_points.push_back(&v);
  const Scalar x = point_challenge(x_points.data(), x_points.size());
  const Fr xf = x.fe();

  Fr tau_x = xf * tau1->fe() + xf * xf * tau2->fe();
  for (size_t j = 0; j < m; ++j) tau_x += z_j2[j] * blindings[j].fe();
  proof.tau_x = Scalar("tau_x", tau_x);
  proof.miu = Scalar("miu", rho->fe() * xf + alpha->fe());
  ct::publish(proof.tau_x);
  ct::publish(proof.miu);

  // l = aL - z + sL*x and r = y^N o (aR + z + sR*x) + z^2 2^n are masked by
  // the uniform sL and sR: the protocol may send them in the clear (the
  // inner product argument only makes that shorter), so they are public
  // from here on, and so is all the argument computes from them.
  SecretVector<Fr> lvec(N), rvec(N);
  for (size_t i = 0; i < N; ++i) {
    lvec[i] = sL[i] * xf + (aLf[i] - zf);
    rvec[i] = yN[i] * (zf + aRf[i] + sR[i] * xf) + z_j2[i / n] * two_n[i % n];
  }
  ct::published(lvec.data(), N * sizeof(Fr));
  ct::published(rvec.data(), N * sizeof(Fr));
  Fr tx = Fr::zero();
  for (size_t i = 0; i < N; ++i) tx += lvec[i] * rvec[i];
  proof.tx = Scalar("tx", tx);

  const Scalar ux = integer_challenge({proof.tau_x.to_bigint(), proof.miu.to_bigint(), proof.tx.to_bigint()});
  const CombTable* g_comb = comb_for(G);
  const Point Gx = g_comb ? Point("scalar_mul", to_affine_vartime(mul_comb(*g_comb, ux.fe()))) : G.mul_public(ux);

  // The argument runs over h'[i] = h[i] * y^-i; the ratio y^-1 is handed
  // over instead of the points, and its commitment P is never read, so
  // neither is formed here.
  const Scalar y_inv("y^-1", N > 1 ? detail::inverse_public(yf, "challenge y") : Fr::one());
  proof.inner_product_proof = InnerProductArg::prove(g_vec, h_vec, Gx, scalars_of(lvec, "lvec"),
                                                     scalars_of(rvec, "rvec"), &y_inv, &G, &ux);
  return proof;
}

bool RangeProof::verify(const std::vector<Point>& g_vec, const std::vector<Point>& h_vec, const Point& G,
                        const Point& H, const std::vector<Point>& commitments, uint64_t n) const {
  const uint64_t m = commitments.size();
  if (m == 0) fail("range proof: verification needs at least one commitment");
  check_range_shape(g_vec.size(), h_vec.size(), n, m);
  const size_t N = size_t(n * m);

  const RangeChallenges ch = range_challenges(*this, G, H, commitments);
  const Fr y = ch.y.fe(), z = ch.z.fe(), x = ch.x.fe(), ux = ch.ux.fe();
  const Fr y_inv = N > 1 ? detail::inverse_public(y, "challenge y") : Fr::one();
  const Fr delta = range_delta(ch.y, ch.z, n, m).fe();
  const IpaFolding f = inner_product_proof.fold(N, ch.Gx);
  const size_t k = f.x.size();
  const Fr a = Scalar::from_bigint(inner_product_proof.a_tag).fe();
  const Fr b = Scalar::from_bigint(inner_product_proof.b_tag).fe();
  const Fr tx_f = tx.fe();

  // Two exact checks, each a sum that must be the identity:
  // the polynomial check
  //   G*(tx - delta) + H*tau_x - sum z^(j+2) V_j - x*T1 - x^2*T2
  // and the inner product argument with P and h'_i = h_i*y^-i substituted,
  //   G*ux*(tx - a*b) - miu*H + A + x*S + sum(x_j^2 L_j + x_j^-2 R_j)
  //   + sum g_i*(-z - a*s_i) + sum h_i*(z + y^-i*(z^(j(i)+2)*2^k(i) - b*s_{N-1-i})).
  std::vector<Fr> z_j2(m);  // z^(j+2)
  {
    Fr zp = z * z;
    for (size_t j = 0; j < m; ++j) {
      z_j2[j] = zp;
      zp *= z;
    }
  }
  // Scalars of g_i at [0, N), of h_i at [N, 2N), then those of G and H when
  // they join the generators' fixed-base sum.
  std::vector<Fr> gen_ks(2 * N);
  const Fr minus_z = -z;
  Fr y_inv_i = Fr::one(), two_k = Fr::one();
  for (size_t i = 0; i < N; ++i) {
    if (i % n == 0) two_k = Fr::one();
    gen_ks[i] = minus_z - a * f.s[i].fe();
    gen_ks[N + i] = z + y_inv_i * (z_j2[i / n] * two_k - b * f.s[N - 1 - i].fe());
    y_inv_i *= y_inv;
    two_k = two_k.dbl();
  }
  const Fr g_scalar = ux * (tx_f - a * b);

  // The generator vectors, when they are the cached ones, are multiplied
  // through their precomputed tables, and then G and H through theirs when
  // they are the standard generator and range_test_h().
  std::vector<const FixedTable*> tables = generator_tables_for(g_vec, h_vec);
  const FixedTable* gt = tables.empty() ? nullptr : fixed_table_for(G);
  const FixedTable* ht = tables.empty() ? nullptr : fixed_table_for(H);
  const bool gh_fixed = gt != nullptr && ht != nullptr;

  // The other points of both sums (A aside, whose scalar is 1) through
  // width-5 tables of odd multiples built together, the two sums' additions
  // sharing inversions: the argument's S, L_j, R_j (and G, H when not
  // fixed), then the check's G, H, T1, T2, V_j.
  std::vector<G1Affine> pts;
  std::vector<Fr> ks;
  pts.reserve(2 * k + 7 + m);
  ks.reserve(2 * k + 7 + m);
  auto term = [&](const G1Affine& p, const Fr& s) {
    pts.push_back(p);
    ks.push_back(s);
  };
  term(S.ge(), x);
  for (size_t j = 0; j < k; ++j) {
    const Fr& xj = f.x[j].fe();
    const Fr& xij = f.x_inv[j].fe();
    term(inner_product_proof.L[j].ge(), xj * xj);
    term(inner_product_proof.R[j].ge(), xij * xij);
  }
  if (!gh_fixed) {
    term(G.ge(), g_scalar);
    term(H.ge(), -miu.fe());
  }
  const size_t counts[2] = {pts.size(), 4 + m};
  term(G.ge(), tx_f - delta);
  term(H.ge(), tau_x.fe());
  term(T1.ge(), -x);
  term(T2.ge(), -(x * x));
  for (size_t j = 0; j < m; ++j) term(commitments[j].ge(), -z_j2[j]);
  std::vector<OddTable> odd(pts.size());
  build_odd_tables(pts.data(), odd.data(), pts.size(), 5);
  std::vector<const OddTable*> odd_ptrs(pts.size());
  for (size_t i = 0; i < pts.size(); ++i) odd_ptrs[i] = &odd[i];
  G1Jac sums[2];
  msm_vartime_odd_sums(odd_ptrs.data(), ks.data(), counts, 2, sums);
  if (!sums[1].is_identity()) return false;

  G1Jac gens;
  if (tables.empty()) {
    std::vector<G1Affine> gen_pts(2 * N);
    for (size_t i = 0; i < N; ++i) {
      gen_pts[i] = g_vec[i].ge();
      gen_pts[N + i] = h_vec[i].ge();
    }
    gens = msm_vartime(gen_pts.data(), gen_ks.data(), 2 * N);
  } else {
    if (gh_fixed) {
      tables.push_back(gt);
      tables.push_back(ht);
      gen_ks.push_back(g_scalar);
      gen_ks.push_back(-miu.fe());
    }
    gens = msm_vartime_fixed(tables.data(), gen_ks.data(), tables.size(), nullptr, nullptr, 0);
  }
  return add_mixed(add(gens, sums[0]), A.ge()).is_identity();
}

json::Value RangeProof::to_json() const {
  json::Value v = json::Value::object();
  v.set("A", point_json(A));
  v.set("S", point_json(S));
  v.set("T1", point_json(T1));
  v.set("T2", point_json(T2));
  v.set("tau_x", scalar_json(tau_x));
  v.set("miu", scalar_json(miu));
  v.set("tx", scalar_json(tx));
  v.set("inner_product_proof", inner_product_proof.to_json());
  return v;
}

RangeProof RangeProof::read(json::Reader& r) {
  static constexpr std::string_view kFields[] = {"A", "S", "T1", "T2", "tau_x", "miu", "tx", "inner_product_proof"};
  RangeProof out;
  json::read_struct(r, "RangeProof", kFields, [&](size_t i, json::Reader& rd) {
    switch (i) {
      case 0: out.A = read_point(rd); break;
      case 1: out.S = read_point(rd); break;
      case 2: out.T1 = read_point(rd); break;
      case 3: out.T2 = read_point(rd); break;
      case 4: out.tau_x = read_scalar(rd); break;
      case 5: out.miu = read_scalar(rd); break;
      case 6: out.tx = read_scalar(rd); break;
      default: out.inner_product_proof = InnerProductArg::read(rd); break;
    }
  });
  return out;
}

RangeProof RangeProof::from_json_text(std::string_view text) {
  return parse_document(text, [](json::Reader& r) { return RangeProof::read(r); });
}

std::string generator_vectors_text(const std::vector<Point>& g_vec, const std::vector<Point>& h_vec) {
  json::Value g = json::Value::array(), h = json::Value::array();
  for (const Point& p : g_vec) g.push(point_json(p));
  for (const Point& p : h_vec) h.push(point_json(p));
  return "[" + json::write_pretty(g) + "," + json::write_pretty(h) + "]";
}

}  // namespace nacrel::rangeproof
