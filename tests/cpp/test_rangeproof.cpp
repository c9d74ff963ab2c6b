// Range-proof layer: generator vectors against vectors from an independent
// Python model, the inner product argument and the range proof (round trips,
// tampering, stops), the single-MSM verifiers against step-by-step reference
// verifiers written here from the halving recursion, and the JSON records.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "group/encoding.hpp"
#include "group/error.hpp"
#include "rangeproof/generators.hpp"
#include "rangeproof/inner_product.hpp"
#include "rangeproof/range_proof.hpp"

using namespace nacrel;
using namespace nacrel::rangeproof;

namespace {

#include "rangeproof_vectors.inc"

template <class F>
std::string failure_of(F f) {
  try {
    f();
  } catch (const InternalFailure& e) {
    return e.message();
  }
  return "";
}

const std::string kPow2 = "assertion failed: n.is_power_of_two()";

std::string hex_of(const Point& p) { return parse_scep256k1point_to_string(p); }

Scalar sc(int64_t v) { return Scalar::from_i64(v); }

std::vector<Scalar> random_scalars(size_t n) {
  std::vector<Scalar> out;
  for (size_t i = 0; i < n; ++i) out.push_back(Scalar::random());
  return out;
}

// h[i] * rho^i (public products).
std::vector<Point> scaled_by_powers(const std::vector<Point>& h, const Scalar& rho) {
  std::vector<Point> out;
  Scalar f = Scalar::from_i64(1);
  for (const Point& p : h) {
    out.push_back(p.mul_public(f));
    f = f * rho;
  }
  return out;
}

// ---- Reference verifiers: the halving recursion and the two checks, term by term.

Scalar inv_or_stop(const Scalar& s) {
  Scalar out;
  if (!s.invert(out)) fail("no inverse");
  return out;
}

bool ref_ipa_verify(const InnerProductArg& arg, std::vector<Point> G, std::vector<Point> H, const Point& ux,
                    Point P) {
  size_t j = 0;
  while (G.size() > 1) {
    const size_t m = G.size() / 2;
    if (j >= arg.L.size() || j >= arg.R.size()) fail("reference: out of L/R entries");
    const Scalar x = point_challenge({&arg.L[j], &arg.R[j], &ux});
    const Scalar xi = inv_or_stop(x);
    std::vector<Point> G2, H2;
    for (size_t i = 0; i < m; ++i) {
      G2.push_back(G[i].mul_public(xi) + G[m + i].mul_public(x));
      H2.push_back(H[i].mul_public(x) + H[m + i].mul_public(xi));
    }
    P = arg.L[j].mul_public(x * x) + arg.R[j].mul_public(xi * xi) + P;
    G.swap(G2);
    H.swap(H2);
    ++j;
  }
  const Scalar a = Scalar::from_bigint(arg.a_tag), b = Scalar::from_bigint(arg.b_tag);
  return P == G[0].mul_public(a) + H[0].mul_public(b) + ux.mul_public(a * b);
}

// The halving prover written plainly: fold a, b, G, H step by step.
InnerProductArg ref_ipa_prove(std::vector<Point> G, std::vector<Point> H, const Point& ux, std::vector<Scalar> a,
                              std::vector<Scalar> b) {
  InnerProductArg out;
  while (G.size() > 1) {
    const size_t m = G.size() / 2;
    Scalar c_lo = sc(0), c_hi = sc(0);
    Point L = ux * sc(0), R = ux * sc(0);
    for (size_t i = 0; i < m; ++i) {
      c_lo = c_lo + a[i] * b[m + i];
      c_hi = c_hi + a[m + i] * b[i];
      L = L + G[m + i] * a[i] + H[i] * b[m + i];
      R = R + G[i] * a[m + i] + H[m + i] * b[i];
    }
    L = L + ux * c_lo;
    R = R + ux * c_hi;
    const Scalar x = point_challenge({&L, &R, &ux});
    const Scalar xi = inv_or_stop(x);
    std::vector<Point> G2, H2;
    std::vector<Scalar> a2, b2;
    for (size_t i = 0; i < m; ++i) {
      a2.push_back(a[i] * x + a[m + i] * xi);
      b2.push_back(b[m + i] * x + b[i] * xi);
      G2.push_back(G[i] * xi + G[m + i] * x);
      H2.push_back(H[i] * x + H[m + i] * xi);
    }
    out.L.push_back(L);
    out.R.push_back(R);
    G.swap(G2);
    H.swap(H2);
    a.swap(a2);
    b.swap(b2);
  }
  out.a_tag = a[0].to_bigint();
  out.b_tag = b[0].to_bigint();
  return out;
}

bool ref_range_verify(const RangeProof& pr, const std::vector<Point>& g_vec, const std::vector<Point>& h_vec,
                      const Point& G, const Point& H, const std::vector<Point>& V, uint64_t n) {
  const size_t m = V.size(), N = n * m;
  const Scalar y = point_challenge({&pr.A, &pr.S});
  const Point by = Point::generator().mul_public(y);
  const Scalar z = point_challenge({&by});
  Scalar sum_y = sc(0), yi = sc(1), sum_2 = sc(0), two = sc(1), sum_z = sc(0), zj = z * z * z;
  for (size_t i = 0; i < N; ++i, yi = yi * y) sum_y = sum_y + yi;
  for (size_t k = 0; k < n; ++k, two = two + two) sum_2 = sum_2 + two;
  for (size_t j = 0; j < m; ++j, zj = zj * z) sum_z = sum_z + zj;
  const Scalar delta = (z - z * z) * sum_y - sum_z * sum_2;
  std::vector<Point> hp;
  yi = sc(1);
  for (size_t i = 0; i < N; ++i, yi = yi * y) hp.push_back(h_vec[i].mul_public(inv_or_stop(yi)));
  std::vector<const Point*> xs = {&pr.T1, &pr.T2, &G, &H};
  for (const Point& v : V) xs.push_back(&v);
  const Scalar x = point_challenge(xs.data(), xs.size());
  const Point left = G.mul_public(pr.tx) + H.mul_public(pr.tau_x);
  Point right = G.mul_public(delta) + pr.T1.mul_public(x) + pr.T2.mul_public(x * x);
  Scalar zp = z * z;
  for (size_t j = 0; j < m; ++j, zp = zp * z) right = right + V[j].mul_public(zp);
  const Scalar ux = integer_challenge({pr.tau_x.to_bigint(), pr.miu.to_bigint(), pr.tx.to_bigint()});
  const Point Gx = G.mul_public(ux);
  Point P = H.mul_public(-pr.miu) + Gx.mul_public(pr.tx) + pr.A + pr.S.mul_public(x);
  yi = sc(1);
  for (size_t i = 0; i < N; ++i, yi = yi * y) {
    Scalar zk = z * z;
    for (size_t j = 0; j < i / n; ++j) zk = zk * z;
    Scalar two_k = sc(1);
    for (size_t k = 0; k < i % n; ++k) two_k = two_k + two_k;
    P = P + g_vec[i].mul_public(-z) + hp[i].mul_public(z * yi + zk * two_k);
  }
  std::vector<Point> g(g_vec.begin(), g_vec.begin() + N);
  const bool ipa_ok = ref_ipa_verify(pr.inner_product_proof, g, hp, Gx, P);
  return ipa_ok && left == right;
}

// A proof over n bits for the given values with fresh blindings.
struct Fixture {
  uint64_t n;
  GeneratorVectors gv;
  Point G, H;
  std::vector<Scalar> secrets, blindings;
  std::vector<Point> V;
  RangeProof proof;

  Fixture(uint64_t n_, std::vector<Scalar> values, uint64_t vec_len = 0)
      : n(n_), gv(derive_generator_vectors(vec_len ? vec_len : n_ * values.size())),
        G(Point::generator()), H(range_test_h()), secrets(std::move(values)) {
    for (size_t j = 0; j < secrets.size(); ++j) {
      blindings.push_back(Scalar::random());
      V.push_back(G * secrets[j] + H * blindings[j]);
    }
    proof = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, secrets, blindings, n);
  }
  bool verify(const RangeProof& p) const { return p.verify(gv.g_vec, gv.h_vec, G, H, V, n); }
  bool verify_ref(const RangeProof& p) const { return ref_range_verify(p, gv.g_vec, gv.h_vec, G, H, V, n); }
};

}  // namespace

// ---------------------------------------------------------------- generators

TEST(Generators, MatchIndependentVectors) {
  GeneratorVectors v = derive_generator_vectors(4);
  ASSERT_EQ(v.g_vec.size(), 4u);
  ASSERT_EQ(v.h_vec.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(hex_of(v.g_vec[i]), kG4[i]) << i;
    EXPECT_EQ(hex_of(v.h_vec[i]), kH4[i]) << i;
    EXPECT_EQ(v.g_vec[i].v.purpose, std::string("deserialized point"));
  }
  EXPECT_EQ(hex_of(range_test_h()), kRangeTestH);
  EXPECT_NE(range_test_h(), Point::generator());
  // A digest with a leading zero byte is shortened; the point is unaffected.
  EXPECT_EQ(hex_of(derive_generator(BigInt::from_u64(kGeneratorLabel + kZeroDigestOffset))), kZeroDigestPoint);
}

TEST(Generators, LabelsAreSharedAcrossLengths) {
  EXPECT_TRUE(derive_generator_vectors(0).g_vec.empty());
  EXPECT_TRUE(derive_generator_vectors(0).h_vec.empty());
  GeneratorVectors v8 = derive_generator_vectors(8), v4 = derive_generator_vectors(4), v1 = derive_generator_vectors(1);
  EXPECT_EQ(v1.g_vec[0], v8.g_vec[0]);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(v4.g_vec[i], v8.g_vec[i]);
    EXPECT_EQ(v4.h_vec[i], v8.g_vec[4 + i]);  // both from label + 4 + i
  }
  EXPECT_NE(v4.h_vec[0], v8.h_vec[0]);
}

TEST(Generators, UncachedLengthsAgreeWithCachedOnes) {
  // 1500 bits lies beyond the cache; its entries come from the same labels.
  GeneratorVectors big = derive_generator_vectors(1500);
  GeneratorVectors small = derive_generator_vectors(8);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(big.g_vec[i], small.g_vec[i]);
  EXPECT_EQ(big.h_vec[0], derive_generator(BigInt::from_u64(kGeneratorLabel + 1500)));
  EXPECT_EQ(big.h_vec[1499], derive_generator(BigInt::from_u64(kGeneratorLabel + 2999)));
}

TEST(Generators, TablesOnlyForTheCachedVectors) {
  GeneratorVectors gv = derive_generator_vectors(8);
  std::vector<const FixedTable*> t = generator_tables_for(gv.g_vec, gv.h_vec);
  ASSERT_EQ(t.size(), 16u);
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(t[i]->point(), gv.g_vec[i].ge());
    EXPECT_EQ(t[8 + i]->point(), gv.h_vec[i].ge());
  }
  std::vector<Point> changed = gv.h_vec;
  changed[5] = changed[5] + Point::generator();
  GeneratorVectors v4 = derive_generator_vectors(4);
  EXPECT_TRUE(generator_tables_for(gv.h_vec, gv.g_vec).empty());
  EXPECT_TRUE(generator_tables_for(gv.g_vec, changed).empty());
  EXPECT_TRUE(generator_tables_for(gv.g_vec, v4.h_vec).empty());
  EXPECT_TRUE(generator_tables_for(v4.g_vec, gv.g_vec).empty());  // h of length 8 is not h of length 4
  EXPECT_TRUE(generator_tables_for({}, {}).empty());
  // The constant-time tables: the multiples of each generator, under the
  // same conditions.
  std::vector<const CtTable*> ct = generator_ct_tables_for(gv.g_vec, gv.h_vec);
  ASSERT_EQ(ct.size(), 16u);
  for (size_t i : {size_t(0), size_t(7), size_t(8), size_t(15)}) {
    const G1Affine p = i < 8 ? gv.g_vec[i].ge() : gv.h_vec[i - 8].ge();
    EXPECT_FALSE(ct[i]->identity);
    for (int j = 0; j < CtTable::kMultiples; ++j) {
      const G1Affine want = to_affine_vartime(mul_vartime(p, Fr::from_u64(uint64_t(j) + 1)));
      EXPECT_TRUE(ct[i]->mult[j].x == want.x && ct[i]->mult[j].y == want.y) << i << " " << j;
    }
  }
  EXPECT_TRUE(generator_ct_tables_for(gv.g_vec, changed).empty());
  EXPECT_TRUE(generator_ct_tables_for(gv.h_vec, gv.g_vec).empty());
  // The prover's sums g[i] + h[i] and -sum h[i], per power-of-two length.
  for (const GeneratorVectors& v : {gv, v4}) {
    const GeneratorSums* sums = generator_sums_for(v.g_vec, v.h_vec);
    ASSERT_NE(sums, nullptr);
    ASSERT_EQ(sums->gh.size(), v.g_vec.size());
    Point h_sum = Point::identity();
    for (size_t i = 0; i < v.g_vec.size(); ++i) {
      EXPECT_EQ(sums->gh[i], (v.g_vec[i] + v.h_vec[i]).ge()) << i;
      h_sum += v.h_vec[i];
    }
    EXPECT_EQ(sums->minus_h, (-h_sum).ge());
  }
  EXPECT_EQ(generator_sums_for(gv.g_vec, changed), nullptr);
  GeneratorVectors v3 = derive_generator_vectors(3);
  EXPECT_EQ(generator_sums_for(v3.g_vec, v3.h_vec), nullptr);
}

TEST(Generators, CacheFilledFromSeveralThreadsAtOnce) {
  // Four threads grow the cache and its tables in different orders while the
  // others read it; every vector and table must match the generators derived
  // directly. Each test runs in a process of its own, so the cache starts empty.
  constexpr uint64_t kMax = 512;
  std::vector<Point> expected;
  for (uint64_t k = 0; k < 2 * kMax; ++k) expected.push_back(derive_generator(BigInt::from_u64(kGeneratorLabel + k)));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint64_t> sizes = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512};
      if (t % 2) std::reverse(sizes.begin(), sizes.end());
      std::rotate(sizes.begin(), sizes.begin() + t, sizes.end());
      for (int round = 0; round < 2; ++round) {
        for (uint64_t n : sizes) {
          const GeneratorVectors gv = derive_generator_vectors(n);
          const std::vector<const FixedTable*> tables = generator_tables_for(gv.g_vec, gv.h_vec);
          if (gv.g_vec.size() != n || gv.h_vec.size() != n || tables.size() != 2 * n) {
            ++wrong;
            continue;
          }
          for (uint64_t i = 0; i < n; ++i) {
            if (gv.g_vec[i] != expected[i] || gv.h_vec[i] != expected[n + i]) ++wrong;
            if (tables[i]->point() != expected[i].ge() || tables[n + i]->point() != expected[n + i].ge()) ++wrong;
          }
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(RangeProof, OtherGeneratorVectorsTakeTheOrdinaryPath) {
  // Vectors that are not the cached generators (here doubled) prove and
  // verify without tables, and do not verify against the cached ones.
  GeneratorVectors gv = derive_generator_vectors(16);
  std::vector<Point> g2, h2;
  for (size_t i = 0; i < 16; ++i) {
    g2.push_back(gv.g_vec[i] * sc(2));
    h2.push_back(gv.h_vec[i] * sc(2));
  }
  const Point G = Point::generator(), H = range_test_h();
  const std::vector<Scalar> v = {sc(7), sc(255)}, r = {Scalar::random(), Scalar::random()};
  const std::vector<Point> V = {G * v[0] + H * r[0], G * v[1] + H * r[1]};
  const RangeProof p = RangeProof::prove(g2, h2, G, H, v, r, 8);
  EXPECT_TRUE(p.verify(g2, h2, G, H, V, 8));
  EXPECT_TRUE(ref_range_verify(p, g2, h2, G, H, V, 8));
  EXPECT_FALSE(p.verify(gv.g_vec, gv.h_vec, G, H, V, 8));
  const RangeProof q = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, v, r, 8);
  EXPECT_TRUE(q.verify(gv.g_vec, gv.h_vec, G, H, V, 8));
  EXPECT_FALSE(q.verify(g2, h2, G, H, V, 8));
}

TEST(Generators, HugeLengthStopsClearly) {
  auto limit_of = [](uint64_t n, void (*f)(uint64_t)) -> std::string {
    try {
      f(n);
    } catch (const LimitError& e) {
      return e.message();
    }
    return "";
  };
  auto derive = [](uint64_t n) { derive_generator_vectors(n); };
  EXPECT_EQ(limit_of(kMaxRangeBits + 1, derive), "n_bit 65537 exceeds the supported maximum of 65536 bits");
  EXPECT_EQ(limit_of(uint64_t(1) << 63, derive),
            "n_bit 9223372036854775808 exceeds the supported maximum of 65536 bits");
  EXPECT_EQ(limit_of(kMaxRangeBits, check_range_bits), "");
  EXPECT_EQ(limit_of(kMaxRangeBits, check_proof_bits), "");
  // The proof functions stop on a non-power of two first, at any size.
  EXPECT_EQ(failure_of([] { check_proof_bits(kMaxRangeBits + 1); }), kPow2);
  EXPECT_EQ(failure_of([] { check_proof_bits(~uint64_t(0)); }), kPow2);
  EXPECT_EQ(limit_of(kMaxRangeBits * 2, check_proof_bits),
            "n_bit 131072 exceeds the supported maximum of 65536 bits");
}

// ---------------------------------------------------------------- challenges

TEST(Challenges, KnownValues) {
  const Point& g = Point::generator();
  EXPECT_EQ(point_challenge({&g}).to_bigint().to_hex(),
            "1bcb661b301089f2b094b5521376e9dfa3cd7c500858b562f6d8874330b17243");
  EXPECT_EQ(integer_challenge({BigInt::from_u64(1), BigInt::from_u64(2), BigInt::from_u64(3)}).to_bigint().to_hex(),
            "29f51572337fdc713a2e33cfc0e7dc1c28e78e4b3736d27596a7a30b4a1a3dd");
  // 0 contributes the byte 0x00, and order matters.
  EXPECT_NE(integer_challenge({BigInt()}), integer_challenge({}));
  EXPECT_NE(integer_challenge({BigInt::from_u64(1), BigInt::from_u64(2)}),
            integer_challenge({BigInt::from_u64(2), BigInt::from_u64(1)}));
}

TEST(InnerProduct, SumsAndRejectsMismatch) {
  EXPECT_TRUE(inner_product({}, {}).is_zero());
  EXPECT_EQ(inner_product({sc(1), sc(2), sc(3)}, {sc(4), sc(5), sc(-6)}), sc(4 + 10 - 18));
  EXPECT_EQ(failure_of([] { inner_product({sc(1)}, {}); }), "inner_product(a,b): lengths of vectors do not match");
}

// ---------------------------------------------------------------- inner product argument

namespace {

struct IpaCase {
  std::vector<Point> G, H;
  Point ux, P;
  std::vector<Scalar> a, b;
  InnerProductArg arg;

  explicit IpaCase(size_t n) {
    GeneratorVectors gv = derive_generator_vectors(n);
    G = gv.g_vec;
    H = gv.h_vec;
    ux = range_test_h();
    a = random_scalars(n);
    b = random_scalars(n);
    P = ux * inner_product(a, b);
    for (size_t i = 0; i < n; ++i) P = P + G[i] * a[i] + H[i] * b[i];
    arg = InnerProductArg::prove(G, H, ux, a, b);
  }
  bool verify(const InnerProductArg& x) const { return x.verify(G, H, ux, P); }
  bool verify_ref(const InnerProductArg& x) const { return ref_ipa_verify(x, G, H, ux, P); }
};

}  // namespace

TEST(InnerProductArg, MatchesIndependentProof) {
  GeneratorVectors gv = derive_generator_vectors(4);
  InnerProductArg arg = InnerProductArg::prove(gv.g_vec, gv.h_vec, range_test_h(), {sc(1), sc(2), sc(3), sc(4)},
                                               {sc(5), sc(6), sc(7), sc(8)});
  EXPECT_EQ(arg.to_json_text(), kIpaJson);
  InnerProductArg back = InnerProductArg::from_json_text(kIpaJson);
  EXPECT_EQ(back.to_json_text(), kIpaJson);
}

TEST(InnerProductArg, SameProofAsThePlainHalvingProver) {
  // The prover folds with running factors and one product per point; the
  // points it outputs must be those of plain folding, with and without a
  // ratio on H. At 256 the unfolded steps change their base on the way.
  for (size_t n : {1, 2, 4, 16, 64, 256}) {
    GeneratorVectors gv = derive_generator_vectors(n);
    std::vector<Scalar> a = random_scalars(n), b = random_scalars(n);
    const Point& u = range_test_h();
    EXPECT_EQ(InnerProductArg::prove(gv.g_vec, gv.h_vec, u, a, b).to_json_text(),
              ref_ipa_prove(gv.g_vec, gv.h_vec, u, a, b).to_json_text())
        << n;
    const Scalar rho = Scalar::random();
    const std::vector<Point> scaled = scaled_by_powers(gv.h_vec, rho);
    EXPECT_EQ(InnerProductArg::prove(gv.g_vec, gv.h_vec, u, a, b, &rho).to_json_text(),
              ref_ipa_prove(gv.g_vec, scaled, u, a, b).to_json_text())
        << n;
    // u given as a multiple of the generator, whose cached table then serves.
    const Scalar k = Scalar::random();
    const Point uk = Point::generator() * k;
    EXPECT_EQ(InnerProductArg::prove(gv.g_vec, gv.h_vec, uk, a, b, &rho, &Point::generator(), &k).to_json_text(),
              ref_ipa_prove(gv.g_vec, scaled, uk, a, b).to_json_text())
        << n;
  }
}

TEST(InnerProductArg, FactorsOfHMatchScaledGenerators) {
  // The scaled vectors take the path without tables: at 256 and 1024 the
  // unfolded steps start at once (and change their base twice at 1024),
  // those of the cached generators after the two table steps.
  for (size_t n : {1, 2, 4, 8, 32, 256, 1024}) {
    GeneratorVectors gv = derive_generator_vectors(n);
    std::vector<Scalar> a = random_scalars(n), b = random_scalars(n);
    const Scalar rho = Scalar::random();
    const std::vector<Point> scaled = scaled_by_powers(gv.h_vec, rho);
    const Point& u = range_test_h();
    EXPECT_EQ(InnerProductArg::prove(gv.g_vec, gv.h_vec, u, a, b, &rho).to_json_text(),
              InnerProductArg::prove(gv.g_vec, scaled, u, a, b).to_json_text())
        << n;
  }
}

TEST(InnerProductArg, LongVectorsFoldBeforeTheUnfoldedSteps) {
  // 2048 entries are past the generator cache and past the longest unfolded
  // base: the first step folds with one product per point. The proof must
  // verify, and the ratio on H must give the proof of the scaled vector.
  const size_t n = 2048;
  GeneratorVectors gv = derive_generator_vectors(n);
  std::vector<Scalar> a = random_scalars(n), b = random_scalars(n);
  const Scalar rho = Scalar::random();
  const std::vector<Point> scaled = scaled_by_powers(gv.h_vec, rho);
  const Point& u = range_test_h();
  const InnerProductArg arg = InnerProductArg::prove(gv.g_vec, gv.h_vec, u, a, b, &rho);
  EXPECT_EQ(arg.to_json_text(), InnerProductArg::prove(gv.g_vec, scaled, u, a, b).to_json_text());
  std::vector<Point> pts = gv.g_vec;
  pts.insert(pts.end(), scaled.begin(), scaled.end());
  pts.push_back(u);
  std::vector<Scalar> ks = a;
  ks.insert(ks.end(), b.begin(), b.end());
  ks.push_back(inner_product(a, b));
  const Point P = msm_public(pts, ks);
  EXPECT_TRUE(arg.verify(gv.g_vec, scaled, u, P));
  EXPECT_FALSE(arg.verify(gv.g_vec, scaled, u, P + u));
}

TEST(InnerProductArg, RoundTripsForEveryPowerOfTwo) {
  for (size_t n : {1, 2, 4, 8, 16}) {
    IpaCase c(n);
    unsigned k = 0;
    while ((size_t(1) << k) < n) ++k;
    EXPECT_EQ(c.arg.L.size(), k) << n;
    EXPECT_EQ(c.arg.R.size(), k) << n;
    EXPECT_TRUE(c.verify(c.arg)) << n;
    EXPECT_TRUE(c.verify_ref(c.arg)) << n;
    if (n == 1) {
      EXPECT_EQ(c.arg.a_tag, c.a[0].to_bigint());
      EXPECT_EQ(c.arg.b_tag, c.b[0].to_bigint());
    }
    // Extra trailing entries are never looked at.
    InnerProductArg extra = c.arg;
    extra.L.push_back(Point::generator());
    extra.R.push_back(Point::generator());
    EXPECT_TRUE(c.verify(extra)) << n;
  }
}

TEST(InnerProductArg, TamperingFailsLikeTheReference) {
  IpaCase c(8);
  std::vector<std::pair<const char*, std::function<void(InnerProductArg&)>>> edits = {
      {"L[0]", [](InnerProductArg& a) { a.L[0] = a.L[0] + Point::generator(); }},
      {"L[2]", [](InnerProductArg& a) { a.L[2] = a.R[2]; }},
      {"R[1]", [](InnerProductArg& a) { a.R[1] = -a.R[1]; }},
      {"swap L R", [](InnerProductArg& a) { std::swap(a.L, a.R); }},
      {"a_tag", [](InnerProductArg& a) { a.a_tag = a.a_tag + BigInt::one(); }},
      {"b_tag", [](InnerProductArg& a) { a.b_tag = BigInt(); }},
      {"a_tag + r (same scalar)", [](InnerProductArg& a) { a.a_tag = a.a_tag + Scalar::group_order(); }},
  };
  for (auto& [name, edit] : edits) {
    InnerProductArg t = c.arg;
    edit(t);
    EXPECT_EQ(c.verify(t), c.verify_ref(t)) << name;
    EXPECT_EQ(c.verify(t), std::string(name) == "a_tag + r (same scalar)") << name;
  }
  // Wrong statement: another P, another ux.
  EXPECT_FALSE(c.arg.verify(c.G, c.H, c.ux, c.P + Point::generator()));
  EXPECT_FALSE(c.arg.verify(c.G, c.H, Point::generator(), c.P));
  EXPECT_FALSE(c.arg.verify(c.H, c.G, c.ux, c.P));
}

TEST(InnerProductArg, StopsOnShapeErrors) {
  IpaCase c(4);
  InnerProductArg short_arg = c.arg;
  short_arg.R.pop_back();
  EXPECT_NE(failure_of([&] { c.verify(short_arg); }), "");
  EXPECT_NE(failure_of([&] { c.verify_ref(short_arg); }), "");
  for (size_t n : {0, 3, 6}) {
    GeneratorVectors gv = derive_generator_vectors(n);
    std::vector<Scalar> a = random_scalars(n);
    EXPECT_EQ(failure_of([&] { InnerProductArg::prove(gv.g_vec, gv.h_vec, c.ux, a, a); }), kPow2) << n;
    EXPECT_EQ(failure_of([&] { c.arg.verify(gv.g_vec, gv.h_vec, c.ux, c.P); }), kPow2) << n;
  }
  std::vector<Point> H3(c.H.begin(), c.H.begin() + 3);
  EXPECT_NE(failure_of([&] { InnerProductArg::prove(c.G, H3, c.ux, c.a, c.b); }), "");
  EXPECT_NE(failure_of([&] { c.arg.verify(c.G, H3, c.ux, c.P); }), "");
  EXPECT_NE(failure_of([&] { InnerProductArg::prove(c.G, c.H, c.ux, c.a, {c.b[0]}); }), "");
}

// ---------------------------------------------------------------- range proof

TEST(RangeProof, ValuesInRangeVerify) {
  struct Case {
    uint64_t n;
    Scalar v;
  };
  const Scalar max64 = Scalar::from_bigint((BigInt::one() << 64) - BigInt::one());
  std::vector<Case> cases = {{1, sc(0)},  {1, sc(1)},  {2, sc(3)},  {8, sc(0)},  {8, sc(255)}, {8, sc(200)},
                             {16, sc(0)}, {16, sc(65535)}, {32, sc(0)}, {32, sc(4294967295LL)}, {64, sc(0)},
                             {64, max64}};
  for (const Case& c : cases) {
    Fixture f(c.n, {c.v});
    EXPECT_TRUE(f.verify(f.proof)) << c.n;
    if (c.n <= 8) {
      EXPECT_TRUE(f.verify_ref(f.proof)) << c.n;
    }
  }
  Fixture one(1, {sc(1)});
  EXPECT_TRUE(one.proof.inner_product_proof.L.empty());
  EXPECT_TRUE(one.proof.inner_product_proof.R.empty());
}

TEST(RangeProof, ValuesOutOfRangeFail) {
  struct Case {
    uint64_t n;
    Scalar v;
  };
  std::vector<Case> cases = {{1, sc(2)}, {8, sc(256)}, {8, sc(-1)}, {16, sc(65536)}, {32, sc(-1)},
                             {64, Scalar::from_bigint(BigInt::one() << 64)}, {64, sc(-1)}};
  for (const Case& c : cases) {
    Fixture f(c.n, {c.v});
    EXPECT_FALSE(f.verify(f.proof)) << c.n;
    if (c.n <= 16) {
      EXPECT_FALSE(f.verify_ref(f.proof)) << c.n;
    }
  }
}

TEST(RangeProof, FreshRandomnessEachTime) {
  GeneratorVectors gv = derive_generator_vectors(8);
  const Point G = Point::generator(), H = range_test_h();
  const Scalar v = sc(77), gamma = Scalar::random();
  const Point V = G * v + H * gamma;
  RangeProof p1 = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, {v}, {gamma}, 8);
  RangeProof p2 = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, {v}, {gamma}, 8);
  EXPECT_NE(p1.to_json_text(), p2.to_json_text());
  EXPECT_TRUE(p1.verify(gv.g_vec, gv.h_vec, G, H, {V}, 8));
  EXPECT_TRUE(p2.verify(gv.g_vec, gv.h_vec, G, H, {V}, 8));
}

TEST(RangeProof, WrongStatementFails) {
  Fixture f(8, {sc(200)});
  const auto& g = f.gv.g_vec;
  const auto& h = f.gv.h_vec;
  EXPECT_FALSE(f.proof.verify(g, h, f.G, f.H, {f.G * sc(201) + f.H * f.blindings[0]}, 8));
  EXPECT_FALSE(f.proof.verify(g, h, f.H, f.G, f.V, 8));
  GeneratorVectors v4 = derive_generator_vectors(4);
  EXPECT_FALSE(f.proof.verify(v4.g_vec, v4.h_vec, f.G, f.H, f.V, 4));
  EXPECT_FALSE(ref_range_verify(f.proof, v4.g_vec, v4.h_vec, f.G, f.H, f.V, 4));
  // A larger n needs more halving steps than the argument holds.
  GeneratorVectors v16 = derive_generator_vectors(16);
  EXPECT_NE(failure_of([&] { f.proof.verify(v16.g_vec, v16.h_vec, f.G, f.H, f.V, 16); }), "");
}

TEST(RangeProof, AggregatedProofBindsCommitmentOrder) {
  Fixture f(4, {sc(3), sc(15)});
  EXPECT_EQ(f.proof.inner_product_proof.L.size(), 3u);
  EXPECT_TRUE(f.verify(f.proof));
  EXPECT_TRUE(f.verify_ref(f.proof));
  std::vector<Point> swapped = {f.V[1], f.V[0]};
  EXPECT_FALSE(f.proof.verify(f.gv.g_vec, f.gv.h_vec, f.G, f.H, swapped, 4));
  EXPECT_FALSE(ref_range_verify(f.proof, f.gv.g_vec, f.gv.h_vec, f.G, f.H, swapped, 4));
  Fixture bad(4, {sc(3), sc(16)});
  EXPECT_FALSE(bad.verify(bad.proof));
  EXPECT_FALSE(bad.verify_ref(bad.proof));
}

TEST(RangeProof, TamperingFailsLikeTheReference) {
  Fixture f(8, {sc(200)});
  const Point g1 = Point::generator();
  std::vector<std::pair<const char*, std::function<void(RangeProof&)>>> edits = {
      {"A", [&](RangeProof& p) { p.A = p.A + g1; }},
      {"S", [&](RangeProof& p) { p.S = -p.S; }},
      {"T1", [&](RangeProof& p) { p.T1 = p.T2; }},
      {"T2", [&](RangeProof& p) { p.T2 = p.T2 + g1; }},
      {"tau_x", [&](RangeProof& p) { p.tau_x = p.tau_x + sc(1); }},
      {"miu", [&](RangeProof& p) { p.miu = p.miu - sc(1); }},
      {"tx", [&](RangeProof& p) { p.tx = p.tx + sc(1); }},
      {"L[0]", [&](RangeProof& p) { p.inner_product_proof.L[0] = p.inner_product_proof.L[0] + g1; }},
      {"R[2]", [&](RangeProof& p) { p.inner_product_proof.R[2] = p.inner_product_proof.L[2]; }},
      {"a_tag", [&](RangeProof& p) { p.inner_product_proof.a_tag = p.inner_product_proof.a_tag + BigInt::one(); }},
      {"b_tag", [&](RangeProof& p) { p.inner_product_proof.b_tag = BigInt(); }},
      // T1 enters only the polynomial check and the x challenge.
      {"T1 + H", [&](RangeProof& p) { p.T1 = p.T1 + f.H; }},
  };
  for (auto& [name, edit] : edits) {
    RangeProof t = f.proof;
    edit(t);
    EXPECT_FALSE(f.verify(t)) << name;
    EXPECT_FALSE(f.verify_ref(t)) << name;
  }
  // Both verifiers accept the untouched proof.
  EXPECT_TRUE(f.verify(f.proof));
  EXPECT_TRUE(f.verify_ref(f.proof));
}

// G and H go through fixed tables when they are the standard generator or
// range_test_h(), in either role, and through the ordinary sums otherwise:
// every mix gives the reference's outcome on a valid and a tampered proof.
TEST(RangeProof, OtherBasesMatchTheReference) {
  const Point g = Point::generator(), h = range_test_h();
  struct Case {
    const char* name;
    Point G, H;
  };
  const std::vector<Case> cases = {
      {"generator, range_test_h", g, h}, {"range_test_h, generator", h, g},
      {"generator, other", g, h * sc(3) + g}, {"other, range_test_h", g * sc(5), h},
      {"other, other", g * sc(7), h * sc(11)},
  };
  GeneratorVectors gv = derive_generator_vectors(8);
  for (const Case& c : cases) {
    const Scalar v = sc(200), gamma = Scalar::random();
    const std::vector<Point> V = {c.G * v + c.H * gamma};
    RangeProof p = RangeProof::prove(gv.g_vec, gv.h_vec, c.G, c.H, {v}, {gamma}, 8);
    EXPECT_TRUE(p.verify(gv.g_vec, gv.h_vec, c.G, c.H, V, 8)) << c.name;
    EXPECT_TRUE(ref_range_verify(p, gv.g_vec, gv.h_vec, c.G, c.H, V, 8)) << c.name;
    for (int edit = 0; edit < 2; ++edit) {
      RangeProof t = p;
      if (edit == 0) t.miu = t.miu + sc(1);  // the scalar of H
      else t.tx = t.tx - sc(1);              // a part of G's scalars
      EXPECT_FALSE(t.verify(gv.g_vec, gv.h_vec, c.G, c.H, V, 8)) << c.name << " edit " << edit;
      EXPECT_FALSE(ref_range_verify(t, gv.g_vec, gv.h_vec, c.G, c.H, V, 8)) << c.name << " edit " << edit;
    }
  }
}

TEST(RangeProof, StopsOnShapeErrors) {
  GeneratorVectors v3 = derive_generator_vectors(3);
  const Point G = Point::generator(), H = range_test_h();
  EXPECT_EQ(failure_of([&] { RangeProof::prove(v3.g_vec, v3.h_vec, G, H, {sc(1)}, {sc(2)}, 3); }), kPow2);
  GeneratorVectors v0 = derive_generator_vectors(0);
  EXPECT_EQ(failure_of([&] { RangeProof::prove(v0.g_vec, v0.h_vec, G, H, {sc(1)}, {sc(2)}, 0); }), kPow2);
  Fixture f(4, {sc(5)});
  EXPECT_EQ(failure_of([&] { f.proof.verify(v3.g_vec, v3.h_vec, G, H, f.V, 3); }), kPow2);
  EXPECT_NE(failure_of([&] { f.proof.verify(f.gv.g_vec, f.gv.h_vec, G, H, {}, 4); }), "");
  GeneratorVectors v8 = derive_generator_vectors(8);
  EXPECT_NE(failure_of([&] { f.proof.verify(v8.g_vec, f.gv.h_vec, G, H, f.V, 4); }), "");
  EXPECT_NE(failure_of([&] { RangeProof::prove(v8.g_vec, v8.h_vec, G, H, {sc(1)}, {sc(2)}, 4); }), "");
  EXPECT_NE(failure_of([&] { RangeProof::prove(f.gv.g_vec, f.gv.h_vec, G, H, {sc(1)}, {}, 4); }), "");
  RangeProof short_ipa = f.proof;
  short_ipa.inner_product_proof.L.pop_back();
  EXPECT_NE(failure_of([&] { f.verify(short_ipa); }), "");
}

// ---------------------------------------------------------------- JSON

namespace {

std::string point_block(const std::string& indent, const std::string& hex) {
  return "{\n" + indent + "  \"curve\": \"bn254\",\n" + indent + "  \"point\": \"" + hex + "\"\n" + indent + "}";
}
std::string scalar_block(const std::string& indent, const std::string& hex) {
  return "{\n" + indent + "  \"curve\": \"bn254\",\n" + indent + "  \"scalar\": \"" + hex + "\"\n" + indent + "}";
}

RangeProof fixed_proof() {
  RangeProof p;
  p.A = Point::generator();
  p.S = -Point::generator();
  p.T1 = Point::identity();
  p.T2 = range_test_h();
  p.tau_x = sc(1);
  p.miu = sc(0);
  p.tx = sc(-1);
  p.inner_product_proof.a_tag = BigInt();
  p.inner_product_proof.b_tag = BigInt::from_u64(256);
  return p;
}

std::string unwrap_of(const std::string& text) {
  return failure_of([&] { RangeProof::from_json_text(text); });
}

}  // namespace

TEST(RangeProofJson, ExactLayout) {
  const std::string g = std::string(63, '0') + "1", mg = "8" + std::string(62, '0') + "1",
                    id = "40" + std::string(62, '0');
  const std::string expected =
      "{\n  \"A\": " + point_block("  ", g) + ",\n  \"S\": " + point_block("  ", mg) + ",\n  \"T1\": " +
      point_block("  ", id) + ",\n  \"T2\": " + point_block("  ", kRangeTestH) + ",\n  \"tau_x\": " +
      scalar_block("  ", std::string(63, '0') + "1") + ",\n  \"miu\": " + scalar_block("  ", std::string(64, '0')) +
      ",\n  \"tx\": " +
      scalar_block("  ", "30644e72e131a029b85045b68181585d2833e84879b9709143e1f593f0000000") +
      ",\n  \"inner_product_proof\": {\n    \"L\": [],\n    \"R\": [],\n    \"a_tag\": \"00\",\n"
      "    \"b_tag\": \"0100\"\n  }\n}";
  EXPECT_EQ(fixed_proof().to_json_text(), expected);
  RangeProof back = RangeProof::from_json_text(expected);
  EXPECT_EQ(back.to_json_text(), expected);
}

TEST(RangeProofJson, LenientReading) {
  Fixture f(4, {sc(9)});
  const std::string text = f.proof.to_json_text();
  // Compact text, reordered members and unknown members read the same.
  json::Value v = f.proof.to_json();
  json::Value reordered = json::Value::object();
  reordered.set("extra", json::Value::string("ignored"));
  for (auto it = v.members().rbegin(); it != v.members().rend(); ++it) reordered.set(it->first, it->second);
  for (const std::string& t : {json::write_compact(v), json::write_compact(reordered)}) {
    RangeProof p = RangeProof::from_json_text(t);
    EXPECT_EQ(p.to_json_text(), text);
    EXPECT_TRUE(f.verify(p));
  }
  // The array form in field order, the argument nested as an array as well.
  json::Value ipa_arr = json::Value::array();
  for (const auto& m : v.members().back().second.members()) ipa_arr.push(m.second);
  json::Value arr = json::Value::array();
  for (size_t i = 0; i + 1 < v.members().size(); ++i) arr.push(v.members()[i].second);
  arr.push(ipa_arr);
  EXPECT_EQ(RangeProof::from_json_text(json::write_compact(arr)).to_json_text(), text);
  // BigInt strings read in either case, and the empty string is zero.
  InnerProductArg ipa = InnerProductArg::from_json_text(R"({"L":[],"R":[],"a_tag":"FF","b_tag":""})");
  EXPECT_EQ(ipa.a_tag, BigInt::from_u64(255));
  EXPECT_TRUE(ipa.b_tag.is_zero());
}

TEST(RangeProofJson, ReadingErrors) {
  const std::string prefix = kUnwrapPrefix;
  json::Value v = fixed_proof().to_json();
  auto without = [&](const std::string& key) {
    json::Value o = json::Value::object();
    for (const auto& m : v.members())
      if (m.first != key) o.set(m.first, m.second);
    return json::write_compact(o);
  };
  auto with_ipa = [&](const std::string& ipa) {
    std::string t = without("inner_product_proof");
    return t.substr(0, t.size() - 1) + ",\"inner_product_proof\":" + ipa + "}";
  };
  struct Case {
    std::string text, message;
  };
  const std::string pt = R"({"curve":"bn254","point":")" + std::string(63, '0') + "1\"}";
  std::vector<Case> cases = {
      {without("miu"), "missing field `miu`"},
      {without("A"), "missing field `A`"},
      {without("inner_product_proof"), "missing field `inner_product_proof`"},
      {"[]", "invalid length 0, expected struct RangeProof with 8 elements"},
      {"[" + pt + "," + pt + "]", "invalid length 2, expected struct RangeProof with 8 elements"},
      {"5", "expected struct RangeProof"},
      {"\"x\"", "expected struct RangeProof"},
      {with_ipa(R"({"L":[],"R":[],"a_tag":"0"})"), "malformed hex encoding"},
      {with_ipa(R"({"L":[],"R":[],"a_tag":"zz","b_tag":"00"})"), "malformed hex encoding"},
      {with_ipa(R"({"L":[],"R":[],"a_tag":5,"b_tag":"00"})"), "expected bigint"},
      {with_ipa(R"({"L":[],"R":[],"a_tag":"00"})"), "missing field `b_tag`"},
      {with_ipa(R"([[],[],"00"])"), "invalid length 3, expected struct InnerProductArg with 4 elements"},
      {with_ipa(R"([[],[],"00","00","00"])"), "invalid length 5, expected struct InnerProductArg with 4 elements"},
      {with_ipa("null"), "expected struct InnerProductArg"},
      {with_ipa(R"({"L":[],"L":[],"R":[],"a_tag":"00","b_tag":"00"})"), "duplicate field `L`"},
      {with_ipa(R"({"L":[{"curve":"bn254","point":"00"}],"R":[],"a_tag":"00","b_tag":"00"})"), "invalid point"},
      {fixed_proof().to_json_text() + "x", "trailing characters"},
  };
  for (const Case& c : cases) {
    std::string msg = unwrap_of(c.text);
    EXPECT_EQ(msg.rfind(prefix, 0), 0u) << c.text << " -> " << msg;
    EXPECT_NE(msg.find(c.message), std::string::npos) << c.text << " -> " << msg;
    EXPECT_NE(msg.find(" at line "), std::string::npos) << msg;
  }
}

TEST(GeneratorVectorsText, Layout) {
  EXPECT_EQ(generator_vectors_text({}, {}), "[[],[]]");
  GeneratorVectors v = derive_generator_vectors(1);
  EXPECT_EQ(generator_vectors_text(v.g_vec, v.h_vec),
            "[[\n  " + point_block("  ", kG4[0]) + "\n],[\n  " + point_block("  ", hex_of(v.h_vec[0])) + "\n]]");
}
