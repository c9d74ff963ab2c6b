// Fiat-Shamir challenges: (first 32 bytes of HASH(enc(P1) || ... || enc(Pn) ||
// counter)) mod r, with enc the 64-byte uncompressed encoding (y then x) and a
// 4-byte big-endian try counter starting at 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "group/point.hpp"
#include "group/scalar.hpp"
#include "group/sha2.hpp"

namespace nacrel {

// Challenge over the points in order, with H = Sha256 or Sha512.
template <class H>
Scalar challenge_scalar(const Point* const* points, size_t n) {
  H state;
  for (size_t i = 0; i < n; ++i) {
    std::array<uint8_t, 64> enc = points[i]->serialize_uncompressed();
    state.update(enc.data(), enc.size());
  }
  for (uint32_t counter = 0;; ++counter) {
    H attempt = state;
    const uint8_t ctr[4] = {uint8_t(counter >> 24), uint8_t(counter >> 16), uint8_t(counter >> 8), uint8_t(counter)};
    attempt.update(ctr, 4);
    uint8_t digest[H::kDigestSize];
    attempt.finish(digest);
    Scalar c;
    // 32 bytes always decode, so the first attempt is the last.
    if (Scalar::deserialize(digest, 32, c)) return c;
  }
}

template <class H>
Scalar challenge_scalar(std::initializer_list<const Point*> points) {
  return challenge_scalar<H>(points.begin(), points.size());
}

}  // namespace nacrel
