#include "sigma/dlog_eq.hpp"

#include <array>

#include "group/encoding.hpp"
#include "group/secret.hpp"
#include "sigma/challenge.hpp"
#include "sigma/record.hpp"

namespace nacrel::sigma {

template <class H>
DLogEqProof<H> DLogEqProof<H>::prove(const Scalar& x, const Point& g1, const Point& g2) {
  const Wiped<Scalar> k(Scalar::random());
  // The four points and the response are the proof, published as they are made.
  Point a_l = g1 * *k, a_r = g2 * *k;
  Point pk_l = g1 * x, pk_r = g2 * x;
  ct::publish(a_l);
  ct::publish(a_r);
  ct::publish(pk_l);
  ct::publish(pk_r);
  const Scalar c = challenge_scalar<H>({&a_l, &a_r, &g1, &g2, &pk_l, &pk_r});
  Scalar s = *k - c * x;
  ct::publish(s);
  return {pk_l, pk_r, a_l, a_r, s, s, c};
}

template <class H>
bool DLogEqProof<H>::verify(const Point& g1, const Point& g2) const {
  const Scalar c = challenge_scalar<H>({&pk_t_rand_commitment_l, &pk_t_rand_commitment_r, &g1, &g2, &pk_l, &pk_r});
  const Point left[2] = {g1, pk_l};
  const Scalar left_exps[2] = {challenge_response_l, c};
  if (msm_public(left, left_exps, 2) != pk_t_rand_commitment_l) return false;
  const Point right[2] = {g2, pk_r};
  const Scalar right_exps[2] = {challenge_response_r, c};
  if (msm_public(right, right_exps, 2) != pk_t_rand_commitment_r) return false;
  if (c != challenge || g1 == g2) return false;
  // Two different responses would let each equation hold with its own
  // secret (pk_l = g1*x, pk_r = g2*x' with x != x'): the proof would then show
  // nothing about equal logarithms. An honest prover writes one value twice.
  return challenge_response_l == challenge_response_r;
}

template <class H>
json::Value DLogEqProof<H>::to_json() const {
  json::Value v = json::Value::object();
  v.set("pk_l", point_json(pk_l));
  v.set("pk_r", point_json(pk_r));
  v.set("pk_t_rand_commitment_l", point_json(pk_t_rand_commitment_l));
  v.set("pk_t_rand_commitment_r", point_json(pk_t_rand_commitment_r));
  v.set("challenge_response_l", scalar_json(challenge_response_l));
  v.set("challenge_response_r", scalar_json(challenge_response_r));
  v.set("challenge", scalar_json(challenge));
  return v;
}

template <class H>
DLogEqProof<H> DLogEqProof<H>::read(json::Reader& r) {
  static constexpr std::array<std::string_view, 7> kFields = {
      "pk_l", "pk_r", "pk_t_rand_commitment_l", "pk_t_rand_commitment_r", "challenge_response_l",
      "challenge_response_r", "challenge"};
  DLogEqProof p;
  json::read_struct(r, "DLogEqProof", kFields, [&](size_t i, json::Reader& rd) {
    switch (i) {
      case 0: p.pk_l = read_point(rd); break;
      case 1: p.pk_r = read_point(rd); break;
      case 2: p.pk_t_rand_commitment_l = read_point(rd); break;
      case 3: p.pk_t_rand_commitment_r = read_point(rd); break;
      case 4: p.challenge_response_l = read_scalar(rd); break;
      case 5: p.challenge_response_r = read_scalar(rd); break;
      default: p.challenge = read_scalar(rd); break;
    }
  });
  return p;
}

template <class H>
DLogEqProof<H> DLogEqProof<H>::from_text(std::string_view text) {
  return parse_record<DLogEqProof>(text);
}

template struct DLogEqProof<Sha256>;
template struct DLogEqProof<Sha512>;

}  // namespace nacrel::sigma
