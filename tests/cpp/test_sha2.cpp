// SHA-256 and SHA-512 against the FIPS 180-4 examples and hashlib digests,
// whole and fed in uneven pieces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "group/sha2.hpp"

using namespace nacrel;

namespace {

std::string hex_encode(const uint8_t* p, size_t n) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += {d[p[i] >> 4], d[p[i] & 15]};
  return s;
}

struct Vector {
  size_t len;
  const char* sha256;
  const char* sha512;
};

const Vector kVectors[] = {
#include "sha2_vectors.inc"
};

std::vector<uint8_t> message(size_t n) {
  std::vector<uint8_t> m(n);
  for (size_t i = 0; i < n; ++i) m[i] = uint8_t((7 * i + 3) % 256);
  return m;
}

template <class H>
std::string digest_in_chunks(const std::vector<uint8_t>& m, const std::vector<size_t>& chunks) {
  H h;
  size_t pos = 0, k = 0;
  while (pos < m.size()) {
    size_t take = std::min(chunks[k++ % chunks.size()], m.size() - pos);
    h.update(m.data() + pos, take);
    pos += take;
  }
  h.update(m.data(), 0);  // empty feeds change nothing
  uint8_t out[H::kDigestSize];
  h.finish(out);
  return hex_encode(out, sizeof out);
}

}  // namespace

TEST(Sha2, FipsExamples) {
  const std::string abc = "abc";
  const std::string two_block = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const std::string two_block_512 =
      "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
  auto h256 = [](const std::string& s) { auto d = sha256(s.data(), s.size()); return hex_encode(d.data(), d.size()); };
  auto h512 = [](const std::string& s) { auto d = sha512(s.data(), s.size()); return hex_encode(d.data(), d.size()); };
  EXPECT_EQ(h256(abc), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(h256(two_block), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(h256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(h512(abc),
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
  EXPECT_EQ(h512(two_block_512),
            "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
            "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909");
  // One million 'a', fed 1000 bytes at a time.
  const std::string thousand(1000, 'a');
  Sha256 a256;
  Sha512 a512;
  for (int i = 0; i < 1000; ++i) {
    a256.update(thousand.data(), thousand.size());
    a512.update(thousand.data(), thousand.size());
  }
  uint8_t d256[32], d512[64];
  a256.finish(d256);
  a512.finish(d512);
  EXPECT_EQ(hex_encode(d256, 32), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(hex_encode(d512, 64),
            "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
            "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b");
}

TEST(Sha2, EveryLengthUpTo300) {
  // Covers the padding boundaries 55/56/63/64 (SHA-256) and 111/112/127/128 (SHA-512).
  ASSERT_EQ(std::size(kVectors), 301u);
  for (const Vector& v : kVectors) {
    std::vector<uint8_t> m = message(v.len);
    auto d256 = sha256(m.data(), m.size());
    auto d512 = sha512(m.data(), m.size());
    EXPECT_EQ(hex_encode(d256.data(), 32), v.sha256) << "length " << v.len;
    EXPECT_EQ(hex_encode(d512.data(), 64), v.sha512) << "length " << v.len;
  }
}

TEST(Sha2, UnevenPiecesGiveTheSameDigest) {
  const std::vector<std::vector<size_t>> patterns = {{1}, {3, 5, 7}, {63, 1}, {65}, {127, 2}, {129, 13}, {64, 128}};
  for (size_t len : {0u, 1u, 55u, 56u, 64u, 111u, 112u, 128u, 200u, 300u}) {
    std::vector<uint8_t> m = message(len);
    for (const auto& p : patterns) {
      EXPECT_EQ(digest_in_chunks<Sha256>(m, p), kVectors[len].sha256) << len;
      EXPECT_EQ(digest_in_chunks<Sha512>(m, p), kVectors[len].sha512) << len;
    }
  }
}

TEST(Sha2, CopiedStateContinuesIndependently) {
  std::vector<uint8_t> m = message(300);
  Sha256 base;
  base.update(m.data(), 100);
  Sha256 copy = base;
  base.update(m.data() + 100, 200);
  uint8_t short_d[32], long_d[32];
  copy.finish(short_d);
  base.finish(long_d);
  EXPECT_EQ(hex_encode(short_d, 32), kVectors[100].sha256);
  EXPECT_EQ(hex_encode(long_d, 32), kVectors[300].sha256);
}
