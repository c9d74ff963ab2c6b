// The SvdW map: published vectors, its fixed points and stops, and the
// properties every result has.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "group/encoding.hpp"
#include "group/error.hpp"
#include "group/hash_to_curve.hpp"

using namespace nacrel;

namespace {

std::vector<uint8_t> bytes_of_hex(const std::string& hex) {
  std::string h = hex.size() % 2 ? "0" + hex : hex;
  std::vector<uint8_t> out(h.size() / 2);
  EXPECT_TRUE(hex_decode(h, out.data()));
  return out;
}

Fq fq_of_hex(const std::string& hex) {
  std::vector<uint8_t> b = bytes_of_hex(hex);
  return Fq::from_be_bytes_reduce(b.data(), b.size());
}

std::string hex_of(const Fq& f) {
  uint8_t be[32];
  f.to_be_bytes(be);
  return hex_encode(be, 32);
}

const std::string kP = "30644e72e131a029b85045b68181585d97816a916871ca8d3c208c16d87cfd47";
const std::string kHalfPMinus1 = "183227397098d014dc2822db40c0ac2ecbc0b548b438e5469e10460b6c3e7ea3";  // (p-1)/2
const std::string kHalfPPlus1 = "183227397098d014dc2822db40c0ac2ecbc0b548b438e5469e10460b6c3e7ea4";   // (p+1)/2

}  // namespace

TEST(HashToCurve, PublishedVectors) {
  struct {
    std::string u, x, y;
  } vectors[] = {
      {"0cb81538a98a2e3580076eed495256611813f6dae9e16d3d4f8de7af0e9833e1",
       "1bb8810e2ceaf04786d4efd216fc2820ddd9363712efc736ada11049d8af5925",
       "1efbf8d54c60d865cce08437668ea30f5bf90d287dbd9b5af31da852915e8f11"},
      {"11945105b5e3d3b9392b5a2318409cbc28b7246aa47fa30da5739907737799a9",
       "1452c8cc24f8dedc25b24d89b87b64e25488191cecc78464fea84077dd156f8d",
       "209c3633505ba956f5ce4d974a868db972b8f1b69d63c218d360996bcec1ad41"},
  };
  for (const auto& v : vectors) {
    G1Affine p = map_to_curve_g1_unchecked(fq_of_hex(v.u));
    EXPECT_EQ(hex_of(p.x), v.x);
    EXPECT_EQ(hex_of(p.y), v.y);
  }
}

TEST(HashToCurve, ZeroMapsToHalfPMinusOneWithEvenY) {
  G1Affine p = map_to_curve_g1_unchecked(Fq::zero());
  EXPECT_EQ(hex_of(p.x), kHalfPMinus1);
  EXPECT_FALSE(p.y.is_odd());
  // Every spelling of u = 0 gives that point.
  std::vector<uint8_t> p_bytes = bytes_of_hex(kP);
  const uint8_t zero = 0;
  Point a = generate_random_point(nullptr, 0);
  EXPECT_EQ(a, generate_random_point(&zero, 1));
  EXPECT_EQ(a, generate_random_point(p_bytes.data(), p_bytes.size()));
  EXPECT_EQ(a.ge(), p);
  EXPECT_EQ(a.v.purpose, std::string("deserialized point"));
}

TEST(HashToCurve, InputsEqualModuloPGiveEqualPoints) {
  // 64-byte input u + k*p versus u itself.
  std::vector<uint8_t> digest(64);
  for (int i = 0; i < 64; ++i) digest[i] = uint8_t(i * 37 + 11);
  Fq u = Fq::from_be_bytes_reduce(digest.data(), digest.size());
  uint8_t u_bytes[32];
  u.to_be_bytes(u_bytes);
  std::vector<uint8_t> padded(40, 0);
  std::copy(u_bytes, u_bytes + 32, padded.begin() + 8);
  EXPECT_EQ(generate_random_point(digest.data(), digest.size()), generate_random_point(u_bytes, 32));
  EXPECT_EQ(generate_random_point(padded.data(), padded.size()), generate_random_point(u_bytes, 32));
}

TEST(HashToCurve, StopsForPlusMinusOneHalf) {
  for (const std::string& h : {kHalfPMinus1, kHalfPPlus1}) {
    std::vector<uint8_t> b = bytes_of_hex(h);
    try {
      generate_random_point(b.data(), b.size());
      ADD_FAILURE() << "no stop for " << h;
    } catch (const InternalFailure& e) {
      EXPECT_EQ(e.message(), "should not fail");
    }
  }
}

TEST(HashToCurve, ResultsLieOnTheCurveWithTheParityOfU) {
  uint8_t buf[64];
  for (int i = 0; i < 200; ++i) {
    os_random_bytes(buf, sizeof buf);
    size_t len = 1 + size_t(buf[0]) % 64;
    Fq u = Fq::from_be_bytes_reduce(buf, len);
    Point p = generate_random_point(buf, len);
    ASSERT_FALSE(p.is_identity());
    ASSERT_TRUE(p.ge().is_on_curve());
    ASSERT_EQ(p.ge().y.is_odd(), u.is_odd());
    ASSERT_EQ(p, generate_random_point(buf, len));
  }
}
