// Chaum-Pedersen proof of one secret x with pk_l = g1*x and pk_r = g2*x
// (Fiat-Shamir over [A_l, A_r, g1, g2, pk_l, pk_r]; the challenge is stored).
#pragma once

#include <string>
#include <string_view>

#include "group/json.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"
#include "group/sha2.hpp"

namespace nacrel::sigma {

template <class H>
struct DLogEqProof {
  Point pk_l;                    // g1*x
  Point pk_r;                    // g2*x
  Point pk_t_rand_commitment_l;  // g1*k, k the nonce
  Point pk_t_rand_commitment_r;  // g2*k
  Scalar challenge_response_l;   // k - c*x
  Scalar challenge_response_r;   // k - c*x, the same value
  Scalar challenge;              // c

  static DLogEqProof prove(const Scalar& x, const Point& g1, const Point& g2);
  // True when both equations hold with the recomputed challenge, the stored
  // challenge equals it, the bases differ and both responses are one value.
  bool verify(const Point& g1, const Point& g2) const;

  // Members in field order.
  json::Value to_json() const;
  std::string to_text() const { return json::write_pretty(to_json()); }
  static DLogEqProof read(json::Reader& r);
  // Stops with the unwrap message when the text is not a record.
  static DLogEqProof from_text(std::string_view text);
};

extern template struct DLogEqProof<Sha256>;
extern template struct DLogEqProof<Sha512>;

}  // namespace nacrel::sigma
