#include "sigma/consistency.hpp"

#include <array>

#include "group/encoding.hpp"
#include "group/error.hpp"
#include "group/secret.hpp"
#include "group/sha2.hpp"
#include "sigma/challenge.hpp"
#include "sigma/record.hpp"

namespace nacrel::sigma {

ConsistencyProof ConsistencyProof::prove(const Scalar& m, const Scalar& r, const Point& g, const Point& h,
                                         const Point& cm, const Point& pk, const Point& token) {
  // The rebuilt commitment is compared with the public cm: equal for an
  // honest call, and a mismatch stops the proof.
  Point rebuilt = lincomb_ct(g, m, h, r);
  ct::publish(rebuilt);
  ensure(rebuilt == cm, "false");
  // Scalar::random never returns zero. Whether the two nonces differ (all
  // but certain) tells nothing about them.
  const Wiped<Scalar> u1(Scalar::random()), u2(Scalar::random());
  bool distinct = *u1 != *u2;
  ct::publish(distinct);
  ensure(distinct, "false");
  // t1, t2 and the responses are the proof, published as they are made.
  Point t1 = lincomb_ct(g, *u1, h, *u2);
  Point t2 = pk * *u2;
  ct::publish(t1);
  ct::publish(t2);
  const Scalar c = challenge_scalar<Sha256>({&g, &h, &t1, &t2, &pk, &cm, &token});
  Scalar resp[2] = {*u1 + c * m, *u2 + c * r};
  ct::publish(resp);
  return {t1, t2, resp[0], resp[1], c};
}

bool ConsistencyProof::verify(const Point& g, const Point& h, const Point& cm, const Point& pk,
                              const Point& token) const {
  const Scalar c = challenge_scalar<Sha256>({&g, &h, &t1, &t2, &pk, &cm, &token});
  const Scalar minus_c = -c;
  // g*s1 + h*s2 - cm*c == t1
  const Point first[3] = {g, h, cm};
  const Scalar first_exps[3] = {s1, s2, minus_c};
  if (msm_public(first, first_exps, 3) != t1) return false;
  // pk*s2 - token*c == t2
  const Point second[2] = {pk, token};
  const Scalar second_exps[2] = {s2, minus_c};
  if (msm_public(second, second_exps, 2) != t2) return false;
  return c == challenge;
}

json::Value ConsistencyProof::to_json() const {
  json::Value v = json::Value::object();
  v.set("t1", point_json(t1));
  v.set("t2", point_json(t2));
  v.set("s1", scalar_json(s1));
  v.set("s2", scalar_json(s2));
  v.set("challenge", scalar_json(challenge));
  return v;
}

ConsistencyProof ConsistencyProof::read(json::Reader& r) {
  static constexpr std::array<std::string_view, 5> kFields = {"t1", "t2", "s1", "s2", "challenge"};
  ConsistencyProof p;
  json::read_struct(r, "ConsistencyProof", kFields, [&](size_t i, json::Reader& rd) {
    switch (i) {
      case 0: p.t1 = read_point(rd); break;
      case 1: p.t2 = read_point(rd); break;
      case 2: p.s1 = read_scalar(rd); break;
      case 3: p.s2 = read_scalar(rd); break;
      default: p.challenge = read_scalar(rd); break;
    }
  });
  return p;
}

ConsistencyProof ConsistencyProof::from_text(std::string_view text) { return parse_record<ConsistencyProof>(text); }

ConsistencyProofMulWitness ConsistencyProofMulWitness::of(const ConsistencyProof& p, const Scalar& m,
                                                          const Scalar& r, const Point& g, const Point& h,
                                                          const Point& pk, const Point& token) {
  // The commitment is rebuilt from the secrets, so its product stays
  // constant time; the product (cm*c) is published with the witness.
  Point chalcm = lincomb_ct(h, r, g, m) * p.challenge;
  ct::publish(chalcm);
  return {chalcm, token.mul_public(p.challenge), pk.mul_public(p.s2), g.mul_public(p.s1), h.mul_public(p.s2)};
}

json::Value ConsistencyProofMulWitness::to_json() const {
  json::Value v = json::Value::object();
  v.set("chalcm", point_json(chalcm));
  v.set("chaltk", point_json(chaltk));
  v.set("s2pubkey", point_json(s2pubkey));
  v.set("s1g", point_json(s1g));
  v.set("s2h", point_json(s2h));
  return v;
}

}  // namespace nacrel::sigma
