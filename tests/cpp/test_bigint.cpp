// BigInt against Python int results (signs, zero, carries across words,
// multi-word division, modular forms, two's complement and, floor shifts),
// plus the byte, text and JSON conversions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "group/bigint.hpp"
#include "group/error.hpp"
#include "failure_util.hpp"

using namespace nacrel;

using test_util::failure_of;
using test_util::unwrapped;

namespace {

#include "bigint_vectors.inc"

// Signed hex as written by to_hex ("-ff", "0").
BigInt big(std::string s) {
  bool neg = !s.empty() && s[0] == '-';
  if (neg) s.erase(0, 1);
  if (s.size() % 2) s.insert(0, "0");
  BigInt out;
  EXPECT_TRUE(BigInt::from_json_hex(s, out)) << s;
  return neg ? -out : out;
}

}  // namespace

TEST(BigInt, BinaryOperationsMatchPython) {
  for (const BinRow& r : kBinRows) {
    BigInt a = big(r.a), b = big(r.b), m = big(r.m);
    SCOPED_TRACE(std::string(r.a) + " , " + r.b + " mod " + r.m);
    EXPECT_EQ((a + b).to_hex(), r.sum);
    EXPECT_EQ((a - b).to_hex(), r.diff);
    EXPECT_EQ((a * b).to_hex(), r.prod);
    if (!b.is_zero()) {
      BigInt q, rem;
      BigInt::divmod_trunc(a, b, q, rem);
      EXPECT_EQ(q.to_hex(), r.quot);
      EXPECT_EQ(rem.to_hex(), r.rem);
    }
    EXPECT_EQ((a & b).to_hex(), r.band);
    EXPECT_EQ(BigInt::mod_add(a, b, m).to_hex(), r.madd);
    EXPECT_EQ(BigInt::mod_sub(a, b, m).to_hex(), r.msub);
    EXPECT_EQ(BigInt::mod_mul(a, b, m).to_hex(), r.mmul);
    EXPECT_EQ(BigInt::modulus(a, m).to_hex(), r.mod_a);
    // Ordering agrees with the sign of the difference.
    BigInt d = a - b;
    auto want = d.is_zero() ? std::strong_ordering::equal
                : d.is_negative() ? std::strong_ordering::less : std::strong_ordering::greater;
    EXPECT_EQ(a <=> b, want);
    EXPECT_EQ(a == b, d.is_zero());
  }
}

TEST(BigInt, ModPowMatchesPython) {
  for (const PowRow& r : kPowRows) {
    SCOPED_TRACE(std::string(r.a) + " ^ " + r.e + " mod " + r.m);
    EXPECT_EQ(BigInt::mod_pow(big(r.a), big(r.e), big(r.m)).to_hex(), r.result);
  }
}

TEST(BigInt, ShiftsDecimalAndPowerMatchPython) {
  for (const UnRow& r : kUnRows) {
    BigInt a = big(r.a);
    SCOPED_TRACE(std::string(r.a) + " shift " + std::to_string(r.shift));
    EXPECT_EQ((a << r.shift).to_hex(), r.shl);
    EXPECT_EQ((a >> r.shift).to_hex(), r.shr);
    EXPECT_EQ(a.to_dec(), r.dec);
    EXPECT_EQ(a.pow(r.e).to_hex(), r.power);
    EXPECT_EQ((-a).to_hex(), a.is_zero() ? "0" : a.is_negative() ? std::string(r.a).substr(1) : "-" + std::string(r.a));
  }
}

TEST(BigInt, ZeroHasOneRepresentation) {
  BigInt five = BigInt::from_i64(5), minus_five = BigInt::from_i64(-5);
  const BigInt zeros[] = {BigInt(), five - five, minus_five + five, -BigInt(), minus_five * BigInt(),
                          BigInt::from_i64(0), BigInt::from_bytes({0, 0}), five >> 3, minus_five & BigInt()};
  for (const BigInt& z : zeros) {
    EXPECT_TRUE(z.is_zero());
    EXPECT_FALSE(z.is_negative());
    EXPECT_EQ(z, BigInt());
    EXPECT_EQ(z.to_hex(), "0");
  }
  BigInt q, r;
  BigInt::divmod_trunc(BigInt::from_i64(-6), BigInt::from_i64(3), q, r);
  EXPECT_EQ(r, BigInt());
  EXPECT_FALSE(r.is_negative());
}

TEST(BigInt, SmallConstructorsAndBits) {
  EXPECT_EQ(BigInt::from_i64(INT64_MIN).to_hex(), "-8000000000000000");
  EXPECT_EQ(BigInt::from_u64(UINT64_MAX).to_hex(), "ffffffffffffffff");
  EXPECT_EQ(BigInt::one().to_dec(), "1");
  EXPECT_EQ(BigInt::from_i64(-42).low_u64(), 42u);
  BigInt x = big("1" + std::string(31, '0') + "5");  // 2^128 + 5
  EXPECT_EQ(x.bit_length(), 129u);
  EXPECT_TRUE(x.bit(128));
  EXPECT_TRUE(x.bit(0));
  EXPECT_FALSE(x.bit(1));
  EXPECT_TRUE(x.bit(2));
  EXPECT_FALSE(x.bit(5000));
  EXPECT_EQ(BigInt().bit_length(), 0u);
  EXPECT_EQ(BigInt::from_i64(-1).bit_length(), 1u);
}

TEST(BigInt, ByteAndTextForms) {
  EXPECT_EQ(BigInt().to_bytes(), std::vector<uint8_t>{0x00});
  EXPECT_EQ(BigInt::from_u64(256).to_bytes(), (std::vector<uint8_t>{0x01, 0x00}));
  EXPECT_EQ(BigInt::from_i64(-256).to_bytes(), (std::vector<uint8_t>{0x01, 0x00}));
  EXPECT_EQ(BigInt::from_bytes({0x00, 0x00, 0x01}), BigInt::one());
  EXPECT_EQ(BigInt::from_bytes(nullptr, 0), BigInt());
  std::vector<uint8_t> long_bytes(41);
  for (size_t i = 0; i < long_bytes.size(); ++i) long_bytes[i] = uint8_t(i * 37 + 1);
  EXPECT_EQ(BigInt::from_bytes(long_bytes).to_bytes(), long_bytes);
  EXPECT_EQ(BigInt().to_hex(), "0");
  EXPECT_EQ(BigInt::from_u64(255).to_hex(), "ff");
  EXPECT_EQ(BigInt::from_i64(-255).to_hex(), "-ff");
  EXPECT_EQ(BigInt::from_i64(-1234567890123456789).to_dec(), "-1234567890123456789");
  EXPECT_EQ(BigInt().to_dec(), "0");
}

TEST(BigInt, JsonHexForm) {
  EXPECT_EQ(BigInt().to_json_hex(), "00");
  EXPECT_EQ(BigInt::from_u64(255).to_json_hex(), "ff");
  EXPECT_EQ(BigInt::from_u64(256).to_json_hex(), "0100");
  EXPECT_EQ(BigInt::from_i64(-256).to_json_hex(), "0100");
  EXPECT_EQ(big("-abc").to_json_hex(), "0abc");
  struct Case {
    const char* text;
    bool ok;
    const char* hex;
  };
  const Case cases[] = {
      {"00", true, "0"},     {"0000", true, "0"}, {"", true, "0"},         {"FF", true, "ff"},
      {"0aBc", true, "abc"}, {"0", false, ""},    {"zz", false, ""},       {"fff", false, ""},
      {"0g", false, ""},     {"-1", false, ""},   {" 1", false, ""},       {"0x", false, ""},
  };
  for (const Case& c : cases) {
    BigInt out = BigInt::from_u64(99);
    EXPECT_EQ(BigInt::from_json_hex(c.text, out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(out.to_hex(), c.hex) << c.text;
    }
  }
}

TEST(BigInt, DocumentedEdgeCases) {
  BigInt seven = BigInt::from_u64(7);
  EXPECT_EQ(BigInt::modulus(BigInt::from_i64(-1), seven), BigInt::from_u64(6));
  EXPECT_EQ(BigInt::mod_sub(BigInt::from_u64(2), BigInt::from_u64(5), seven), BigInt::from_u64(4));
  EXPECT_EQ(BigInt::mod_add(BigInt::from_i64(-1), BigInt(), seven), BigInt::from_u64(6));
  EXPECT_EQ(BigInt::from_i64(-3) >> 1, BigInt::from_i64(-2));
  EXPECT_EQ(BigInt::from_i64(-4) >> 1, BigInt::from_i64(-2));
  EXPECT_EQ(BigInt::from_i64(-1) >> 1000, BigInt::from_i64(-1));
  EXPECT_EQ(BigInt::from_i64(-6) & BigInt::from_i64(-3), BigInt::from_i64(-8));
  EXPECT_EQ(BigInt::from_i64(-1) & BigInt::from_u64(0xff), BigInt::from_u64(0xff));
}

TEST(BigInt, ZeroModulusAndNegativeExponentFail) {
  BigInt a = BigInt::from_u64(5), zero;
  const std::string div0 = "attempt to divide by zero";
  BigInt q, r;
  EXPECT_EQ(failure_of([&] { BigInt::divmod_trunc(a, zero, q, r); }), div0);
  EXPECT_EQ(failure_of([&] { BigInt::mod_pow(a, a, zero); }), div0);
  EXPECT_EQ(failure_of([&] { BigInt::mod_add(a, a, zero); }), div0);
  EXPECT_EQ(failure_of([&] { BigInt::mod_sub(a, a, zero); }), div0);
  EXPECT_EQ(failure_of([&] { BigInt::mod_mul(a, a, zero); }), div0);
  EXPECT_EQ(failure_of([&] { BigInt::modulus(a, zero); }), div0);
  EXPECT_NE(failure_of([&] { BigInt::mod_pow(a, BigInt::from_i64(-1), BigInt::from_u64(7)); }), "");
}
