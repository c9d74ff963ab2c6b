// Small helpers shared by the inner product argument and the range proof.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "group/bigint.hpp"
#include "group/curve.hpp"
#include "group/error.hpp"
#include "group/json.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"

namespace nacrel::rangeproof::detail {

inline bool is_power_of_two(uint64_t n) { return n != 0 && (n & (n - 1)) == 0; }

inline void require_power_of_two(uint64_t n) { ensure(is_power_of_two(n), "n.is_power_of_two()"); }

inline unsigned log2_exact(uint64_t n) {
  unsigned k = 0;
  while ((uint64_t(1) << k) < n) ++k;
  return k;
}

// Sum of points[i]*scalars[i] with secret scalars over public points (the
// generators): constant time in the scalars, with shared-inversion affine
// additions (msm_ct_public_bases).
inline G1Jac sum_ct(const G1Affine* points, const Fr* scalars, size_t n) {
  return msm_ct_public_bases(points, scalars, n);
}

// a*x + b*y with secret x, y.
inline Point lincomb_secret(const Point& a, const Scalar& x, const Point& b, const Scalar& y) {
  const G1Affine pts[2] = {a.ge(), b.ge()};
  const Fr ks[2] = {x.fe(), y.fe()};
  return Point("scalar_mul", to_affine(msm_ct(pts, ks, 2)));
}

// Inverse of a public non-zero value; stops when it is zero.
inline Fr inverse_public(const Fr& v, const char* what) {
  if (v.is_zero()) fail(std::string(what) + " has no inverse");
  return v.inverse_vartime();
}

// A BigInt JSON value: even-length hex string.
inline BigInt read_bigint(json::Reader& r) {
  if (r.peek() != json::Kind::String) r.invalid_type("bigint");
  std::string s = r.read_string();
  BigInt out;
  if (!BigInt::from_json_hex(s, out)) r.fail("malformed hex encoding");
  return out;
}

}  // namespace nacrel::rangeproof::detail
