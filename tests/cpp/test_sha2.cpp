// SHA-256 and SHA-512 against the FIPS 180-4 examples and hashlib digests of
// every length 0..300 (all padding boundaries), fed whole and in odd chunks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "group/sha2.hpp"
#include "group_test_util.hpp"

using namespace nacrel;

namespace {

#include "sha2_vectors.inc"

using group_test::hex;

template <size_t N>
std::string hex(const std::array<uint8_t, N>& a) {
  return hex(a.data(), N);
}

// The generator's message rule.
std::vector<uint8_t> msg(size_t n) {
  std::vector<uint8_t> m(n);
  for (size_t i = 0; i < n; ++i) m[i] = uint8_t((i * 131 + n * 7 + 1) % 256);
  return m;
}

// Digest of m fed in chunks whose sizes cycle through `sizes`.
template <class H>
std::string chunked(const std::vector<uint8_t>& m, const std::vector<size_t>& sizes) {
  H h;
  size_t pos = 0, k = 0;
  while (pos < m.size()) {
    size_t take = std::min(sizes[k++ % sizes.size()], m.size() - pos);
    h.update(m.data() + pos, take);
    h.update(m.data() + pos, 0);  // empty feeds change nothing
    pos += take;
  }
  uint8_t out[H::kDigestSize];
  h.finish(out);
  return hex(out, H::kDigestSize);
}

}  // namespace

TEST(Sha2, FipsExamples) {
  struct Case {
    std::string input;
    const char* sha256;
    const char* sha512;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
       "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
       "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
       "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
       "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
       "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
       "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hex(sha256(c.input.data(), c.input.size())), c.sha256) << c.input.size();
    EXPECT_EQ(hex(sha512(c.input.data(), c.input.size())), c.sha512) << c.input.size();
  }
}

TEST(Sha2, EveryLengthWholeAndChunked) {
  const std::vector<std::vector<size_t>> chunkings = {{1}, {3, 7}, {13, 1, 63}, {55, 64, 9}, {127, 2, 128}};
  for (const Sha2Row& row : kSha2Rows) {
    std::vector<uint8_t> m = msg(row.len);
    EXPECT_EQ(hex(sha256(m.data(), m.size())), row.sha256) << row.len;
    EXPECT_EQ(hex(sha512(m.data(), m.size())), row.sha512) << row.len;
    for (const auto& sizes : chunkings) {
      EXPECT_EQ(chunked<Sha256>(m, sizes), row.sha256) << row.len << " chunk " << sizes[0];
      EXPECT_EQ(chunked<Sha512>(m, sizes), row.sha512) << row.len << " chunk " << sizes[0];
    }
  }
}

TEST(Sha2, CopiedStateFinishesIndependently) {
  // Challenge hashing copies a saved state and keeps feeding the original.
  std::vector<uint8_t> m = msg(200);
  Sha256 a;
  Sha512 b;
  a.update(m.data(), 150);
  b.update(m.data(), 150);
  Sha256 a_copy = a;
  Sha512 b_copy = b;
  uint8_t d256[32], d512[64];
  a_copy.finish(d256);
  b_copy.finish(d512);
  EXPECT_EQ(hex(d256, 32), hex(sha256(m.data(), 150)));
  EXPECT_EQ(hex(d512, 64), hex(sha512(m.data(), 150)));
  a.update(m.data() + 150, 50);
  b.update(m.data() + 150, 50);
  a.finish(d256);
  b.finish(d512);
  EXPECT_EQ(hex(d256, 32), kSha2Rows[200].sha256);
  EXPECT_EQ(hex(d512, 64), kSha2Rows[200].sha512);
}
