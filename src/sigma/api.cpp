#include "sigma/api.hpp"

#include "group/encoding.hpp"
#include "group/error.hpp"
#include "group/json.hpp"
#include "group/secret.hpp"
#include "group/sha2.hpp"
#include "sigma/consistency.hpp"
#include "sigma/dlog_eq.hpp"
#include "sigma/dlog_eq_ped.hpp"
#include "sigma/dlog_explicit.hpp"

namespace nacrel::sigma {

namespace {

template <class H>
std::string dlog_eq_key_prove_h(const Point& sum_tokens, const Scalar& sk, const Point& h, const Point& h_sumR) {
  auto proof = DLogEqProof<H>::prove(sk, h_sumR, h);
  ensure(proof.pk_l == sum_tokens, "false");
  return proof.to_text();
}

template <class H>
bool dlog_eq_key_verify_h(std::string_view text, const Point& h, const Point& h_sumR, const Point& sum_tokens) {
  auto proof = DLogEqProof<H>::from_text(text);
  const bool ok = proof.verify(h_sumR, h);
  ensure(proof.pk_l == sum_tokens, "false");
  return ok;
}

}  // namespace

std::string dlog_explicit_prove(bool use_sha512, const Scalar& sk, const Point& h_sumR) {
  if (use_sha512) return DLogProofExplicit<Sha512>::prove(sk, h_sumR).to_text();
  return DLogProofExplicit<Sha256>::prove(sk, h_sumR).to_text();
}

std::string dlog_explicit_prove_with_witness(const Scalar& sk, const Point& h_sumR) {
  auto proof = DLogProofExplicit<Sha256>::prove(sk, h_sumR);
  auto w = generate_mul_witness(proof, h_sumR);
  return json::write_pretty(json::merge_sorted(proof.to_json(), w.to_json()));
}

bool dlog_explicit_verify(bool use_sha512, std::string_view text, const Point& h_sumR, const Point& sum_tokens) {
  if (use_sha512) return DLogProofExplicit<Sha512>::from_text(text).verify(h_sumR, sum_tokens);
  return DLogProofExplicit<Sha256>::from_text(text).verify(h_sumR, sum_tokens);
}

std::string dlog_eq_key_prove(bool use_sha512, const Point& sum_tokens, const Scalar& sk, const Point& h,
                              const Point& h_sumR) {
  return use_sha512 ? dlog_eq_key_prove_h<Sha512>(sum_tokens, sk, h, h_sumR)
                    : dlog_eq_key_prove_h<Sha256>(sum_tokens, sk, h, h_sumR);
}

bool dlog_eq_key_verify(bool use_sha512, std::string_view text, const Point& h, const Point& h_sumR,
                        const Point& sum_tokens) {
  return use_sha512 ? dlog_eq_key_verify_h<Sha512>(text, h, h_sumR, sum_tokens)
                    : dlog_eq_key_verify_h<Sha256>(text, h, h_sumR, sum_tokens);
}

// The values below are secrets; their scalars are wiped after use.

std::string dlog_eq_same_secret_prove(int32_t v, const Point& g1, const Point& g2) {
  const Wiped<Scalar> x(Scalar::from_i64(v));
  return DLogEqProof<Sha256>::prove(*x, g1, g2).to_text();
}

bool dlog_eq_same_secret_verify(std::string_view text, const Point& g1, const Point& g2) {
  return DLogEqProof<Sha256>::from_text(text).verify(g1, g2);
}

std::string dlog_eq_ped_prove(int32_t v, const Point& g, const Point& h, std::string_view pk_text) {
  const Point pk = parse_string_to_scep256k1point(pk_text);
  const Wiped<Scalar> x(Scalar::from_i64(v));
  return DLogEqProofPed::prove(*x, g, h, pk).to_text();
}

std::string dlog_eq_ped_prove_with_witness(int32_t v, const Point& g, const Point& h, std::string_view pk_text) {
  const Point pk = parse_string_to_scep256k1point(pk_text);
  const Wiped<Scalar> x(Scalar::from_i64(v));
  auto proof = DLogEqProofPed::prove(*x, g, h, pk);
  auto w = DLogEqProofPedMulWitness::of(proof, g, h);
  return json::write_pretty(json::merge_sorted(proof.to_json(), w.to_json()));
}

bool dlog_eq_ped_verify(std::string_view text, const Point& g, const Point& h) {
  return DLogEqProofPed::from_text(text).verify(g, h);
}

std::string consistency_prove(int32_t val, const Scalar& r, const Point& g, const Point& h, const Point& cm,
                              const Point& token, std::string_view pubkey_text) {
  const Wiped<Scalar> m(Scalar::from_i64(val));
  const Point pk = parse_string_to_scep256k1point(pubkey_text);
  return ConsistencyProof::prove(*m, r, g, h, cm, pk, token).to_text();
}

std::string consistency_prove_with_witness(int32_t val, const Scalar& r, const Point& g, const Point& h,
                                           const Point& cm, const Point& token, std::string_view pubkey_text) {
  const Wiped<Scalar> m(Scalar::from_i64(val));
  const Point pk = parse_string_to_scep256k1point(pubkey_text);
  auto proof = ConsistencyProof::prove(*m, r, g, h, cm, pk, token);
  auto w = ConsistencyProofMulWitness::of(proof, *m, r, g, h, pk, token);
  return json::write_pretty(json::merge_sorted(proof.to_json(), w.to_json()));
}

bool consistency_verify(std::string_view text, const Point& g, const Point& h, const Point& cm, const Point& token,
                        std::string_view pubkey_text) {
  auto proof = ConsistencyProof::from_text(text);
  const Point pk = parse_string_to_scep256k1point(pubkey_text);
  return proof.verify(g, h, cm, pk, token);
}

}  // namespace nacrel::sigma
