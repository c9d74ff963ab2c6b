// Bodies of the commitment, key and token, coordinate and diagnostic, and
// value-search functions.
#include "module/entries.hpp"

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "group/bigint.hpp"
#include "group/encoding.hpp"
#include "group/hash_to_curve.hpp"
#include "group/sha2.hpp"
#include "group/value_search.hpp"
#include "sigma/challenge.hpp"

namespace nacrel::py {

namespace {

// The point's four-line debug form and a line break, on fd 1.
void print_point(const Point& p) { stdout_write(p.debug_text() + "\n"); }

// "LABEL[", one line "    N," per byte of the uncompressed encoding, "]".
void print_uncompressed(const char* label, const Point& p) {
  const std::array<uint8_t, 64> enc = p.serialize_uncompressed();
  std::string out = std::string(label) + "[\n";
  for (uint8_t b : enc) out += "    " + std::to_string(b) + ",\n";
  out += "]\n";
  stdout_write(out);
}

// Prints each point's encoding under its label, then hashes them as the
// SHA-256 proof challenges do.
PyObject* hash_test(std::initializer_list<const Point*> points) {
  static const char* const kLabels[] = {"a1uncompressed", "a2uncompressed", "a3uncompressed"};
  size_t i = 0;
  for (const Point* p : points) print_uncompressed(kLabels[i++], *p);
  return new_str(parse_scep256k1scalar_to_string(challenge_scalar<Sha256>(points)));
}

}  // namespace

// Each constant-time product takes some 50 us, so every call that makes one
// runs it with the interpreter lock released; the additions, encodings and
// short decodings below cost a few microseconds and keep the lock.

// val*g + r*h in one constant-time two-term product (label "scalar_mul").
PyObject* entry_commit(const Args& a) {
  const GHValue& gh = a.gh(2);
  return new_commit(unlocked([&] { return lincomb_ct(gh.g, Scalar::from_i64(a.i32(0)), gh.h, a.rand_r(1)); }));
}

PyObject* entry_print_commit(const Args& a) {
  print_point(a.commit(0));
  return new_str("ok");
}

PyObject* entry_add(const Args& a) { return new_commit(a.commit(0) + a.commit(1)); }

PyObject* entry_sub(const Args& a) { return new_commit(a.commit(0) - a.commit(1)); }

// Texts are decoded with the lock released when one is long (unlocked_if_long).
PyObject* entry_add_value_commits(const Args& a) {
  return new_str(unlocked_if_long(a, [&] {
    const Point l = parse_string_to_scep256k1point(a.str(0));
    const Point r = parse_string_to_scep256k1point(a.str(1));
    return parse_scep256k1point_to_string(l + r);
  }));
}

PyObject* entry_sub_value_commits(const Args& a) {
  return new_str(unlocked_if_long(a, [&] {
    const Point l = parse_string_to_scep256k1point(a.str(0));
    const Point r = parse_string_to_scep256k1point(a.str(1));
    return parse_scep256k1point_to_string(l - r);
  }));
}

PyObject* entry_from_str(const Args& a) {
  return new_commit(unlocked_if_long(a, [&] { return parse_string_to_scep256k1point(a.str(0)); }));
}

PyObject* entry_to_token_from_str(const Args& a) {
  return new_token(unlocked_if_long(a, [&] { return parse_string_to_scep256k1point(a.str(0)); }));
}

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
  const Scalar sk = Scalar::random();
  return new_pbsk(sk, unlocked([&] { return a.gh(0).h * sk; }));
}

PyObject* entry_regen_pb_sk(const Args& a) {
  const Scalar& sk = a.rand_r(1);
  return new_pbsk(sk, unlocked([&] { return a.gh(0).h * sk; }));
}

PyObject* entry_to_scalar_from_str(const Args& a) {
  return new_rand_r(unlocked_if_long(a, [&] { return parse_string_to_scep256k1scalar(a.str(0)); }));
}

PyObject* entry_print_token(const Args& a) {
  print_point(a.token(0));
  return new_str("ok");
}

PyObject* entry_add_token(const Args& a) { return new_token(a.token(0) + a.token(1)); }

PyObject* entry_sub_token(const Args& a) { return new_token(a.token(0) - a.token(1)); }

PyObject* entry_sub_commit_token(const Args& a) { return new_commit(a.commit(0) - a.token(1)); }

PyObject* entry_add_commit_token(const Args& a) { return new_commit(a.commit(0) + a.token(1)); }

PyObject* entry_h_to_x(const Args& a) {
  return new_hx(unlocked([&] { return a.gh(0).h * a.rand_r(1); }));
}

PyObject* entry_g_to_x(const Args& a) {
  return new_commit(unlocked([&] { return a.gh(0).g * Scalar::from_i64(a.i32(1)); }));
}

PyObject* entry_g_to_r(const Args& a) {
  return new_commit(unlocked([&] { return a.gh(0).g * a.rand_r(1); }));
}

PyObject* entry_p_to_x(const Args& a) {
  return new_commit(unlocked([&] { return a.commit(0) * a.rand_r(1); }));
}

PyObject* entry_to_token_from_pk(const Args& a) {
  return new_token(unlocked([&] {
    const Point pk = parse_string_to_scep256k1point(a.str(0));
    return pk * a.rand_r(1);
  }));
}

PyObject* entry_get_brut_v(const Args& a) {
  return new_int(unlocked([&] {
    return recover_committed_value(a.commit(0), a.token(1), a.gh(2).g, a.pbsk(3).sk, a.i32(4));
  }));
}

PyObject* entry_hash_test1(const Args& a) { return hash_test({&a.commit(0)}); }

PyObject* entry_hash_test2(const Args& a) { return hash_test({&a.commit(0), &a.commit(1)}); }

PyObject* entry_hash_test3(const Args& a) { return hash_test({&a.commit(0), &a.commit(1), &a.commit(2)}); }

PyObject* entry_gen_new_GH(const Args& a) { return new_gh(a.commit(0), a.commit(1)); }

// Coordinates travel as scalar texts, so each is reduced mod r before the
// point is formed and checked against the curve equation.
PyObject* entry_from_coords(const Args& a) {
  return new_commit(unlocked_if_long(a, [&] {
    const Scalar x = parse_string_to_scep256k1scalar(a.str(0));
    const Scalar y = parse_string_to_scep256k1scalar(a.str(1));
    return Point::from_coords(x.to_bigint(), y.to_bigint());
  }));
}

PyObject* entry_get_y_coord(const Args& a) { return new_str(a.commit(0).y_coord().to_hex()); }

}  // namespace nacrel::py
