// Proof that cm2 = g*x + h*r2 and cm3 = cm2*x + h*r3 share the secret x, so
// that cm3 (= cm1 = g*x^2 + h*r1) commits to the square of cm2's value.
// SHA-256 only; the challenge hashes the nonce commitments A1, A2 alone.
#pragma once

#include <string>
#include <string_view>

#include "group/json.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"

namespace nacrel::sigma {

struct DLogEqProofPed {
  Point cm1;    // g*x^2 + h*r1
  Point cm2;    // g*x + h*r2
  Point cm3;    // cm2*x + h*r3, r3 = r1 - r2*x
  Point token;  // pk*r1
  Scalar r1;
  Scalar r2;
  Scalar challenge;              // c
  Scalar challenge_response_D;   // d + c*x
  Scalar challenge_response_D1;  // a + c*r2
  Scalar challenge_response_D2;  // b + c*r3

  static DLogEqProofPed prove(const Scalar& x, const Point& g, const Point& h, const Point& pk);
  // Recomputes A1, A2 from cm2, cm3 and the responses and compares their
  // challenge with the stored one; cm1, token, r1 and r2 take no part.
  bool verify(const Point& g, const Point& h) const;

  // Members in field order.
  json::Value to_json() const;
  std::string to_text() const { return json::write_pretty(to_json()); }
  static DLogEqProofPed read(json::Reader& r);
  // Stops with the unwrap message when the text is not a record.
  static DLogEqProofPed from_text(std::string_view text);
};

// The verifier's six products. For a valid proof
// chalRspDg + chalRspD1h - challengecm2 = A1 and chalRspDcm2 + chalRspD2h - challengecm3 = A2.
struct DLogEqProofPedMulWitness {
  Point chalRspDg;     // g*D
  Point chalRspD1h;    // h*D1
  Point challengecm2;  // cm2*c
  Point chalRspDcm2;   // cm2*D
  Point chalRspD2h;    // h*D2
  Point challengecm3;  // cm3*c

  static DLogEqProofPedMulWitness of(const DLogEqProofPed& proof, const Point& g, const Point& h);
  json::Value to_json() const;
};

}  // namespace nacrel::sigma
