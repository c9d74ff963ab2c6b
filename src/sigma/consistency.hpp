// Proof that a commitment cm = g*m + h*r and a token = pk*r use the same
// blinding r. SHA-256 only; the challenge hashes [g, h, t1, t2, pk, cm, token].
#pragma once

#include <string>
#include <string_view>

#include "group/json.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"

namespace nacrel::sigma {

struct ConsistencyProof {
  Point t1;          // g*u1 + h*u2, u1 and u2 the nonces
  Point t2;          // pk*u2
  Scalar s1;         // u1 + c*m
  Scalar s2;         // u2 + c*r
  Scalar challenge;  // c

  // Stops with "assertion failed: false" when g*m + h*r is not cm (the token
  // is not compared with pk*r).
  static ConsistencyProof prove(const Scalar& m, const Scalar& r, const Point& g, const Point& h, const Point& cm,
                                const Point& pk, const Point& token);
  // True when g*s1 + h*s2 == cm*c + t1, pk*s2 == token*c + t2 and the stored
  // challenge is the recomputed c.
  bool verify(const Point& g, const Point& h, const Point& cm, const Point& pk, const Point& token) const;

  // Members in field order.
  json::Value to_json() const;
  std::string to_text() const { return json::write_pretty(to_json()); }
  static ConsistencyProof read(json::Reader& r);
  // Stops with the unwrap message when the text is not a record.
  static ConsistencyProof from_text(std::string_view text);
};

// The verifier's products. For a valid proof s1g + s2h - chalcm = t1 and s2pubkey - chaltk = t2.
struct ConsistencyProofMulWitness {
  Point chalcm;    // (h*r + g*m)*c, that is cm*c
  Point chaltk;    // token*c
  Point s2pubkey;  // pk*s2
  Point s1g;       // g*s1
  Point s2h;       // h*s2

  // m and r are the prover's secrets.
  static ConsistencyProofMulWitness of(const ConsistencyProof& proof, const Scalar& m, const Scalar& r,
                                       const Point& g, const Point& h, const Point& pk, const Point& token);
  json::Value to_json() const;
};

}  // namespace nacrel::sigma
