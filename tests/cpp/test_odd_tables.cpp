// Tables of odd multiples and the sums read from them (odd_tables.cpp):
// every entry against plain doublings and additions, and several sums at
// once against msm_vartime, with the inputs that reach the special cases of
// the shared-inversion additions (zero scalars, identities, equal and
// opposite points, sums that cancel).
#include <gtest/gtest.h>

#include <vector>

#include "group/curve.hpp"
#include "group_test_util.hpp"

using namespace nacrel;
using namespace group_test;

TEST(OddTables, EntriesAreOddMultiplesTheirDoublesAndImages) {
  // Few points (every round on the portable additions) and many (the later
  // rounds on IFMA where the CPU has it), at both widths, both paths.
  const bool was = ifma_affine_sums_active();
  for (bool ifma : {false, true}) {
    set_ifma_affine_sums(ifma);
    for (size_t count : {5, 23}) {
      for (int window : {5, 6}) {
        SCOPED_TRACE(testing::Message() << count << " points, width " << window << ", ifma " << ifma);
        std::vector<G1Affine> ps = sample_points(count);
        ps.insert(ps.begin() + 2, G1Affine::identity());
        ps.push_back(neg(ps[0]));
        std::vector<OddTable> tabs(ps.size());
        build_odd_tables(ps.data(), tabs.data(), ps.size(), window, true);
        for (size_t i = 0; i < ps.size(); ++i) {
          SCOPED_TRACE(i);
          EXPECT_EQ(tabs[i].identity, ps[i].infinity);
          if (ps[i].infinity) continue;
          const G1Jac p2 = dbl(to_jacobian(ps[i]));
          G1Jac want = to_jacobian(ps[i]);
          for (int j = 0; j < (1 << (window - 2)); ++j) {
            EXPECT_EQ(tabs[i].odd[0][j], to_affine_vartime(want)) << "entry " << j;
            EXPECT_EQ(tabs[i].odd[1][j], glv_endo(to_affine_vartime(want))) << "entry " << j;
            const G1Affine twice = to_affine_vartime(dbl(want));
            EXPECT_EQ(tabs[i].twice[0][j], twice) << "double " << j;
            EXPECT_EQ(tabs[i].twice[1][j], glv_endo(twice)) << "double " << j;
            want = add(want, p2);
          }
        }
      }
    }
  }
  set_ifma_affine_sums(was);
}

TEST(OddTables, SeveralSumsEqualSeparateMsms) {
  // Each case: the term counts of the sums taken together, and what the
  // shared points and scalars hold.
  enum Shape { kPlain, kAwkward, kCancelling };
  struct Case {
    std::vector<size_t> counts;
    Shape shape;
  };
  const Case cases[] = {
      {{1}, kPlain},           {{17}, kPlain},           {{17, 17}, kPlain},     {{0, 3, 0}, kPlain},
      {{2, 9, 33}, kPlain},    {{20, 20}, kAwkward},     {{2}, kCancelling},     {{4, 2}, kCancelling},
  };
  for (const Case& c : cases) {
    size_t total = 0;
    for (size_t k : c.counts) total += k;
    SCOPED_TRACE(testing::Message() << "sums of " << c.counts.size() << ", " << total << " terms, shape " << c.shape);
    std::vector<G1Affine> ps = sample_points(total);
    std::vector<Fr> ks = sample_scalars(total);
    if (c.shape == kAwkward) {
      ks[1] = Fr::zero();
      ps[2] = G1Affine::identity();
      ps[5] = ps[4];  // equal terms: their digits meet as equal points
      ks[5] = ks[4];
      ps[7] = neg(ps[6]);  // opposite terms
      ks[7] = ks[6];
      ks[9] = -Fr::one();
      ks[10] = Fr::one();
      ks[11] = Fr::from_u64(3);
      ps[23] = ps[3];  // one point in both sums
      ks[23] = -ks[3];
    }
    if (c.shape == kCancelling) {
      // Every sum is P*k + P*(-k) (and more of the same), so its digits
      // cancel position by position.
      for (size_t t = 1; t < total; t += 2) {
        ps[t] = ps[t - 1];
        ks[t] = -ks[t - 1];
      }
    }
    // Tables with and without their doubles (a digit at an odd bit then
    // reads the double, at half as many positions).
    for (bool twice : {false, true}) {
      SCOPED_TRACE(twice ? "with doubles" : "odd multiples only");
      std::vector<OddTable> tabs(total);
      build_odd_tables(ps.data(), tabs.data(), total, OddTable::kWindow, twice);
      std::vector<const OddTable*> ptrs(total);
      for (size_t t = 0; t < total; ++t) ptrs[t] = &tabs[t];
      std::vector<G1Jac> got(c.counts.size());
      msm_vartime_odd_sums(ptrs.data(), ks.data(), c.counts.data(), c.counts.size(), got.data());
      size_t at = 0;
      for (size_t s = 0; s < c.counts.size(); ++s) {
        const G1Jac want = msm_vartime(&ps[at], &ks[at], c.counts[s]);
        EXPECT_EQ(to_affine_vartime(got[s]), to_affine_vartime(want)) << "sum " << s;
        if (c.shape == kCancelling) {
          EXPECT_TRUE(got[s].is_identity()) << "sum " << s;
        }
        EXPECT_EQ(to_affine_vartime(msm_vartime_odd(&ptrs[at], &ks[at], c.counts[s])), to_affine_vartime(want))
            << "sum " << s << " alone";
        at += c.counts[s];
      }
    }
  }
}
