// Inner product argument (Bulletproofs): proves knowledge of vectors a, b with
// P = <a, G> + <b, H> + ux*<a, b> using 2*log2(n) points and two integers.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "group/bigint.hpp"
#include "group/json.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"

namespace nacrel::rangeproof {

enum class VerificationError { InnerProductFailed, RangeProofFailed };

// SHA-256 challenge over the 64-byte uncompressed encodings of the points,
// followed by a zero 4-byte counter, reduced mod r.
Scalar point_challenge(const Point* const* points, size_t n);
Scalar point_challenge(std::initializer_list<const Point*> points);
// The same over integers, each fed as its minimal big-endian bytes.
Scalar integer_challenge(const std::vector<BigInt>& values);

// sum a[i]*b[i] mod r; stops with "inner_product(a,b): lengths of vectors do
// not match" on unequal lengths.
Scalar inner_product(const std::vector<Scalar>& a, const std::vector<Scalar>& b);

// The challenges of a folded argument and the generator weights they give.
struct IpaFolding {
  std::vector<Scalar> x;      // challenge of each halving step, first step first
  std::vector<Scalar> x_inv;  // their inverses
  std::vector<Scalar> s;      // final G' = sum G[i]*s[i]; final H' = sum H[i]*s[n-1-i]
};

struct InnerProductArg {
  std::vector<Point> L;
  std::vector<Point> R;
  BigInt a_tag;
  BigInt b_tag;

  // G, H, a and b must have one length n, a power of two (the stop carries
  // "assertion failed: n.is_power_of_two()"). With h_ratio the generators
  // are H[i]*h_ratio^i (a public ratio), without forming those points.
  // a and b are the argument's witness, but in the range proof they are
  // blinded by the secret vectors before they get here, so the products with
  // them (the L and R points) and the generator folding use variable-time
  // arithmetic.
  // With u_base and u_log the caller vouches that ux = u_base * u_log; when
  // u_base has a cached table (fixed_table_for), the products of ux read it.
  static InnerProductArg prove(const std::vector<Point>& G, const std::vector<Point>& H, const Point& ux,
                               const std::vector<Scalar>& a, const std::vector<Scalar>& b,
                               const Scalar* h_ratio = nullptr, const Point* u_base = nullptr,
                               const Scalar* u_log = nullptr);

  // True exactly when the recursive halving verification succeeds; false
  // stands for InnerProductFailed. Evaluated as one multiscalar multiplication.
  // Stops when the lengths differ, n is not a power of two, or L/R hold fewer
  // entries than the log2(n) halving steps need (extra entries are ignored).
  bool verify(const std::vector<Point>& G, const std::vector<Point>& H, const Point& ux, const Point& P) const;

  // Challenges and weights for vectors of length n (n a power of two), with
  // the same stops as verify.
  IpaFolding fold(size_t n, const Point& ux) const;

  // {"L": [...], "R": [...], "a_tag": "..", "b_tag": ".."}.
  json::Value to_json() const;
  std::string to_json_text() const { return json::write_pretty(to_json()); }
  // Object (any order, unknown members ignored) or 4-element array.
  static InnerProductArg read(json::Reader& r);
  // Whole document; a reading error stops with the unwrap message.
  static InnerProductArg from_json_text(std::string_view text);
};

}  // namespace nacrel::rangeproof
