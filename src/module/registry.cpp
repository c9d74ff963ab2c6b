// The registration table: the 52 module functions in registration order,
// each with its parameter names and kinds. Filling in a body never touches
// this file.
#include "module/registry.hpp"

#include <array>
#include <utility>

#include "module/entries.hpp"

namespace nacrel::py {

namespace {

using K = Kind;

constexpr Param p_range_proof_test[] = {{"n_bit", K::Usize}, {"val", K::I32}};
constexpr Param p_commit[] = {{"val", K::I32}, {"r", K::RandR}, {"gh", K::GH}};
constexpr Param p_print_commit[] = {{"com", K::Commit}};
constexpr Param p_add[] = {{"com_l", K::Commit}, {"com_r", K::Commit}};
constexpr Param p_sub[] = {{"com_l", K::Commit}, {"com_r", K::Commit}};
constexpr Param p_add_value_commits[] = {{"com_l", K::Str}, {"com_r", K::Str}};
constexpr Param p_sub_value_commits[] = {{"com_l", K::Str}, {"com_r", K::Str}};
constexpr Param p_from_str[] = {{"str_point", K::Str}};
constexpr Param p_to_token_from_str[] = {{"str_point", K::Str}};
constexpr Param p_range_proof_single[] = {{"n_bit", K::Usize}, {"val", K::I32}, {"gh", K::GH}, {"r", K::RandR}};
constexpr Param p_gen_pb_sk[] = {{"gh", K::GH}};
constexpr Param p_regen_pb_sk[] = {{"gh", K::GH}, {"sk", K::RandR}};
constexpr Param p_to_scalar_from_str[] = {{"str_scalar", K::Str}};
constexpr Param p_print_token[] = {{"token", K::Token}};
constexpr Param p_add_token[] = {{"token_l", K::Token}, {"token_r", K::Token}};
constexpr Param p_sub_token[] = {{"token_l", K::Token}, {"token_r", K::Token}};
constexpr Param p_sub_commit_token[] = {{"commit_l", K::Commit}, {"token_r", K::Token}};
constexpr Param p_add_commit_token[] = {{"commit_l", K::Commit}, {"token_r", K::Token}};
constexpr Param p_h_to_x[] = {{"gh", K::GH}, {"x", K::RandR}};
constexpr Param p_g_to_x[] = {{"gh", K::GH}, {"val", K::I32}};
constexpr Param p_g_to_r[] = {{"gh", K::GH}, {"r", K::RandR}};
constexpr Param p_p_to_x[] = {{"p", K::Commit}, {"x", K::RandR}};
constexpr Param p_sigma_eq_dlog_proof[] = {{"sum_tokens", K::Token}, {"pbsk", K::PbSk}, {"gh", K::GH}, {"h_sumR", K::Commit}};
constexpr Param p_sigma_eq_dlog_proof_sha256[] = {{"sum_tokens", K::Token}, {"pbsk", K::PbSk}, {"gh", K::GH}, {"h_sumR", K::Commit}};
constexpr Param p_to_token_from_pk[] = {{"pk_json_point", K::Str}, {"r", K::RandR}};
constexpr Param p_sigma_eq_dlog_verify[] = {{"ser_dlog_eq_proof", K::Str}, {"gh", K::GH}, {"h_sumR", K::Commit}, {"sum_tokens", K::Token}};
constexpr Param p_sigma_eq_dlog_verify_sha256[] = {{"ser_dlog_eq_proof", K::Str}, {"gh", K::GH}, {"h_sumR", K::Commit}, {"sum_tokens", K::Token}};
constexpr Param p_range_proof_single_verify[] = {{"range_proof", K::Str}, {"n_bit", K::Usize}, {"gh", K::GH}, {"ped_cm", K::Commit}};
constexpr Param p_consistency_proof[] = {{"val", K::I32}, {"r", K::RandR}, {"gh", K::GH}, {"ped_cm", K::Commit}, {"token", K::Token}, {"pubkey", K::Str}};
constexpr Param p_consistency_proof_verify[] = {{"proof", K::Str}, {"gh", K::GH}, {"ped_cm", K::Commit}, {"token", K::Token}, {"pubkey", K::Str}};
constexpr Param p_sigma_dlog_proof_explicit[] = {{"sum_tokens", K::Token}, {"pbsk", K::PbSk}, {"h_sumR", K::Commit}};
constexpr Param p_sigma_dlog_proof_explicit_verify[] = {{"ser_proof", K::Str}, {"h_sumR", K::Commit}, {"sum_tokens", K::Token}};
constexpr Param p_sigma_dlog_proof_explicit_sha256[] = {{"sum_tokens", K::Token}, {"pbsk", K::PbSk}, {"h_sumR", K::Commit}};
constexpr Param p_sigma_dlog_proof_explicit_verify_sha256[] = {{"ser_proof", K::Str}, {"h_sumR", K::Commit}, {"sum_tokens", K::Token}};
constexpr Param p_get_brut_v[] = {{"c", K::Commit}, {"t", K::Token}, {"gh", K::GH}, {"pbsk", K::PbSk}, {"range", K::I32}};
constexpr Param p_hash_test1[] = {{"a1", K::Commit}};
constexpr Param p_hash_test2[] = {{"a1", K::Commit}, {"a2", K::Commit}};
constexpr Param p_hash_test3[] = {{"a1", K::Commit}, {"a2", K::Commit}, {"a3", K::Commit}};
constexpr Param p_ghvec[] = {{"n_bit", K::Usize}};
constexpr Param p_gen_new_GH[] = {{"g", K::Commit}, {"h", K::Commit}};
constexpr Param p_sigma_eq_dlog_same_secret[] = {{"v", K::I32}, {"gh1", K::GH}, {"gh2", K::GH}};
constexpr Param p_sigma_eq_dlog_verify_same_secret[] = {{"ser_dlog_eq_proof", K::Str}, {"gh1", K::GH}, {"gh2", K::GH}};
constexpr Param p_sigma_eq_dlog_ped_proof[] = {{"v", K::I32}, {"gh1", K::GH}, {"gh2", K::GH}, {"pk", K::Str}};
constexpr Param p_sigma_eq_dlog_ped_verify[] = {{"ser_dlog_eq_proof", K::Str}, {"gh1", K::GH}, {"gh2", K::GH}};
constexpr Param p_consistency_proof_with_witness[] = {{"val", K::I32}, {"r", K::RandR}, {"gh", K::GH}, {"ped_cm", K::Commit}, {"token", K::Token}, {"pubkey", K::Str}};
constexpr Param p_sigma_eq_dlog_ped_proof_with_witness[] = {{"v", K::I32}, {"gh1", K::GH}, {"gh2", K::GH}, {"pk", K::Str}};
constexpr Param p_sigma_dlog_proof_explicit_sha256_with_witness[] = {{"sum_tokens", K::Token}, {"pbsk", K::PbSk}, {"h_sumR", K::Commit}};
constexpr Param p_from_coords[] = {{"x_", K::Str}, {"y_", K::Str}};
constexpr Param p_get_y_coord[] = {{"a1", K::Commit}};

constexpr FunctionSpec kFunctions[] = {
    {"range_proof_test", p_range_proof_test, 2, &entry_range_proof_test},
    {"commit", p_commit, 3, &entry_commit},
    {"print_commit", p_print_commit, 1, &entry_print_commit},
    {"add", p_add, 2, &entry_add},
    {"sub", p_sub, 2, &entry_sub},
    {"add_value_commits", p_add_value_commits, 2, &entry_add_value_commits},
    {"sub_value_commits", p_sub_value_commits, 2, &entry_sub_value_commits},
    {"from_str", p_from_str, 1, &entry_from_str},
    {"to_token_from_str", p_to_token_from_str, 1, &entry_to_token_from_str},
    {"gen_GH", nullptr, 0, &entry_gen_GH},
    {"gen_r", nullptr, 0, &entry_gen_r},
    {"range_proof_single", p_range_proof_single, 4, &entry_range_proof_single},
    {"gen_pb_sk", p_gen_pb_sk, 1, &entry_gen_pb_sk},
    {"regen_pb_sk", p_regen_pb_sk, 2, &entry_regen_pb_sk},
    {"to_scalar_from_str", p_to_scalar_from_str, 1, &entry_to_scalar_from_str},
    {"print_token", p_print_token, 1, &entry_print_token},
    {"add_token", p_add_token, 2, &entry_add_token},
    {"sub_token", p_sub_token, 2, &entry_sub_token},
    {"sub_commit_token", p_sub_commit_token, 2, &entry_sub_commit_token},
    {"add_commit_token", p_add_commit_token, 2, &entry_add_commit_token},
    {"h_to_x", p_h_to_x, 2, &entry_h_to_x},
    {"g_to_x", p_g_to_x, 2, &entry_g_to_x},
    {"g_to_r", p_g_to_r, 2, &entry_g_to_r},
    {"p_to_x", p_p_to_x, 2, &entry_p_to_x},
    {"sigma_eq_dlog_proof", p_sigma_eq_dlog_proof, 4, &entry_sigma_eq_dlog_proof},
    {"sigma_eq_dlog_proof_sha256", p_sigma_eq_dlog_proof_sha256, 4, &entry_sigma_eq_dlog_proof_sha256},
    {"to_token_from_pk", p_to_token_from_pk, 2, &entry_to_token_from_pk},
    {"sigma_eq_dlog_verify", p_sigma_eq_dlog_verify, 4, &entry_sigma_eq_dlog_verify},
    {"sigma_eq_dlog_verify_sha256", p_sigma_eq_dlog_verify_sha256, 4, &entry_sigma_eq_dlog_verify_sha256},
    {"range_proof_single_verify", p_range_proof_single_verify, 4, &entry_range_proof_single_verify},
    {"consistency_proof", p_consistency_proof, 6, &entry_consistency_proof},
    {"consistency_proof_verify", p_consistency_proof_verify, 5, &entry_consistency_proof_verify},
    {"sigma_dlog_proof_explicit", p_sigma_dlog_proof_explicit, 3, &entry_sigma_dlog_proof_explicit},
    {"sigma_dlog_proof_explicit_verify", p_sigma_dlog_proof_explicit_verify, 3, &entry_sigma_dlog_proof_explicit_verify},
    {"sigma_dlog_proof_explicit_sha256", p_sigma_dlog_proof_explicit_sha256, 3, &entry_sigma_dlog_proof_explicit_sha256},
    {"sigma_dlog_proof_explicit_verify_sha256", p_sigma_dlog_proof_explicit_verify_sha256, 3, &entry_sigma_dlog_proof_explicit_verify_sha256},
    {"get_brut_v", p_get_brut_v, 5, &entry_get_brut_v},
    {"hash_test1", p_hash_test1, 1, &entry_hash_test1},
    {"hash_test2", p_hash_test2, 2, &entry_hash_test2},
    {"hash_test3", p_hash_test3, 3, &entry_hash_test3},
    {"curve_name", nullptr, 0, &entry_curve_name},
    {"ghvec", p_ghvec, 1, &entry_ghvec},
    {"gen_new_GH", p_gen_new_GH, 2, &entry_gen_new_GH},
    {"sigma_eq_dlog_same_secret", p_sigma_eq_dlog_same_secret, 3, &entry_sigma_eq_dlog_same_secret},
    {"sigma_eq_dlog_verify_same_secret", p_sigma_eq_dlog_verify_same_secret, 3, &entry_sigma_eq_dlog_verify_same_secret},
    {"sigma_eq_dlog_ped_proof", p_sigma_eq_dlog_ped_proof, 4, &entry_sigma_eq_dlog_ped_proof},
    {"sigma_eq_dlog_ped_verify", p_sigma_eq_dlog_ped_verify, 3, &entry_sigma_eq_dlog_ped_verify},
    {"consistency_proof_with_witness", p_consistency_proof_with_witness, 6, &entry_consistency_proof_with_witness},
    {"sigma_eq_dlog_ped_proof_with_witness", p_sigma_eq_dlog_ped_proof_with_witness, 4, &entry_sigma_eq_dlog_ped_proof_with_witness},
    {"sigma_dlog_proof_explicit_sha256_with_witness", p_sigma_dlog_proof_explicit_sha256_with_witness, 3, &entry_sigma_dlog_proof_explicit_sha256_with_witness},
    {"from_coords", p_from_coords, 2, &entry_from_coords},
    {"get_y_coord", p_get_y_coord, 1, &entry_get_y_coord},
};

constexpr size_t kCount = sizeof(kFunctions) / sizeof(kFunctions[0]);
static_assert(kCount == 52, "the module registers 52 functions");

template <size_t I>
PyObject* trampoline(PyObject*, PyObject* args, PyObject* kwargs) {
  return call_function(kFunctions[I], args, kwargs);
}

template <size_t I>
PyObject* trampoline_noargs(PyObject*, PyObject*) {
  return call_function_noargs(kFunctions[I]);
}

template <size_t I>
PyMethodDef method_def() {
  static_assert(kFunctions[I].n_params <= kMaxParams);
  if constexpr (kFunctions[I].n_params == 0) {
    return {kFunctions[I].name, &trampoline_noargs<I>, METH_NOARGS, nullptr};
  } else {
    return {kFunctions[I].name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&trampoline<I>)),
            METH_VARARGS | METH_KEYWORDS, nullptr};
  }
}

template <size_t... I>
std::array<PyMethodDef, kCount> method_defs(std::index_sequence<I...>) {
  return {method_def<I>()...};
}

// The interpreter keeps pointers to these definitions for the life of the
// function objects, so they live in static storage.
std::array<PyMethodDef, kCount> g_defs = method_defs(std::make_index_sequence<kCount>{});

}  // namespace

PyMethodDef* function_defs(size_t& n) {
  n = kCount;
  return g_defs.data();
}

}  // namespace nacrel::py
