#include "sigma/dlog_explicit.hpp"

#include <array>

#include "group/encoding.hpp"
#include "group/secret.hpp"
#include "sigma/challenge.hpp"
#include "sigma/record.hpp"

namespace nacrel::sigma {

template <class H>
DLogProofExplicit<H> DLogProofExplicit<H>::prove(const Scalar& x, const Point& g) {
  const Wiped<Scalar> k(Scalar::random());
  // A, pk and the response are the proof, published as they are made.
  Point a = g * *k;
  Point y = g * x;
  ct::publish(a);
  ct::publish(y);
  const Scalar c = challenge_scalar<H>({&a, &g, &y});
  Scalar s = *k - c * x;
  ct::publish(s);
  return {y, a, s};
}

template <class H>
bool DLogProofExplicit<H>::verify(const Point& g, const Point& pk_expected) const {
  const Scalar c = challenge_scalar<H>({&pk_t_rand_commitment, &g, &pk});
  const Point bases[2] = {g, pk};
  const Scalar exps[2] = {challenge_response, c};
  return msm_public(bases, exps, 2) == pk_t_rand_commitment && pk == pk_expected;
}

template <class H>
json::Value DLogProofExplicit<H>::to_json() const {
  json::Value v = json::Value::object();
  v.set("pk", point_json(pk));
  v.set("pk_t_rand_commitment", point_json(pk_t_rand_commitment));
  v.set("challenge_response", scalar_json(challenge_response));
  return v;
}

template <class H>
DLogProofExplicit<H> DLogProofExplicit<H>::read(json::Reader& r) {
  static constexpr std::array<std::string_view, 3> kFields = {"pk", "pk_t_rand_commitment", "challenge_response"};
  DLogProofExplicit p;
  json::read_struct(r, "DLogProofExplicit", kFields, [&](size_t i, json::Reader& rd) {
    switch (i) {
      case 0: p.pk = read_point(rd); break;
      case 1: p.pk_t_rand_commitment = read_point(rd); break;
      default: p.challenge_response = read_scalar(rd); break;
    }
  });
  return p;
}

template <class H>
DLogProofExplicit<H> DLogProofExplicit<H>::from_text(std::string_view text) {
  return parse_record<DLogProofExplicit>(text);
}

template struct DLogProofExplicit<Sha256>;
template struct DLogProofExplicit<Sha512>;

json::Value DLogProofExplicitMulWitness::to_json() const {
  json::Value v = json::Value::object();
  v.set("chalrsph2r", point_json(chalrsph2r));
  v.set("challengepk", point_json(challengepk));
  return v;
}

DLogProofExplicitMulWitness generate_mul_witness(const DLogProofExplicit<Sha256>& proof, const Point& g) {
  const Scalar c = challenge_scalar<Sha256>({&proof.pk_t_rand_commitment, &g, &proof.pk});
  return {g.mul_public(proof.challenge_response), proof.pk.mul_public(c)};
}

}  // namespace nacrel::sigma
