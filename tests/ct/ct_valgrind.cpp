// Constant-time check under valgrind memcheck: the secret inputs are marked
// undefined, so any conditional jump or memory index that depends on them is
// reported as use of uninitialised values. Run as
//   valgrind --error-exitcode=1 ./ct_valgrind
// Outside valgrind the client requests do nothing and the program only runs.
//
// Secrets come in two ways: inputs the caller holds (values, blindings, keys)
// are marked here with secret(); everything drawn from the random source
// (nonces, fresh blindings and keys) is marked inside the core through the
// ct hook at the draw. The core declassifies, through the other hook, what a
// protocol publishes at the point where it does; the checks below declassify
// with release() only what the caller itself makes public, each with a
// comment why. Every text a prover returns must come out fully defined: an
// undefined byte there is secret data leaving without being published.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "group/curve.hpp"
#include "group/encoding.hpp"
#include "group/field.hpp"
#include "group/point.hpp"
#include "group/scalar.hpp"
#include "group/secret.hpp"
#include "rangeproof/generators.hpp"
#include "rangeproof/range_proof.hpp"
#include "sigma/api.hpp"

using namespace nacrel;

namespace {

template <class T>
void secret(T& v) {
  VALGRIND_MAKE_MEM_UNDEFINED(&v, sizeof v);
}

template <class T>
void release(T& v) {
  VALGRIND_MAKE_MEM_DEFINED(&v, sizeof v);
}

void release(std::string& s) { VALGRIND_MAKE_MEM_DEFINED(s.data(), s.size()); }

void mark_secret(const void* p, size_t n) { VALGRIND_MAKE_MEM_UNDEFINED(p, n); }
void mark_public(const void* p, size_t n) { VALGRIND_MAKE_MEM_DEFINED(p, n); }

int g_failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    ++g_failures;
    std::printf("  FAILED: %s\n", what);
  }
}

// A prover's output text must be defined in full (see the top).
void expect_public(const std::string& text, const char* what) {
  if (VALGRIND_CHECK_MEM_IS_DEFINED(text.data(), text.size()) != 0) {
    ++g_failures;
    std::printf("  FAILED: %s returns secret-dependent bytes it did not publish\n", what);
  }
}

// A fresh random point, public.
Point public_point() {
  Scalar k = Scalar::random();
  release(k);
  return Point::generator().mul_public(k);
}

// Field products, scalars from secret bytes, arithmetic and inversion,
// products and sums with secret scalars, the complete addition.
void check_group(int round) {
  uint8_t bytes[32];
  os_random_bytes(bytes, sizeof bytes);
  if (round == 1) std::memset(bytes, 0, sizeof bytes);  // the zero scalar too
  secret(bytes);

  Fr k = Fr::from_be_bytes_reduce(bytes, sizeof bytes);
  Fr k2 = (k * k + k - Fr::one()) * -k;
  Fr kinv = k2.inverse_ct();

  G1Affine base = G1Affine::generator();
  G1Affine p = to_affine(mul_ct(base, k));
  G1Affine q = to_affine(mul_ct(p, kinv));  // p is secret-derived too

  // A sum of products with secret scalars, one of the points secret-derived.
  G1Affine bases[3] = {base, p, G1Affine::identity()};
  Fr ks[3] = {k, k2, kinv};
  G1Affine sum = to_affine(msm_ct(bases, ks, 3));
  // The complete addition, also of a point and its negation.
  G1Affine both = to_affine(add_ct(mul_ct(base, k), mul_ct(p, k2)));
  G1Affine none = to_affine(add_ct(mul_ct(p, k), neg(mul_ct(p, k))));
  // The same sum over public bases (shared-inversion affine additions).
  G1Affine pub[3] = {base, G1Affine::generator(), to_affine_vartime(mul_vartime(base, Fr::from_u64(7)))};
  pub[1].y = -pub[1].y;
  G1Affine sum_pub = to_affine(msm_ct_public_bases(pub, ks, 3));

  // Fq inversion and square of a secret-derived coordinate.
  Fq x = p.x.inverse_ct() * p.y.sqr() - p.x;

  release(k);
  release(kinv);
  release(k2);
  release(p);
  release(q);
  release(x);
  release(sum);
  release(both);
  release(none);
  release(ks);
  release(sum_pub);
  // Cross-check with the variable-time path on the released values.
  G1Affine want = to_affine_vartime(mul_vartime(base, k));
  G1Affine want_sum = to_affine_vartime(add(mul_vartime(base, k), mul_vartime(p, k2)));
  expect(p == want, "mul_ct");
  expect(sum == want_sum && both == want_sum && none.infinity, "msm_ct / add_ct");
  expect(k2.is_zero() || k2 * kinv == Fr::one(), "inverse_ct");
  expect(sum_pub == to_affine_vartime(msm_vartime(pub, ks, 3)), "msm_ct_public_bases");
}

// Key generation, commitments, the scalar from a secret value, products and
// the text of a secret scalar, as the Python functions run them.
void check_protocol_values(const Point& g, const Point& h) {
  // gen_pb_sk: a random key (secret from its draw) and pk = h*sk, published.
  Scalar sk = Scalar::random();
  Point pk = h * sk;
  release(pk);  // the public key

  // commit: val*g + r*h with a secret value of either sign and a secret blinding.
  for (int32_t v : {int32_t(1234), int32_t(-77), int32_t(0)}) {
    int32_t val = v;
    secret(val);
    Scalar m = Scalar::from_i64(val);
    Scalar r = Scalar::random();
    Point cm = lincomb_ct(g, m, h, r);
    Point token = pk * r;     // to_token
    Point gx = g * m;         // g_to_x
    release(cm);     // the commitment is published
    release(token);  // so is its token
    release(gx);
    release(m);
    Scalar r_pub = r;
    release(r_pub);
    expect(cm == g.mul_public(m) + h.mul_public(r_pub), "commit");
    expect(gx == g.mul_public(Scalar::from_i64(v)), "from_i64");
  }

  // rand_r.get / PbSk.get_sk print the secret: its hex digits without a table;
  // to_scalar_from_str reads such a text back.
  std::string text = parse_scep256k1scalar_to_string(sk);
  std::string upper = text;  // the same digits in upper case, secret as well
  VALGRIND_MAKE_MEM_DEFINED(upper.data(), upper.size());
  for (char& c : upper) c = char(c >= 'a' ? c - 32 : c);
  VALGRIND_MAKE_MEM_UNDEFINED(upper.data(), upper.size());
  Scalar back = parse_string_to_scep256k1scalar(text);
  Scalar back_upper = parse_string_to_scep256k1scalar(upper);
  Scalar sk_pub = sk;
  release(text);  // the caller asked for the text
  release(sk_pub);
  release(back);
  release(back_upper);
  std::array<uint8_t, 32> be = sk_pub.serialize();
  expect(text == hex_encode(be.data(), be.size()), "scalar text");
  expect(back == sk_pub && back_upper == sk_pub, "scalar text read back");
  expect(pk == h.mul_public(sk_pub), "key generation");

  // Sums of secret-derived points (the range self-test prints G*v + H*r) and
  // the products of value recovery, c*sk - t.
  int32_t v = 5;
  secret(v);
  Scalar m = Scalar::from_i64(v);
  Scalar r = Scalar::random();
  Point V = g * m;
  V += h * r;
  Point token = pk * r;
  Point target = V * sk - token;
  release(V);  // printed by the self-test
  release(target);
  release(token);
  release(m);
  release(r);
  expect(V == lincomb_ct(g, m, h, r), "sum of secret products");
  expect(target == (g * m) * sk_pub, "value recovery products");
}

// Every sigma prover behind the Python functions, both hashes where there
// are two, each proof checked by its verifier on the public data.
void check_sigma(const Point& g, const Point& h) {
  Scalar sk = Scalar::random();
  secret(sk);
  const Point h_sumR = public_point();
  Point sum_tokens = h_sumR * sk;
  Point pk = h * sk;
  release(sum_tokens);  // the summed tokens and the key are public inputs
  release(pk);
  std::string pk_text = parse_scep256k1point_to_string(pk);

  for (bool sha512 : {false, true}) {
    std::string e = sigma::dlog_explicit_prove(sha512, sk, h_sumR);
    expect_public(e, "dlog_explicit_prove");
    expect(sigma::dlog_explicit_verify(sha512, e, h_sumR, sum_tokens), "dlog_explicit_prove verifies");
    std::string q = sigma::dlog_eq_key_prove(sha512, sum_tokens, sk, h, h_sumR);
    expect_public(q, "dlog_eq_key_prove");
    expect(sigma::dlog_eq_key_verify(sha512, q, h, h_sumR, sum_tokens), "dlog_eq_key_prove verifies");
  }
  std::string ew = sigma::dlog_explicit_prove_with_witness(sk, h_sumR);
  expect_public(ew, "dlog_explicit_prove_with_witness");

  int32_t v = 77;
  secret(v);
  const Point g2 = public_point();
  std::string same = sigma::dlog_eq_same_secret_prove(v, g, g2);
  expect_public(same, "dlog_eq_same_secret_prove");
  expect(sigma::dlog_eq_same_secret_verify(same, g, g2), "dlog_eq_same_secret_prove verifies");

  std::string ped = sigma::dlog_eq_ped_prove(v, g, h, pk_text);
  expect_public(ped, "dlog_eq_ped_prove");
  expect(sigma::dlog_eq_ped_verify(ped, g, h), "dlog_eq_ped_prove verifies");
  std::string pedw = sigma::dlog_eq_ped_prove_with_witness(v, g, h, pk_text);
  expect_public(pedw, "dlog_eq_ped_prove_with_witness");

  int32_t val = -1234;
  secret(val);
  Scalar r = Scalar::random();
  Point cm = lincomb_ct(g, Scalar::from_i64(val), h, r);
  Point token = pk * r;
  release(cm);  // the commitment and its token are public inputs
  release(token);
  std::string cons = sigma::consistency_prove(val, r, g, h, cm, token, pk_text);
  expect_public(cons, "consistency_prove");
  expect(sigma::consistency_verify(cons, g, h, cm, token, pk_text), "consistency_prove verifies");
  std::string consw = sigma::consistency_prove_with_witness(val, r, g, h, cm, token, pk_text);
  expect_public(consw, "consistency_prove_with_witness");
}

// The range prover: the values' bits, the blindings, the nonce vectors, the
// inner product argument over the (published) vectors l and r.
void check_range(const Point& g, const Point& h, uint64_t n, const std::vector<int32_t>& values) {
  const rangeproof::GeneratorVectors gv = rangeproof::derive_generator_vectors(n * values.size());
  std::vector<Scalar> secrets, blindings;
  for (int32_t value : values) {
    int32_t v = value;
    secret(v);
    secrets.push_back(Scalar::from_i64(v));
    blindings.push_back(Scalar::random());
  }
  const rangeproof::RangeProof proof = rangeproof::RangeProof::prove(gv.g_vec, gv.h_vec, g, h, secrets, blindings, n);
  std::string text = proof.to_json_text();
  expect_public(text, "RangeProof::prove");
  std::vector<Point> V;
  bool in_range = true;
  for (size_t j = 0; j < values.size(); ++j) {
    Point c = lincomb_ct(g, secrets[j], h, blindings[j]);
    release(c);  // the commitments are public
    V.push_back(c);
    in_range = in_range && values[j] >= 0 && uint64_t(values[j]) < (uint64_t(1) << n);
  }
  expect(proof.verify(gv.g_vec, gv.h_vec, g, h, V, n) == in_range, "RangeProof::prove verifies");
}

}  // namespace

int main() {
  ct::set_hooks(mark_secret, mark_public);
  // valgrind's virtual processor runs mulx/adcx/adox but does not announce
  // them, so under valgrind the fast field code is switched on by force.
  const bool under_valgrind = RUNNING_ON_VALGRIND != 0;
  const Point g = public_point(), h = public_point();
  for (int path = 0; path < 2; ++path) {
    const bool fast = path == 1 && (under_valgrind ? force_fast_field_mul(true) : set_fast_field_mul(true));
    if (path == 1 && !fast) break;  // no mulx/adx code in this build or on this processor
    if (path == 0) set_fast_field_mul(false);
    // The table scans of the constant-time sums: SSE2 with the portable
    // field code, AVX2 (where the processor has it) with the fast one.
    // (Valgrind has no AVX-512: the eight-lane scans run outside it only.)
    const bool wide = set_table_scan_lanes(path == 1 ? 4 : 2) == 4;
    const char* name = fast ? (wide ? "mulx/adx, avx2 scan" : "mulx/adx, sse2 scan") : "portable, sse2 scan";
    const int before = g_failures;
    for (int round = 0; round < 3; ++round) check_group(round);
    check_protocol_values(g, h);
    check_sigma(g, h);
    check_range(g, h, 8, {200});
    check_range(g, h, 8, {0, -1});  // aggregated; -1 is out of range: the proof fails
    // The standard bases, whose products go through their comb tables.
    check_range(Point::generator(), rangeproof::range_test_h(), 8, {77, 3});
    std::printf("%s: %s\n", name, g_failures == before ? "ok" : "FAILED");
  }
  return g_failures == 0 ? 0 : 1;
}
