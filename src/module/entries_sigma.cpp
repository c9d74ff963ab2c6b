// Bodies of the sigma-proof functions: unpack the class arguments, run the
// proof operation of the core with the interpreter lock released, convert the
// text or truth value back.
#include "module/entries.hpp"

#include "sigma/api.hpp"

namespace nacrel::py {

namespace {

constexpr bool kSha512 = true;
constexpr bool kSha256 = false;

}  // namespace

// sum_tokens: Token, pbsk: PbSk, gh: GH, h_sumR: Commit
PyObject* entry_sigma_eq_dlog_proof(const Args& a) {
  return new_str(unlocked([&] {
    return sigma::dlog_eq_key_prove(kSha512, a.token(0), a.pbsk(1).sk, a.gh(2).h, a.commit(3));
  }));
}

PyObject* entry_sigma_eq_dlog_proof_sha256(const Args& a) {
  return new_str(unlocked([&] {
    return sigma::dlog_eq_key_prove(kSha256, a.token(0), a.pbsk(1).sk, a.gh(2).h, a.commit(3));
  }));
}

// ser_dlog_eq_proof: str, gh: GH, h_sumR: Commit, sum_tokens: Token
PyObject* entry_sigma_eq_dlog_verify(const Args& a) {
  return new_bool(unlocked([&] {
    return sigma::dlog_eq_key_verify(kSha512, a.str(0), a.gh(1).h, a.commit(2), a.token(3));
  }));
}

PyObject* entry_sigma_eq_dlog_verify_sha256(const Args& a) {
  return new_bool(unlocked([&] {
    return sigma::dlog_eq_key_verify(kSha256, a.str(0), a.gh(1).h, a.commit(2), a.token(3));
  }));
}

// val: i32, r: rand_r, gh: GH, ped_cm: Commit, token: Token, pubkey: str
PyObject* entry_consistency_proof(const Args& a) {
  const GHValue& gh = a.gh(2);
  return new_str(unlocked([&] {
    return sigma::consistency_prove(a.i32(0), a.rand_r(1), gh.g, gh.h, a.commit(3), a.token(4), a.str(5));
  }));
}

PyObject* entry_consistency_proof_with_witness(const Args& a) {
  const GHValue& gh = a.gh(2);
  return new_str(unlocked([&] {
    return sigma::consistency_prove_with_witness(a.i32(0), a.rand_r(1), gh.g, gh.h, a.commit(3), a.token(4), a.str(5));
  }));
}

// proof: str, gh: GH, ped_cm: Commit, token: Token, pubkey: str
PyObject* entry_consistency_proof_verify(const Args& a) {
  const GHValue& gh = a.gh(1);
  return new_bool(unlocked([&] {
    return sigma::consistency_verify(a.str(0), gh.g, gh.h, a.commit(2), a.token(3), a.str(4));
  }));
}

// sum_tokens: Token (takes no part), pbsk: PbSk, h_sumR: Commit
PyObject* entry_sigma_dlog_proof_explicit(const Args& a) {
  return new_str(unlocked([&] { return sigma::dlog_explicit_prove(kSha512, a.pbsk(1).sk, a.commit(2)); }));
}

PyObject* entry_sigma_dlog_proof_explicit_sha256(const Args& a) {
  return new_str(unlocked([&] { return sigma::dlog_explicit_prove(kSha256, a.pbsk(1).sk, a.commit(2)); }));
}

PyObject* entry_sigma_dlog_proof_explicit_sha256_with_witness(const Args& a) {
  return new_str(unlocked([&] { return sigma::dlog_explicit_prove_with_witness(a.pbsk(1).sk, a.commit(2)); }));
}

// ser_proof: str, h_sumR: Commit, sum_tokens: Token
PyObject* entry_sigma_dlog_proof_explicit_verify(const Args& a) {
  return new_bool(unlocked([&] { return sigma::dlog_explicit_verify(kSha512, a.str(0), a.commit(1), a.token(2)); }));
}

PyObject* entry_sigma_dlog_proof_explicit_verify_sha256(const Args& a) {
  return new_bool(unlocked([&] { return sigma::dlog_explicit_verify(kSha256, a.str(0), a.commit(1), a.token(2)); }));
}

// v: i32, gh1: GH, gh2: GH
PyObject* entry_sigma_eq_dlog_same_secret(const Args& a) {
  return new_str(unlocked([&] { return sigma::dlog_eq_same_secret_prove(a.i32(0), a.gh(1).g, a.gh(2).g); }));
}

// ser_dlog_eq_proof: str, gh1: GH, gh2: GH
PyObject* entry_sigma_eq_dlog_verify_same_secret(const Args& a) {
  return new_bool(unlocked([&] { return sigma::dlog_eq_same_secret_verify(a.str(0), a.gh(1).g, a.gh(2).g); }));
}

// v: i32, gh1: GH, gh2: GH (takes no part), pk: str
PyObject* entry_sigma_eq_dlog_ped_proof(const Args& a) {
  const GHValue& gh1 = a.gh(1);
  return new_str(unlocked([&] { return sigma::dlog_eq_ped_prove(a.i32(0), gh1.g, gh1.h, a.str(3)); }));
}

PyObject* entry_sigma_eq_dlog_ped_proof_with_witness(const Args& a) {
  const GHValue& gh1 = a.gh(1);
  return new_str(unlocked([&] { return sigma::dlog_eq_ped_prove_with_witness(a.i32(0), gh1.g, gh1.h, a.str(3)); }));
}

// ser_dlog_eq_proof: str, gh1: GH, gh2: GH (takes no part)
PyObject* entry_sigma_eq_dlog_ped_verify(const Args& a) {
  const GHValue& gh1 = a.gh(1);
  return new_bool(unlocked([&] { return sigma::dlog_eq_ped_verify(a.str(0), gh1.g, gh1.h); }));
}

}  // namespace nacrel::py
