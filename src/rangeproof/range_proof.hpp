// Aggregated Bulletproofs range proof: each of m committed values
// V_j = G*v_j + H*gamma_j lies in [0, 2^n).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "group/json.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"
#include "rangeproof/inner_product.hpp"

namespace nacrel::rangeproof {

struct RangeProof {
  Point A;   // commitment to the bit vectors aL, aR (blinding alpha)
  Point S;   // commitment to the random vectors sL, sR (blinding rho)
  Point T1;  // commitment to t1 (blinding tau1)
  Point T2;  // commitment to t2 (blinding tau2)
  Scalar tau_x;
  Scalar miu;
  Scalar tx;
  InnerProductArg inner_product_proof;

  // g_vec and h_vec must hold exactly N = n*m entries and N must be a power
  // of two; blindings must hold at least m = secrets.size() entries. A value
  // outside [0, 2^n) is not rejected: its proof fails verification.
  // Every product with secret data is constant time.
  static RangeProof prove(const std::vector<Point>& g_vec, const std::vector<Point>& h_vec, const Point& G,
                          const Point& H, const std::vector<Scalar>& secrets, const std::vector<Scalar>& blindings,
                          uint64_t n);

  // True on success, false for RangeProofFailed (polynomial check or inner
  // product argument), with no randomness: the polynomial check as one small
  // multiscalar product, then the inner product check with P expanded as one
  // multiscalar product; each is an exact equality.
  // Stops (InternalFailure) on an empty commitment list, vectors whose length
  // is not N, N not a power of two, or too few L/R entries.
  bool verify(const std::vector<Point>& g_vec, const std::vector<Point>& h_vec, const Point& G, const Point& H,
              const std::vector<Point>& commitments, uint64_t n) const;

  // Members "A", "S", "T1", "T2", "tau_x", "miu", "tx", "inner_product_proof".
  json::Value to_json() const;
  // Pretty layout, no final newline.
  std::string to_json_text() const { return json::write_pretty(to_json()); }
  // Object (any order, unknown members ignored) or 8-element array.
  static RangeProof read(json::Reader& r);
  // Whole document; a reading error stops with the unwrap message.
  static RangeProof from_json_text(std::string_view text);
};

// The challenges of a proof, as both verifiers and the prover derive them.
struct RangeChallenges {
  Scalar y, z, x, ux;
  Point Gx;  // G*ux, the inner product argument's extra base
};
RangeChallenges range_challenges(const RangeProof& proof, const Point& G, const Point& H,
                                 const std::vector<Point>& commitments);

// delta(y, z) = (z - z^2) * sum_{i<N} y^i - sum_{j<m} z^(j+3) * sum_{k<n} 2^k.
Scalar range_delta(const Scalar& y, const Scalar& z, uint64_t n, uint64_t m);

// Checks shared by prover and verifier; stops on a violation.
void check_range_shape(size_t g_len, size_t h_len, uint64_t n, uint64_t m);

// The text of the generator vectors: "[" g_vec array "," h_vec array "]",
// each array in the pretty layout.
std::string generator_vectors_text(const std::vector<Point>& g_vec, const std::vector<Point>& h_vec);

}  // namespace nacrel::rangeproof
