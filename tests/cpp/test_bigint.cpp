// BigInt against results computed with Python ints, plus the documented
// conversions and conventions.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "group/bigint.hpp"
#include "group/error.hpp"

using namespace nacrel;

namespace {

struct Row {
  const char* op;
  const char* a;
  const char* b;
  const char* c;
  const char* want;
};

const Row kRows[] = {
#include "bigint_vectors.inc"
};

// Signed hex as written by the generator ("-ff").
BigInt parse(std::string_view s) {
  const bool neg = !s.empty() && s[0] == '-';
  if (neg) s.remove_prefix(1);
  std::string even(s.size() % 2, '0');
  even += s;
  BigInt v;
  if (!BigInt::from_json_hex(even, v)) ADD_FAILURE() << "bad hex " << s;
  return neg ? -v : v;
}

BigInt I(int64_t v) { return BigInt::from_i64(v); }

std::string result(const Row& row) {
  const BigInt a = parse(row.a), b = parse(row.b), c = parse(row.c);
  const std::string_view op = row.op;
  BigInt q, r;
  if (op == "add") return (a + b).to_hex();
  if (op == "sub") return (a - b).to_hex();
  if (op == "mul") return (a * b).to_hex();
  if (op == "and") return (a & b).to_hex();
  if (op == "cmp") return std::to_string(a < b ? -1 : a > b ? 1 : 0);
  if (op == "divq" || op == "divr") {
    BigInt::divmod_trunc(a, b, q, r);
    return (op == "divq" ? q : r).to_hex();
  }
  if (op == "modulus") return BigInt::modulus(a, b).to_hex();
  if (op == "mod_add") return BigInt::mod_add(a, b, c).to_hex();
  if (op == "mod_sub") return BigInt::mod_sub(a, b, c).to_hex();
  if (op == "mod_mul") return BigInt::mod_mul(a, b, c).to_hex();
  if (op == "mod_pow") return BigInt::mod_pow(a, b, c).to_hex();
  if (op == "shl") return (a << size_t(b.low_u64())).to_hex();
  if (op == "shr") return (a >> size_t(b.low_u64())).to_hex();
  if (op == "pow") return a.pow(uint32_t(b.low_u64())).to_hex();
  if (op == "dec") return a.to_dec();
  if (op == "json") return a.to_json_hex();
  return "<unknown op>";
}

}  // namespace

TEST(BigInt, MatchesPythonIntegers) {
  ASSERT_GT(std::size(kRows), 1000u);
  for (const Row& row : kRows) EXPECT_EQ(result(row), row.want) << row.op << "(" << row.a << ", " << row.b << ", " << row.c << ")";
}

TEST(BigInt, DivisionIdentityOnWideOperands) {
  // q*b + r == a and |r| < |b| for divisors of every width up to the dividend.
  BigInt a = BigInt::one();
  for (int i = 1; i <= 40; ++i) a = a * BigInt::from_u64(0x9e3779b97f4a7c15ull ^ uint64_t(i)) + I(i);
  for (int k = 1; k < 40; ++k) {
    for (BigInt b : {(BigInt::one() << (64 * k)) - I(1), (BigInt::one() << (64 * k - 1)) + I(3), a >> (32 * k)}) {
      for (BigInt x : {a, -a}) {
        BigInt q, r;
        BigInt::divmod_trunc(x, b, q, r);
        EXPECT_EQ(q * b + r, x) << k;
        EXPECT_LT(r.is_negative() ? -r : r, b) << k;
      }
    }
  }
}

TEST(BigInt, Conversions) {
  EXPECT_EQ(BigInt().to_bytes(), std::vector<uint8_t>{0});
  EXPECT_EQ(I(256).to_bytes(), (std::vector<uint8_t>{1, 0}));
  EXPECT_EQ(I(-256).to_bytes(), (std::vector<uint8_t>{1, 0}));
  EXPECT_EQ(BigInt::from_bytes(std::vector<uint8_t>{0, 0, 1}), I(1));
  EXPECT_EQ(BigInt::from_bytes(std::vector<uint8_t>{}), BigInt());
  EXPECT_EQ(BigInt().to_hex(), "0");
  EXPECT_EQ(I(255).to_hex(), "ff");
  EXPECT_EQ(I(-255).to_hex(), "-ff");
  EXPECT_EQ(BigInt().to_dec(), "0");
  EXPECT_EQ(BigInt::from_i64(INT64_MIN).to_dec(), "-9223372036854775808");
  EXPECT_EQ(BigInt::from_u64(UINT64_MAX).to_dec(), "18446744073709551615");
  EXPECT_EQ((BigInt::one() << 64).to_dec(), "18446744073709551616");
  EXPECT_EQ((-BigInt()).is_negative(), false);
  EXPECT_EQ(I(5) - I(5), BigInt());
  EXPECT_FALSE((I(-5) + I(5)).is_negative());
  EXPECT_EQ(I(-3) >> 1, I(-2));
  EXPECT_EQ(I(-4) >> 1, I(-2));
  EXPECT_EQ(I(-1) >> 100, I(-1));
  EXPECT_EQ((I(-1) & I(-1)), I(-1));
  EXPECT_EQ(I(-6) & I(7), I(2));
  EXPECT_EQ(I(0x1234).bit_length(), 13u);
  EXPECT_TRUE((BigInt::one() << 200).bit(200));
  EXPECT_FALSE((BigInt::one() << 200).bit(199));
}

TEST(BigInt, ModularConventions) {
  EXPECT_EQ(BigInt::modulus(I(-1), I(7)), I(6));
  EXPECT_EQ(BigInt::mod_sub(I(2), I(5), I(7)), I(4));
  EXPECT_EQ(BigInt::mod_add(I(-1), I(0), I(7)), I(6));
  EXPECT_EQ(BigInt::mod_pow(I(3), BigInt(), I(7)), I(1));
  for (auto bad : {+[] { BigInt::mod_pow(I(3), I(-1), I(7)); }, +[] { BigInt::mod_pow(I(3), I(2), BigInt()); },
                   +[] { BigInt::modulus(I(3), BigInt()); }, +[] { BigInt::mod_mul(I(3), I(2), BigInt()); },
                   +[] {
                     BigInt q, r;
                     BigInt::divmod_trunc(I(1), BigInt(), q, r);
                   }}) {
    EXPECT_THROW(bad(), InternalFailure);
  }
}

TEST(BigInt, JsonHexForm) {
  EXPECT_EQ(BigInt().to_json_hex(), "00");
  EXPECT_EQ(I(255).to_json_hex(), "ff");
  EXPECT_EQ(I(256).to_json_hex(), "0100");
  EXPECT_EQ(I(-256).to_json_hex(), "0100");
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  } cases[] = {{"00", true, 0}, {"0000", true, 0}, {"", true, 0}, {"FF", true, 255}, {"0aBc", true, 0xabc},
               {"0", false, 0}, {"zz", false, 0}, {"fff", false, 0}, {"0g", false, 0}, {"-1", false, 0}, {" 1", false, 0}};
  for (const Case& c : cases) {
    BigInt v = I(99);
    EXPECT_EQ(BigInt::from_json_hex(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, I(c.value)) << c.text;
    }
  }
}
