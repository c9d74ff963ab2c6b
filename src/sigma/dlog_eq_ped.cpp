#include "sigma/dlog_eq_ped.hpp"

#include <array>

#include "group/encoding.hpp"
#include "group/secret.hpp"
#include "group/sha2.hpp"
#include "sigma/challenge.hpp"
#include "sigma/record.hpp"

namespace nacrel::sigma {

DLogEqProofPed DLogEqProofPed::prove(const Scalar& x, const Point& g, const Point& h, const Point& pk) {
  // Scalar::random never returns zero. r1 and r2 are members of the proof;
  // the square x^2, the blinding r3 and the nonces a, b, d stay secret.
  // Every point and response below is published with the proof.
  Scalar r1 = Scalar::random();
  const Wiped<Scalar> x2(x * x);
  Point cm1 = lincomb_ct(g, *x2, h, r1);
  Point token = pk * r1;
  Scalar r2 = Scalar::random();
  const Wiped<Scalar> r3(r1 - r2 * x);
  ct::publish(r1);
  ct::publish(r2);
  Point cm2 = lincomb_ct(g, x, h, r2);
  ct::publish(cm2);
  Point cm3 = lincomb_ct(cm2, x, h, *r3);
  const Wiped<Scalar> a(Scalar::random()), b(Scalar::random()), d(Scalar::random());
  Point a1 = lincomb_ct(g, *d, h, *a);
  Point a2 = lincomb_ct(cm2, *d, h, *b);
  ct::publish(cm1);
  ct::publish(token);
  ct::publish(cm3);
  ct::publish(a1);
  ct::publish(a2);
  const Scalar c = challenge_scalar<Sha256>({&a1, &a2});
  Scalar resp[3] = {*d + c * x, *a + c * r2, *b + c * *r3};
  ct::publish(resp);
  return {cm1, cm2, cm3, token, r1, r2, c, resp[0], resp[1], resp[2]};
}

bool DLogEqProofPed::verify(const Point& g, const Point& h) const {
  const Scalar minus_c = -challenge;
  const Point first[3] = {g, h, cm2};
  const Scalar first_exps[3] = {challenge_response_D, challenge_response_D1, minus_c};
  const Point a1 = msm_public(first, first_exps, 3);
  const Point second[3] = {cm2, h, cm3};
  const Scalar second_exps[3] = {challenge_response_D, challenge_response_D2, minus_c};
  const Point a2 = msm_public(second, second_exps, 3);
  return challenge_scalar<Sha256>({&a1, &a2}) == challenge;
}

json::Value DLogEqProofPed::to_json() const {
  json::Value v = json::Value::object();
  v.set("cm1", point_json(cm1));
  v.set("cm2", point_json(cm2));
  v.set("cm3", point_json(cm3));
  v.set("token", point_json(token));
  v.set("r1", scalar_json(r1));
  v.set("r2", scalar_json(r2));
  v.set("challenge", scalar_json(challenge));
  v.set("challenge_response_D", scalar_json(challenge_response_D));
  v.set("challenge_response_D1", scalar_json(challenge_response_D1));
  v.set("challenge_response_D2", scalar_json(challenge_response_D2));
  return v;
}

DLogEqProofPed DLogEqProofPed::read(json::Reader& r) {
  static constexpr std::array<std::string_view, 10> kFields = {
      "cm1", "cm2", "cm3", "token", "r1", "r2", "challenge", "challenge_response_D", "challenge_response_D1",
      "challenge_response_D2"};
  DLogEqProofPed p;
  Point* const points[4] = {&p.cm1, &p.cm2, &p.cm3, &p.token};
  Scalar* const scalars[6] = {&p.r1, &p.r2, &p.challenge, &p.challenge_response_D, &p.challenge_response_D1,
                              &p.challenge_response_D2};
  json::read_struct(r, "DLogEqProofPed", kFields, [&](size_t i, json::Reader& rd) {
    if (i < 4)
      *points[i] = read_point(rd);
    else
      *scalars[i - 4] = read_scalar(rd);
  });
  return p;
}

DLogEqProofPed DLogEqProofPed::from_text(std::string_view text) { return parse_record<DLogEqProofPed>(text); }

DLogEqProofPedMulWitness DLogEqProofPedMulWitness::of(const DLogEqProofPed& p, const Point& g, const Point& h) {
  return {g.mul_public(p.challenge_response_D),  h.mul_public(p.challenge_response_D1),
          p.cm2.mul_public(p.challenge),         p.cm2.mul_public(p.challenge_response_D),
          h.mul_public(p.challenge_response_D2), p.cm3.mul_public(p.challenge)};
}

json::Value DLogEqProofPedMulWitness::to_json() const {
  json::Value v = json::Value::object();
  v.set("chalRspDg", point_json(chalRspDg));
  v.set("chalRspD1h", point_json(chalRspD1h));
  v.set("challengecm2", point_json(challengecm2));
  v.set("chalRspDcm2", point_json(chalRspDcm2));
  v.set("chalRspD2h", point_json(chalRspD2h));
  v.set("challengecm3", point_json(challengecm3));
  return v;
}

}  // namespace nacrel::sigma
