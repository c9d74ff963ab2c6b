// SHA-256 and SHA-512 (FIPS 180-4). States are plain values: copy one to
// finish a digest and keep feeding the original.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nacrel {

class Sha256 {
 public:
  static constexpr size_t kDigestSize = 32;
  Sha256();
  void update(const void* data, size_t len);
  // Writes the digest; the state must not be used afterwards.
  void finish(uint8_t out[kDigestSize]);

 private:
  uint32_t h_[8];
  uint64_t total_ = 0;  // bytes fed
  uint8_t buf_[64];
  size_t buf_len_ = 0;
};

class Sha512 {
 public:
  static constexpr size_t kDigestSize = 64;
  Sha512();
  void update(const void* data, size_t len);
  void finish(uint8_t out[kDigestSize]);

 private:
  uint64_t h_[8];
  uint64_t total_ = 0;  // bytes fed (inputs here stay far below 2^61 bytes)
  uint8_t buf_[128];
  size_t buf_len_ = 0;
};

std::array<uint8_t, 32> sha256(const void* data, size_t len);
std::array<uint8_t, 64> sha512(const void* data, size_t len);

}  // namespace nacrel
