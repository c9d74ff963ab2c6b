// The four sigma proof records (DLogProofExplicit, DLogEqProof,
// DLogEqProofPed, ConsistencyProof): each text goes through every reader.
// An accepted record must write back to a text that reads as the same
// record, and its verifier (and the verifier's products) must answer for
// fixed bases without stopping. The hash variant of a record does not change
// its reading, so SHA-256 stands for both in the round trip; both verify.
#include "fuzz_util.hpp"
#include "group/hash_to_curve.hpp"
#include "sigma/consistency.hpp"
#include "sigma/dlog_eq.hpp"
#include "sigma/dlog_eq_ped.hpp"
#include "sigma/dlog_explicit.hpp"

using namespace nacrel;
using namespace nacrel::sigma;

namespace {

struct Bases {
  Point g = Point::generator();
  Point h;
  Point pk;
  Point cm;
  Point token;
  Bases() {
    static const uint8_t label[] = {'f', 'u', 'z', 'z'};
    h = generate_random_point(label, sizeof label);
    pk = h * Scalar::from_i64(5);
    cm = lincomb_ct(g, Scalar::from_i64(7), h, Scalar::from_i64(11));
    token = pk * Scalar::from_i64(11);
  }
};

const Bases& bases() {
  static const Bases b;
  return b;
}

// Reads text as Record; on success checks the text round trip and returns true.
template <class Record>
bool read_record(std::string_view text, Record& out) {
  return fuzz::read_record(
      text, out, [](std::string_view t) { return Record::from_text(t); }, [](const Record& r) { return r.to_text(); },
      "proof text round trip changed the record");
}

// Verifiers answer true or false; a stop is a finding.
template <class F>
void answers(F&& verify) {
  try {
    verify();
  } catch (const InternalFailure& e) {
    fuzz::finding(std::string("verifier stopped: ") + e.message());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::text_of(data, size);
  const Bases& b = bases();

  DLogProofExplicit<Sha256> explicit256;
  if (read_record(text, explicit256)) {
    answers([&] { explicit256.verify(b.h, b.pk); });
    answers([&] { generate_mul_witness(explicit256, b.h); });
    DLogProofExplicit<Sha512> explicit512;
    fuzz::succeeds([&] { explicit512 = DLogProofExplicit<Sha512>::from_text(text); }, true);
    fuzz::require(explicit512.to_text() == explicit256.to_text(), "hash variants read differently");
    answers([&] { explicit512.verify(b.h, b.pk); });
  }

  DLogEqProof<Sha256> eq256;
  if (read_record(text, eq256)) {
    answers([&] { eq256.verify(b.g, b.h); });
    DLogEqProof<Sha512> eq512;
    fuzz::succeeds([&] { eq512 = DLogEqProof<Sha512>::from_text(text); }, true);
    answers([&] { eq512.verify(b.g, b.h); });
  }

  DLogEqProofPed ped;
  if (read_record(text, ped)) {
    answers([&] { ped.verify(b.g, b.h); });
    answers([&] { DLogEqProofPedMulWitness::of(ped, b.g, b.h); });
  }

  ConsistencyProof consistency;
  if (read_record(text, consistency)) answers([&] { consistency.verify(b.g, b.h, b.cm, b.pk, b.token); });
  return 0;
}
