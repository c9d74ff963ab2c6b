// Shared helpers of the field and curve tests: hex parsing and the generated
// py_ecc vectors.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "group/curve.hpp"
#include "group/field.hpp"

namespace group_test {

inline std::vector<uint8_t> unhex(const std::string& s) {
  auto nib = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    ADD_FAILURE() << "bad hex digit " << c;
    return 0;
  };
  std::vector<uint8_t> out(s.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = uint8_t(nib(s[2 * i]) << 4 | nib(s[2 * i + 1]));
  return out;
}

inline std::string hex(const uint8_t* b, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[b[i] >> 4];
    s += d[b[i] & 15];
  }
  return s;
}

inline nacrel::U256 u256_of_hex(const std::string& s) {
  std::vector<uint8_t> b = unhex(s);
  EXPECT_EQ(b.size(), 32u);
  b.resize(32);
  return nacrel::u256_from_be(b.data());
}

// A canonical element given as 64 hex digits (must be below the modulus).
template <class F>
F elem(const std::string& s) {
  F out;
  EXPECT_TRUE(F::from_canonical(u256_of_hex(s), out)) << s;
  return out;
}

template <class F>
std::string hex_of(const F& f) {
  uint8_t b[32];
  f.to_be_bytes(b);
  return hex(b, 32);
}

#include "group_vectors.inc"

inline nacrel::G1Affine point_of(const PointLit& p) {
  if (p.infinity) return nacrel::G1Affine::identity();
  return nacrel::G1Affine{elem<nacrel::Fq>(p.x), elem<nacrel::Fq>(p.y), false};
}

inline nacrel::Fr scalar_of(const char* hex32) {
  std::vector<uint8_t> b = unhex(hex32);
  return nacrel::Fr::from_be_bytes_reduce(b.data(), b.size());
}

// Deterministic, varied test points and scalars.
inline std::vector<nacrel::G1Affine> sample_points(size_t n) {
  using namespace nacrel;
  std::vector<G1Affine> out;
  G1Jac acc = to_jacobian(G1Affine::generator());
  const G1Affine step = point_of(kMulRows[30].product);
  for (size_t i = 0; i < n; ++i) {
    acc = add_mixed(dbl(acc), step);
    out.push_back(to_affine_vartime(acc));
  }
  return out;
}

inline std::vector<nacrel::Fr> sample_scalars(size_t n) {
  using namespace nacrel;
  std::vector<Fr> out;
  Fr a = scalar_of(kMulRows[20].scalar), b = scalar_of(kMulRows[21].scalar);
  for (size_t i = 0; i < n; ++i) {
    a = a * b + Fr::from_u64(i);
    out.push_back(a);
  }
  return out;
}

}  // namespace group_test
