// G1 arithmetic against py_ecc vectors: sums in every coordinate form, the
// three scalar multiplications, normalisation, and the byte encodings with
// their refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "group/batch_affine.hpp"
#include "group/ct_pairs.hpp"
#include "group/curve.hpp"
#include "group/point.hpp"
#include "group_test_util.hpp"

using namespace nacrel;
using namespace group_test;

namespace {

// The same point with Z multiplied by z (a different Jacobian representative).
G1Jac rescale(const G1Jac& p, const Fq& z) {
  Fq z2 = z.sqr();
  return G1Jac{p.X * z2, p.Y * z2 * z, p.Z * z};
}

void expect_point(const G1Jac& got, const G1Affine& want, const char* what) {
  EXPECT_TRUE(jac_eq_affine(got, want)) << what;
  EXPECT_EQ(to_affine(got), want) << what;
  EXPECT_EQ(to_affine_vartime(got), want) << what;
}

}  // namespace

TEST(Curve, GeneratorAndIdentity) {
  G1Affine g = G1Affine::generator();
  EXPECT_TRUE(g.is_on_curve());
  EXPECT_EQ(hex_of(g.x), std::string(63, '0') + "1");
  EXPECT_EQ(hex_of(g.y), std::string(63, '0') + "2");
  G1Affine id = G1Affine::identity();
  EXPECT_TRUE(id.infinity && id.x.is_zero() && id.y.is_zero());
  EXPECT_TRUE(id.is_on_curve());
  EXPECT_TRUE(G1Jac::identity().is_identity());
  EXPECT_EQ(to_affine(G1Jac::identity()), id);
  EXPECT_EQ(to_affine_vartime(G1Jac::identity()), id);
  EXPECT_TRUE(to_jacobian(id).is_identity());
  EXPECT_FALSE((G1Affine{Fq::one(), Fq::one(), false}.is_on_curve()));
  EXPECT_EQ(neg(id), id);
  EXPECT_EQ(neg(neg(g)), g);
}

TEST(Curve, SumsAndDoublingsMatchReference) {
  const Fq z = Fq::from_u64(0x1234567), z2 = elem<Fq>(kFqRows[15].a);
  for (const auto& row : kAddRows) {
    G1Affine a = point_of(row.a), b = point_of(row.b), sum = point_of(row.sum), twice = point_of(row.dbl);
    G1Jac aj = to_jacobian(a), bj = to_jacobian(b);
    if (!a.infinity) aj = rescale(aj, z);
    if (!b.infinity) bj = rescale(bj, z2);
    expect_point(add(to_jacobian(a), to_jacobian(b)), sum, "add, Z = 1");
    expect_point(add(aj, bj), sum, "add, scaled");
    expect_point(add(bj, aj), sum, "add, swapped");
    expect_point(add_mixed(aj, b), sum, "add_mixed");
    expect_point(add_mixed(bj, a), sum, "add_mixed, swapped");
    expect_point(dbl(aj), twice, "dbl");
    expect_point(add(aj, aj), twice, "add to itself");
    expect_point(add_mixed(aj, a), twice, "add_mixed to itself");
    expect_point(add(aj, neg(aj)), G1Affine::identity(), "add the negation");
    expect_point(add_mixed(aj, neg(a)), G1Affine::identity(), "add_mixed the negation");
    expect_point(add_ct(aj, bj), sum, "add_ct, scaled");
    expect_point(add_ct(bj, to_jacobian(a)), sum, "add_ct, swapped");
    expect_point(add_ct(aj, aj), twice, "add_ct to itself");
    expect_point(add_ct(aj, neg(aj)), G1Affine::identity(), "add_ct the negation");
    // Any (X, Y, 0) is the identity, as dbl and add can leave it.
    expect_point(add_ct(G1Jac{z, z2, Fq::zero()}, bj), b, "add_ct, identity with X, Y != 1");
    EXPECT_TRUE(sum.is_on_curve() && twice.is_on_curve());
  }
}

TEST(Curve, ProductsMatchReference) {
  for (const auto& row : kMulRows) {
    SCOPED_TRACE(row.scalar);
    G1Affine q = point_of(row.base), want = point_of(row.product);
    Fr k = scalar_of(row.scalar);
    expect_point(mul_ct(q, k), want, "mul_ct");
    expect_point(mul_vartime(q, k), want, "mul_vartime");
    expect_point(msm_vartime(&q, &k, 1), want, "msm_vartime n = 1");
  }
}

TEST(Curve, ProductsOfIdentityAndByZero) {
  G1Affine id = G1Affine::identity();
  Fr k = scalar_of(kMulRows[20].scalar);
  for (const Fr& s : {Fr::zero(), Fr::one(), k, -Fr::one()}) {
    EXPECT_TRUE(mul_ct(id, s).is_identity());
    EXPECT_TRUE(mul_vartime(id, s).is_identity());
  }
  EXPECT_TRUE(mul_ct(G1Affine::generator(), Fr::zero()).is_identity());
  EXPECT_TRUE(mul_vartime(G1Affine::generator(), Fr::zero()).is_identity());
}

TEST(Curve, ConstantTimeAndVariableTimeProductsAgree) {
  std::vector<G1Affine> ps = sample_points(8);
  std::vector<Fr> ks = sample_scalars(24);
  for (size_t i = 0; i < ks.size(); ++i) {
    const G1Affine& p = ps[i % ps.size()];
    G1Affine a = to_affine(mul_ct(p, ks[i]));
    EXPECT_EQ(a, to_affine_vartime(mul_vartime(p, ks[i])));
    // (k + 1) P = kP + P and (-k) P = -(kP).
    EXPECT_EQ(to_affine(mul_ct(p, ks[i] + Fr::one())), to_affine(add_mixed(to_jacobian(a), p)));
    EXPECT_EQ(to_affine_vartime(mul_vartime(p, -ks[i])), neg(a));
  }
}

// Scalars whose GLV halves are even, odd, zero or at the ends of their range
// exercise the constant-time recoding and its corrections for even halves.
TEST(Curve, ConstantTimeProductOnSplitEdgeScalars) {
  const Fr& l = glv_lambda();
  const Fr two = Fr::from_u64(2), half = two.inverse_ct();
  std::vector<Fr> ks = {Fr::one(), two, Fr::from_u64(3), Fr::from_u64(16), Fr::from_u64(~0ULL), -Fr::one(),
                        -two, l, -l, l + Fr::one(), l + two, two * l, -(two * l) + Fr::one(), l.sqr(),
                        half, half - Fr::one(), half + Fr::one()};
  for (const Fr& k : sample_scalars(16)) ks.push_back(k);
  std::vector<G1Affine> ps = sample_points(3);
  std::vector<G1Affine> bases(ks.size());
  G1Jac want_sum = G1Jac::identity();
  for (size_t i = 0; i < ks.size(); ++i) {
    const G1Affine& p = ps[i % ps.size()];
    EXPECT_EQ(to_affine(mul_ct(p, ks[i])), to_affine_vartime(mul_vartime(p, ks[i]))) << hex_of(ks[i]);
    // The same scalars alone and together through the shared-inversion sum,
    // whose tree then meets equal and related points of one base.
    EXPECT_EQ(to_affine(msm_ct_public_bases(&p, &ks[i], 1)), to_affine_vartime(mul_vartime(p, ks[i])))
        << hex_of(ks[i]);
    OddTable odd;
    build_odd_tables(&p, &odd, 1);
    const OddTable* odd_ptr = &odd;
    EXPECT_EQ(to_affine_vartime(msm_vartime_odd(&odd_ptr, &ks[i], 1)), to_affine_vartime(mul_vartime(p, ks[i])))
        << hex_of(ks[i]);
    bases[i] = p;
    want_sum = add(want_sum, mul_vartime(p, ks[i]));
  }
  EXPECT_EQ(to_affine(msm_ct_public_bases(bases.data(), ks.data(), ks.size())), to_affine_vartime(want_sum));
}

TEST(Curve, MsmEqualsSumOfProducts) {
  for (size_t n : {0, 1, 2, 3, 17, 100}) {
    SCOPED_TRACE(n);
    std::vector<G1Affine> ps = sample_points(n);
    std::vector<Fr> ks = sample_scalars(n);
    // Awkward inputs: zero scalars, identities, repeated and opposite points.
    if (n >= 3) {
      ks[1] = Fr::zero();
      ps[2] = G1Affine::identity();
    }
    if (n >= 17) {
      ps[5] = ps[4];
      ks[5] = ks[4];
      ps[7] = neg(ps[6]);
      ks[7] = ks[6];
      ks[9] = -Fr::one();
      ks[10] = Fr::one();
    }
    G1Jac want = G1Jac::identity();
    for (size_t i = 0; i < n; ++i) want = add(want, mul_vartime(ps[i], ks[i]));
    G1Jac got = msm_vartime(ps.data(), ks.data(), n);
    EXPECT_EQ(to_affine_vartime(got), to_affine_vartime(want));
    EXPECT_EQ(to_affine(msm_ct(ps.data(), ks.data(), n)), to_affine_vartime(want));
    EXPECT_EQ(to_affine(msm_ct_public_bases(ps.data(), ks.data(), n)), to_affine_vartime(want));
    std::vector<OddTable> odd(n);
    build_odd_tables(ps.data(), odd.data(), n);
    std::vector<const OddTable*> odd_ptrs(n);
    for (size_t i = 0; i < n; ++i) odd_ptrs[i] = &odd[i];
    EXPECT_EQ(to_affine_vartime(msm_vartime_odd(odd_ptrs.data(), ks.data(), n)), to_affine_vartime(want));
  }
  // A sum that cancels exactly.
  std::vector<G1Affine> ps = sample_points(2);
  ps[1] = ps[0];
  std::vector<Fr> ks = {Fr::from_u64(5), -Fr::from_u64(5)};
  EXPECT_TRUE(msm_vartime(ps.data(), ks.data(), 2).is_identity());
  EXPECT_TRUE(msm_ct(ps.data(), ks.data(), 2).is_identity());
  EXPECT_TRUE(msm_ct_public_bases(ps.data(), ks.data(), 2).is_identity());
}

TEST(Curve, BatchNormalisationMatchesSingle) {
  std::vector<G1Affine> ps = sample_points(9);
  std::vector<G1Jac> js;
  for (size_t i = 0; i < ps.size(); ++i) {
    js.push_back(rescale(to_jacobian(ps[i]), Fq::from_u64(3 + i)));
    if (i % 4 == 1) js.push_back(G1Jac::identity());
  }
  std::vector<G1Affine> out(js.size());
  batch_to_affine(js.data(), out.data(), js.size());
  for (size_t i = 0; i < js.size(); ++i) EXPECT_EQ(out[i], to_affine(js[i])) << i;
  G1Jac one_id = G1Jac::identity();
  G1Affine single;
  batch_to_affine(&one_id, &single, 1);
  EXPECT_EQ(single, G1Affine::identity());
  batch_to_affine(nullptr, nullptr, 0);
}

TEST(Curve, JacobianEqualityComparesPoints) {
  std::vector<G1Affine> ps = sample_points(2);
  G1Jac a = rescale(to_jacobian(ps[0]), Fq::from_u64(77));
  EXPECT_TRUE(jac_eq_affine(a, ps[0]));
  EXPECT_FALSE(jac_eq_affine(a, ps[1]));
  EXPECT_FALSE(jac_eq_affine(a, neg(ps[0])));
  EXPECT_FALSE(jac_eq_affine(a, G1Affine::identity()));
  EXPECT_FALSE(jac_eq_affine(G1Jac::identity(), ps[0]));
  EXPECT_TRUE(jac_eq_affine(G1Jac::identity(), G1Affine::identity()));
}

TEST(Encoding, WritesAndReadsReferenceEncodings) {
  for (const auto& row : kEncodingRows) {
    G1Affine p = point_of(row.point);
    SCOPED_TRACE(row.compressed);
    uint8_t c[32], u[64];
    encode_compressed(p, c);
    encode_uncompressed(p, u);
    EXPECT_EQ(hex(c, 32), row.compressed);
    EXPECT_EQ(hex(u, 64), row.uncompressed);
    EXPECT_EQ(u[0] & 0x80, 0);
    G1Affine back;
    ASSERT_TRUE(decode_point(c, 32, back));
    EXPECT_EQ(back, p);
    ASSERT_TRUE(decode_point(u, 64, back));
    EXPECT_EQ(back, p);
  }
}

TEST(Encoding, KnownForms) {
  uint8_t c[32], u[64];
  encode_compressed(G1Affine::generator(), c);
  EXPECT_EQ(hex(c, 32), std::string(63, '0') + "1");
  encode_compressed(neg(G1Affine::generator()), c);
  EXPECT_EQ(hex(c, 32), "8" + std::string(62, '0') + "1");
  encode_compressed(G1Affine::identity(), c);
  EXPECT_EQ(hex(c, 32), "40" + std::string(62, '0'));
  encode_uncompressed(G1Affine::identity(), u);
  EXPECT_EQ(hex(u, 64), "40" + std::string(126, '0'));
  encode_uncompressed(neg(G1Affine::generator()), u);
  EXPECT_EQ(u[0], 0x30);
}

TEST(Encoding, AcceptsNonCanonicalFlagForms) {
  for (const auto& row : kAcceptedRows) {
    std::vector<uint8_t> b = unhex(row.bytes);
    G1Affine out;
    ASSERT_TRUE(decode_point(b.data(), b.size(), out)) << row.what;
    EXPECT_EQ(out, point_of(row.point)) << row.what;
  }
}

TEST(Encoding, RefusesInvalidEncodings) {
  for (const auto& row : kRefusedRows) {
    std::vector<uint8_t> b = unhex(row.bytes);
    G1Affine out = G1Affine::generator();
    EXPECT_FALSE(decode_point(b.data(), b.size(), out)) << row.what;
    EXPECT_EQ(out, G1Affine::generator()) << "output untouched: " << row.what;
  }
}

TEST(Encoding, RoundTripsComputedPoints) {
  std::vector<G1Affine> ps = sample_points(40);
  for (const G1Affine& p : ps) {
    for (const G1Affine& q : {p, neg(p)}) {
      uint8_t c[32], u[64];
      encode_compressed(q, c);
      encode_uncompressed(q, u);
      G1Affine b1, b2;
      ASSERT_TRUE(decode_point(c, 32, b1));
      ASSERT_TRUE(decode_point(u, 64, b2));
      EXPECT_EQ(b1, q);
      EXPECT_EQ(b2, q);
    }
  }
}

TEST(Glv, EndomorphismIsMultiplicationByLambda) {
  const Fr& l = glv_lambda();
  EXPECT_NE(l, Fr::one());
  EXPECT_EQ(l.sqr() * l, Fr::one());
  for (const G1Affine& p : sample_points(5)) {
    G1Affine e = glv_endo(p);
    EXPECT_TRUE(e.is_on_curve());
    EXPECT_EQ(e.y, p.y);
    EXPECT_EQ(to_affine(mul_ct(p, l)), e);
  }
  EXPECT_EQ(glv_endo(G1Affine::identity()), G1Affine::identity());
}

TEST(Glv, SplitRecomposesWithShortHalves) {
  const Fr& l = glv_lambda();
  std::vector<Fr> ks = {Fr::zero(), Fr::one(), -Fr::one(), -Fr::from_u64(2), l, -l, l.sqr(), l + Fr::one(),
                        Fr::from_u64(~0ULL)};
  for (const auto& row : kMulRows) ks.push_back(scalar_of(row.scalar));
  for (const Fr& k : sample_scalars(200)) ks.push_back(k);
  // (r - 1) / 2 and (r + 1) / 2, the ends of the signed range.
  Fr half = Fr::from_u64(2).inverse_ct();
  ks.push_back(half);
  ks.push_back(half - Fr::one());
  auto to_fr = [](const U256& v, bool negative) {
    uint8_t be[32];
    u256_to_be(v, be);
    Fr f = Fr::from_be_bytes_reduce(be, 32);
    return negative ? -f : f;
  };
  for (const Fr& k : ks) {
    GlvSplit s = glv_split(k);
    EXPECT_EQ(to_fr(s.k1, s.neg1) + to_fr(s.k2, s.neg2) * l, k) << hex_of(k);
    EXPECT_EQ(s.k1.w[2] | s.k1.w[3] | s.k2.w[2] | s.k2.w[3], 0u) << hex_of(k);
    // The same halves as the constant-time split (a zero half counts as positive).
    U256 m1, m2;
    uint64_t n1, n2;
    glv_split_ct(k, m1, n1, m2, n2);
    EXPECT_TRUE(m1 == s.k1 && m2 == s.k2) << hex_of(k);
    EXPECT_EQ(n1 != 0 && !(m1 == U256{}), s.neg1 && !(s.k1 == U256{})) << hex_of(k);
    EXPECT_EQ(n2 != 0 && !(m2 == U256{}), s.neg2 && !(s.k2 == U256{})) << hex_of(k);
  }
}

TEST(Curve, EveryMsmMethodAgrees) {
  // Sizes around the switch between the methods and window widths from
  // small to wider than the number of terms.
  for (size_t n : {1, 5, 31, 32, 33, 150}) {
    SCOPED_TRACE(n);
    std::vector<G1Affine> ps = sample_points(n);
    std::vector<Fr> ks = sample_scalars(n);
    ks[0] = -Fr::one();
    if (n > 4) {
      ps[3] = ps[2];  // cancels in every bucket
      ks[3] = -ks[2];
      ps[4] = G1Affine::identity();
    }
    if (n > 6) {
      ps[6] = ps[5];  // doubles in every bucket
      ks[6] = ks[5];
    }
    G1Affine want = to_affine_vartime(msm_vartime_with(ps.data(), ks.data(), n, 0));
    G1Jac naive = G1Jac::identity();
    for (size_t i = 0; i < n; ++i) naive = add(naive, mul_ct(ps[i], ks[i]));
    EXPECT_EQ(want, to_affine(naive));
    EXPECT_EQ(to_affine_vartime(msm_vartime(ps.data(), ks.data(), n)), want);
    for (int method : {-1, 1, 2, 3, 4, 5, 7, 8, 11, 13, 101, 102, 103, 105, 108, 111}) {
      EXPECT_EQ(to_affine_vartime(msm_vartime_with(ps.data(), ks.data(), n, method)), want) << method;
    }
  }
}

// The sum over constant-time tables on both table scans (AVX2 where the
// processor has it, SSE2 otherwise), with scalars whose signed 7-bit digits
// take every magnitude 0 .. 64 of either sign, carries into the top digit,
// and bases that repeat, cancel and include the identity.
TEST(Curve, TableSumOnBothScansEqualsProducts) {
  const Fr two7 = Fr::from_u64(128);
  std::vector<Fr> ks = {Fr::zero(), Fr::one(), -Fr::one(), Fr::from_u64(63), Fr::from_u64(64), Fr::from_u64(65),
                        Fr::from_u64(127), -Fr::from_u64(64), -(Fr::one().dbl().inverse_ct())};
  // Every digit value d in [-64, 64] at a position of its own (two scalars).
  for (int part = 0; part < 2; ++part) {
    Fr k = Fr::zero(), pos = Fr::one();
    for (int d = -64; d <= 64; ++d) {
      if ((d + 64) % 2 != part) continue;
      const Fr mag = Fr::from_u64(uint64_t(d < 0 ? -d : d));
      k += d < 0 ? -(mag * pos) : mag * pos;
      pos *= two7;
    }
    ks.push_back(k);
  }
  Fr top = Fr::one();  // 2^252: the top digit alone
  for (int i = 0; i < 36; ++i) top *= two7;
  ks.push_back(top);
  ks.push_back(top * Fr::from_u64(3) - Fr::one());
  for (const Fr& k : sample_scalars(6)) ks.push_back(k);
  std::vector<G1Affine> ps = sample_points(ks.size());
  ps[3] = ps[2];  // repeated with the same scalar in its own tree positions
  ks[3] = ks[2];
  ps[5] = neg(ps[4]);
  ks[5] = ks[4];
  ps[6] = G1Affine::identity();
  std::vector<CtTable> tables(ps.size());
  build_ct_tables(ps.data(), tables.data(), ps.size());
  std::vector<const CtTable*> ptrs(ps.size());
  for (size_t i = 0; i < ps.size(); ++i) ptrs[i] = &tables[i];
  const G1Affine want = to_affine_vartime(msm_vartime(ps.data(), ks.data(), ks.size()));
  const int widest = table_scan_lanes();
  const bool was = ifma_affine_sums_active();
  for (bool ifma : {false, true}) {
    // The trees on IFMA when the CPU has it, else twice the portable ones.
    set_ifma_affine_sums(ifma);
    for (int lanes : {2, 4, 8}) {
      if (set_table_scan_lanes(lanes) != lanes) continue;
      SCOPED_TRACE(testing::Message() << lanes << " lanes, ifma " << ifma_affine_sums_active());
      EXPECT_EQ(to_affine(msm_ct_tables(ptrs.data(), ks.data(), ks.size())), want);
      for (size_t i = 0; i < ks.size(); ++i) {
        EXPECT_EQ(to_affine(msm_ct_tables(&ptrs[i], &ks[i], 1)), to_affine_vartime(mul_vartime(ps[i], ks[i]))) << i;
      }
      // Prefixes of every width from 2 up (odd and even levels).
      for (size_t w = 2; w < ks.size(); ++w) {
        const G1Affine part = to_affine_vartime(msm_vartime(ps.data(), ks.data(), w));
        EXPECT_EQ(to_affine(msm_ct_tables(ptrs.data(), ks.data(), w)), part) << w;
      }
    }
  }
  set_ifma_affine_sums(was);
  set_table_scan_lanes(widest);
}

// Several constant-time sums over comb tables and selected points at once,
// on both table scans: sums of different sizes (so that trees end at
// different levels), the identity as a comb point and as a selected point,
// a selected point that doubles or cancels a product, and an empty sum.
TEST(Curve, CombSumsOnBothScansEqualProducts) {
  std::vector<G1Affine> ps = sample_points(4);
  std::vector<Fr> ks = sample_scalars(6);
  const G1Affine bases[3] = {ps[0], ps[1], G1Affine::identity()};
  std::vector<CtCombTable> combs(3);
  for (int i = 0; i < 3; ++i) build_ct_comb_table(bases[i], combs[i]);
  const CtCombTable* const c01[2] = {&combs[0], &combs[1]};
  const CtCombTable* const c0i[2] = {&combs[0], &combs[2]};
  const CtCombTable* const c1 = &combs[1];
  const Fr one_ks[2] = {Fr::one(), -Fr::one()};
  const G1Affine sel[4] = {ps[2], ps[3], G1Affine::identity(), ps[0]};
  const uint64_t bits[4] = {1, 0, 1, 1};
  const G1Affine cancel[1] = {ps[1]};
  const uint64_t set[1] = {1};
  const std::vector<CtCombSum> sums = {
      {c01, ks.data(), 2, nullptr, nullptr, 0},       // a*P0 + b*P1
      {c0i, ks.data() + 2, 2, sel, bits, 4},          // c*P0 + d*O + P2 + P0
      {&c1, one_ks + 1, 1, cancel, set, 1},           // -P1 + P1
      {c01, one_ks, 1, sel + 3, set, 1},              // P0 + P0
      {nullptr, nullptr, 0, sel, bits + 1, 1},        // nothing selected
      {nullptr, nullptr, 0, nullptr, nullptr, 0},     // empty
      {&c1, ks.data() + 4, 1, nullptr, nullptr, 0}};  // e*P1
  auto mul = [](const G1Affine& p, const Fr& k) { return mul_vartime(p, k); };
  const std::vector<G1Jac> want = {add(mul(ps[0], ks[0]), mul(ps[1], ks[1])),
                                   add(add(mul(ps[0], ks[2] + Fr::one()), to_jacobian(ps[2])), G1Jac::identity()),
                                   G1Jac::identity(),
                                   mul(ps[0], Fr::from_u64(2)),
                                   G1Jac::identity(),
                                   G1Jac::identity(),
                                   mul(ps[1], ks[4])};
  const int widest = table_scan_lanes();
  for (int lanes : {2, 4, 8}) {
    if (set_table_scan_lanes(lanes) != lanes) continue;
    SCOPED_TRACE(testing::Message() << lanes << " lanes");
    std::vector<G1Affine> got(sums.size());
    sums_ct_combs(sums.data(), sums.size(), got.data());
    for (size_t k = 0; k < sums.size(); ++k) EXPECT_EQ(got[k], to_affine_vartime(want[k])) << k;
    // Each alone too.
    for (size_t k = 0; k < sums.size(); ++k) {
      G1Affine one;
      sums_ct_combs(&sums[k], 1, &one);
      EXPECT_EQ(one, to_affine_vartime(want[k])) << k;
    }
  }
  set_table_scan_lanes(widest);
  // The comb of a point: table j holds the multiples of 2^(7j) P.
  G1Jac shifted = to_jacobian(ps[0]);
  for (int j = 0; j < CtTable::kDigits; ++j) {
    const G1Affine want_j = to_affine_vartime(shifted);
    EXPECT_TRUE(combs[0].shifted[j].mult[0].x == want_j.x && combs[0].shifted[j].mult[0].y == want_j.y) << j;
    for (int d = 0; d < 7; ++d) shifted = dbl(shifted);
  }
  EXPECT_TRUE(combs[2].identity);
  EXPECT_FALSE(combs[0].identity);
}

TEST(Curve, ProductsMatchReferenceOnBothFieldPaths) {
  const bool fast = fast_field_mul_active();
  for (bool on : {false, true}) {
    set_fast_field_mul(on);
    SCOPED_TRACE(fast_field_mul_active() ? "mulx/adx" : "portable");
    for (size_t i = 0; i < std::size(kMulRows); i += 5) {
      const auto& row = kMulRows[i];
      G1Affine q = point_of(row.base), want = point_of(row.product);
      Fr k = scalar_of(row.scalar);
      expect_point(mul_ct(q, k), want, "mul_ct");
      expect_point(mul_vartime(q, k), want, "mul_vartime");
    }
  }
  set_fast_field_mul(fast);
}

// The two-term constant-time sum that commitments and provers use: the same
// point as the two products added, on the inputs where a shared doubling
// chain could go wrong, always labelled "scalar_mul".
TEST(Curve, LincombCtMatchesSeparateProducts) {
  const Point g = Point::generator();
  const Point h = g * Scalar::from_i64(987654321);
  const Scalar x = Scalar::random(), y = Scalar::random();
  struct Case {
    const char* what;
    Point a, b;
    Scalar x, y;
  };
  const Case cases[] = {
      {"random", g, h, x, y},
      {"negative small value", g, h, Scalar::from_i64(-7), y},
      {"zero scalars", g, h, Scalar::zero(), Scalar::zero()},
      {"identity operand", Point::identity(), h, x, y},
      {"equal points", h, h, x, y},
      {"cancelling terms", h, -h, x, x},
  };
  for (const Case& c : cases) {
    const Point got = lincomb_ct(c.a, c.x, c.b, c.y);
    EXPECT_EQ(got, c.a.mul_public(c.x) + c.b.mul_public(c.y)) << c.what;
    EXPECT_STREQ(got.v.purpose, "scalar_mul") << c.what;
  }
  EXPECT_TRUE(lincomb_ct(h, x, -h, x).is_identity());
}

TEST(Curve, SumSelectedMatchesPlainSum) {
  // Points k*B for k = 1..9 plus the identity, so a pair can be equal,
  // opposite or the identity (the cases where incomplete formulas break).
  std::vector<G1Affine> pts;
  const G1Affine b = G1Affine::generator();
  for (uint64_t k = 1; k <= 9; ++k) pts.push_back(to_affine(mul_vartime(b, Fr::from_u64(k))));
  pts.push_back(to_affine(neg(to_jacobian(pts[2]))));  // -3B
  pts.push_back(pts[0]);                               // B again
  pts.push_back(G1Affine{Fq::zero(), Fq::zero(), true});
  const size_t n = pts.size();
  for (uint64_t mask : {0ull, 1ull, 0xfffull, 0x404ull, 0x5a5ull, 0x801ull, 0x401ull, 0x3ffull}) {
    std::vector<uint64_t> bits(n);
    G1Jac want = G1Jac::identity();
    for (size_t i = 0; i < n; ++i) {
      bits[i] = (mask >> i) & 1;
      if (bits[i]) want = add_mixed(want, pts[i]);
    }
    EXPECT_EQ(to_affine(sum_selected_ct(pts.data(), bits.data(), n)), to_affine(want)) << mask;
  }
  EXPECT_TRUE(to_affine(sum_selected_ct(pts.data(), nullptr, 0)).infinity);
}

TEST(Curve, FixedTableMsmEqualsMsmVartime) {
  // Edge scalars: zero, +-1, +-lambda (one GLV half zero), digits at the
  // window bounds (carries), the largest values; and points that double or
  // cancel in a bucket, the identity, and a table point also passed as an
  // ordinary point.
  const Fr l = glv_lambda();
  const Fr two128 = Fr::from_u64(uint64_t(1) << 32) * Fr::from_u64(uint64_t(1) << 32) *
                    Fr::from_u64(uint64_t(1) << 32) * Fr::from_u64(uint64_t(1) << 32);
  const std::vector<Fr> edge = {Fr::zero(),          Fr::one(),           -Fr::one(),        l,
                                -l,                  Fr::from_u64(128),   Fr::from_u64(129), Fr::from_u64(0xff80ff7f),
                                two128 - Fr::one(),  two128,              -two128,           l * two128 + Fr::from_u64(127),
                                // the same for 12-bit digits (from 256 fixed points)
                                Fr::from_u64(2048),  Fr::from_u64(2049),  Fr::from_u64(0x800801800ULL)};
  for (size_t n_fixed : {0, 1, 3, 40, 255, 256, 400}) {
    for (size_t n : {0, 2}) {
      SCOPED_TRACE(testing::Message() << n_fixed << " fixed, " << n << " ordinary");
      std::vector<G1Affine> ps = sample_points(n_fixed + n);
      std::vector<Fr> ks = sample_scalars(n_fixed + n);
      if (n_fixed >= 40) {
        for (size_t i = 0; i < edge.size(); ++i) ks[i] = edge[i];
        ps[20] = ps[19];  // same digits: doubles in every bucket
        ks[20] = ks[19];
        ps[22] = neg(ps[21]);  // cancels in every bucket
        ks[22] = ks[21];
        ps[23] = G1Affine::identity();
      }
      if (n_fixed >= 1 && n >= 2) ps[n_fixed] = ps[0];
      std::vector<FixedTable> built(n_fixed);
      build_fixed_tables(ps.data(), built.data(), n_fixed);
      std::vector<const FixedTable*> tables;
      for (const FixedTable& t : built) tables.push_back(&t);
      for (size_t i = 0; i < n_fixed; ++i) ASSERT_EQ(built[i].point(), ps[i]);
      const G1Affine want = to_affine_vartime(msm_vartime(ps.data(), ks.data(), n_fixed + n));
      const G1Jac got = msm_vartime_fixed(tables.data(), ks.data(), n_fixed, ps.data() + n_fixed, ks.data() + n_fixed, n);
      EXPECT_EQ(to_affine_vartime(got), want);
      // A sum that cancels exactly.
      if (n_fixed >= 1 && n >= 1) {
        const Fr opp[2] = {ks[0], -ks[0]};
        EXPECT_TRUE(msm_vartime_fixed(tables.data(), opp, 1, ps.data(), opp + 1, 1).is_identity());
      }
    }
  }
}

TEST(Curve, CombProductsEqualMulVartime) {
  // Digits at the bounds of the 7-bit windows (64 with and without a carry,
  // a carry out of the top position), one GLV half zero, the ends of the
  // range; for the generator's table, another point's and the identity's.
  const Fr l = glv_lambda();
  const Fr two128 = Fr::from_u64(uint64_t(1) << 32) * Fr::from_u64(uint64_t(1) << 32) *
                    Fr::from_u64(uint64_t(1) << 32) * Fr::from_u64(uint64_t(1) << 32);
  std::vector<Fr> ks = {Fr::zero(),        Fr::one(),          -Fr::one(),          l,
                        -l,                Fr::from_u64(64),   Fr::from_u64(65),    Fr::from_u64(0x2040810204081ULL * 64),
                        two128 - Fr::one(), -(two128 - Fr::one()), l * (two128 - Fr::one()), Fr::from_u64(2).inverse_ct()};
  for (const Fr& k : sample_scalars(20)) ks.push_back(k);
  const G1Affine other = sample_points(1)[0];
  CombTable other_table, identity_table;
  build_comb_table(other, other_table);
  build_comb_table(G1Affine::identity(), identity_table);
  for (const Fr& k : ks) {
    SCOPED_TRACE(hex_of(k));
    EXPECT_EQ(to_affine_vartime(mul_comb(generator_comb(), k)), to_affine_vartime(mul_vartime(G1Affine::generator(), k)));
    EXPECT_EQ(to_affine_vartime(mul_comb(other_table, k)), to_affine_vartime(mul_vartime(other, k)));
    EXPECT_TRUE(mul_comb(identity_table, k).is_identity());
  }
}

TEST(Curve, FixedTableFoldEqualsProducts) {
  // lo[i] + P_i*k for shared edge and random k; lo the identity, equal to
  // P_i*k (a doubling) or its opposite (the identity), and an identity P_i.
  const Fr l = glv_lambda();
  std::vector<Fr> ks = {Fr::zero(), Fr::one(), -Fr::one(), l, -l, Fr::from_u64(8), Fr::from_u64(0x88888888)};
  for (const Fr& k : sample_scalars(3)) ks.push_back(k);
  const size_t n = 9;
  std::vector<G1Affine> ps = sample_points(n);
  ps[8] = G1Affine::identity();
  std::vector<FixedTable> built(n);
  build_fixed_tables(ps.data(), built.data(), n);
  std::vector<const FixedTable*> tables;
  for (const FixedTable& t : built) tables.push_back(&t);
  for (const Fr& k : ks) {
    SCOPED_TRACE(hex_of(k));
    std::vector<G1Affine> lo = sample_points(2 * n);
    lo.erase(lo.begin(), lo.begin() + n);
    lo[0] = G1Affine::identity();
    lo[1] = to_affine_vartime(mul_vartime(ps[1], k));
    lo[2] = neg(to_affine_vartime(mul_vartime(ps[2], k)));
    std::vector<G1Affine> got(n);
    const FixedTable* const* one[1] = {tables.data()};
    fold_fixed(lo.data(), one, &k, 1, n, got.data());
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(got[i], to_affine_vartime(add_mixed(mul_vartime(ps[i], k), lo[i]))) << i;
    }
    // Two terms: P_i*k + P_(n-1-i)*k2 into the same buckets, with k2 = -k
    // cancelling the first term at the middle point.
    const Fr k2s[2] = {k, (k.is_zero() ? Fr::one() : -k)};
    std::vector<const FixedTable*> reversed(tables.rbegin(), tables.rend());
    const FixedTable* const* two[2] = {tables.data(), reversed.data()};
    fold_fixed(lo.data(), two, k2s, 2, n, got.data());
    for (size_t i = 0; i < n; ++i) {
      const G1Jac want = add(add_mixed(mul_vartime(ps[i], k2s[0]), lo[i]), mul_vartime(ps[n - 1 - i], k2s[1]));
      EXPECT_EQ(got[i], to_affine_vartime(want)) << i;
    }
    // Three groups of three outputs, each with scalars of its own.
    const Fr gks[3] = {k, k + Fr::one(), -k};
    fold_fixed(lo.data(), one, gks, 1, n, got.data(), 3);
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(got[i], to_affine_vartime(add_mixed(mul_vartime(ps[i], gks[i / 3]), lo[i]))) << i;
    }
  }
}

// The affine bucket sums on both paths (portable and IFMA where the CPU has
// it) against plain sums, with the exceptional pairs in every round: equal
// points (doubling), opposite points, identities, and coordinates at the
// ends of the field (x = 1, y = p - 2, x = p - 1 when on the curve).
TEST(Curve, BucketSumsOnBothPathsEqualPlainSums) {
  std::vector<G1Affine> base = sample_points(40);
  base.push_back(G1Affine::generator());
  base.push_back(neg(G1Affine::generator()));
  {
    const Fq x = -Fq::one();
    Fq y;
    if (fq_sqrt(x.sqr() * x + Fq::from_u64(3), y)) {
      base.push_back(G1Affine{x, y, false});
      base.push_back(G1Affine{x, -y, false});
    }
  }
  const G1Affine O = G1Affine::identity();
  const G1Affine P = base[0], Q = base[1];
  std::vector<std::vector<G1Affine>> buckets = {
      {},
      {P},
      {P, P},
      {P, P, P, P, P, P, P, P},  // doublings in every round
      {P, neg(P)},
      {P, neg(P), Q},
      {O, P},
      {P, O},
      {O, O},
      {O, O, O},
      {P, Q, neg(P), neg(Q)},  // opposite sums in the second round
      {P, P, neg(P), neg(P), Q},
      {base[40], base[41]},
      {base[40], base[40], base[41]},
  };
  if (base.size() > 42) buckets.push_back({base[42], base[43], base[42], base[42], base[40]});
  // Buckets of every length up to 40 from the samples.
  for (size_t l = 1; l <= 40; ++l) {
    std::vector<G1Affine> b;
    for (size_t i = 0; i < l; ++i) b.push_back(base[(i * 7 + l) % base.size()]);
    buckets.push_back(b);
  }
  std::vector<G1Affine> flat;
  std::vector<size_t> start, len0;
  for (const auto& b : buckets) {
    start.push_back(flat.size());
    len0.push_back(b.size());
    flat.insert(flat.end(), b.begin(), b.end());
  }
  start.push_back(flat.size());
  ASSERT_GE(flat.size(), 64u);  // large enough for the wide path

  const bool was = ifma_affine_sums_active();
  for (bool on : {false, true}) {
    set_ifma_affine_sums(on);
    SCOPED_TRACE(ifma_affine_sums_active() ? "ifma" : "portable");
    std::vector<G1Affine> pts = flat;
    std::vector<size_t> len = len0;
    sum_buckets_affine(pts, start, len);
    for (size_t b = 0; b < buckets.size(); ++b) {
      G1Jac want = G1Jac::identity();
      for (const G1Affine& q : buckets[b]) want = add_mixed(want, q);
      const G1Affine got = len[b] == 0 ? G1Affine::identity() : pts[start[b]];
      EXPECT_LE(len[b], 1u) << b;
      EXPECT_EQ(got, to_affine_vartime(want)) << b;
    }
    // The same segments read by reference, every third point negated.
    std::vector<PointRef> refs;
    for (size_t i = 0; i < flat.size(); ++i) refs.push_back(ref_of(flat[i], i % 3 == 1));
    std::vector<G1Affine> sums(buckets.size());
    sum_bucket_refs(refs.data(), start.data(), len0.data(), buckets.size(), sums.data());
    for (size_t b = 0; b < buckets.size(); ++b) {
      G1Jac want = G1Jac::identity();
      for (size_t i = start[b]; i < start[b + 1]; ++i) want = add_mixed(want, i % 3 == 1 ? neg(flat[i]) : flat[i]);
      EXPECT_EQ(sums[b], to_affine_vartime(want)) << b;
    }
  }
  set_ifma_affine_sums(was);
}

// Both paths on a large sum (many rounds, every lane of the wide path).
TEST(Curve, BucketSumsOnBothPathsAgreeOnALargeSum) {
  const std::vector<G1Affine> flat = sample_points(3000);
  std::vector<size_t> start = {0}, len0;
  for (size_t b = 0; start.back() < flat.size(); ++b) {
    const size_t l = std::min<size_t>((b * 37) % 61, flat.size() - start.back());
    len0.push_back(l);
    start.push_back(start.back() + l);
  }
  const bool was = ifma_affine_sums_active();
  std::vector<std::vector<G1Affine>> out;
  for (bool on : {false, true}) {
    set_ifma_affine_sums(on);
    std::vector<G1Affine> pts = flat;
    std::vector<size_t> len = len0;
    sum_buckets_affine(pts, start, len);
    std::vector<G1Affine> heads;
    for (size_t b = 0; b < len.size(); ++b) heads.push_back(len[b] ? pts[start[b]] : G1Affine::identity());
    out.push_back(heads);
  }
  set_ifma_affine_sums(was);
  EXPECT_EQ(out[0], out[1]);
  G1Jac want = G1Jac::identity();
  for (size_t i = start[5]; i < start[6]; ++i) want = add_mixed(want, flat[i]);
  EXPECT_EQ(out[0][5], to_affine_vartime(want));
}

// The constant-time pair additions on AVX-512 IFMA against plain sums: an
// identity on either side and on both (with leftover coordinates that must
// be ignored), doublings, opposite points, field-edge coordinates, every
// lane position of a group, and sums written in rows with a stride.
TEST(Curve, ConstantTimePairsOnIfmaEqualPlainSums) {
  if (!ifma_affine_sums_active()) GTEST_SKIP() << "no AVX-512 IFMA on this CPU";
  std::vector<G1Affine> base = sample_points(24);
  base.push_back(G1Affine::generator());
  {
    const Fq x = -Fq::one();
    Fq y;
    if (fq_sqrt(x.sqr() * x + Fq::from_u64(3), y)) base.push_back(G1Affine{x, y, false});
  }
  auto ct = [](const G1Affine& p) { return CtPoint{p.x, p.y, p.infinity ? ~uint64_t(0) : 0}; };
  // An identity whose coordinates are those of a real point.
  auto lost = [](const G1Affine& p) { return CtPoint{p.x, p.y, ~uint64_t(0)}; };
  std::vector<CtPoint> in;
  std::vector<G1Affine> want;
  auto pair = [&](const CtPoint& p, const CtPoint& q) {
    in.push_back(p);
    in.push_back(q);
    G1Jac s = G1Jac::identity();
    if (!p.inf) s = add_mixed(s, G1Affine{p.x, p.y, false});
    if (!q.inf) s = add_mixed(s, G1Affine{q.x, q.y, false});
    want.push_back(to_affine_vartime(s));
  };
  for (size_t i = 0; i < base.size(); ++i) {
    const G1Affine& p = base[i];
    const G1Affine& q = base[(i * 5 + 3) % base.size()];
    switch (i % 6) {
      case 0: pair(ct(p), ct(p)); break;       // doubling
      case 1: pair(ct(p), ct(neg(p))); break;  // opposite
      case 2: pair(lost(p), ct(q)); break;
      case 3: pair(ct(p), lost(q)); break;
      case 4: pair(lost(p), lost(p)); break;
      default: pair(ct(p), ct(q)); break;
    }
    pair(ct(q), ct(p));
  }
  pair(ct(base.back()), ct(base.back()));
  pair(ct(base.back()), ct(neg(base.back())));
  const size_t m = want.size();
  ASSERT_GE(m, 16u);
  ASSERT_NE(m % 8, 0u);  // a partly filled last group
  for (size_t rows : {size_t(0), size_t(5)}) {
    const size_t stride = rows ? 7 : m, row = rows ? rows : m;
    std::vector<CtPoint> out(((m - 1) / row + 1) * stride);
    ASSERT_TRUE(add_pairs_ct_wide(in.data(), out.data(), m, rows, rows ? stride : 0));
    for (size_t k = 0; k < m; ++k) {
      const CtPoint& r = out[(k / row) * stride + k % row];
      EXPECT_EQ(r.inf, want[k].infinity ? ~uint64_t(0) : 0) << k;
      if (!want[k].infinity) {
        EXPECT_TRUE(r.x == want[k].x && r.y == want[k].y) << k;
      }
    }
  }
}

// Fixed tables built on both paths hold the same entries: 2^j P and its
// image under the endomorphism, for a partly filled last group of eight and
// with identities among the points.
TEST(Curve, FixedTablesOnBothPathsAgree) {
  std::vector<G1Affine> ps = sample_points(11);
  ps[3] = G1Affine::identity();
  ps.push_back(neg(ps[0]));
  const bool was = ifma_affine_sums_active();
  std::vector<std::vector<FixedTable>> built(2, std::vector<FixedTable>(ps.size()));
  for (bool on : {false, true}) {
    set_ifma_affine_sums(on);
    build_fixed_tables(ps.data(), built[on].data(), ps.size());
  }
  set_ifma_affine_sums(was);
  for (size_t i = 0; i < ps.size(); ++i) {
    G1Jac p = to_jacobian(ps[i]);
    for (int j = 0; j < FixedTable::kEntries; ++j) {
      const G1Affine want = to_affine_vartime(p);
      for (const auto& b : built) {
        EXPECT_EQ(b[i].identity, ps[i].infinity) << i;
        if (ps[i].infinity) continue;
        const G1Affine endo = glv_endo(want);
        EXPECT_TRUE(b[i].shifted[0][j].x == want.x && b[i].shifted[0][j].y == want.y) << i << " " << j;
        EXPECT_TRUE(b[i].shifted[1][j].x == endo.x && b[i].shifted[1][j].y == endo.y) << i << " " << j;
      }
      p = dbl(p);
    }
  }
}

// Width-w NAF digits recompose the number, are odd and below 2^(w-1) in
// magnitude, and stand at least w bits apart: for edge values (runs of ones
// across word boundaries, carries out of the top) and sample scalars.
TEST(Curve, WnafDigitsRecompose) {
  std::vector<U256> values = {U256{{0, 0, 0, 0}}, U256{{1, 0, 0, 0}}, U256{{~uint64_t(0), 0, 0, 0}},
                              U256{{~uint64_t(0), ~uint64_t(0), 0, 0}}, U256{{0, 0, 1, 0}},
                              U256{{uint64_t(1) << 63, uint64_t(1) << 63, 0, 0}},
                              U256{{~uint64_t(0), ~uint64_t(0), ~uint64_t(0), (uint64_t(1) << 62) - 1}}};
  for (const Fr& k : sample_scalars(20)) values.push_back(k.to_canonical());
  for (const U256& m : values) {
    for (int w = 2; w <= 12; ++w) {
      Fr sum = Fr::zero(), pow = Fr::one();
      int at = 0, last = -w;
      wnaf_digits(m, w, [&](int bit, int d) {
        EXPECT_NE(d % 2, 0);
        EXPECT_LT(d < 0 ? -d : d, 1 << (w - 1));
        EXPECT_GE(bit, last + w);
        last = bit;
        for (; at < bit; ++at) pow = pow.dbl();
        const Fr mag = Fr::from_u64(uint64_t(d < 0 ? -d : d));
        sum += d < 0 ? -(mag * pow) : mag * pow;
      });
      // m may exceed r: compare with the reduction of its bytes.
      uint8_t be[32];
      u256_to_be(m, be);
      EXPECT_EQ(sum, Fr::from_be_bytes_reduce(be, 32)) << w;
    }
  }
}
