// Schnorr proof of knowledge of x with pk = g*x for an explicit base g
// (Fiat-Shamir over [A, g, pk]; the verifier recomputes the challenge).
#pragma once

#include <string>
#include <string_view>

#include "group/json.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"
#include "group/sha2.hpp"

namespace nacrel::sigma {

template <class H>
struct DLogProofExplicit {
  Point pk;                    // g*x
  Point pk_t_rand_commitment;  // A = g*k, k the nonce
  Scalar challenge_response;   // s = k - c*x

  static DLogProofExplicit prove(const Scalar& x, const Point& g);
  // True when g*s + pk*c == A and pk == pk_expected.
  bool verify(const Point& g, const Point& pk_expected) const;

  // Members "pk", "pk_t_rand_commitment", "challenge_response".
  json::Value to_json() const;
  std::string to_text() const { return json::write_pretty(to_json()); }
  static DLogProofExplicit read(json::Reader& r);
  // Stops with the unwrap message when the text is not a record.
  static DLogProofExplicit from_text(std::string_view text);
};

extern template struct DLogProofExplicit<Sha256>;
extern template struct DLogProofExplicit<Sha512>;

// The verifier's two products; they add up to pk_t_rand_commitment for a valid proof.
struct DLogProofExplicitMulWitness {
  Point chalrsph2r;   // g*s
  Point challengepk;  // pk*c

  json::Value to_json() const;
};

// Only made for SHA-256 proofs.
DLogProofExplicitMulWitness generate_mul_witness(const DLogProofExplicit<Sha256>& proof, const Point& g);

}  // namespace nacrel::sigma
