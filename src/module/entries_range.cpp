// Bodies of the range-proof functions.
#include "module/entries.hpp"

#include <string>
#include <vector>

#include "group/error.hpp"
#include "rangeproof/generators.hpp"
#include "rangeproof/range_proof.hpp"

namespace nacrel::py {

using rangeproof::GeneratorVectors;
using rangeproof::RangeProof;

PyObject* entry_range_proof_test(const Args& a) {
  const uint64_t n = a.usize(0);
  const GeneratorVectors gv = rangeproof::derive_generator_vectors(n);
  const Point& G = Point::generator();
  const Point& H = rangeproof::range_test_h();
  const Scalar secret = Scalar::from_i64(a.i32(1));
  const Scalar blinding = Scalar::random();
  // The product G*secret first, so that V keeps its label "scalar_mul".
  Point V = G * secret;
  V += H * blinding;
  stdout_write("[" + V.debug_text_compact() + "]\n");
  const RangeProof proof = RangeProof::prove(gv.g_vec, gv.h_vec, G, H, {secret}, {blinding}, n);
  const bool ok = proof.verify(gv.g_vec, gv.h_vec, G, H, {V}, n);
  stdout_write(std::string("results\n") + (ok ? "true" : "false") + "\n");
  ensure(ok, "result.is_ok()");
  return new_str(std::to_string(n));
}

PyObject* entry_range_proof_single(const Args& a) {
  const uint64_t n = a.usize(0);
  const GeneratorVectors gv = rangeproof::derive_generator_vectors(n);
  const GHValue& gh = a.gh(2);
  const RangeProof proof =
      RangeProof::prove(gv.g_vec, gv.h_vec, gh.g, gh.h, {Scalar::from_i64(a.i32(1))}, {a.rand_r(3)}, n);
  return new_str(proof.to_json_text());
}

PyObject* entry_range_proof_single_verify(const Args& a) {
  const uint64_t n = a.usize(1);
  const GeneratorVectors gv = rangeproof::derive_generator_vectors(n);
  const std::vector<Point> commitments = {a.commit(3)};
  const RangeProof proof = RangeProof::from_json_text(a.str(0));
  const GHValue& gh = a.gh(2);
  return new_bool(proof.verify(gv.g_vec, gv.h_vec, gh.g, gh.h, commitments, n));
}

PyObject* entry_ghvec(const Args& a) {
  const GeneratorVectors gv = rangeproof::derive_generator_vectors(a.usize(0));
  return new_str(rangeproof::generator_vectors_text(gv.g_vec, gv.h_vec));
}

}  // namespace nacrel::py
