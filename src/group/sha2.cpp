// Portable SHA-256 and SHA-512 (FIPS 180-4).
#include "group/sha2.hpp"

#include <cstring>

namespace nacrel {

namespace {

constexpr uint32_t kK256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint64_t kK512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

inline uint32_t rotr32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline uint64_t rotr64(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

inline uint32_t load_be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t load_be64(const uint8_t* p) {
  return (uint64_t(load_be32(p)) << 32) | load_be32(p + 4);
}
inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void store_be64(uint8_t* p, uint64_t v) {
  store_be32(p, uint32_t(v >> 32));
  store_be32(p + 4, uint32_t(v));
}

void compress256(uint32_t h[8], const uint8_t* block, size_t nblocks) {
  for (; nblocks > 0; --nblocks, block += 64) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = load_be32(block + 4 * t);
    for (int t = 16; t < 64; ++t) {
      uint32_t s0 = rotr32(w[t - 15], 7) ^ rotr32(w[t - 15], 18) ^ (w[t - 15] >> 3);
      uint32_t s1 = rotr32(w[t - 2], 17) ^ rotr32(w[t - 2], 19) ^ (w[t - 2] >> 10);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int t = 0; t < 64; ++t) {
      uint32_t S1 = rotr32(e, 6) ^ rotr32(e, 11) ^ rotr32(e, 25);
      uint32_t ch = (e & f) ^ (~e & g);
      uint32_t t1 = hh + S1 + ch + kK256[t] + w[t];
      uint32_t S0 = rotr32(a, 2) ^ rotr32(a, 13) ^ rotr32(a, 22);
      uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
      uint32_t t2 = S0 + maj;
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += hh;
  }
}

void compress512(uint64_t h[8], const uint8_t* block, size_t nblocks) {
  for (; nblocks > 0; --nblocks, block += 128) {
    uint64_t w[80];
    for (int t = 0; t < 16; ++t) w[t] = load_be64(block + 8 * t);
    for (int t = 16; t < 80; ++t) {
      uint64_t s0 = rotr64(w[t - 15], 1) ^ rotr64(w[t - 15], 8) ^ (w[t - 15] >> 7);
      uint64_t s1 = rotr64(w[t - 2], 19) ^ rotr64(w[t - 2], 61) ^ (w[t - 2] >> 6);
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint64_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int t = 0; t < 80; ++t) {
      uint64_t S1 = rotr64(e, 14) ^ rotr64(e, 18) ^ rotr64(e, 41);
      uint64_t ch = (e & f) ^ (~e & g);
      uint64_t t1 = hh + S1 + ch + kK512[t] + w[t];
      uint64_t S0 = rotr64(a, 28) ^ rotr64(a, 34) ^ rotr64(a, 39);
      uint64_t maj = (a & b) ^ (a & c) ^ (b & c);
      uint64_t t2 = S0 + maj;
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += hh;
  }
}

// Shared buffering: fill the partial block, compress whole blocks straight
// from the input, keep the tail.
template <size_t kBlock, class Word, class Compress>
void feed(Word* h, uint8_t* buf, size_t& buf_len, uint64_t& total, const void* data, size_t len,
          Compress compress) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  total += len;
  if (buf_len > 0) {
    size_t take = kBlock - buf_len;
    if (take > len) take = len;
    std::memcpy(buf + buf_len, p, take);
    buf_len += take;
    p += take;
    len -= take;
    if (buf_len < kBlock) return;
    compress(h, buf, 1);
    buf_len = 0;
  }
  size_t whole = len / kBlock;
  if (whole > 0) {
    compress(h, p, whole);
    p += whole * kBlock;
    len -= whole * kBlock;
  }
  if (len > 0) {
    std::memcpy(buf, p, len);
    buf_len = len;
  }
}

}  // namespace

Sha256::Sha256()
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19},
      buf_{} {}

void Sha256::update(const void* data, size_t len) {
  if (len == 0) return;
  feed<64>(h_, buf_, buf_len_, total_, data, len, compress256);
}

void Sha256::finish(uint8_t out[kDigestSize]) {
  // Padding: 0x80, zeros up to 56 mod 64, then the bit length as 64 bits.
  uint64_t bits = total_ * 8;
  buf_[buf_len_++] = 0x80;
  if (buf_len_ > 56) {
    std::memset(buf_ + buf_len_, 0, 64 - buf_len_);
    compress256(h_, buf_, 1);
    buf_len_ = 0;
  }
  std::memset(buf_ + buf_len_, 0, 56 - buf_len_);
  store_be64(buf_ + 56, bits);
  compress256(h_, buf_, 1);
  for (int i = 0; i < 8; ++i) store_be32(out + 4 * i, h_[i]);
}

Sha512::Sha512()
    : h_{0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
         0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179},
      buf_{} {}

void Sha512::update(const void* data, size_t len) {
  if (len == 0) return;
  feed<128>(h_, buf_, buf_len_, total_, data, len, compress512);
}

void Sha512::finish(uint8_t out[kDigestSize]) {
  // Padding: 0x80, zeros up to 112 mod 128, then the bit length as 128 bits
  // (the high 64 bits hold total_ >> 61).
  uint64_t bits_lo = total_ << 3;
  uint64_t bits_hi = total_ >> 61;
  buf_[buf_len_++] = 0x80;
  if (buf_len_ > 112) {
    std::memset(buf_ + buf_len_, 0, 128 - buf_len_);
    compress512(h_, buf_, 1);
    buf_len_ = 0;
  }
  std::memset(buf_ + buf_len_, 0, 112 - buf_len_);
  store_be64(buf_ + 112, bits_hi);
  store_be64(buf_ + 120, bits_lo);
  compress512(h_, buf_, 1);
  for (int i = 0; i < 8; ++i) store_be64(out + 8 * i, h_[i]);
}

std::array<uint8_t, 32> sha256(const void* data, size_t len) {
  Sha256 s;
  s.update(data, len);
  std::array<uint8_t, 32> out;
  s.finish(out.data());
  return out;
}

std::array<uint8_t, 64> sha512(const void* data, size_t len) {
  Sha512 s;
  s.update(data, len);
  std::array<uint8_t, 64> out;
  s.finish(out.data());
  return out;
}

}  // namespace nacrel
