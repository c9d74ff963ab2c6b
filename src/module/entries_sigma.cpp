// Bodies of the sigma-proof functions.
#include "module/entries.hpp"

namespace nacrel::py {

PyObject* entry_sigma_eq_dlog_proof(const Args&) { not_implemented("sigma_eq_dlog_proof"); }

PyObject* entry_sigma_eq_dlog_proof_sha256(const Args&) { not_implemented("sigma_eq_dlog_proof_sha256"); }

PyObject* entry_sigma_eq_dlog_verify(const Args&) { not_implemented("sigma_eq_dlog_verify"); }

PyObject* entry_sigma_eq_dlog_verify_sha256(const Args&) { not_implemented("sigma_eq_dlog_verify_sha256"); }

PyObject* entry_consistency_proof(const Args&) { not_implemented("consistency_proof"); }

PyObject* entry_consistency_proof_verify(const Args&) { not_implemented("consistency_proof_verify"); }

PyObject* entry_sigma_dlog_proof_explicit(const Args&) { not_implemented("sigma_dlog_proof_explicit"); }

PyObject* entry_sigma_dlog_proof_explicit_verify(const Args&) { not_implemented("sigma_dlog_proof_explicit_verify"); }

PyObject* entry_sigma_dlog_proof_explicit_sha256(const Args&) { not_implemented("sigma_dlog_proof_explicit_sha256"); }

PyObject* entry_sigma_dlog_proof_explicit_verify_sha256(const Args&) { not_implemented("sigma_dlog_proof_explicit_verify_sha256"); }

PyObject* entry_sigma_eq_dlog_same_secret(const Args&) { not_implemented("sigma_eq_dlog_same_secret"); }

PyObject* entry_sigma_eq_dlog_verify_same_secret(const Args&) { not_implemented("sigma_eq_dlog_verify_same_secret"); }

PyObject* entry_sigma_eq_dlog_ped_proof(const Args&) { not_implemented("sigma_eq_dlog_ped_proof"); }

PyObject* entry_sigma_eq_dlog_ped_verify(const Args&) { not_implemented("sigma_eq_dlog_ped_verify"); }

PyObject* entry_consistency_proof_with_witness(const Args&) { not_implemented("consistency_proof_with_witness"); }

PyObject* entry_sigma_eq_dlog_ped_proof_with_witness(const Args&) { not_implemented("sigma_eq_dlog_ped_proof_with_witness"); }

PyObject* entry_sigma_dlog_proof_explicit_sha256_with_witness(const Args&) { not_implemented("sigma_dlog_proof_explicit_sha256_with_witness"); }

}  // namespace nacrel::py
