// Fq and Fr arithmetic against py_ecc vectors, byte reduction of any length,
// canonical conversions and the random source.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "group/field.hpp"
#include "group/field_impl.hpp"
#include "group_test_util.hpp"

using namespace nacrel;
using namespace group_test;

namespace {

const char* kP = "30644e72e131a029b85045b68181585d97816a916871ca8d3c208c16d87cfd47";
const char* kR = "30644e72e131a029b85045b68181585d2833e84879b9709143e1f593f0000001";

template <class F, class Row>
void check_arithmetic(const Row& row) {
  SCOPED_TRACE(row.a);
  F a = elem<F>(row.a), b = elem<F>(row.b);
  EXPECT_EQ(hex_of(a), row.a);  // round trip through Montgomery form
  EXPECT_EQ(hex_of(a + b), row.sum);
  EXPECT_EQ(hex_of(a - b), row.diff);
  EXPECT_EQ(hex_of(a * b), row.prod);
  EXPECT_EQ(hex_of(b * a), row.prod);
  EXPECT_EQ(hex_of(a.sqr()), row.sq);
  EXPECT_EQ(hex_of(-a), row.neg);
  EXPECT_EQ(hex_of(a.inverse_ct()), row.inv);  // 0 maps to 0
  EXPECT_EQ(hex_of(a.inverse_vartime()), row.inv);
  EXPECT_EQ(hex_of(a.dbl()), hex_of(a + a));
  F c = a;
  c += b;
  c -= b;
  c *= F::one();
  EXPECT_EQ(c, a);
  EXPECT_EQ(a.is_zero(), std::string(row.a) == std::string(64, '0'));
  EXPECT_EQ(a.is_odd(), (unhex(row.a)[31] & 1) != 0);
  if (!a.is_zero()) {
    EXPECT_EQ(a * a.inverse_ct(), F::one());
  }
}

}  // namespace

TEST(Field, FqMatchesReference) {
  for (const auto& row : kFqRows) {
    check_arithmetic<Fq>(row);
    Fq a = elem<Fq>(row.a);
    Fq root;
    bool has = fq_sqrt(a, root);
    EXPECT_EQ(has, row.sqrt[0] != '\0') << row.a;
    if (has) {
      EXPECT_EQ(hex_of(root), row.sqrt);
      EXPECT_EQ(root.sqr(), a);
    }
    EXPECT_EQ(fq_is_square(a), row.square) << row.a;
  }
}

TEST(Field, FrMatchesReference) {
  for (const auto& row : kFrRows) check_arithmetic<Fr>(row);
}

TEST(Field, ReduceBytesOfAnyLength) {
  for (const auto& row : kReduceRows) {
    std::vector<uint8_t> b = unhex(row.bytes);
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(hex_of(Fq::from_be_bytes_reduce(b.data(), b.size())), row.mod_p);
    EXPECT_EQ(hex_of(Fr::from_be_bytes_reduce(b.data(), b.size())), row.mod_r);
  }
  EXPECT_TRUE(Fr::from_be_bytes_reduce(nullptr, 0).is_zero());
}

TEST(Field, CanonicalConversionRefusesModulusAndAbove) {
  U256 p = u256_of_hex(kP), r = u256_of_hex(kR);
  EXPECT_EQ(Fq::modulus(), p);
  EXPECT_EQ(Fr::modulus(), r);
  U256 p_minus_1 = p;
  p_minus_1.w[0] -= 1;
  U256 p_plus_1 = p;
  p_plus_1.w[0] += 1;
  const U256 all_ones{{~0ULL, ~0ULL, ~0ULL, ~0ULL}};
  Fq out;
  EXPECT_FALSE(Fq::from_canonical(p, out));
  EXPECT_FALSE(Fq::from_canonical(p_plus_1, out));
  EXPECT_FALSE(Fq::from_canonical(all_ones, out));
  ASSERT_TRUE(Fq::from_canonical(p_minus_1, out));
  EXPECT_EQ(out, -Fq::one());
  EXPECT_EQ(out.to_canonical(), p_minus_1);
  Fr fr;
  EXPECT_FALSE(Fr::from_canonical(r, fr));
  // r < p: the integer r is a valid Fq element but not an Fr element.
  EXPECT_TRUE(Fq::from_canonical(r, out));
}

TEST(Field, SmallConstantsAndBytes) {
  EXPECT_EQ(hex_of(Fq::zero()), std::string(64, '0'));
  EXPECT_EQ(hex_of(Fq::one()), std::string(63, '0') + "1");
  EXPECT_EQ(hex_of(Fr::from_u64(0x0102030405060708ULL)), std::string(48, '0') + "0102030405060708");
  EXPECT_EQ(Fr::from_u64(0), Fr::zero());
  EXPECT_EQ(Fq::from_u64(1), Fq::one());
  EXPECT_EQ(Fq::from_u64(~0ULL) + Fq::one(), Fq::from_u64(1ULL << 63) * Fq::from_u64(2));
  uint8_t be[32];
  for (int i = 0; i < 32; ++i) be[i] = uint8_t(i * 7 + 1);
  uint8_t back[32];
  u256_to_be(u256_from_be(be), back);
  EXPECT_EQ(hex(back, 32), hex(be, 32));
  EXPECT_EQ(u256_from_be(be).w[3], 0x01080f161d242b32ULL);
}

TEST(Field, LessThanComparesWholeNumbers) {
  const U256 a{{5, 0, 0, 1}}, b{{4, 0, 0, 2}}, c{{~0ULL, ~0ULL, ~0ULL, 0}};
  EXPECT_TRUE(u256_lt(a, b));
  EXPECT_FALSE(u256_lt(b, a));
  EXPECT_FALSE(u256_lt(a, a));
  EXPECT_TRUE(u256_lt(c, a));
  EXPECT_FALSE(u256_lt(a, c));
}

TEST(Field, PowerAndCmov) {
  Fq a = elem<Fq>(kFqRows[12].a);
  EXPECT_EQ(a.pow_vartime(U256{{0, 0, 0, 0}}), Fq::one());
  EXPECT_EQ(a.pow_vartime(U256{{1, 0, 0, 0}}), a);
  EXPECT_EQ(a.pow_vartime(U256{{5, 0, 0, 0}}), a.sqr().sqr() * a);
  U256 p_minus_1 = Fq::modulus();
  p_minus_1.w[0] -= 1;
  EXPECT_EQ(a.pow_vartime(p_minus_1), Fq::one());
  Fq r = Fq::one();
  Fq::cmov(r, a, 0);
  EXPECT_EQ(r, Fq::one());
  Fq::cmov(r, a, ~0ULL);
  EXPECT_EQ(r, a);
}

TEST(Field, KnownNonSquares) {
  // 3 and -1 are non-squares modulo p (p = 3 mod 4), so x = 0 has no point.
  Fq root;
  EXPECT_FALSE(fq_sqrt(Fq::from_u64(3), root));
  EXPECT_FALSE(fq_is_square(Fq::from_u64(3)));
  EXPECT_FALSE(fq_sqrt(-Fq::one(), root));
  EXPECT_FALSE(fq_is_square(Fq::zero()));
  ASSERT_TRUE(fq_sqrt(Fq::zero(), root));
  EXPECT_TRUE(root.is_zero());
  ASSERT_TRUE(fq_sqrt(Fq::from_u64(4), root));
  EXPECT_EQ(root.sqr(), Fq::from_u64(4));
}

TEST(Random, ElementsAreBelowOrderAndDiffer) {
  std::set<std::string> seen;
  const U256 r = Fr::modulus();
  for (int i = 0; i < 200; ++i) {
    Fr f = fr_random();
    EXPECT_TRUE(u256_lt(f.to_canonical(), r));
    seen.insert(hex_of(f));
  }
  EXPECT_EQ(seen.size(), 200u);
}

TEST(Random, ManyElementsAtOnceAreNonZeroAndDiffer) {
  // Over several reads of 64 candidates, and a count that ends mid-read.
  std::vector<Fr> fs(200, Fr::zero());
  fr_random_nonzero(fs.data(), fs.size());
  std::set<std::string> seen;
  for (const Fr& f : fs) {
    EXPECT_FALSE(f.is_zero());
    seen.insert(hex_of(f));
  }
  EXPECT_EQ(seen.size(), fs.size());
  fr_random_nonzero(nullptr, 0);
}

TEST(Random, FillsLongBuffersCompletely) {
  // getrandom(2) returns at most 32 MiB - 1 per call; longer requests need
  // the loop over short reads.
  std::vector<uint8_t> big((32u << 20) + 4096, 0);
  os_random_bytes(big.data(), big.size());
  int zero_tail = 0;
  for (size_t i = big.size() - 4096; i < big.size(); ++i) zero_tail += big[i] == 0;
  EXPECT_LT(zero_tail, 100);
  uint8_t a[32] = {0}, b[32] = {0};
  os_random_bytes(a, 32);
  os_random_bytes(b, 32);
  EXPECT_NE(hex(a, 32), hex(b, 32));
  os_random_bytes(nullptr, 0);
}

// The mulx/adx products (where the processor has them) and the portable
// products must agree bit for bit; the vectors run under both.
TEST(Field, BothProductPathsMatch) {
  const bool fast = fast_field_mul_active();
  std::vector<Fq> xs;
  std::vector<Fr> ys;
  for (int i = 0; i < 64; ++i) {
    uint8_t b[48];
    os_random_bytes(b, sizeof b);
    xs.push_back(Fq::from_be_bytes_reduce(b, sizeof b));
    ys.push_back(Fr::from_be_bytes_reduce(b, sizeof b));
  }
  xs.push_back(-Fq::one());
  ys.push_back(-Fr::one());
  auto products = [&] {
    std::vector<std::string> out;
    for (size_t i = 0; i < xs.size(); ++i) {
      out.push_back(hex_of(xs[i].sqr()));  // the squaring has its own code
      out.push_back(hex_of(ys[i].sqr()));
      for (size_t j = 0; j < xs.size(); j += 7) {
        out.push_back(hex_of(xs[i] * xs[j]));
        out.push_back(hex_of(ys[i] * ys[j]));
      }
    }
    return out;
  };
  std::vector<std::string> first = products();
  for (bool on : {false, true}) {
    set_fast_field_mul(on);
    SCOPED_TRACE(fast_field_mul_active() ? "mulx/adx" : "portable");
    for (const auto& row : kFqRows) check_arithmetic<Fq>(row);
    for (const auto& row : kFrRows) check_arithmetic<Fr>(row);
    EXPECT_TRUE(products() == first);
  }
  set_fast_field_mul(fast);
  EXPECT_EQ(fast_field_mul_active(), fast);
}

// The variable-time inverse works on the raw Montgomery words: raw values
// with long runs of zero bits, small ones, ones next to the modulus and
// random ones, in both fields; both inverses against Fermat's.
template <class F>
void check_inverses() {
  std::vector<F> xs;
  for (int k = 0; k < 253; k += 3) {
    F f = F::zero();
    f.v[k / 64] = uint64_t(1) << (k % 64);
    xs.push_back(f);
    F g = f;
    g.v[0] |= 1;  // odd with a long zero run
    xs.push_back(g);
  }
  for (uint64_t small : {1ULL, 2ULL, 3ULL, 0xFFFFFFFFFFFFFFFFULL}) {
    F f = F::zero();
    f.v[0] = small;
    xs.push_back(f);
  }
  // Raw m - 1, m - 2 and (m - 1) / 2, and the elements +-1, +-2.
  for (uint64_t below : {1ULL, 2ULL}) {
    F f;
    for (int i = 0; i < 4; ++i) f.v[i] = F::modulus().w[i];
    f.v[0] -= below;
    xs.push_back(f);
  }
  {
    F f;
    for (int i = 0; i < 4; ++i) f.v[i] = (F::modulus().w[i] >> 1) | (i < 3 ? F::modulus().w[i + 1] << 63 : 0);
    xs.push_back(f);
  }
  for (const F& f : {F::one(), -F::one(), F::from_u64(2), -F::from_u64(2)}) xs.push_back(f);
  for (int i = 0; i < 300; ++i) {
    uint8_t b[40];
    os_random_bytes(b, sizeof b);
    xs.push_back(F::from_be_bytes_reduce(b, sizeof b));
  }
  U256 m_minus_2 = F::modulus();
  m_minus_2.w[0] -= 2;  // the low word of either modulus is above 2
  for (const F& x : xs) {
    if (x.is_zero()) continue;
    F inv = x.inverse_vartime();
    EXPECT_EQ(inv * x, F::one()) << hex_of(x);
    EXPECT_EQ(inv, x.inverse_ct()) << hex_of(x);
    EXPECT_EQ(inv, x.pow_vartime(m_minus_2)) << hex_of(x);  // Fermat
  }
}

TEST(Field, VariableTimeInverseOnAwkwardRepresentatives) {
  check_inverses<Fq>();
  check_inverses<Fr>();
}

TEST(Field, JacobiSymbolMatchesEulerCriterion) {
  for (const auto& row : kFqRows) {
    Fq a = elem<Fq>(row.a);
    EXPECT_EQ(fq_is_square_vartime(a), row.square) << row.a;
  }
  int squares = 0;
  for (int i = 0; i < 500; ++i) {
    uint8_t b[40];
    os_random_bytes(b, sizeof b);
    Fq a = Fq::from_be_bytes_reduce(b, sizeof b);
    if (i < 64) {
      a = Fq::from_u64(uint64_t(i));
    } else if (i < 128) {
      a = -Fq::from_u64(uint64_t(i - 63));
    } else if (i < 192) {
      a = a.sqr();
    }
    bool sq = fq_is_square(a);
    squares += sq;
    EXPECT_EQ(fq_is_square_vartime(a), sq) << hex_of(a);
  }
  EXPECT_GT(squares, 200);
  EXPECT_LT(squares, 400);
}

// Sums and differences on the raw Montgomery words at the ends of the range
// (0, 1, m - 1, m - 2, about m / 2, words of all ones below m), against a
// plain five-word reference: (a + b) mod m and (a - b) mod m on the words.
template <class F>
void check_sums_at_range_ends() {
  using u128 = unsigned __int128;
  const U256& m = F::modulus();
  auto add5 = [](const U256& a, const U256& b, uint64_t out[5]) {
    u128 c = 0;
    for (int i = 0; i < 4; ++i) {
      c += u128(a.w[i]) + b.w[i];
      out[i] = uint64_t(c);
      c >>= 64;
    }
    out[4] = uint64_t(c);
  };
  auto sub_if_ge = [&](uint64_t t[5]) {  // t - m when t >= m
    uint64_t s[5];
    u128 borrow = 0;
    for (int i = 0; i < 5; ++i) {
      u128 d = u128(t[i]) - (i < 4 ? m.w[i] : 0) - borrow;
      s[i] = uint64_t(d);
      borrow = (d >> 64) & 1;
    }
    if (!borrow)
      for (int i = 0; i < 5; ++i) t[i] = s[i];
  };
  std::vector<U256> raws = {U256{{0, 0, 0, 0}}, U256{{1, 0, 0, 0}}, U256{{2, 0, 0, 0}},
                            U256{{~0ULL, ~0ULL, ~0ULL, 0}}, U256{{~0ULL, 0, 0, 0}}};
  U256 m1 = m, m2 = m, half = m;
  m1.w[0] -= 1;
  m2.w[0] -= 2;
  for (int i = 0; i < 4; ++i) half.w[i] = (m.w[i] >> 1) | (i < 3 ? m.w[i + 1] << 63 : 0);
  raws.push_back(m1);
  raws.push_back(m2);
  raws.push_back(half);
  U256 half1 = half;
  half1.w[0] += 1;
  raws.push_back(half1);
  for (const U256& ra : raws) {
    for (const U256& rb : raws) {
      F a, b;
      for (int i = 0; i < 4; ++i) a.v[i] = ra.w[i], b.v[i] = rb.w[i];
      uint64_t sum[5];
      add5(ra, rb, sum);
      sub_if_ge(sum);
      // a - b = a + (m - b) mod m, with m - 0 reduced to 0 again.
      U256 nb{};
      u128 borrow = 0;
      for (int i = 0; i < 4; ++i) {
        u128 d = u128(m.w[i]) - rb.w[i] - borrow;
        nb.w[i] = uint64_t(d);
        borrow = (d >> 64) & 1;
      }
      uint64_t diff[5];
      add5(ra, nb, diff);
      sub_if_ge(diff);
      F s = a + b, d = a - b;
      for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(s.v[i], sum[i]) << hex_of(a) << " + " << hex_of(b);
        EXPECT_EQ(d.v[i], diff[i]) << hex_of(a) << " - " << hex_of(b);
      }
    }
  }
}

TEST(Field, SumsAndDifferencesAtRangeEnds) {
  check_sums_at_range_ends<Fq>();
  check_sums_at_range_ends<Fr>();
}

// Products and squares take a sum left unreduced (below 2m) and give the
// same reduced result as from the reduced sum, on both product paths; the
// largest elements make the sum approach 2m.
template <class F>
void check_unreduced_operands() {
  std::vector<F> xs = {F::zero(), F::one(), -F::one(), -F::from_u64(2), F::from_u64(2).inverse_ct()};
  for (int i = 0; i < 20; ++i) {
    uint8_t b[40];
    os_random_bytes(b, sizeof b);
    xs.push_back(F::from_be_bytes_reduce(b, sizeof b));
  }
  for (const F& a : xs) {
    for (const F& b : xs) {
      const F lazy = add_for_product(a, b), sum = a + b;
      const F c = xs[(a.v[0] ^ b.v[1]) % xs.size()];
      EXPECT_EQ(lazy * c, sum * c) << hex_of(a) << " " << hex_of(b);
      EXPECT_EQ(c * lazy, sum * c);
      EXPECT_EQ(lazy * lazy, sum.sqr());
      EXPECT_EQ(lazy.sqr(), sum.sqr());
    }
  }
}

TEST(Field, ProductsOfUnreducedSums) {
  const bool fast = fast_field_mul_active();
  for (bool on : {false, true}) {
    set_fast_field_mul(on);
    SCOPED_TRACE(fast_field_mul_active() ? "mulx/adx" : "portable");
    check_unreduced_operands<Fq>();
    check_unreduced_operands<Fr>();
  }
  set_fast_field_mul(fast);
}
