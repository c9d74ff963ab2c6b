// Bodies of the range-proof functions; the work runs with the interpreter lock
// released.
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
  const Scalar secret = Scalar::from_i64(a.i32(1));
  const Point& G = Point::generator();
  struct Setup {
    GeneratorVectors gv;
    Point H, V;
    Scalar blinding;
  };
  Setup s = unlocked([&] {
    rangeproof::check_proof_bits(n);
    Setup out{rangeproof::derive_generator_vectors(n), rangeproof::range_test_h(), Point(), Scalar::random()};
    // The product G*secret first, so that V keeps its label "scalar_mul".
    out.V = G * secret;
    out.V += out.H * out.blinding;
    return out;
  });
  // Output goes to fd 1 with the lock held: the pending partial line is shared.
  stdout_write("[" + s.V.debug_text_compact() + "]\n");
  const bool ok = unlocked([&] {
    const RangeProof proof = RangeProof::prove(s.gv.g_vec, s.gv.h_vec, G, s.H, {secret}, {s.blinding}, n);
    return proof.verify(s.gv.g_vec, s.gv.h_vec, G, s.H, {s.V}, n);
  });
  stdout_write(std::string("results\n") + (ok ? "true" : "false") + "\n");
  ensure(ok, "result.is_ok()");
  return new_str(std::to_string(n));
}

PyObject* entry_range_proof_single(const Args& a) {
  return new_str(unlocked([&] {
    const uint64_t n = a.usize(0);
    rangeproof::check_proof_bits(n);
    const GeneratorVectors gv = rangeproof::derive_generator_vectors(n);
    const GHValue& gh = a.gh(2);
    const RangeProof proof =
        RangeProof::prove(gv.g_vec, gv.h_vec, gh.g, gh.h, {Scalar::from_i64(a.i32(1))}, {a.rand_r(3)}, n);
    return proof.to_json_text();
  }));
}

PyObject* entry_range_proof_single_verify(const Args& a) {
  return new_bool(unlocked([&] {
    const uint64_t n = a.usize(1);
    rangeproof::check_proof_bits(n);
    const GeneratorVectors gv = rangeproof::derive_generator_vectors(n);
    const std::vector<Point> commitments = {a.commit(3)};
    const RangeProof proof = RangeProof::from_json_text(a.str(0));
    const GHValue& gh = a.gh(2);
    return proof.verify(gv.g_vec, gv.h_vec, gh.g, gh.h, commitments, n);
  }));
}

// A few generators cost about a microsecond each (cached) and keep the lock.
PyObject* entry_ghvec(const Args& a) {
  const uint64_t n = a.usize(0);
  return new_str(unlocked_if(n >= 16, [&] {
    const GeneratorVectors gv = rangeproof::derive_generator_vectors(n);
    return rangeproof::generator_vectors_text(gv.g_vec, gv.h_vec);
  }));
}

}  // namespace nacrel::py
