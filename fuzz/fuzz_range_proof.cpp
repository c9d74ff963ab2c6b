// Range proof records and their inner product arguments. An accepted record
// must write back to a text that reads as the same record; then it is
// verified for one commitment over the pair of the Python gen_GH (G the hash
// to the curve of SHA-512 over the bytes of 1, H the standard generator),
// with n fitted to its L/R length, so that the committed seeds pass the
// polynomial check and reach the inner product check, and with n = 8, where
// a short L/R list may stop the verifier with InternalFailure.
// The committed value is 1 with blinding 7, as in fuzz/make_corpus.py.
#include <algorithm>
#include <map>

#include "fuzz_util.hpp"
#include "group/hash_to_curve.hpp"
#include "group/sha2.hpp"
#include "rangeproof/detail.hpp"
#include "rangeproof/generators.hpp"
#include "rangeproof/range_proof.hpp"

using namespace nacrel;
using namespace nacrel::rangeproof;

namespace {

struct Setup {
  Point G, H = Point::generator(), V;
  Setup() {
    const std::vector<uint8_t> one = BigInt::one().to_bytes();
    const std::array<uint8_t, 64> digest = sha512(one.data(), one.size());
    const std::vector<uint8_t> input = BigInt::from_bytes(digest.data(), digest.size()).to_bytes();
    G = generate_random_point(input.data(), input.size());
    V = lincomb_ct(G, Scalar::from_i64(1), H, Scalar::from_i64(7));
  }
};

const Setup& setup() {
  static const Setup s;
  return s;
}

const GeneratorVectors& generators(uint64_t n) {
  static std::map<uint64_t, GeneratorVectors> cache;
  auto it = cache.find(n);
  if (it == cache.end()) it = cache.emplace(n, derive_generator_vectors(n)).first;
  return it->second;
}

// Largest L/R length verified with the fitted n (n = 2^5 = 32).
constexpr size_t kMaxRounds = 5;

void verify_range(const RangeProof& proof, uint64_t n) {
  const Setup& s = setup();
  const GeneratorVectors& gv = generators(n);
  try {
    proof.verify(gv.g_vec, gv.h_vec, s.G, s.H, {s.V}, n);
  } catch (const InternalFailure& e) {
    // The one documented stop for a well-formed call: too few L/R entries.
    if (std::min(proof.inner_product_proof.L.size(), proof.inner_product_proof.R.size()) >=
        detail::log2_exact(n))
      fuzz::finding(std::string("range verifier stopped: ") + e.message());
  }
}

void verify_inner_product(const InnerProductArg& arg, uint64_t n) {
  const Setup& s = setup();
  const GeneratorVectors& gv = generators(n);
  try {
    arg.verify(gv.g_vec, gv.h_vec, s.H, s.V);
  } catch (const InternalFailure& e) {
    if (std::min(arg.L.size(), arg.R.size()) >= detail::log2_exact(n))
      fuzz::finding(std::string("inner product verifier stopped: ") + e.message());
  }
}

uint64_t fitted_n(const InnerProductArg& arg) { return uint64_t(1) << std::min(arg.L.size(), arg.R.size()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::text_of(data, size);

  RangeProof proof;
  if (fuzz::read_record(
          text, proof, [](std::string_view t) { return RangeProof::from_json_text(t); },
          [](const RangeProof& p) { return p.to_json_text(); }, "range proof text round trip changed the record")) {
    const InnerProductArg& ipa = proof.inner_product_proof;
    if (std::min(ipa.L.size(), ipa.R.size()) <= kMaxRounds) verify_range(proof, fitted_n(ipa));
    verify_range(proof, 8);
  }

  InnerProductArg arg;
  if (fuzz::read_record(
          text, arg, [](std::string_view t) { return InnerProductArg::from_json_text(t); },
          [](const InnerProductArg& a) { return a.to_json_text(); }, "inner product text round trip changed the record")) {
    if (std::min(arg.L.size(), arg.R.size()) <= kMaxRounds) verify_inner_product(arg, fitted_n(arg));
  }
  return 0;
}
