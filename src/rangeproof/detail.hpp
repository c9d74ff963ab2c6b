// Small helpers shared by the inner product argument and the range proof.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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

// Sum of points[i]*scalars[i] with secret scalars: one constant-time
// multiscalar multiplication (complete formulas, no branch on the values).
inline G1Jac sum_ct(const G1Affine* points, const Fr* scalars, size_t n) { return msm_ct(points, scalars, n); }

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

// Reads a record either as an object (any member order, unknown members
// skipped, each known member at most once, all required) or as an array of
// its values in field order. read_field(i, reader) reads field i.
template <size_t N, class ReadField>
void read_record(json::Reader& r, std::string_view name, const std::string_view (&fields)[N],
                 ReadField&& read_field) {
  const json::Kind kind = r.peek();
  if (kind == json::Kind::Object) {
    r.begin_object();
    bool seen[N] = {};
    std::string key;
    while (r.next_key(key)) {
      size_t i = 0;
      while (i < N && fields[i] != key) ++i;
      if (i == N) {
        r.skip_value();
        continue;
      }
      if (seen[i]) r.duplicate_field(fields[i]);
      read_field(i, r);
      seen[i] = true;
    }
    for (size_t i = 0; i < N; ++i)
      if (!seen[i]) r.missing_field(fields[i]);
    return;
  }
  const std::string expected = "struct " + std::string(name) + " with " + std::to_string(N) + " elements";
  if (kind == json::Kind::Array) {
    r.begin_array();
    for (size_t i = 0; i < N; ++i) {
      if (!r.next_element()) r.invalid_length(i, expected);
      read_field(i, r);
    }
    size_t count = N;  // count extra values so that the message names the real length
    while (r.next_element()) {
      r.skip_value();
      ++count;
    }
    if (count != N) r.invalid_length(count, expected);
    return;
  }
  r.invalid_type("struct " + std::string(name));
}

}  // namespace nacrel::rangeproof::detail
