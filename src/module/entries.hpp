// One body per registered module function, called with the converted
// arguments in parameter order (see the parameter lists in registry.cpp).
// A body returns a new reference, or throws: nacrel::InternalFailure for a
// failed precondition, py::PythonErrorSet when a Python exception is set.
#pragma once

#include "module/binding.hpp"

namespace nacrel::py {

// Commitments, keys and tokens, coordinates and diagnostics, value search (entries_protocol.cpp).
PyObject* entry_commit(const Args& a);
PyObject* entry_print_commit(const Args& a);
PyObject* entry_add(const Args& a);
PyObject* entry_sub(const Args& a);
PyObject* entry_add_value_commits(const Args& a);
PyObject* entry_sub_value_commits(const Args& a);
PyObject* entry_from_str(const Args& a);
PyObject* entry_to_token_from_str(const Args& a);
PyObject* entry_gen_GH(const Args& a);
PyObject* entry_gen_r(const Args& a);
PyObject* entry_gen_pb_sk(const Args& a);
PyObject* entry_regen_pb_sk(const Args& a);
PyObject* entry_to_scalar_from_str(const Args& a);
PyObject* entry_print_token(const Args& a);
PyObject* entry_add_token(const Args& a);
PyObject* entry_sub_token(const Args& a);
PyObject* entry_sub_commit_token(const Args& a);
PyObject* entry_add_commit_token(const Args& a);
PyObject* entry_h_to_x(const Args& a);
PyObject* entry_g_to_x(const Args& a);
PyObject* entry_g_to_r(const Args& a);
PyObject* entry_p_to_x(const Args& a);
PyObject* entry_to_token_from_pk(const Args& a);
PyObject* entry_get_brut_v(const Args& a);
PyObject* entry_hash_test1(const Args& a);
PyObject* entry_hash_test2(const Args& a);
PyObject* entry_hash_test3(const Args& a);
PyObject* entry_gen_new_GH(const Args& a);
PyObject* entry_from_coords(const Args& a);
PyObject* entry_get_y_coord(const Args& a);

// Sigma proofs (entries_sigma.cpp).
PyObject* entry_sigma_eq_dlog_proof(const Args& a);
PyObject* entry_sigma_eq_dlog_proof_sha256(const Args& a);
PyObject* entry_sigma_eq_dlog_verify(const Args& a);
PyObject* entry_sigma_eq_dlog_verify_sha256(const Args& a);
PyObject* entry_consistency_proof(const Args& a);
PyObject* entry_consistency_proof_verify(const Args& a);
PyObject* entry_sigma_dlog_proof_explicit(const Args& a);
PyObject* entry_sigma_dlog_proof_explicit_verify(const Args& a);
PyObject* entry_sigma_dlog_proof_explicit_sha256(const Args& a);
PyObject* entry_sigma_dlog_proof_explicit_verify_sha256(const Args& a);
PyObject* entry_sigma_eq_dlog_same_secret(const Args& a);
PyObject* entry_sigma_eq_dlog_verify_same_secret(const Args& a);
PyObject* entry_sigma_eq_dlog_ped_proof(const Args& a);
PyObject* entry_sigma_eq_dlog_ped_verify(const Args& a);
PyObject* entry_consistency_proof_with_witness(const Args& a);
PyObject* entry_sigma_eq_dlog_ped_proof_with_witness(const Args& a);
PyObject* entry_sigma_dlog_proof_explicit_sha256_with_witness(const Args& a);

// Range proofs (entries_range.cpp).
PyObject* entry_range_proof_test(const Args& a);
PyObject* entry_range_proof_single(const Args& a);
PyObject* entry_range_proof_single_verify(const Args& a);
PyObject* entry_ghvec(const Args& a);

// The frame itself (module.cpp).
PyObject* entry_curve_name(const Args& a);

}  // namespace nacrel::py
