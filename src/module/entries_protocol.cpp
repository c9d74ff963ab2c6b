// Bodies of the commitment, key and token, coordinate and diagnostic, and
// value-search functions.
#include "module/entries.hpp"

#include <vector>

#include "group/bigint.hpp"
#include "group/encoding.hpp"
#include "group/hash_to_curve.hpp"
#include "group/sha2.hpp"

namespace nacrel::py {

// val*g + r*h; the product g*v first, so the sum keeps its label "scalar_mul".
PyObject* entry_commit(const Args& a) {
  const GHValue& gh = a.gh(2);
  Point c = gh.g * Scalar::from_i64(a.i32(0));
  c += gh.h * a.rand_r(1);
  return new_commit(c);
}

PyObject* entry_print_commit(const Args&) { not_implemented("print_commit"); }

PyObject* entry_add(const Args&) { not_implemented("add"); }

PyObject* entry_sub(const Args&) { not_implemented("sub"); }

PyObject* entry_add_value_commits(const Args&) { not_implemented("add_value_commits"); }

PyObject* entry_sub_value_commits(const Args&) { not_implemented("sub_value_commits"); }

PyObject* entry_from_str(const Args& a) { return new_commit(parse_string_to_scep256k1point(a.str(0))); }

PyObject* entry_to_token_from_str(const Args&) { not_implemented("to_token_from_str"); }

// The fixed pair: h the standard generator, g the hash to the curve of
// SHA-512 over the minimal big-endian bytes of 1.
PyObject* entry_gen_GH(const Args&) {
  std::vector<uint8_t> one = BigInt::one().to_bytes();
  std::array<uint8_t, 64> digest = sha512(one.data(), one.size());
  std::vector<uint8_t> input = BigInt::from_bytes(digest.data(), digest.size()).to_bytes();
  Point g = generate_random_point(input.data(), input.size());
  return new_gh(g, Point::generator());
}

PyObject* entry_gen_r(const Args&) { return new_rand_r(Scalar::random()); }

// A random non-zero secret sk and pk = h*sk.
PyObject* entry_gen_pb_sk(const Args& a) {
  Scalar sk = Scalar::random();
  return new_pbsk(sk, a.gh(0).h * sk);
}

PyObject* entry_regen_pb_sk(const Args&) { not_implemented("regen_pb_sk"); }

PyObject* entry_to_scalar_from_str(const Args&) { not_implemented("to_scalar_from_str"); }

PyObject* entry_print_token(const Args&) { not_implemented("print_token"); }

PyObject* entry_add_token(const Args&) { not_implemented("add_token"); }

PyObject* entry_sub_token(const Args&) { not_implemented("sub_token"); }

PyObject* entry_sub_commit_token(const Args&) { not_implemented("sub_commit_token"); }

PyObject* entry_add_commit_token(const Args&) { not_implemented("add_commit_token"); }

PyObject* entry_h_to_x(const Args&) { not_implemented("h_to_x"); }

PyObject* entry_g_to_x(const Args&) { not_implemented("g_to_x"); }

PyObject* entry_g_to_r(const Args&) { not_implemented("g_to_r"); }

PyObject* entry_p_to_x(const Args&) { not_implemented("p_to_x"); }

PyObject* entry_to_token_from_pk(const Args&) { not_implemented("to_token_from_pk"); }

PyObject* entry_get_brut_v(const Args&) { not_implemented("get_brut_v"); }

PyObject* entry_hash_test1(const Args&) { not_implemented("hash_test1"); }

PyObject* entry_hash_test2(const Args&) { not_implemented("hash_test2"); }

PyObject* entry_hash_test3(const Args&) { not_implemented("hash_test3"); }

PyObject* entry_gen_new_GH(const Args&) { not_implemented("gen_new_GH"); }

PyObject* entry_from_coords(const Args&) { not_implemented("from_coords"); }

PyObject* entry_get_y_coord(const Args&) { not_implemented("get_y_coord"); }

}  // namespace nacrel::py
